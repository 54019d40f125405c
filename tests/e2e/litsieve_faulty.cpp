// litsieve for the allocation-failure test (allocation_failure_e2e.py): the
// same program, except that LITSIEVE_FAIL_AT=n in the environment makes its
// n-th allocation fail, and every later one, as an exhausted heap would. The
// shipped litsieve is built without this file and never reads the
// environment.
#include "normaliser/allocation.h"

#include <cstdlib>

int litsieve_main(int argc, char** argv); // analyzer/litsieve.cpp, built with main renamed

int main(int argc, char** argv) {
    if (const char* n = std::getenv("LITSIEVE_FAIL_AT")) {
        allocation_fail_at = std::strtol(n, nullptr, 10);
    }
    return litsieve_main(argc, argv);
}
