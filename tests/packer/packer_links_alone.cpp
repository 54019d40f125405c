// The packer library linked alone (add_link_test): two statements packed,
// one of them left out for having no token.
#include "packer/packer.h"

#include <cstring>

namespace {

int statements = 0;
int warnings = 0;

void count_statement(void*, const char* text, std::size_t length, std::int64_t line,
                     const EntryMeta&) {
    if (length == 8 && std::memcmp(text, "select 1", 8) == 0 && line == 1) ++statements;
}

void count_warning(void*, const char*, std::int64_t line, const char*) {
    if (line == 2) ++warnings;
}

void ignore_format(void*, const char*, InputFormat) {}

Packer packer; // static: its tables are large

} // namespace

int main() {
    PackerOptions options{};
    options.events = PackerEvents{nullptr, count_statement, count_warning, ignore_format};
    packer_init(&packer, options);
    static const char SQL[] = "select 1;\n\0x;\n"; // the lexer ends a text at its NUL
    bool ok = packer_begin(&packer, "a.sql", FORMAT_AUTO) &&
              packer_feed(&packer, SQL, sizeof SQL - 1) && packer_end(&packer);
    packer_free(&packer);
    return ok && statements == 1 && warnings == 1 ? 0 : 1;
}
