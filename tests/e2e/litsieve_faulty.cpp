// litsieve for the allocation-failure test (allocation_failure_e2e.py): the
// same program, except that LITSIEVE_FAIL_AT=n in the environment makes its
// n-th allocation fail, and every later one, as an exhausted heap would, and
// LITSIEVE_PIPELINE=threads,batch,single_below sets the statement
// pipeline's settings, so that a small input runs on several threads. The
// shipped litsieve is built without this file and reads no more of the
// environment than LIT_THREADS.
#include "analyzer/litsieve.h"
#include "analyzer/statement_pipeline.h"
#include "tests/support/allocation_faults.h"

#include <cstdlib>

int main(int argc, char** argv) {
    if (const char* n = std::getenv("LITSIEVE_FAIL_AT")) {
        fail_allocations_from(std::strtol(n, nullptr, 10));
    }
    if (const char* settings = std::getenv("LITSIEVE_PIPELINE")) {
        char* at = nullptr;
        pipeline_settings.threads = static_cast<unsigned>(std::strtoul(settings, &at, 10));
        pipeline_settings.batch_bytes = std::strtoul(at + 1, &at, 10);
        pipeline_settings.single_below = std::strtoll(at + 1, nullptr, 10);
    }
    return run_litsieve(argc, argv);
}
