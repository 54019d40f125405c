// litpack: packs SQL scripts and server logs into the record file that
// litsieve reads.
//
//   litpack [--from FORMAT] [--dialect DIALECT] [--meta META.tsv]
//           [--first-id N] [--keep-all] [-o OUTPUT.rec] [INPUT ...]
//
// Each input is read in FORMAT (auto: decided from its first lines, and
// said on standard error) and cut into statements as packer/splitter.h and
// the log readers describe; every statement litsieve can take becomes a
// record, with ids from 1 (or N) upwards, and, with --meta, a line of the
// metadata file (packer/meta_writer.h). Statements litsieve would stop on
// are left out with a warning each, unless --keep-all. A summary line ends
// the run on standard error.
//
// Inputs are streamed: memory is one input block, the output buffers and
// the longest statement. Every input is opened and checked before the
// outputs are; both outputs are written as output/output_file.h describes
// (never over an input, in place only when whole), the metadata never over
// the records, and a failure leaves neither.
#include "output/output_file.h"
#include "packer/failure.h"
#include "packer/input_stream.h"
#include "packer/meta_writer.h"
#include "packer/packer.h"
#include "packer/record_writer.h"
#include "platform/allocation.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

const char USAGE[] =
    "usage: litpack [--from FORMAT] [--dialect DIALECT] [--meta META.tsv] [--first-id N]\n"
    "               [--keep-all] [-o OUTPUT.rec] [INPUT ...]\n"
    "Packs SQL scripts and server logs into a litsieve record file (standard input\n"
    "and output when no file is named).\n"
    "  --from FORMAT      auto (the default), sql, lines, mysql-slow, mysql-general,\n"
    "                     pg-log or pg-csv; --lines is --from lines\n"
    "  --dialect DIALECT  how sql and lines input is split: generic (the default),\n"
    "                     postgres, mysql, oracle or tsql\n"
    "  --meta META.tsv    one line per record: id, source, line, duration_ms, user,\n"
    "                     database, time\n"
    "  --first-id N       the first record's id (default 1)\n"
    "  --keep-all         also pack statements litsieve would stop on\n";

struct Options {
    InputFormat format;
    Dialect dialect;
    const char* meta; // null: no metadata file
    std::int64_t first_id;
    bool keep_all;
    const char* output; // "-" for standard output
    const char** inputs;
    int input_count;
};

// The index of `value` among `names`, or the run ends naming the choices:
// "--from takes auto, sql, ... or pg-csv, not VALUE".
int choose(const char* option, const char* value, const char* const* names, int count) {
    for (int k = 0; k < count; ++k) {
        if (std::strcmp(value, names[k]) == 0) return k;
    }
    char before[256];
    int used = std::snprintf(before, sizeof before, "%s takes ", option);
    for (int k = 0; k < count; ++k) {
        const char* joint = k == 0 ? "" : k + 1 < count ? ", " : " or ";
        used += std::snprintf(before + used, sizeof before - static_cast<std::size_t>(used), "%s%s",
                              joint, names[k]);
    }
    std::snprintf(before + used, sizeof before - static_cast<std::size_t>(used), ", not ");
    pack_fail(PACK_USAGE_INPUT_OR_MEMORY, before, value, "");
}

