// Fuzz target: litrank's filter patterns and folding on arbitrary bytes.
//
// The input is a pattern, a line feed, then a text (a NUL ends the text, as
// the C library's matcher reads it). Checked:
//  1. compile_pattern either compiles or names why not, and a compiled
//     pattern runs over the text without fault;
//  2. where the C library's regcomp also accepts the pattern (REG_EXTENDED,
//     REG_ICASE) and it is plain ASCII without GNU's backslash extensions
//     (\w, \b, back references), both say the same about the text;
//  3. glob_matches runs on the pattern as a glob without fault;
//  4. fold_text on the text's normalised text (the only texts it is given)
//     never empties it, stays in its room, and folding a folded text again
//     changes nothing.
#include "tests/fuzz/fuzz_support.h"

#include "normaliser/lexer.h"
#include "normaliser/parser.h"
#include "platform/allocation.h"
#include "ranker/folding.h"
#include "ranker/pattern.h"

#include <cstring>
#include <regex.h>
#include <string>

namespace {

// Patterns both matchers read the same way: printable ASCII, and a
// backslash only before a character that is special in a pattern. Stacked
// and many repetitions are left out too: the C library's regcomp takes time
// exponential in them (its closure walk), which only the reference pays.
// So are ranges over the bytes between the upper- and lower-case letters
// ([ \ ] ^ _ `): with REG_ICASE the C library leaves those out of a range
// such as [ -z] (it compares them case-folded), where a range here is its
// bytes.
bool comparable(const std::string& pattern) {
    int repetitions = 0;
    for (std::size_t i = 0; i + 2 < pattern.size(); ++i) {
        auto low = static_cast<unsigned char>(pattern[i]);
        auto high = static_cast<unsigned char>(pattern[i + 2]);
        if (pattern[i + 1] == '-' && low <= 0x60 && high >= 0x5B) return false;
    }
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (std::strchr("*+?{", pattern[i]) != nullptr) {
            if (++repetitions > 6) return false;
            if (i > 0 && std::strchr("*+?}", pattern[i - 1]) != nullptr) return false;
        }
        unsigned char c = static_cast<unsigned char>(pattern[i]);
        if (c < 0x20 || c >= 0x7F) return false;
        if (c == '\\') {
            if (i + 1 == pattern.size() ||
                std::strchr(".[]()|*+?{}^$\\", pattern[i + 1]) == nullptr) {
                return false;
            }
            ++i;
        }
        // Collating elements and equivalence classes name more than bytes there.
        if (c == '[' && i + 1 < pattern.size() &&
            (pattern[i + 1] == '.' || pattern[i + 1] == '=')) {
            return false;
        }
    }
    return true;
}

std::string folded(const std::string& text, unsigned flags) {
    FoldBuffer buffer = {nullptr, 0};
    std::size_t n = fold_text(text.data(), text.size(), flags, &buffer);
    FUZZ_CHECK(n <= 2 * text.size() + 16, "the folded text stays in its room");
    std::string result(buffer.data, n);
    release(buffer.data);
    return result;
}

std::string normalised;

// The normaliser's text of input_cursor's statement; it may end the run.
void normalise(void*) {
    parse_statement();
    normalised.assign(normalized_text, normalized_length);
    release_normalized_text();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    std::size_t lf = input.find('\n');
    if (lf == std::string::npos || lf > 256) return 0;
    std::string pattern = input.substr(0, lf);
    std::string text = input.substr(lf + 1);
    text = text.substr(0, text.find('\0'));
    if (pattern.find('\0') != std::string::npos) return 0;

    const char* error = nullptr; // 1.
    Pattern* compiled = compile_pattern(pattern.c_str(), &error);
    FUZZ_CHECK((compiled == nullptr) == (error != nullptr), pattern);
    if (compiled != nullptr) {
        bool found = pattern_matches(compiled, text.data(), text.size());
        regex_t reference; // 2.
        // The C library's ^ and $ also match next to a line feed (although
        // REG_NEWLINE is not given); here they are the text's ends only.
        bool anchors = pattern.find_first_of("^$") != std::string::npos;
        if (comparable(pattern) && !(anchors && text.find('\n') != std::string::npos) &&
            regcomp(&reference, pattern.c_str(), REG_EXTENDED | REG_ICASE | REG_NOSUB) == 0) {
            bool expected = regexec(&reference, text.c_str(), 0, nullptr, 0) == 0;
            regfree(&reference);
            FUZZ_CHECK(found == expected, "/" + pattern + "/ on \"" + text + "\"");
        }
        release_pattern(compiled);
    }
    glob_matches(pattern.c_str(), text.data(), text.size()); // 3.

    input_cursor = text.c_str(); // 4.
    int status = 0;
    if (!run_guarded(normalise, nullptr, &status)) return 0; // no token, or 5000 and more
    for (unsigned flags : {FOLD_LISTS, FOLD_COMMENTS, FOLD_LISTS | FOLD_COMMENTS}) {
        std::string once = folded(normalised, flags);
        FUZZ_CHECK(!once.empty(), normalised);
        FUZZ_CHECK(folded(once, flags) == once, normalised + " -> " + once);
    }
    return 0;
}
