#include "tests/support/allocation_faults.h"

#include "platform/system_calls.h"

#include <cstddef>

namespace {

long fail_at = 0;
long counted = 0;
bool installed = false;
void* (*next_realloc)(void*, std::size_t) = nullptr;
void* (*next_calloc)(std::size_t, std::size_t) = nullptr;

bool fails() {
    ++counted;
    return fail_at > 0 && counted >= fail_at;
}

void* counting_realloc(void* block, std::size_t size) {
    return fails() ? nullptr : next_realloc(block, size);
}

void* counting_calloc(std::size_t count, std::size_t size) {
    return fails() ? nullptr : next_calloc(count, size);
}

} // namespace

void fail_allocations_from(long n) {
    if (!installed) {
        next_realloc = sys.realloc;
        next_calloc = sys.calloc;
        sys.realloc = counting_realloc;
        sys.calloc = counting_calloc;
        installed = true;
    }
    fail_at = n;
    counted = 0;
}

long allocations_counted() {
    return counted;
}

void stop_failing_allocations() {
    if (!installed) return;
    sys.realloc = next_realloc;
    sys.calloc = next_calloc;
    installed = false;
    fail_at = 0;
}
