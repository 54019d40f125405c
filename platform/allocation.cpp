#include "platform/allocation.h"

#include "platform/exit_statuses.h"
#include "platform/messages.h"
#include "platform/system_calls.h"

const char NOT_ENOUGH_MEMORY[] = "Not enough memory\n";
const char NOT_ENOUGH_MEMORY_FOR_STATE[] = "Not enough memory for State\n";

void out_of_memory(const char* message) {
    fail(EXIT_USAGE_OR_MEMORY, message);
}

void* checked_realloc(void* block, std::size_t size, const char* message) {
    void* grown = sys.realloc(block, size);
    if (grown == nullptr) out_of_memory(message);
    return grown;
}

void* checked_calloc(std::size_t count, std::size_t size, const char* message) {
    void* block = sys.calloc(count, size);
    if (block == nullptr) out_of_memory(message);
    return block;
}

void* optional_calloc(std::size_t count, std::size_t size) {
    return sys.calloc(count, size);
}

void* optional_realloc(void* block, std::size_t size) {
    return sys.realloc(block, size);
}

void release(void* block) {
    sys.free(block);
}
