#include "platform/cores.h"

#include <cstdlib>
#include <thread>

const char THREADS_VARIABLE[] = "LIT_THREADS";

unsigned usable_threads() {
    if (const char* given = std::getenv(THREADS_VARIABLE)) {
        char* end = nullptr;
        long n = std::strtol(given, &end, 10);
        if (end != given && *end == '\0' && n >= 1 && n <= static_cast<long>(MOST_THREADS)) {
            return static_cast<unsigned>(n);
        }
    }
    unsigned cores = std::thread::hardware_concurrency();
    if (cores == 0) return 1;
    return cores < MOST_THREADS ? cores : MOST_THREADS;
}
