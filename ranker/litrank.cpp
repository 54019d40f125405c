// litrank: ranks the statement groups of a record file, largest first, with
// each group's normalised text and first statement; as a table, as
// tab-separated lines, or as an HTML page with a chart.
//
// It groups with litsieve's own code, so its group numbers, sizes and first
// members are those of litsieve's report; given such a report (REPORT), it
// checks that the report belongs to the input.
#include "ranker/litrank.h"

#include "analyzer/record_reader.h"
#include "analyzer/statement_groups.h"
#include "escape/escape.h"
#include "output/output_file.h"
#include "platform/exit_statuses.h"
#include "platform/messages.h"
#include "platform/system_calls.h"
#include "ranker/console.h"
#include "ranker/html_page.h"
#include "ranker/listing.h"
#include "ranker/ranking.h"
#include "ranker/report_check.h"
#include "ranker/text_output.h"

#include <cstring>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

const char USAGE[] = "usage: litrank [options] INPUT.rec [REPORT]\n"
                     "  -n, --top N     show the N largest groups (default 20; 0: all)\n"
                     "  --by size       rank by the number of records (default)\n"
                     "  --by bytes      rank by the statement bytes of the records\n"
                     "  --tsv           tab-separated output for scripts\n"
                     "  --html FILE     also write the ranking as an HTML page with a chart\n"
                     "  --width N       cut texts to N columns (default: the terminal's width\n"
                     "                  when standard output is one, else texts are whole)\n"
                     "  --quiet         no progress line on standard error\n"
                     "REPORT, a litsieve report of INPUT.rec, is checked against the input.\n";
constexpr std::int32_t DEFAULT_TOP = 20;

struct Options {
    std::int32_t top;
    RankKey key;
    bool tsv;
    bool quiet;
    bool width_given;
    std::size_t width;
    const char* html;
    const char* input;
    const char* report;
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

// "--name VALUE" or "--name=VALUE": the value, or null if `arg` is not that
// option. Moves *i past a separate value.
const char* option_value(int argc, char** argv, int* i, const char* name) {
    const char* arg = argv[*i];
    std::size_t n = std::strlen(name);
    if (std::strncmp(arg, name, n) != 0) return nullptr;
    if (arg[n] == '=') return arg + n + 1;
    if (arg[n] != '\0') return nullptr;
    if (*i + 1 >= argc) usage_error("missing value after ", name);
    return argv[++*i];
}

Options parse_options(int argc, char** argv) {
    Options o = {DEFAULT_TOP, RANK_BY_SIZE, false, false, false, 0, nullptr, nullptr, nullptr};
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* value;
        std::int64_t count;
        if (options_done || arg[0] != '-' || arg[1] == '\0') {
            if (o.input == nullptr) {
                o.input = arg;
            } else if (o.report == nullptr) {
                o.report = arg;
            } else {
                usage_error("too many arguments: ", arg);
            }
        } else if (std::strcmp(arg, "--") == 0) {
            options_done = true;
        } else if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
            write_all(1, USAGE, sizeof USAGE - 1);
            sys.exit(EXIT_OK);
        } else if (std::strcmp(arg, "--tsv") == 0) {
            o.tsv = true;
        } else if (std::strcmp(arg, "--quiet") == 0) {
            o.quiet = true;
        } else if ((value = option_value(argc, argv, &i, "-n")) != nullptr ||
                   (value = option_value(argc, argv, &i, "--top")) != nullptr) {
            if (!parse_count(value, &count)) usage_error("not a count: ", value);
            o.top = static_cast<std::int32_t>(count);
        } else if ((value = option_value(argc, argv, &i, "--width")) != nullptr) {
            if (!parse_count(value, &count)) usage_error("not a width: ", value);
            o.width = static_cast<std::size_t>(count);
            o.width_given = true;
        } else if ((value = option_value(argc, argv, &i, "--by")) != nullptr) {
            if (std::strcmp(value, "size") == 0) {
                o.key = RANK_BY_SIZE;
            } else if (std::strcmp(value, "bytes") == 0) {
                o.key = RANK_BY_BYTES;
            } else {
                usage_error("--by takes size or bytes, not ", value);
            }
        } else if ((value = option_value(argc, argv, &i, "--html")) != nullptr) {
            o.html = value;
        } else {
            usage_error("unknown option ", arg);
        }
    }
    return o;
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

int run_litrank(int argc, char** argv) {
#ifdef _WIN32
    _setmode(1, _O_BINARY);
    _setmode(2, _O_BINARY);
#endif
    if (argc < 2) fail(EXIT_USAGE_OR_MEMORY, MISSING_PARAMETERS);
    Options o = parse_options(argc, argv);
    if (o.input == nullptr) fail(EXIT_USAGE_OR_MEMORY, MISSING_PARAMETERS);

    message_add_name = message_add_escaped;

    // The outputs are opened before anything is read: one that names the
    // input or the report is refused at once, and a page that cannot be
    // created costs no reading. The page is written to a new file that
    // replaces FILE only once it is whole; any failure removes it.
    FileIdentity inputs[2];
    std::size_t input_count = 0;
    if (identity_of_path(o.input, &inputs[input_count])) ++input_count;
    if (o.report != nullptr && identity_of_path(o.report, &inputs[input_count])) ++input_count;
    OutputFile page;
    if (o.html != nullptr) open_output(&page, o.html, inputs, input_count);
    OutputFile listing;
    open_output(&listing, "-", inputs, input_count);

    dictionary = create_dictionary();
    if (!o.quiet && is_terminal(2)) progress_start(o.input);
    read_records(o.input, rank_record);
    progress_end();
    if (o.report != nullptr) check_report(o.report, o.input);

    Ranking ranking = rank_groups(o.key, o.top);
    recover_normalized_texts(ranking);

    // The page first: a page that cannot be written is status 2, as a
    // litsieve report that cannot be, and then nothing is listed.
    if (o.html != nullptr) {
        OutBuffer out;
        out_open(&out, page.fd);
        write_html(&out, ranking, o.input);
        if (!out_close(&out) || output_commit(&page) != OUTPUT_OK) {
            fail_naming(EXIT_REPORT_FILE, "Can't write ", o.html, " file.\n");
        }
    }

    OutBuffer out;
    out_open(&out, listing.fd);
    if (o.tsv) {
        write_tsv(&out, ranking);
    } else {
        write_table(&out, ranking, o.input, o.width_given ? o.width : terminal_columns());
    }
    if (!out_close(&out)) fail(EXIT_REPORT_FILE, "Can't write standard output.\n");
    release_ranking(&ranking);
    return EXIT_OK;
}
