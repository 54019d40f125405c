// litpack: packs SQL text into the record file that litsieve reads.
//
//   litpack [--lines] [--first-id N] [-o OUTPUT] [INPUT ...]
//
// Statements are cut as packer/sql_splitter.h describes (with --lines, one
// per line) and get ids from 1 (or N) upwards; the count goes to standard
// error. Inputs are streamed: memory is one input block, one output buffer
// and the longest statement. Every input is opened and checked before the
// output is, the output is written as output/output_file.h describes (never
// over an input, in place only when whole) and a failure leaves no output.
#include "output/output_file.h"
#include "packer/failure.h"
#include "packer/input_stream.h"
#include "packer/record_writer.h"
#include "packer/sql_splitter.h"
#include "packer/statement_text.h"
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

const char USAGE[] = "usage: litpack [--lines] [--first-id N] [-o OUTPUT] [INPUT ...]\n"
                     "Packs SQL statements into a litsieve record file (standard input and\n"
                     "output when no file is named).\n";

struct Options {
    bool lines;
    std::int64_t first_id;
    const char* output; // "-" for standard output
    const char** inputs;
    int input_count;
};

Options parse_options(int argc, char** argv) {
    Options o = {false, 1, "-", nullptr, 0};
    // Inputs are at most the arguments, or standard input alone.
    o.inputs = static_cast<const char**>(
        checked_calloc(static_cast<std::size_t>(argc), sizeof(char*), NOT_ENOUGH_MEMORY));
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--lines") == 0) {
            o.lines = true;
        } else if (std::strcmp(arg, "--first-id") == 0 && i + 1 < argc) {
            char* end = nullptr;
            errno = 0;
            long long v = std::strtoll(argv[++i], &end, 10);
            if (errno != 0 || *end != '\0' || end == argv[i] || v < INT32_MIN || v > INT32_MAX) {
                pack_fail(PACK_USAGE_INPUT_OR_MEMORY, "--first-id takes a 32-bit integer, not ",
                          argv[i], "");
            }
            o.first_id = v;
        } else if (std::strcmp(arg, "-o") == 0 && i + 1 < argc) {
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

// Opens every input once, so that a missing or unreadable one ends the run
// before the output is touched, and takes its identity for the output's
// check. The inputs are opened again, one at a time, when they are packed.
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

void pack_record(void* writer, const char* text, std::size_t length) {
    write_record(static_cast<RecordWriter*>(writer), text, length);
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

} // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    _setmode(2, _O_BINARY); // messages end in "\n" on every system
#endif
    Options o = parse_options(argc, argv);
    std::size_t identity_count;
    FileIdentity* identities = check_inputs(o, &identity_count);

    const char* output_label = std::strcmp(o.output, "-") == 0 ? "standard output" : o.output;
    OutputFile out;
    switch (output_open(&out, o.output, identities, identity_count)) {
    case OUTPUT_OK:
        break;
    case OUTPUT_IS_INPUT:
        pack_fail(PACK_OUTPUT, "can't write ", output_label, ": it is also an input");
    default:
        pack_fail_because(PACK_OUTPUT, "can't open ", output_label, output_error_text(&out));
    }
    if (out.direct && is_terminal(out.fd)) {
        pack_fail(PACK_USAGE_INPUT_OR_MEMORY,
                  "will not write binary records to a terminal; use -o OUTPUT", nullptr, "");
    }
#ifdef _WIN32
    if (out.fd == 1) _setmode(1, _O_BINARY);
#endif

    RecordWriter writer;
    records_start(&writer, &out, output_label, o.first_id);
    StatementText text;
    statement_start(&text);
    for (int i = 0; i < o.input_count; ++i) {
        InputStream in;
        if (!input_open(&in, o.inputs[i], INPUT_BLOCK_SIZE)) {
            pack_fail_because(PACK_USAGE_INPUT_OR_MEMORY, "can't open ", input_label(o.inputs[i]),
                              std::strerror(errno));
        }
        if (o.lines) {
            split_lines(&in, &text, pack_record, &writer);
        } else {
            split_statements(&in, &text, pack_record, &writer);
        }
        input_close(&in);
    }
    records_finish(&writer);
    if (output_commit(&out) != OUTPUT_OK) {
        pack_fail_because(PACK_OUTPUT, "can't write ", output_label, output_error_text(&out));
    }
    std::fprintf(stderr, "litpack: wrote %lld records\n", static_cast<long long>(writer.written));
    statement_free(&text);
    release(identities);
    release(o.inputs);
    return PACK_OK;
}
