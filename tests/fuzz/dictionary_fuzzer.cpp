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
//  3. walking the trie gives back exactly the map: each stored text once,
//     with its id, and every fragment without a next has an id.
#include "tests/fuzz/fuzz_support.h"

#include "analyzer/string_dictionary.h"

#include <map>
#include <vector>

namespace {

using Texts = std::map<std::string, std::int32_t>;

std::int32_t intern(StringDictionary* d, const std::string& text) {
    return intern_bytes(d, reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

// Every text the trie holds, with its id (rule 3), walked without recursion
// because a chain of branch states can be as deep as a text is long.
Texts walk(const StringDictionary* d) {
    Texts found;
    struct Visit {
        StateIndex state;
        std::string prefix;
    };
    std::vector<Visit> pending;
    if (d->root != NO_STATE) pending.push_back({d->root, ""});
    auto found_text = [&found](const std::string& text, std::int32_t id) {
        FUZZ_CHECK(id >= 2 && id <= 0x7fffffff, "a stored id is at least 2");
        FUZZ_CHECK(found.emplace(text, id).second, "a text is stored once");
    };
    while (!pending.empty()) {
        Visit v = std::move(pending.back());
        pending.pop_back();
        FUZZ_CHECK(v.state < d->state_count, "a state index lies in the pool");
        const State& s = d->states[v.state];
        if (s.length > 0) {
            std::string text = v.prefix + std::string(reinterpret_cast<const char*>(s.data.bytes),
                                                      static_cast<std::size_t>(s.length));
            FUZZ_CHECK(s.next != NO_STATE || s.id > 0, "a fragment without a next has an id");
            if (s.id > 0) found_text(text, s.id);
            if (s.next != NO_STATE) pending.push_back({s.next, std::move(text)});
        } else if (s.length == STATE_END_MARKER) {
            found_text(v.prefix, s.id);
            if (s.next != NO_STATE) pending.push_back({s.next, v.prefix});
        } else {
            FUZZ_CHECK(s.length == STATE_BRANCH && s.id == 0, "a branch has no id");
            for (int b = 0; b < 256; ++b) {
                StateIndex slot = s.data.table->slot[b];
                if (slot != NO_STATE) pending.push_back({slot, v.prefix + static_cast<char>(b)});
            }
        }
    }
    return found;
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
    }
    FUZZ_CHECK(intern_string(d, nullptr) == 0, "a null text yields 0");
    FUZZ_CHECK(d->id_counter == next_id - 1, "the counter holds the last id");
    for (const auto& [text, id] : expected) {
        FUZZ_CHECK(intern(d, text) == id, "a stored text is found again");
    }
    FUZZ_CHECK(walk(d) == expected, "the trie holds exactly the texts interned");
    free_tracked();
    return 0;
}
