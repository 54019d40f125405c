// How long interning alone takes: every record of a file is normalised
// first (on every core) and its text kept, then the texts are interned in
// file order into a fresh dictionary, timed alone, REPEAT times (each into
// a dictionary of its own). One line per round: seconds, ids handed out.
//   intern_time INPUT.rec [REPEAT]
#include "analyzer/statement_pipeline.h"
#include "analyzer/string_dictionary.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::vector<unsigned char> bytes;       // every normalised text, one after another
std::vector<std::size_t> starts;        // where each begins; one more at the end

void keep(const NormalizedRecord* records, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        starts.push_back(bytes.size());
        bytes.insert(bytes.end(), records[i].normalized,
                     records[i].normalized + records[i].normalized_length);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: intern_time INPUT.rec [REPEAT]\n", stderr);
        return 1;
    }
    int repeat = argc > 2 ? std::atoi(argv[2]) : 3;
    read_normalized_records(argv[1], keep);
    starts.push_back(bytes.size());
    std::size_t texts = starts.size() - 1;
    for (int round = 0; round < repeat; ++round) {
        StringDictionary* d = create_dictionary();
        auto t0 = std::chrono::steady_clock::now();
        if (std::getenv("RUNS") != nullptr) {
            const unsigned char* t[INTERN_RUN_MOST];
            std::size_t l[INTERN_RUN_MOST];
            std::int32_t r[INTERN_RUN_MOST];
            for (std::size_t i = 0; i < texts; i += INTERN_RUN_MOST) {
                std::size_t n = texts - i < INTERN_RUN_MOST ? texts - i : INTERN_RUN_MOST;
                for (std::size_t j = 0; j < n; ++j) {
                    t[j] = bytes.data() + starts[i + j];
                    l[j] = starts[i + j + 1] - starts[i + j];
                }
                intern_run(d, t, l, n, r);
            }
        } else {
            for (std::size_t i = 0; i < texts; ++i) {
                intern_bytes(d, bytes.data() + starts[i], starts[i + 1] - starts[i]);
            }
        }
        auto t1 = std::chrono::steady_clock::now();
        std::printf("%.3f s, %ld ids, %zu texts\n",
                    std::chrono::duration<double>(t1 - t0).count(),
                    static_cast<long>(dictionary_last_id(d)), texts);
    }
}
