#include "normaliser/allocation.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

const char NOT_ENOUGH_MEMORY[] = "Not enough memory\n";
const char NOT_ENOUGH_MEMORY_FOR_STATE[] = "Not enough memory for State\n";

long allocation_fail_at = 0;
long allocation_count = 0;

void out_of_memory(const char* message) {
    std::fputs(message, stderr);
    std::exit(1);
}

namespace {

// Counts one allocation; true if fault injection says it fails.
bool injected_failure() {
    ++allocation_count;
    return allocation_fail_at > 0 && allocation_count >= allocation_fail_at;
}

} // namespace

void* checked_realloc(void* block, std::size_t size, const char* message) {
    if (injected_failure()) out_of_memory(message);
    void* grown = std::realloc(block, size);
    if (grown == nullptr) {
        out_of_memory(message);
    }
    return grown;
}

void* checked_calloc(std::size_t count, std::size_t size, const char* message) {
    if (injected_failure()) out_of_memory(message);
    void* block = std::calloc(count, size);
    if (block == nullptr) out_of_memory(message);
    return block;
}

void* optional_calloc(std::size_t count, std::size_t size) {
    if (injected_failure()) return nullptr;
    return std::calloc(count, size);
}
