// litrank: ranks the statement groups of a record file, largest (or
// costliest) first, with each group's normalised text and first statement;
// as a table, as tab-separated lines, as JSON, or as an HTML page with a
// chart. With litpack's metadata file it ranks by time; with a second
// workload it shows what changed.
//
// It groups with litsieve's own code, so its group numbers, sizes and first
// members are those of litsieve's report; given such a report (REPORT), it
// checks that the report belongs to the input.
#include "ranker/litrank.h"

#include "analyzer/record_reader.h"
#include "analyzer/statement_groups.h"
#include "analyzer/statement_pipeline.h"
#include "escape/escape.h"
#include "output/output_file.h"
#include "platform/allocation.h"
#include "platform/exit_statuses.h"
#include "platform/messages.h"
#include "platform/system_calls.h"
#include "ranker/console.h"
#include "ranker/diff.h"
#include "ranker/folding.h"
#include "ranker/html_page.h"
#include "ranker/json_output.h"
#include "ranker/listing.h"
#include "ranker/meta_file.h"
#include "ranker/pattern.h"
#include "ranker/ranking.h"
#include "ranker/report_check.h"
#include "ranker/text_output.h"

#include <cstring>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

const char USAGE[] =
    "usage: litrank [options] INPUT.rec [REPORT]\n"
    "  -n, --top N        show the N first groups (default 20; 0: all); -n3 works too\n"
    "  --by KEY           rank by time (total duration: the default with durations),\n"
    "                     mean (mean duration), size (records: the default without)\n"
    "                     or bytes (statement bytes)\n"
    "  --meta META.tsv    litpack's metadata file of INPUT: durations and sources\n"
    "  --diff BEFORE.rec  compare with an earlier workload: new, gone, grew, shrank\n"
    "  --diff-meta M.tsv  the metadata file of BEFORE.rec\n"
    "  --match RE         only groups whose normalised text matches RE (POSIX\n"
    "                     extended, letters of either case; repeatable: any)\n"
    "  --exclude RE       no groups whose normalised text matches RE (repeatable)\n"
    "  --source GLOB      only records from a source matching GLOB (with --meta)\n"
    "  --user NAME        only records of this user (with --meta; repeatable)\n"
    "  --database NAME    only records of this database (with --meta; repeatable)\n"
    "  --fold-lists       IN lists of any length as one shape (not litsieve's groups)\n"
    "  --drop-comments    comments left out of the shape (not litsieve's groups)\n"
    "  --tsv              tab-separated output for scripts\n"
    "  --json FILE        also write the ranking as JSON (-: on standard output\n"
    "                     instead of the listing)\n"
    "  --html FILE        also write the ranking as an HTML page with a chart\n"
    "  --width N          cut texts to N columns (default: the terminal's width when\n"
    "                     standard output is one, else whole; 0: never cut)\n"
    "  -q, --quiet        no progress line on standard error\n"
    "REPORT, a litsieve report of INPUT.rec, is checked against the input.\n";
constexpr std::int32_t DEFAULT_TOP = 20;

// Most values of one repeatable option.
constexpr int REPEAT_MAX = 32;

struct Strings {
    const char* items[REPEAT_MAX];
    int count;
};

struct Options {
    std::int32_t top;
    RankKey key;
    bool key_given;
    bool tsv;
    bool quiet;
    bool width_given;
    std::size_t width;
    unsigned folding;
    const char* html;
    const char* json;
    const char* meta;
    const char* diff;
    const char* diff_meta;
    const char* input;
    const char* report;
    Strings match;
    Strings exclude;
    Strings sources;
    Strings users;
    Strings databases;
};

[[noreturn]] void usage_error(const char* what, const char* argument) {
    Message m;
    message_start(&m);
    message_add(&m, "litrank: ");
    message_add(&m, what);
    message_add_name(&m, argument);
    message_add(&m, "\n");
    message_add(&m, USAGE);
    fail(EXIT_USAGE_OR_MEMORY, m.text);
}

// A count from 0 to INT32_MAX, all digits.
bool parse_count(const char* text, std::int64_t* value) {
    if (*text == '\0') return false;
    std::int64_t v = 0;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') return false;
        v = v * 10 + (*text - '0');
        if (v > INT32_MAX) return false;
    }
    *value = v;
    return true;
}

