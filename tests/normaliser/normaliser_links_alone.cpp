// The normaliser library linked alone (add_link_test): one statement
// normalised.
#include "normaliser/lexer.h"
#include "normaliser/parser.h"

#include <cstring>

int main() {
    input_cursor = "select a from t where b = 'x' and d = '1-jan-03'";
    parse_statement();
    return std::strcmp(normalized_text, "SELECT A FROM T WHERE B = :S AND D = :D") == 0 ? 0 : 1;
}
