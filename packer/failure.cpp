#include "packer/failure.h"

#include "escape/escape.h"
#include "platform/digits.h"

#include <cstdio>
#include <cstdlib>

namespace {

void say(const char* before, const char* name, const char* between, const char* after) {
    char shown[4096];
    shown[0] = '\0';
    if (name != nullptr) escape_for_message(name, shown, sizeof shown);
    std::fprintf(stderr, "litpack: %s%s%s%s\n", before, shown, between, after);
}

} // namespace

void pack_fail(int status, const char* before, const char* name, const char* after) {
    say(before, name, "", after);
    std::exit(status);
}

void pack_fail_because(int status, const char* before, const char* name, const char* reason) {
    say(before, name, ": ", reason);
    std::exit(status);
}

void pack_note(const char* before, const char* name, const char* after) {
    say(before, name, "", after);
}

void pack_warn_at(const char* name, std::int64_t line, const char* text) {
    char at[DECIMAL_MOST + 4];
    char* end = at + DECIMAL_MOST + 1;
    char* first = format_decimal(line, end);
    *--first = ':';
    end[0] = ':';
    end[1] = ' ';
    end[2] = '\0';
    say("", name, first, text);
}
