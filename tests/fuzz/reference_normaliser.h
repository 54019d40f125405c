// A second, deliberately plain normaliser for the fuzz targets to compare the
// real one against. It works on std::string, keeps no global state, and is
// written from the token rules alone (not from normaliser/lexer.cpp), so a
// slip in one is unlikely to be repeated in the other.
#pragma once

#include <string>
#include <vector>

struct ReferenceToken {
    int code;         // TOKEN, STRING_CONSTANT, NUMBER_CONSTANT or DATE_CONSTANT
    std::string text; // the token's bytes (TOKEN only; empty for literals)
};

// Tokens of a statement; `statement` holds no NUL (the caller cuts it at the
// first one, as the program's NUL-terminated texts are cut).
std::vector<ReferenceToken> reference_tokens(const std::string& statement);

// Whether a string literal's body reads as a date.
bool reference_is_date(const std::string& body);

// The normalised text of a token list: pieces joined by single blanks, TOKEN
// upper-cased (a..z only), literals replaced by ":S", ":N" and ":D".
std::string reference_normalised(const std::vector<ReferenceToken>& tokens);

// The piece one token contributes to the normalised text.
std::string reference_piece(const ReferenceToken& token);

// Tokens the parser accepts in one statement: a 5000th ends the run.
constexpr std::size_t REFERENCE_MOST_TOKENS = 4999;