Options parse_options(int argc, char** argv) {
    Options o = {FORMAT_AUTO, DIALECT_GENERIC, nullptr, 1, false, "-", nullptr, 0};
    // Inputs are at most the arguments, or standard input alone.
    o.inputs = static_cast<const char**>(
        checked_calloc(static_cast<std::size_t>(argc), sizeof(char*), NOT_ENOUGH_MEMORY));
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        bool has_value = i + 1 < argc;
        if (std::strcmp(arg, "--lines") == 0) {
            o.format = FORMAT_LINES;
        } else if (std::strcmp(arg, "--keep-all") == 0) {
            o.keep_all = true;
        } else if (std::strcmp(arg, "--from") == 0 && has_value) {
            o.format =
                static_cast<InputFormat>(choose("--from", argv[++i], FORMAT_NAMES, FORMAT_COUNT));
        } else if (std::strcmp(arg, "--dialect") == 0 && has_value) {
            o.dialect =
                static_cast<Dialect>(choose("--dialect", argv[++i], DIALECT_NAMES, DIALECT_COUNT));
        } else if (std::strcmp(arg, "--meta") == 0 && has_value) {
            o.meta = argv[++i];
        } else if (std::strcmp(arg, "--first-id") == 0 && has_value) {
            char* end = nullptr;
            errno = 0;
            long long v = std::strtoll(argv[++i], &end, 10);
            if (errno != 0 || *end != '\0' || end == argv[i] || v < INT32_MIN || v > INT32_MAX) {
                pack_fail(PACK_USAGE_INPUT_OR_MEMORY, "--first-id takes a 32-bit integer, not ",
                          argv[i], "");
            }
            o.first_id = v;
        } else if (std::strcmp(arg, "-o") == 0 && has_value) {
            o.output = argv[++i];
        } else if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
            std::fputs(USAGE, stdout);
            std::exit(PACK_OK);
        } else if (arg[0] == '-' && arg[1] != '\0') {
            std::fputs(USAGE, stderr);
            std::exit(PACK_USAGE_INPUT_OR_MEMORY);
        } else {
            o.inputs[o.input_count++] = arg;
        }
    }
    if (o.input_count == 0) o.inputs[o.input_count++] = "-";
    return o;
}

const char* input_label(const char* name) {
    return std::strcmp(name, "-") == 0 ? "standard input" : name;
}

const char* output_label(const char* name) {
    return std::strcmp(name, "-") == 0 ? "standard output" : name;
}

// Opens every input once, so that a missing or unreadable one ends the run
// before an output is touched, and takes its identity for the outputs'
// checks. The inputs are opened again, one at a time, when they are packed.
FileIdentity* check_inputs(const Options& o, std::size_t* count) {
    auto* identities = static_cast<FileIdentity*>(checked_calloc(
        static_cast<std::size_t>(o.input_count), sizeof(FileIdentity), NOT_ENOUGH_MEMORY));
    *count = 0;
    for (int i = 0; i < o.input_count; ++i) {
        InputStream in;
        if (!input_open(&in, o.inputs[i], 1)) {
            pack_fail_because(PACK_USAGE_INPUT_OR_MEMORY, "can't open ", input_label(o.inputs[i]),
                              std::strerror(errno));
        }
        if (identity_of_descriptor(in.fd, &identities[*count])) ++*count;
        input_close(&in);
    }
    return identities;
}

void open_output(OutputFile* out, const char* name, const FileIdentity* inputs,
                 std::size_t input_count) {
    switch (output_open(out, name, inputs, input_count)) {
    case OUTPUT_OK:
        break;
    case OUTPUT_IS_INPUT:
        pack_fail(PACK_OUTPUT, "can't write ", output_label(name), ": it is also an input");
    default:
        pack_fail_because(PACK_OUTPUT, "can't open ", output_label(name), output_error_text(out));
    }
#ifdef _WIN32
    if (out->fd == 1) _setmode(1, _O_BINARY); // records are bytes; the metadata ends lines in LF
#endif
}

void commit_output(OutputFile* out, const char* name) {
    if (output_commit(out) != OUTPUT_OK) {
        pack_fail_because(PACK_OUTPUT, "can't write ", output_label(name), output_error_text(out));
    }
}

bool is_terminal(int fd) {
#ifdef _WIN32
    // _isatty is true of every character device (NUL too); only a console
    // has a console mode.
    DWORD mode;
    return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), &mode) != 0;
#else
    return isatty(fd) != 0;
#endif
}

// What the packer's events write to.
struct Run {
    RecordWriter records;
    MetaWriter meta;
    bool with_meta;
    const char* source; // the input being packed, as given
};

void on_statement(void* context, const char* text, std::size_t length, std::int64_t line,
                  const EntryMeta& meta) {
    auto* run = static_cast<Run*>(context);
    std::int32_t id = write_record(&run->records, text, length);
    if (run->with_meta) write_meta_line(&run->meta, id, run->source, line, meta);
}

void on_warning(void*, const char* source, std::int64_t line, const char* text) {
    pack_warn_at(input_label(source), line, text);
}