// "--name VALUE" or "--name=VALUE", and for a short option "-n VALUE" or
// "-nVALUE": the value, or null if `arg` is not that option. Moves *i past
// a separate value.
const char* option_value(int argc, char** argv, int* i, const char* name) {
    const char* arg = argv[*i];
    std::size_t n = std::strlen(name);
    if (std::strncmp(arg, name, n) != 0) return nullptr;
    bool short_option = n == 2;
    if (arg[n] == '=' && !short_option) return arg + n + 1;
    if (arg[n] != '\0') return short_option ? arg + n : nullptr;
    if (*i + 1 >= argc) usage_error("missing value after ", name);
    return argv[++*i];
}

void add_to(Strings* list, const char* value, const char* option) {
    if (list->count == REPEAT_MAX) usage_error("too many values of ", option);
    list->items[list->count++] = value;
}

bool flag(const char* arg, Options* o) {
    if (std::strcmp(arg, "--tsv") == 0) {
        o->tsv = true;
    } else if (std::strcmp(arg, "--quiet") == 0 || std::strcmp(arg, "-q") == 0) {
        o->quiet = true;
    } else if (std::strcmp(arg, "--fold-lists") == 0) {
        o->folding |= FOLD_LISTS;
    } else if (std::strcmp(arg, "--drop-comments") == 0) {
        o->folding |= FOLD_COMMENTS;
    } else {
        return false;
    }
    return true;
}

RankKey parse_key(const char* value) {
    static const RankKey KEYS[] = {RANK_BY_SIZE, RANK_BY_BYTES, RANK_BY_TIME, RANK_BY_MEAN};
    for (RankKey key : KEYS) {
        if (std::strcmp(value, rank_key_name(key)) == 0) return key;
    }
    usage_error("--by takes time, mean, size or bytes, not ", value);
}

// The options that name a file or text: where each one's value goes.
struct ValueOption {
    const char* name;
    const char* Options::*single; // one value, the last given
    Strings Options::*many;       // repeatable
};
const ValueOption VALUE_OPTIONS[] = {
    {"--html", &Options::html, nullptr},           {"--json", &Options::json, nullptr},
    {"--meta", &Options::meta, nullptr},           {"--diff", &Options::diff, nullptr},
    {"--diff-meta", &Options::diff_meta, nullptr}, {"--match", nullptr, &Options::match},
    {"--exclude", nullptr, &Options::exclude},     {"--source", nullptr, &Options::sources},
    {"--user", nullptr, &Options::users},          {"--database", nullptr, &Options::databases},
};

// Option combinations that cannot work, refused before anything is read.
void check_combinations(const Options& o) {
    bool record_filters = o.sources.count + o.users.count + o.databases.count > 0;
    if ((o.key == RANK_BY_TIME || o.key == RANK_BY_MEAN) && o.key_given && o.meta == nullptr) {
        usage_error("durations come from a metadata file: --meta is needed for --by ",
                    rank_key_name(o.key));
    }
    if (record_filters && o.meta == nullptr) {
        usage_error("--source, --user and --database need ", "--meta");
    }
    if (o.diff_meta != nullptr && o.diff == nullptr) usage_error("--diff-meta needs ", "--diff");
    if (o.diff_meta != nullptr && o.meta == nullptr) usage_error("--diff-meta needs ", "--meta");
    if (o.diff != nullptr && record_filters && o.diff_meta == nullptr) {
        usage_error("record filters with --diff need ", "--diff-meta");
    }
    if (o.report != nullptr && o.folding != 0) {
        usage_error("a REPORT cannot be checked with --fold-lists or --drop-comments: they "
                    "change the grouping; report ",
                    o.report);
    }
    if (o.json != nullptr && std::strcmp(o.json, "-") == 0 && o.tsv) {
        usage_error("--tsv and --json - both write standard output: ", "--tsv");
    }
}

