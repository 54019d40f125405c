// Fuzz target: the lexer and the normaliser on arbitrary bytes.
//
// The input is one statement text (a NUL in it ends the statement, as in a
// record). Checked against the reference normaliser:
//  1. next_token yields the same token sequence (codes, and texts of TOKEN),
//     always moves forwards, and stays on the terminating NUL at the end;
//  2. parse_statement either leaves the reference's normalised text, or ends
//     the run with "syntax error" (no token) or "yacc stack overflow" (5000
//     tokens or more), status -1;
//  3. the normalised text never starts with a blank, and ends with one or
//     has two in a row only inside a comment, the one token that keeps them;
//  4. the plain path (parse_shortcuts all off) gives the same text.
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/reference_normaliser.h"

#include "normaliser/lexer.h"
#include "normaliser/parser.h"

#include <cstring>
#include <vector>

namespace {

constexpr std::size_t LONGEST_INPUT = 64 * 1024;

void parse(void*) {
    parse_statement();
}

std::string shown(const std::string& text) {
    std::string out;
    for (char byte : text.substr(0, 200)) {
        auto c = static_cast<unsigned char>(byte);
        if (c >= 0x20 && c < 0x7f) {
            out += byte;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out;
}

void check_tokens(const char* text, const std::vector<ReferenceToken>& expected) {
    input_cursor = text;
    const char* end = text + std::strlen(text);
    for (std::size_t i = 0;; ++i) {
        const char* before = input_cursor;
        int code = next_token();
        if (code == END_OF_TEXT) {
            FUZZ_CHECK(i == expected.size(), "ended after " + std::to_string(i) + " tokens");
            FUZZ_CHECK(input_cursor == end, "the cursor is left on the terminating NUL");
            FUZZ_CHECK(next_token() == END_OF_TEXT && input_cursor == end, "the end repeats");
            return;
        }
        FUZZ_CHECK(i < expected.size(), "token " + std::to_string(i) + " is one too many");
        FUZZ_CHECK(input_cursor > before && input_cursor <= end, "the cursor moves forwards");
        FUZZ_CHECK(code == expected[i].code, "token " + std::to_string(i) + " code " +
                                                 std::to_string(code) + " expected " +
                                                 std::to_string(expected[i].code));
        if (code == TOKEN) {
            std::string got(token_text, token_length);
            FUZZ_CHECK(got == expected[i].text,
                       "token " + std::to_string(i) + " '" + shown(got) + "'");
        }
    }
}

// Invariant 3. Pieces are laid out as reference_normalised joins them
// (checked before this); only a comment piece may hold a blank.
void check_blanks(const std::string& text, const std::vector<ReferenceToken>& tokens) {
    std::vector<bool> in_comment(text.size(), false);
    std::size_t at = 0;
    for (const ReferenceToken& token : tokens) {
        std::size_t length = reference_piece(token).size();
        if (token.code == TOKEN && token.text.compare(0, 2, "\\*") == 0) {
            for (std::size_t i = at; i < at + length; ++i) in_comment[i] = true;
        }
        at += length + 1;
    }
    // A comment never closed runs to the end of the text, trailing blanks
    // and all; nothing else may end with a blank, and nothing starts with one.
    FUZZ_CHECK(!text.empty() && text.front() != ' ' && (text.back() != ' ' || in_comment.back()),
               "no blank at either end: '" + shown(text) + "'");
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == ' ' && text[i + 1] == ' ') {
            FUZZ_CHECK(in_comment[i] && in_comment[i + 1],
                       "two blanks outside a comment at " + std::to_string(i));
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    reserve_normaliser_buffer(LONGEST_INPUT);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > LONGEST_INPUT) return -1;
    // Exactly the bytes and one NUL, so that a read past the end is caught.
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    std::string statement(text.data());
    std::vector<ReferenceToken> expected = reference_tokens(statement);

    input_cursor = text.data();
    int status = 0;
    bool accepted = run_guarded(parse, nullptr, &status);
    if (expected.empty()) {
        FUZZ_CHECK(!accepted && status == EXIT_INPUT && captured_stderr == "syntax error",
                   "a text without tokens: '" + captured_stderr + "'");
    } else if (expected.size() > REFERENCE_MOST_TOKENS) {
        FUZZ_CHECK(!accepted && status == EXIT_INPUT && captured_stderr == "yacc stack overflow",
                   std::to_string(expected.size()) + " tokens: '" + captured_stderr + "'");
    } else {
        FUZZ_CHECK(accepted, "a statement of " + std::to_string(expected.size()) +
                                 " tokens ended the run: '" + captured_stderr + "'");
        FUZZ_CHECK(normalized_text != nullptr && std::strlen(normalized_text) == normalized_length,
                   "normalized_length is the text's length");
        std::string got(normalized_text, normalized_length);
        std::string want = reference_normalised(expected);
        FUZZ_CHECK(got == want, "normalised '" + shown(got) + "' expected '" + shown(want) + "'");
        check_blanks(got, expected);
        release_normalized_text();
        // The plain path: the table loop alone, one reduction a step.
        const ParseShortcuts all_on = parse_shortcuts;
        parse_shortcuts = ParseShortcuts{false, false};
        input_cursor = text.data();
        parse_statement();
        std::string plain(normalized_text, normalized_length);
        release_normalized_text();
        parse_shortcuts = all_on;
        FUZZ_CHECK(plain == got,
                   "plain path '" + shown(plain) + "' shortcuts '" + shown(got) + "'");
    }
    FUZZ_CHECK(normalized_text == nullptr, "normalized_text is null between statements");
    // After the parse, which prepares the lexer for this text, whatever
    // the previous input left behind.
    check_tokens(text.data(), expected);
    return 0;
}
