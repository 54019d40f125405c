// Fuzz target: litpack's reading (format detection, the log readers and the
// dialect splitter) on arbitrary bytes, fed whole and in small chunks.
//
// Input: two control bytes, then the input text.
//   byte 0  format (byte % 7: auto, sql, lines, mysql-slow, mysql-general,
//           pg-log, pg-csv) and dialect (byte / 7 % 5)
//   byte 1  the chunk size of the second feeding, 1 to 64
// Checked:
//  1. the packer finishes (it never runs out of memory on inputs this
//     small);
//  2. fed in chunks it hands on exactly what it hands on fed whole: the
//     statements with their lines and metadata, the warnings, the format it
//     detected and the skips;
//  3. every statement is non-empty, NUL-terminated, has no white space at
//     either end (lines input and scripts are trimmed; log entries are
//     split by the dialect too), and a line number within the input;
//  4. every statement handed on has a token and fewer than 5000 (the
//     default run skips the others), and each skip came with a warning.
#include "tests/fuzz/fuzz_support.h"

#include "packer/packer.h"
#include "packer/token_count.h"

#include <string>
#include <vector>

namespace {

struct Seen {
    std::vector<std::string> events; // statements, warnings, formats, in order
    std::int64_t lines;              // lines of the input (line feeds + 1)
};

std::string field(TextRef t) {
    return t.length == 0 ? std::string() : std::string(t.data, t.length);
}

bool is_white(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

void on_statement(void* context, const char* text, std::size_t length, std::int64_t line,
                  const EntryMeta& meta) {
    auto* seen = static_cast<Seen*>(context);
    std::string statement(text, length);
    FUZZ_CHECK(length > 0, "an empty statement");
    FUZZ_CHECK(text[length] == '\0', "not NUL-terminated");
    FUZZ_CHECK(!is_white(text[0]) && !is_white(text[length - 1]), "white space at an end");
    FUZZ_CHECK(line >= 1 && line <= seen->lines, "line " + std::to_string(line));
    int tokens = count_tokens(text, length, TOKEN_LIMIT);
    FUZZ_CHECK(tokens > 0 && tokens < TOKEN_LIMIT, "packed with " + std::to_string(tokens));
    seen->events.push_back("S" + std::to_string(line) + ":" + statement + "|" +
                           field(meta.duration_ms) + "|" + field(meta.user) + "|" +
                           field(meta.database) + "|" + field(meta.time));
}

void on_warning(void* context, const char*, std::int64_t line, const char* text) {
    static_cast<Seen*>(context)->events.push_back("W" + std::to_string(line) + ":" + text);
}

void on_format(void* context, const char*, InputFormat format) {
    static_cast<Seen*>(context)->events.push_back(std::string("F") + FORMAT_NAMES[format]);
}

Packer packer; // static: its tables are large

// Packs `text` fed `chunk` bytes at a time (0: whole); what it handed on.
Seen pack(InputFormat format, Dialect dialect, const std::string& text, std::size_t chunk,
          std::int64_t skipped[SKIP_REASONS]) {
    Seen seen;
    seen.lines = 1;
    for (char c : text) seen.lines += c == '\n';
    PackerOptions options{};
    options.dialect = dialect;
    options.events = PackerEvents{&seen, on_statement, on_warning, on_format};
    packer_init(&packer, options);
    bool ok = packer_begin(&packer, "input", format);
    std::size_t step = chunk == 0 ? text.size() : chunk;
    for (std::size_t at = 0; ok && at < text.size(); at += step) {
        ok = packer_feed(&packer, text.data() + at, std::min(step, text.size() - at));
    }
    ok = ok && packer_end(&packer);
    FUZZ_CHECK(ok && !packer.out_of_memory, "the packer stopped");
    for (int r = 0; r < SKIP_REASONS; ++r) skipped[r] = packer.skipped[r];
    packer_free(&packer);
    return seen;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    auto format = static_cast<InputFormat>(data[0] % FORMAT_COUNT);
    auto dialect = static_cast<Dialect>(data[0] / FORMAT_COUNT % DIALECT_COUNT);
    std::size_t chunk = data[1] % 64 + 1;
    std::string text(reinterpret_cast<const char*>(data + 2), size - 2);

    std::int64_t whole_skips[SKIP_REASONS];
    std::int64_t chunk_skips[SKIP_REASONS];
    Seen whole = pack(format, dialect, text, 0, whole_skips);
    Seen pieces = pack(format, dialect, text, chunk, chunk_skips);
    FUZZ_CHECK(whole.events == pieces.events,
               "chunks of " + std::to_string(chunk) + " change what is handed on");
    std::size_t warnings = 0;
    for (const std::string& e : whole.events) warnings += e[0] == 'W';
    for (int r = 0; r < SKIP_REASONS; ++r) {
        FUZZ_CHECK(whole_skips[r] == chunk_skips[r], "skips differ");
        FUZZ_CHECK(whole_skips[r] >= 0 && static_cast<std::size_t>(whole_skips[r]) <= warnings,
                   "a skip without its warning");
    }
    return 0;
}