Options parse_options(int argc, char** argv) {
    Options o = {};
    o.top = DEFAULT_TOP;
    o.key = RANK_BY_SIZE;
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* value = nullptr;
        std::int64_t count;
        if (options_done || arg[0] != '-' || arg[1] == '\0') {
            if (o.input == nullptr) {
                o.input = arg;
            } else if (o.report == nullptr) {
                o.report = arg;
            } else {
                usage_error("too many arguments: ", arg);
            }
            continue;
        }
        if (std::strcmp(arg, "--") == 0) {
            options_done = true;
            continue;
        }
        if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
            write_all(1, USAGE, sizeof USAGE - 1);
            sys.exit(EXIT_OK);
        }
        if (flag(arg, &o)) continue;
        if ((value = option_value(argc, argv, &i, "-n")) != nullptr ||
            (value = option_value(argc, argv, &i, "--top")) != nullptr) {
            if (!parse_count(value, &count)) usage_error("not a count: ", value);
            o.top = static_cast<std::int32_t>(count);
            continue;
        }
        if ((value = option_value(argc, argv, &i, "--width")) != nullptr) {
            if (!parse_count(value, &count)) usage_error("not a width: ", value);
            o.width = static_cast<std::size_t>(count);
            o.width_given = true;
            continue;
        }
        if ((value = option_value(argc, argv, &i, "--by")) != nullptr) {
            o.key = parse_key(value);
            o.key_given = true;
            continue;
        }
        bool known = false;
        for (const ValueOption& option : VALUE_OPTIONS) {
            if ((value = option_value(argc, argv, &i, option.name)) == nullptr) continue;
            if (option.single != nullptr) {
                o.*option.single = value;
            } else {
                add_to(&(o.*option.many), value, option.name);
            }
            known = true;
            break;
        }
        if (!known) usage_error("unknown option ", arg);
    }
    check_combinations(o);
    return o;
}

// --- filters ---------------------------------------------------------------

// The compiled --match and --exclude patterns and the record filters; set
// up once, never freed.
struct Filters {
    Pattern* match[REPEAT_MAX];
    int match_count;
    Pattern* exclude[REPEAT_MAX];
    int exclude_count;
    const Strings* sources;
    const Strings* users;
    const Strings* databases;
    // Records come from a source in runs: the last source judged, and how.
    char* last_source;
    std::size_t last_source_length;
    std::size_t last_source_capacity;
    bool last_source_kept;
};
Filters filters = {};

void compile_all(const Strings& texts, Pattern** patterns, int* count, const char* option) {
    for (int k = 0; k < texts.count; ++k) {
        const char* error = nullptr;
        patterns[k] = compile_pattern(texts.items[k], &error);
        if (patterns[k] == nullptr) {
            Message m;
            message_start(&m);
            message_add(&m, "litrank: ");
            message_add(&m, option);
            message_add(&m, " ");
            message_add_name(&m, texts.items[k]);
            message_add(&m, ": ");
            message_add(&m, error);
            message_add(&m, "\n");
            message_add(&m, USAGE);
            fail(EXIT_USAGE_OR_MEMORY, m.text);
        }
    }
    *count = texts.count;
}

bool keep_text(const char* text, std::size_t length) {
    bool kept = filters.match_count == 0;
    for (int k = 0; k < filters.match_count && !kept; ++k) {
        kept = pattern_matches(filters.match[k], text, length);
    }
    for (int k = 0; k < filters.exclude_count && kept; ++k) {
        kept = !pattern_matches(filters.exclude[k], text, length);
    }
    return kept;
}

bool equals_any(const Strings& names, const char* text, std::size_t length) {
    for (int k = 0; k < names.count; ++k) {
        if (text != nullptr && std::strlen(names.items[k]) == length &&
            std::memcmp(names.items[k], text, length) == 0) {
            return true;
        }
    }
    return false;
}

bool source_kept(const char* text, std::size_t length) {
    if (text == nullptr) return false;
    Filters& f = filters;
    if (f.last_source != nullptr && f.last_source_length == length &&
        std::memcmp(f.last_source, text, length) == 0) {
        return f.last_source_kept;
    }
    bool kept = false;
    for (int k = 0; k < f.sources->count && !kept; ++k) {
        kept = glob_matches(f.sources->items[k], text, length);
    }
    if (f.last_source_capacity < length + 1) {
        f.last_source_capacity = length + 1;
        f.last_source = static_cast<char*>(
            checked_realloc(f.last_source, f.last_source_capacity, NOT_ENOUGH_MEMORY));
    }
    std::memcpy(f.last_source, text, length);
    f.last_source_length = length;
    f.last_source_kept = kept;
    return kept;
}

