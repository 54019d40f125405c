// Fuzz target: the string dictionary against a plain std::map.
//
// The input's first byte is a separator; the rest, cut at every separator,
// is a sequence of texts (empty ones and NUL bytes included) interned into a
// new dictionary. Checked:
//  1. every result is what the map predicts: 1 for the empty text, the id of
//     a known text, the negative of the next id (2, 3, ...) for a new one;
//     intern_string and intern_bytes agree on texts without NUL;
//  2. afterwards every stored text is found again with its id, the counter
//     holds the last id, and a null text yields 0;
//  3. visiting the texts gives back exactly the map: each stored text once,
//     with its id, in ascending byte order (and, with assertions on, every
//     fragment of the trie without a next has an id);
//  4. a second dictionary given the same texts in runs (intern_run, whose
//     walks go down the trie together; the separator byte sets the runs'
//     lengths) gives the same results.
#include "tests/fuzz/fuzz_support.h"

#include "analyzer/string_dictionary.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

using Texts = std::map<std::string, std::int32_t>;

std::int32_t intern(StringDictionary* d, const std::string& text) {
    return intern_bytes(d, reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

// Every text the dictionary holds, with its id (rule 3), as visit_texts
// gives them: each once, in ascending byte order.
bool found_text(void* context, const unsigned char* text, std::size_t length, std::int32_t id) {
    auto* found = static_cast<std::vector<std::pair<std::string, std::int32_t>>*>(context);
    std::string t(reinterpret_cast<const char*>(text), length);
    FUZZ_CHECK(id >= 2, "a stored id is at least 2");
    FUZZ_CHECK(found->empty() || found->back().first < t, "texts come once, in ascending order");
    found->emplace_back(std::move(t), id);
    return true;
}

Texts stored_texts(const StringDictionary* d) {
    std::vector<std::pair<std::string, std::int32_t>> found;
    visit_texts(d, found_text, &found);
    return Texts(found.begin(), found.end());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > 64 * 1024) return -1;
    const char separator = static_cast<char>(data[0]);
    std::vector<std::string> texts(1);
    for (std::size_t i = 1; i < size; ++i) {
        if (static_cast<char>(data[i]) == separator) {
            texts.emplace_back();
        } else {
            texts.back() += static_cast<char>(data[i]);
        }
    }

    start_tracking();
    StringDictionary* d = create_dictionary();
    Texts expected;
    std::int32_t next_id = 2;
    std::vector<std::int32_t> results;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::string& text = texts[i];
        std::int32_t want = 1;
        if (!text.empty()) {
            auto known = expected.find(text);
            want = known != expected.end() ? known->second : -next_id;
            if (known == expected.end()) expected.emplace(text, next_id++);
        }
        bool terminated_form = i % 2 == 1 && text.find('\0') == std::string::npos;
        std::int32_t got = terminated_form ? intern_string(d, text.c_str()) : intern(d, text);
        FUZZ_CHECK(got == want, "text " + std::to_string(i) + ": " + std::to_string(got) +
                                    " expected " + std::to_string(want));
        results.push_back(want);
    }
    StringDictionary* in_runs = create_dictionary();
    std::size_t run_most = 1 + static_cast<unsigned char>(separator) % INTERN_RUN_MOST;
    for (std::size_t i = 0; i < texts.size(); i += run_most) {
        std::size_t n = texts.size() - i < run_most ? texts.size() - i : run_most;
        const unsigned char* run[INTERN_RUN_MOST];
        std::size_t lengths[INTERN_RUN_MOST];
        std::int32_t got[INTERN_RUN_MOST];
        for (std::size_t k = 0; k < n; ++k) {
            run[k] = reinterpret_cast<const unsigned char*>(texts[i + k].data());
            lengths[k] = texts[i + k].size();
        }
        intern_run(in_runs, run, lengths, n, got);
        for (std::size_t k = 0; k < n; ++k) {
            FUZZ_CHECK(got[k] == results[i + k], "text " + std::to_string(i + k) + " in a run: " +
                                                     std::to_string(got[k]) + " expected " +
                                                     std::to_string(results[i + k]));
        }
    }
    FUZZ_CHECK(intern_string(d, nullptr) == 0, "a null text yields 0");
    FUZZ_CHECK(dictionary_last_id(d) == next_id - 1, "the counter holds the last id");
    for (const auto& [text, id] : expected) {
        FUZZ_CHECK(intern(d, text) == id, "a stored text is found again");
    }
    FUZZ_CHECK(stored_texts(d) == expected, "the dictionary holds exactly the texts interned");
    free_tracked();
    return 0;
}
