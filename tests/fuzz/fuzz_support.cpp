#include "tests/fuzz/fuzz_support.h"

#include "normaliser/lexer.h"
#include "normaliser/parser.h"
#include "platform/system_calls.h"

#include <csetjmp>
#include <unordered_set>

std::string captured_stderr;

namespace {

std::jmp_buf exit_jump;
bool exits_armed = false;
int exit_status = 0;
long (*outer_write)(int, const void*, std::size_t) = nullptr;
void (*outer_exit)(int) = nullptr;

// Blocks handed out while tracking and not freed since. Its own nodes come
// from operator new, which does not go through sys.
std::unordered_set<void*>* tracked_blocks;
SystemCalls untracked; // the allocation entries start_tracking replaced

[[noreturn]] void guarded_exit(int status) {
    if (!exits_armed) {
        fuzz_failure(__FILE__, __LINE__, "exits_armed", "exit outside run_guarded");
    }
    exits_armed = false;
    exit_status = status;
    std::longjmp(exit_jump, 1);
}

long capturing_write(int fd, const void* buffer, std::size_t count) {
    if (fd != 2) return outer_write(fd, buffer, count);
    captured_stderr.append(static_cast<const char*>(buffer), count);
    return static_cast<long>(count);
}

void* tracking_realloc(void* block, std::size_t size) {
    void* grown = untracked.realloc(block, size);
    if (grown != nullptr) {
        if (block != nullptr && tracked_blocks->erase(block) == 0) {
            fuzz_failure(__FILE__, __LINE__, "block != nullptr", "an untracked block was grown");
        }
        tracked_blocks->insert(grown);
    }
    return grown;
}

void* tracking_calloc(std::size_t count, std::size_t size) {
    void* block = untracked.calloc(count, size);
    if (block != nullptr) tracked_blocks->insert(block);
    return block;
}

void tracking_free(void* block) {
    if (block != nullptr) tracked_blocks->erase(block);
    untracked.free(block);
}

} // namespace

void fuzz_failure(const char* file, int line, const char* condition, const std::string& what) {
    std::fprintf(stderr, "\n%s:%d: check failed: %s\n  %s\n", file, line, condition, what.c_str());
    std::fflush(stderr);
    std::abort();
}

bool run_guarded(void (*body)(void* context), void* context, int* status) {
    captured_stderr.clear();
    outer_write = sys.write;
    outer_exit = sys.exit;
    sys.write = capturing_write;
    sys.exit = guarded_exit;
    exits_armed = true;
    bool returned = true;
    if (setjmp(exit_jump) == 0) {
        body(context);
        exits_armed = false;
    } else {
        returned = false;
        *status = exit_status;
    }
    sys.write = outer_write;
    sys.exit = outer_exit;
    return returned;
}

void start_tracking() {
    if (tracked_blocks == nullptr) tracked_blocks = new std::unordered_set<void*>;
    tracked_blocks->clear();
    untracked = sys;
    sys.realloc = tracking_realloc;
    sys.calloc = tracking_calloc;
    sys.free = tracking_free;
}

void free_tracked() {
    sys.realloc = untracked.realloc;
    sys.calloc = untracked.calloc;
    sys.free = untracked.free;
    for (void* block : *tracked_blocks) untracked.free(block);
    tracked_blocks->clear();
}

void reserve_normaliser_buffer(std::size_t longest_input) {
    // A piece is at most three bytes per input byte (":N" and a blank for a
    // one-digit number); one identifier of that length grows the buffer there.
    std::string word(3 * longest_input + 64, 'w');
    input_cursor = word.c_str();
    parse_statement();
    release_normalized_text();
}