bool select_record(const RecordMeta& meta) {
    if (filters.sources->count > 0 && !source_kept(meta.source, meta.source_length)) return false;
    if (filters.users->count > 0 && !equals_any(*filters.users, meta.user, meta.user_length)) {
        return false;
    }
    return filters.databases->count == 0 ||
           equals_any(*filters.databases, meta.database, meta.database_length);
}

// --- reading -----------------------------------------------------------------

// The metadata file read in step with the records, if any.
MetaFile* active_meta = nullptr;

// The pipeline hands its records over in file order on the calling thread,
// so the metadata file is read in step with them here.
// Interning comes one record at a time, between the metadata and the
// counting, so the run's texts are only walked down the dictionary together
// first (warm_run). With folding the texts interned are not these, and
// nothing is walked.
void warm_texts(const NormalizedRecord* records, std::size_t count) {
    const unsigned char* texts[INTERN_RUN_MOST];
    std::size_t lengths[INTERN_RUN_MOST];
    while (count > 0) {
        std::size_t n = count < INTERN_RUN_MOST ? count : INTERN_RUN_MOST;
        for (std::size_t i = 0; i < n; ++i) {
            texts[i] = records[i].normalized;
            lengths[i] = records[i].normalized_length;
        }
        warm_run(dictionary, texts, lengths, n);
        records += n;
        count -= n;
    }
}

void rank_input_records(const NormalizedRecord* records, std::size_t count) {
    if (rank_folding == 0) warm_texts(records, count);
    for (std::size_t i = 0; i < count; ++i) {
        const NormalizedRecord& record = records[i];
        rank_record(record, active_meta != nullptr ? next_meta(active_meta, record.id) : nullptr);
    }
}

void rank_before_input_records(const NormalizedRecord* records, std::size_t count) {
    if (rank_folding == 0) warm_texts(records, count);
    for (std::size_t i = 0; i < count; ++i) {
        const NormalizedRecord& record = records[i];
        rank_before_record(record,
                           active_meta != nullptr ? next_meta(active_meta, record.id) : nullptr);
    }
}

void read_workload(const char* path, const char* meta_path, bool quiet, RecordConsumer consume) {
    MetaFile meta;
    if (meta_path != nullptr) {
        open_meta(&meta, meta_path, path);
        active_meta = &meta;
    }
    rank_totals.file_bytes = 0;
    if (!quiet && is_terminal(2)) progress_start(path);
    read_normalized_records(path, consume);
    progress_end();
    if (active_meta != nullptr) close_meta(&meta);
    active_meta = nullptr;
}

// File names (and other arguments) in messages with control and invisible
// characters escaped, as the terminal listing shows texts.
void message_add_escaped(Message* m, const char* name) {
    char shown[sizeof m->text];
    escape_for_message(name, shown, sizeof shown);
    message_add(m, shown);
}

// Opens an output (the page, or "-" for the listing) or ends the run with
// status 2, as litsieve does for a report it cannot create.
void open_output(OutputFile* out, const char* target, const FileIdentity* inputs,
                 std::size_t count) {
    bool listing = std::strcmp(target, "-") == 0;
    switch (output_open(out, target, inputs, count)) {
    case OUTPUT_OK:
        return;
    case OUTPUT_IS_INPUT:
        if (listing) fail(EXIT_REPORT_FILE, "Can't write standard output: it is also an input.\n");
        fail_naming(EXIT_REPORT_FILE, "Can't write ", target, " file: it is also an input.\n");
    default:
        fail_to_open(EXIT_REPORT_FILE, target);
    }
}

} // namespace

namespace {

// Writes an output: the buffer over the file, the writer, then the commit;
// a failure is status 2 and names the file.
template <typename Writer> void write_output(OutputFile* file, const char* name, Writer writer) {
    OutBuffer out;
    out_open(&out, file->fd);
    writer(&out);
    if (!out_close(&out) || output_commit(file) != OUTPUT_OK) {
        if (std::strcmp(name, "-") == 0) fail(EXIT_REPORT_FILE, "Can't write standard output.\n");
        fail_naming(EXIT_REPORT_FILE, "Can't write ", name, " file.\n");
    }
}

} // namespace

