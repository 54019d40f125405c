// litpack: packs SQL text into the record file that litsieve reads.
//
//   litpack [--lines] [--first-id N] [-o OUTPUT] [INPUT ...]
//
// Without --lines a statement ends at a ';' that closes a line (only blanks
// may follow it on that line) outside quotes and comments, or at a line that
// holds only '/'; the terminator is not part of the record. Comments and
// blank lines before a statement are not part of it, and statements with no
// text are dropped. With --lines every non-blank line is one statement.
// Records get ids from 1 (or N) upwards; the count goes to standard error.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

const char USAGE[] = "usage: litpack [--lines] [--first-id N] [-o OUTPUT] [INPUT ...]\n"
                     "Packs SQL statements into a litsieve record file (standard input and\n"
                     "output when no file is named).\n";

struct Output {
    std::FILE* file;
    const char* name;
    std::int64_t next_id;
    std::int64_t written;
};

[[noreturn]] void die(int status, const std::string& message) {
    std::fprintf(stderr, "litpack: %s\n", message.c_str());
    std::exit(status);
}

inline bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}
inline bool is_space(char c) {
    return is_blank(c) || c == '\n';
}

void put_int32(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

// Writes one record for text[begin, end) with trailing white space removed;
// nothing for a text that is blank.
void emit(Output* out, const std::string& text, std::size_t begin, std::size_t end) {
    while (begin < end && is_space(text[begin])) ++begin;
    while (end > begin && is_space(text[end - 1])) --end;
    if (begin == end) return;
    if (end - begin > INT32_MAX) die(1, "a statement is longer than 2147483647 bytes");
    if (out->next_id > INT32_MAX) die(1, "record ids ran past 2147483647");
    unsigned char header[8];
    put_int32(header, static_cast<std::uint32_t>(static_cast<std::int32_t>(out->next_id)));
    put_int32(header + 4, static_cast<std::uint32_t>(end - begin));
    if (std::fwrite(header, 1, 8, out->file) != 8 ||
        std::fwrite(text.data() + begin, 1, end - begin, out->file) != end - begin) {
        die(2, std::string("can't write ") + out->name + ": " + std::strerror(errno));
    }
    ++out->next_id;
    ++out->written;
}

void pack_lines(Output* out, const std::string& text) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t stop = text.find('\n', start);
        if (stop == std::string::npos) stop = text.size();
        emit(out, text, start, stop);
        start = stop + 1;
    }
}

// True when text[from, ...) holds only blanks, or blanks and a "--" comment,
// up to the end of its line.
bool rest_of_line_blank(const std::string& text, std::size_t from) {
    while (from < text.size() && is_blank(text[from])) ++from;
    return from == text.size() || text[from] == '\n' ||
           (text[from] == '-' && from + 1 < text.size() && text[from + 1] == '-');
}

std::size_t end_of_line(const std::string& text, std::size_t from) {
    std::size_t stop = text.find('\n', from);
    return stop == std::string::npos ? text.size() : stop;
}

void pack_statements(Output* out, const std::string& text) {
    enum { BETWEEN, STATEMENT } where = BETWEEN;
    std::size_t start = 0; // first byte of the statement being collected
    std::size_t i = 0;
    bool line_start = true;
    while (i < text.size()) {
        char c = text[i];
        // A line holding only '/' ends the statement (and is no statement itself).
        if (line_start) {
            std::size_t j = i;
            while (j < text.size() && is_blank(text[j])) ++j;
            if (j < text.size() && text[j] == '/' && rest_of_line_blank(text, j + 1)) {
                if (where == STATEMENT) emit(out, text, start, i);
                where = BETWEEN;
                i = end_of_line(text, j + 1);
                continue;
            }
        }
        line_start = false;
        if (c == '\n') {
            line_start = true;
            ++i;
            continue;
        }
        if (c == '-' && i + 1 < text.size() && text[i + 1] == '-') { // line comment
            i = end_of_line(text, i);
            continue;
        }
        if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') { // block comment
            std::size_t close = text.find("*/", i + 2);
            i = close == std::string::npos ? text.size() : close + 2;
            continue;
        }
        if (where == BETWEEN && !is_space(c)) {
            where = STATEMENT;
            start = i;
        }
        if (c == '\'' || c == '"') { // quoted: doubled quotes stay inside
            std::size_t j = i + 1;
            for (;;) {
                j = text.find(c, j);
                if (j == std::string::npos) {
                    j = text.size();
                    break;
                }
                if (j + 1 < text.size() && text[j + 1] == c) {
                    j += 2;
                    continue;
                }
                ++j;
                break;
            }
            i = j;
            continue;
        }
        if (c == ';' && where == STATEMENT && rest_of_line_blank(text, i + 1)) {
            emit(out, text, start, i);
            where = BETWEEN;
        }
        ++i;
    }
    if (where == STATEMENT) emit(out, text, start, text.size());
}

std::string read_whole(std::FILE* in, const char* name) {
    std::string text;
    std::vector<char> buffer(1 << 16);
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0) text.append(buffer.data(), n);
    if (std::ferror(in)) die(1, std::string("can't read ") + name + ": " + std::strerror(errno));
    return text;
}

} // namespace

int main(int argc, char** argv) {
    bool lines = false;
    std::int64_t first_id = 1;
    const char* output_name = nullptr;
    std::vector<const char*> inputs;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--lines") {
            lines = true;
        } else if (arg == "--first-id" && i + 1 < argc) {
            char* end = nullptr;
            errno = 0;
            long long v = std::strtoll(argv[++i], &end, 10);
            if (errno != 0 || *end != '\0' || end == argv[i] || v < INT32_MIN || v > INT32_MAX) {
                die(1, std::string("--first-id takes a 32-bit integer, not ") + argv[i]);
            }
            first_id = v;
        } else if (arg == "-o" && i + 1 < argc) {
            output_name = argv[++i];
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(USAGE, stdout);
            return 0;
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fputs(USAGE, stderr);
            return 1;
        } else {
            inputs.push_back(argv[i]);
        }
    }

    Output out = {stdout, "standard output", first_id, 0};
    if (output_name != nullptr) {
        out.file = std::fopen(output_name, "wb");
        out.name = output_name;
        if (out.file == nullptr) {
            die(2, std::string("can't open ") + output_name + ": " + std::strerror(errno));
        }
    } else {
#ifdef _WIN32
        _setmode(1, _O_BINARY);
#else
        if (isatty(1)) die(1, "will not write binary records to a terminal; use -o OUTPUT");
#endif
    }
#ifdef _WIN32
    _setmode(0, _O_BINARY);
#endif
    if (inputs.empty()) inputs.push_back("-");
    for (const char* name : inputs) {
        bool is_stdin = std::strcmp(name, "-") == 0;
        std::FILE* in = is_stdin ? stdin : std::fopen(name, "rb");
        if (in == nullptr) die(1, std::string("can't open ") + name + ": " + std::strerror(errno));
        std::string text = read_whole(in, is_stdin ? "standard input" : name);
        if (!is_stdin) std::fclose(in);
        if (lines) {
            pack_lines(&out, text);
        } else {
            pack_statements(&out, text);
        }
    }
    if (std::fflush(out.file) != 0 || (output_name != nullptr && std::fclose(out.file) != 0)) {
        die(2, std::string("can't write ") + out.name + ": " + std::strerror(errno));
    }
    std::fprintf(stderr, "litpack: wrote %lld records\n", static_cast<long long>(out.written));
    return 0;
}
