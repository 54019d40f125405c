#include "tests/fuzz/fuzz_support.h"

#include "normaliser/lexer.h"
#include "normaliser/parser.h"

#include <csetjmp>
#include <unordered_set>

std::string captured_stderr;

namespace {

std::jmp_buf exit_jump;
bool exits_armed = false;
int exit_status = 0;

bool tracking = false;
// Blocks handed out while tracking and not freed since. Its own nodes come
// from operator new, which is not wrapped.
std::unordered_set<void*>* tracked_blocks;

} // namespace

extern "C" {
[[noreturn]] void __real_exit(int status);
int __real_fputs(const char* text, std::FILE* stream);
void* __real_realloc(void* block, std::size_t size);
void* __real_calloc(std::size_t count, std::size_t size);
void __real_free(void* block);

[[noreturn]] void __wrap_exit(int status) {
    if (exits_armed) guarded_exit(status);
    __real_exit(status);
}

int __wrap_fputs(const char* text, std::FILE* stream) {
    if (exits_armed && stream == stderr) {
        captured_stderr += text;
        return 1;
    }
    return __real_fputs(text, stream);
}

void* __wrap_realloc(void* block, std::size_t size) {
    void* grown = __real_realloc(block, size);
    if (tracking && grown != nullptr) {
        if (block != nullptr && tracked_blocks->erase(block) == 0) {
            fuzz_failure(__FILE__, __LINE__, "block != nullptr", "an untracked block was grown");
        }
        tracked_blocks->insert(grown);
    }
    return grown;
}

void* __wrap_calloc(std::size_t count, std::size_t size) {
    void* block = __real_calloc(count, size);
    if (tracking && block != nullptr) tracked_blocks->insert(block);
    return block;
}

void __wrap_free(void* block) {
    if (tracking && block != nullptr) tracked_blocks->erase(block);
    __real_free(block);
}
}

void fuzz_failure(const char* file, int line, const char* condition, const std::string& what) {
    std::fprintf(stderr, "\n%s:%d: check failed: %s\n  %s\n", file, line, condition, what.c_str());
    std::fflush(stderr);
    std::abort();
}

void guarded_exit(int status) {
    if (!exits_armed) {
        fuzz_failure(__FILE__, __LINE__, "exits_armed", "exit outside run_guarded");
    }
    exits_armed = false;
    exit_status = status;
    std::longjmp(exit_jump, 1);
}

bool run_guarded(void (*body)(void* context), void* context, int* status) {
    captured_stderr.clear();
    exits_armed = true;
    if (setjmp(exit_jump) == 0) {
        body(context);
        exits_armed = false;
        return true;
    }
    *status = exit_status;
    return false;
}

void start_tracking() {
    if (tracked_blocks == nullptr) tracked_blocks = new std::unordered_set<void*>;
    tracked_blocks->clear();
    tracking = true;
}

void free_tracked() {
    tracking = false;
    for (void* block : *tracked_blocks) __real_free(block);
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
