#include "packer/failure.h"

#include "escape/escape.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

[[noreturn]] void fail_with(int status, const char* before, const char* name, const char* between,
                            const char* after) {
    char shown[4096];
    shown[0] = '\0';
    if (name != nullptr) escape_for_message(name, shown, sizeof shown);
    std::fprintf(stderr, "litpack: %s%s%s%s\n", before, shown, between, after);
    std::exit(status);
}

} // namespace

void pack_fail(int status, const char* before, const char* name, const char* after) {
    fail_with(status, before, name, "", after);
}

void pack_fail_because(int status, const char* before, const char* name, const char* reason) {
    fail_with(status, before, name, ": ", reason);
}