int run_litrank(int argc, char** argv) {
#ifdef _WIN32
    _setmode(1, _O_BINARY);
    _setmode(2, _O_BINARY);
#endif
    if (argc < 2) fail(EXIT_USAGE_OR_MEMORY, MISSING_PARAMETERS);
    Options o = parse_options(argc, argv);
    if (o.input == nullptr) fail(EXIT_USAGE_OR_MEMORY, MISSING_PARAMETERS);

    message_add_name = message_add_escaped;
    compile_all(o.match, filters.match, &filters.match_count, "--match");
    compile_all(o.exclude, filters.exclude, &filters.exclude_count, "--exclude");
    filters.sources = &o.sources;
    filters.users = &o.users;
    filters.databases = &o.databases;
    bool record_filters = o.sources.count + o.users.count + o.databases.count > 0;
    bool text_filters = o.match.count + o.exclude.count > 0;

    // The outputs are opened before anything is read: one that names an
    // input is refused at once, and an output that cannot be created costs
    // no reading. Each is written to a new file that replaces FILE only once
    // it is whole; any failure removes it.
    FileIdentity inputs[5];
    std::size_t input_count = 0;
    const char* read_paths[] = {o.input, o.report, o.meta, o.diff, o.diff_meta};
    for (const char* path : read_paths) {
        if (path != nullptr && identity_of_path(path, &inputs[input_count])) ++input_count;
    }
    bool json_to_listing = o.json != nullptr && std::strcmp(o.json, "-") == 0;
    OutputFile page;
    if (o.html != nullptr) open_output(&page, o.html, inputs, input_count);
    OutputFile json;
    if (o.json != nullptr && !json_to_listing) open_output(&json, o.json, inputs, input_count);
    OutputFile listing;
    open_output(&listing, "-", inputs, input_count);

    dictionary = create_dictionary();
    rank_folding = o.folding;
    rank_costs = o.meta != nullptr;
    rank_diff = o.diff != nullptr;
    if (record_filters) rank_select = select_record;
    read_workload(o.input, o.meta, o.quiet, rank_input_records);
    if (o.report != nullptr) check_report(o.report, o.input);
    std::int32_t last_input_group = group_count() + 1;
    if (o.diff != nullptr) read_workload(o.diff, o.diff_meta, o.quiet, rank_before_input_records);
    if (text_filters) exclude_groups(keep_text);

    RunFacts facts = {o.input,
                      o.diff,
                      o.key,
                      o.meta != nullptr && (o.diff == nullptr || o.diff_meta != nullptr),
                      o.meta != nullptr,
                      o.folding,
                      record_filters || text_filters};
    if (!o.key_given && facts.costs && rank_totals.after.timed > 0) facts.key = RANK_BY_TIME;

    Ranking ranking = {nullptr, 0, facts.key};
    Percentiles* percentiles = nullptr;
    Diff diff = {};
    if (o.diff != nullptr) {
        diff = diff_groups(facts.key, o.top, last_input_group);
    } else {
        ranking = rank_groups(facts.key, o.top);
        if (facts.costs) percentiles = shown_percentiles(ranking);
    }
    recover_normalised_texts();
    bool diffing = o.diff != nullptr;

    // The files first: one that cannot be written is status 2, as a
    // litsieve report that cannot be, and then nothing is listed.
    if (o.html != nullptr) {
        write_output(&page, o.html, [&](OutBuffer* out) {
            if (diffing) {
                write_diff_html(out, diff, facts);
            } else {
                write_html(out, ranking, percentiles, facts);
            }
        });
    }
    auto write_json_to = [&](OutBuffer* out) {
        if (diffing) {
            write_diff_json(out, diff, facts);
        } else {
            write_json(out, ranking, percentiles, facts);
        }
    };
    if (o.json != nullptr && !json_to_listing) write_output(&json, o.json, write_json_to);
    write_output(&listing, "-", [&](OutBuffer* out) {
        if (json_to_listing) {
            write_json_to(out);
        } else if (diffing && o.tsv) {
            write_diff_tsv(out, diff, facts);
        } else if (diffing) {
            write_diff_table(out, diff, facts, o.width_given ? o.width : terminal_columns());
        } else if (o.tsv) {
            write_tsv(out, ranking, percentiles, facts);
        } else {
            write_table(out, ranking, percentiles, facts,
                        o.width_given ? o.width : terminal_columns());
        }
    });
    release(percentiles);
    if (diffing) {
        release_diff(&diff);
    } else {
        release_ranking(&ranking);
    }
    return EXIT_OK;
}
