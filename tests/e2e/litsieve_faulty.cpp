// litsieve for the allocation-failure test (allocation_failure_e2e.py): the
// same program, except that LITSIEVE_FAIL_AT=n in the environment makes its
// n-th allocation fail, and every later one, as an exhausted heap would. The
// shipped litsieve is built without this file and never reads the
// environment.
#include "analyzer/litsieve.h"
#include "tests/support/allocation_faults.h"

#include <cstdlib>

int main(int argc, char** argv) {
    if (const char* n = std::getenv("LITSIEVE_FAIL_AT")) {
        fail_allocations_from(std::strtol(n, nullptr, 10));
    }
    return run_litsieve(argc, argv);
}