void on_format_chosen(void*, const char* source, InputFormat format) {
    char after[64];
    std::snprintf(after, sizeof after, ": format %s (detected)", FORMAT_NAMES[format]);
    pack_note("", input_label(source), after);
}

// Streams one input through the packer.
void pack_input(Packer* packer, Run* run, const char* name, InputFormat format) {
    InputStream in;
    if (!input_open(&in, name, INPUT_BLOCK_SIZE)) {
        pack_fail_because(PACK_USAGE_INPUT_OR_MEMORY, "can't open ", input_label(name),
                          std::strerror(errno));
    }
    run->source = name;
    bool ok = packer_begin(packer, name, format);
    for (std::size_t n = input_read(&in); ok && n > 0; n = input_read(&in)) {
        ok = packer_feed(packer, in.block, n);
    }
    if (!ok || !packer_end(packer)) out_of_memory(NOT_ENOUGH_MEMORY);
    input_close(&in);
}

// "litpack: wrote N records; skipped A without a token, B of 5000 tokens or
// more; read FORMAT[, FORMAT]", in one write.
void print_summary(const Packer& packer, std::int64_t written) {
    char line[512];
    std::size_t used = 0;
    auto add = [&](const char* text) {
        std::size_t n = std::strlen(text);
        if (n > sizeof line - 1 - used) n = sizeof line - 1 - used;
        std::memcpy(line + used, text, n);
        used += n;
    };
    char number[32];
    std::snprintf(number, sizeof number, "%lld", static_cast<long long>(written));
    add("litpack: wrote ");
    add(number);
    add(" records; skipped");
    for (int r = 0; r < SKIP_REASONS; ++r) {
        std::snprintf(number, sizeof number, " %lld ", static_cast<long long>(packer.skipped[r]));
        add(r == 0 ? "" : ",");
        add(number);
        add(SKIP_REASON_NAMES[r]);
    }
    add("; read");
    const char* separator = " ";
    for (int f = 0; f < FORMAT_COUNT; ++f) {
        if ((packer.formats_read & 1u << f) == 0) continue;
        add(separator);
        add(FORMAT_NAMES[f]);
        separator = ", ";
    }
    add("\n");
    std::fwrite(line, 1, used, stderr);
}

} // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    _setmode(2, _O_BINARY); // messages end in "\n" on every system
#endif
    Options o = parse_options(argc, argv);
    std::size_t identity_count;
    FileIdentity* identities = check_inputs(o, &identity_count);

    OutputFile records_file;
    open_output(&records_file, o.output, identities, identity_count);
    if (records_file.direct && is_terminal(records_file.fd)) {
        pack_fail(PACK_USAGE_INPUT_OR_MEMORY,
                  "will not write binary records to a terminal; use -o OUTPUT", nullptr, "");
    }
    OutputFile meta_file;
    if (o.meta != nullptr) {
        if (same_output_target(o.meta, o.output)) {
            pack_fail(PACK_OUTPUT, "can't write ", output_label(o.meta),
                      ": it is also the record output");
        }
        open_output(&meta_file, o.meta, identities, identity_count);
    }

    // Static: the packer's tables are large, and live as long as the run.
    static Run run;
    static Packer packer;
    records_start(&run.records, &records_file, output_label(o.output), o.first_id);
    run.with_meta = o.meta != nullptr;
    if (run.with_meta) meta_start(&run.meta, &meta_file, output_label(o.meta));
    PackerOptions options{};
    options.dialect = o.dialect;
    options.keep_all = o.keep_all;
    options.events = PackerEvents{&run, on_statement, on_warning, on_format_chosen};
    packer_init(&packer, options);
    for (int i = 0; i < o.input_count; ++i) pack_input(&packer, &run, o.inputs[i], o.format);

    // The records go in place first: metadata without its records would
    // describe a file that is not there.
    records_finish(&run.records);
    if (run.with_meta) meta_finish(&run.meta);
    commit_output(&records_file, o.output);
    if (run.with_meta) commit_output(&meta_file, o.meta);
    print_summary(packer, run.records.written);
    packer_free(&packer);
    release(identities);
    release(o.inputs);
    return PACK_OK;
}
