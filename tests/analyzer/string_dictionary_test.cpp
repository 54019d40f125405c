#include "analyzer/string_dictionary.h"

#include "analyzer/dictionary_trie.h"
#include "analyzer/recent_texts.h"
#include "tests/support/allocation_faults.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

struct InternStep {
    const char* text;
    std::int32_t result;
};

void run_steps(StringDictionary* d, const std::vector<InternStep>& steps) {
    for (const InternStep& step : steps) {
        EXPECT_EQ(intern_string(d, step.text), step.result) << "text: '" << step.text << "'";
    }
}

TEST(StringDictionaryTest, WorkedExampleAndItsContinuation) {
    StringDictionary* d = create_dictionary();
    run_steps(d, {
                     {"ab", -2},
                     {"ab", 2},
                     {"a", -3},
                     {"abc", -4},
                     {"b", -5},
                     {"a", 3},
                     {"ab", 2},
                     {"abc", 4},
                     {"b", 5},
                     {"ba", -6},
                     {"abd", -7},
                     {"ac", -8},
                     {"xyz", -9},
                     {"xy", -10},
                     // every text keeps its id afterwards
                     {"a", 3},
                     {"ab", 2},
                     {"abc", 4},
                     {"b", 5},
                     {"ba", 6},
                     {"abd", 7},
                     {"ac", 8},
                     {"xyz", 9},
                     {"xy", 10},
                 });
    EXPECT_EQ(dictionary_last_id(d), 10);
}

using Stored = std::vector<std::pair<std::string, std::int32_t>>;

bool collect(void* context, const unsigned char* text, std::size_t length, std::int32_t id) {
    static_cast<Stored*>(context)->emplace_back(
        std::string(reinterpret_cast<const char*>(text), length), id);
    return true;
}

Stored stored_texts(const StringDictionary* d) {
    Stored texts;
    visit_texts(d, collect, &texts);
    return texts;
}

// Every text once, with its id, in ascending unsigned byte order: a prefix
// first, high bytes after low ones, a NUL inside a text like any byte.
TEST(StringDictionaryTest, VisitGivesEveryTextInByteOrder) {
    StringDictionary* d = create_dictionary();
    EXPECT_EQ(stored_texts(d), Stored{});
    const std::string texts[] = {"ab",   "a",    "abc",      "b",       "ba",
                                 "abd",  "ac",   "xyz",      "xy",      std::string("a\0b", 3),
                                 "\xFF", "\x7F", "abcdefgh", "abcdeXgh"};
    for (const std::string& text : texts) {
        intern_bytes(d, reinterpret_cast<const unsigned char*>(text.data()), text.size());
    }
    EXPECT_EQ(stored_texts(d), (Stored{{"a", 3},
                                       {std::string("a\0b", 3), 11},
                                       {"ab", 2},
                                       {"abc", 4},
                                       {"abcdeXgh", 15},
                                       {"abcdefgh", 14},
                                       {"abd", 7},
                                       {"ac", 8},
                                       {"b", 5},
                                       {"ba", 6},
                                       {"xy", 10},
                                       {"xyz", 9},
                                       {"\x7F", 13},
                                       {"\xFF", 12}}));
}

bool stop_at_third(void* context, const unsigned char*, std::size_t, std::int32_t) {
    return ++*static_cast<int*>(context) < 3;
}

TEST(StringDictionaryTest, VisitStopsWhenAsked) {
    StringDictionary* d = create_dictionary();
    for (const char* t : {"a", "b", "c", "d", "e"}) intern_string(d, t);
    int calls = 0;
    visit_texts(d, stop_at_third, &calls);
    EXPECT_EQ(calls, 3);
}

TEST(StringDictionaryTest, NullAndEmptyTextsChangeNothing) {
    StringDictionary* d = create_dictionary();
    EXPECT_EQ(intern_string(d, nullptr), 0);
    EXPECT_EQ(intern_string(d, ""), 1);
    EXPECT_EQ(dictionary_last_id(d), 1);
    EXPECT_EQ(stored_texts(d), Stored{});
    EXPECT_EQ(intern_string(d, "x"), -2);
    EXPECT_EQ(intern_string(d, ""), 1);
    EXPECT_EQ(intern_string(d, nullptr), 0);
    EXPECT_EQ(dictionary_last_id(d), 2);
    EXPECT_EQ(stored_texts(d), (Stored{{"x", 2}}));
}

TEST(StringDictionaryTest, TextsAddedAfterTheirExtensions) {
    StringDictionary* d = create_dictionary();
    run_steps(d, {{"abc", -2}, {"ab", -3}, {"a", -4}, {"abc", 2}, {"ab", 3}, {"a", 4}});
}

TEST(StringDictionaryTest, PrefixesGetTheirOwnIds) {
    StringDictionary* d = create_dictionary();
    run_steps(d, {{"select", -2},
                  {"selection", -3},
                  {"sel", -4},
                  {"selects", -5},
                  {"select", 2},
                  {"selection", 3},
                  {"sel", 4},
                  {"selects", 5}});
}

TEST(StringDictionaryTest, HighBytesGoToTheirOwnSlots) {
    StringDictionary* d = create_dictionary();
    run_steps(d, {{"x\x80", -2},
                  {"x\xFF", -3},
                  {"x\x7F", -4},
                  {"x\x81", -5},
                  {"x\x80", 2},
                  {"x\xFF", 3},
                  {"x\x7F", 4},
                  {"x\x81", 5}});
}

TEST(StringDictionaryTest, TextsWithNulBytesByLength) {
    StringDictionary* d = create_dictionary();
    const unsigned char a[] = {'a', 0, 'b'};
    const unsigned char b[] = {'a', 0, 'c'};
    EXPECT_EQ(intern_bytes(d, a, 3), -2);
    EXPECT_EQ(intern_bytes(d, b, 3), -3);
    EXPECT_EQ(intern_bytes(d, a, 2), -4);
    EXPECT_EQ(intern_bytes(d, a, 3), 2);
}

// A branch grows through every size as its children come: up to 4 children
// in the smallest, then 16, 48 and a full table; a leaf that a longer text
// continues becomes the smallest branch. Each growth happens exactly when
// the branch is full, and every text keeps its id through it.
TEST(StringDictionaryTest, EveryNodeKindAndEveryGrowth) {
    enum { LEAVES, N4, N16, N48, N256 };
    struct Expected {
        int children;              // texts "p" + one byte, so far
        std::uint32_t branch_kind; // the kind of the branch after "p"
        std::uint32_t grown[5];    // growths into each kind so far
    };
    const Expected steps[] = {
        {1, N4, {0, 1, 0, 0, 0}},    {4, N4, {0, 1, 0, 0, 0}},     {5, N16, {0, 1, 1, 0, 0}},
        {16, N16, {0, 1, 1, 0, 0}},  {17, N48, {0, 1, 1, 1, 0}},   {48, N48, {0, 1, 1, 1, 0}},
        {49, N256, {0, 1, 1, 1, 1}}, {256, N256, {0, 1, 1, 1, 1}},
    };
    StringDictionary* d = create_dictionary();
    std::map<std::string, std::int32_t> truth;
    EXPECT_EQ(intern_string(d, "p"), -2); // a leaf
    truth["p"] = 2;
    int children = 0;
    for (const Expected& step : steps) {
        for (; children < step.children; ++children) {
            // Bytes in an order that is neither ascending nor descending, so
            // that the sorted keys of the small branches take every place.
            auto byte = static_cast<char>((children * 37 + 11) % 256);
            std::string text = std::string("p") + byte;
            auto id = static_cast<std::int32_t>(truth.size()) + 2;
            ASSERT_EQ(intern_bytes(d, reinterpret_cast<const unsigned char*>(text.data()), 2), -id);
            truth[text] = id;
        }
        DictionaryShape shape;
        dictionary_shape(d, &shape);
        std::uint32_t kinds[5] = {static_cast<std::uint32_t>(children), 0, 0, 0, 0};
        kinds[step.branch_kind] = 1;
        for (int k = 0; k < 5; ++k) {
            EXPECT_EQ(shape.nodes[k], kinds[k]) << children << " children, kind " << k;
            EXPECT_EQ(shape.grown[k], step.grown[k]) << children << " children, kind " << k;
        }
        for (const auto& [text, id] : truth) {
            ASSERT_EQ(
                intern_bytes(d, reinterpret_cast<const unsigned char*>(text.data()), text.size()),
                id)
                << children << " children";
        }
        EXPECT_EQ(stored_texts(d), Stored(truth.begin(), truth.end())) << children << " children";
    }
}

// A label holds at most 16 KiB; a longer run without a branching point is a
// chain of branches of one child each. Texts that end, differ or go on at
// every place around the links of such a chain, against a map.
TEST(StringDictionaryTest, LongRunsAcrossTheLinksOfAChain) {
    constexpr std::size_t LINK = 16 * 1024 + 1; // a link's label and the byte after it
    const std::size_t lengths[] = {1,        LINK - 2,     LINK - 1,
                                   LINK,     LINK + 1,     2 * LINK - 1,
                                   2 * LINK, 2 * LINK + 1, 3 * LINK + 100};
    StringDictionary* d = create_dictionary();
    std::map<std::string, std::int32_t> truth;
    std::int32_t next_id = 2;
    auto intern_checked = [&](const std::string& text) {
        auto known = truth.find(text);
        std::int32_t want = known != truth.end() ? known->second : -next_id;
        if (known == truth.end()) truth.emplace(text, next_id++);
        ASSERT_EQ(intern_bytes(d, reinterpret_cast<const unsigned char*>(text.data()), text.size()),
                  want)
            << "length " << text.size();
    };
    const std::string run(3 * LINK + 100, 'a');
    intern_checked(run); // the whole run first: one chain
    for (std::size_t length : lengths) {
        intern_checked(run.substr(0, length));       // ends inside or at a link
        std::string differs = run.substr(0, length); // differs at its last byte
        differs.back() = 'b';
        intern_checked(differs);
        intern_checked(run.substr(0, length) + "c"); // goes on past it with another byte
    }
    for (const auto& [text, id] : truth) intern_checked(text);
    EXPECT_EQ(stored_texts(d), Stored(truth.begin(), truth.end()));
}

// Texts whose chains of nodes fill many chunks, each left with an unused
// end, keep their ids.
TEST(StringDictionaryTest, TextsAcrossManyChunks) {
    StringDictionary* d = create_dictionary();
    std::vector<std::string> texts;
    for (int i = 0; i < 40; ++i) {
        std::string text(600 * 1024, static_cast<char>('a' + i % 26));
        text[0] = static_cast<char>(i);
        text += std::to_string(i);
        texts.push_back(text);
        ASSERT_EQ(intern_bytes(d, reinterpret_cast<const unsigned char*>(text.data()), text.size()),
                  -(i + 2));
    }
    for (int i = 0; i < 40; ++i) {
        const std::string& text = texts[static_cast<std::size_t>(i)];
        ASSERT_EQ(intern_bytes(d, reinterpret_cast<const unsigned char*>(text.data()), text.size()),
                  i + 2);
    }
    DictionaryShape shape;
    dictionary_shape(d, &shape);
    EXPECT_GE(shape.storage_bytes, 40 * 600 * 1024U);
    EXPECT_EQ(stored_texts(d).size(), 40U);
}

// A small branch (its label, header and children within 64 bytes) lies in
// one cache line, whether its block was new, taken again after a branch
// grew, or placed after units skipped to reach a line; the texts stay
// right whatever the placement reused.
TEST(StringDictionaryTest, SmallBranchesLieInOneCacheLine) {
    StringDictionary* d = create_dictionary();
    std::map<std::string, std::int32_t> truth;
    std::mt19937 random(7);
    for (int i = 0; i < 20000; ++i) {
        // Short random texts over a small alphabet: branches of every small
        // size, labels of 0 to about 30 bytes, leaves extended into branches
        // and branches grown out of their N4 blocks.
        std::string text(1 + random() % 40, ' ');
        for (char& c : text) c = static_cast<char>('a' + random() % (i % 3 == 0 ? 3 : 9));
        std::int32_t id = intern_bytes(d, reinterpret_cast<const unsigned char*>(text.data()),
                                       text.size());
        auto [at, added] = truth.emplace(text, id < 0 ? -id : id);
        ASSERT_EQ(id, added ? -at->second : at->second) << text;
    }
    EXPECT_EQ(stored_texts(d), Stored(truth.begin(), truth.end()));

    std::size_t small = 0;
    std::vector<NodeRef> todo = {d->root};
    while (!todo.empty()) {
        NodeRef node = todo.back();
        todo.pop_back();
        const std::uint32_t* n = node_units(d, node);
        NodeKind kind = node_kind(n);
        if (kind == NODE_LEAF) continue;
        const std::uint32_t* children = node_children(n);
        if (kind == NODE_4 || kind == NODE_16) {
            for (unsigned c = 0; c < child_count(n); ++c) todo.push_back(children[c]);
        } else {
            for (unsigned b = 0; b < 256; ++b) {
                NodeRef child = kind == NODE_256 ? children[b]
                                : node_keys(n)[b] != 0 ? children[node_keys(n)[b] - 1]
                                                       : NO_NODE;
                if (child != NO_NODE) todo.push_back(child);
            }
        }
        std::uint32_t label_units = n[2] >> 8;
        std::size_t bytes = (label_units + HEADER_UNITS + BODY_UNITS[kind]) * 4;
        if (bytes > 64) continue;
        ++small;
        auto first = reinterpret_cast<std::uintptr_t>(n - label_units);
        EXPECT_EQ(first / 64, (first + bytes - 1) / 64)
            << "a branch of " << bytes << " bytes crosses a line";
    }
    EXPECT_GT(small, 1000U);
}

// The recent texts only save time: when they cannot be had, every text
// walks the trie, the ids stay right, and the allocation is not tried again
// on every call.
TEST(StringDictionaryTest, WorksWithoutRecentTexts) {
    StringDictionary* d = create_dictionary();
    // Two long texts (they always walk) make the trie take its first blocks
    // of nodes.
    const std::string long_text(RECENT_TEXT_MOST + 1, 'x');
    const std::string other_long_text(RECENT_TEXT_MOST + 1, 'y');
    EXPECT_EQ(intern_string(d, long_text.c_str()), -2);
    EXPECT_EQ(intern_string(d, other_long_text.c_str()), -3);
    std::size_t without = dictionary_heap_bytes(d);
    fail_allocations_from(1); // the next allocation, the recent texts', fails
    EXPECT_EQ(intern_string(d, "select 1"), -4);
    fail_allocations_from(0);
    const InternStep steps[] = {{"select 1", 4},
                                {"select 2", -5},
                                {"select 1", 4},
                                {"select 2", 5},
                                {long_text.c_str(), 2}};
    for (const InternStep& step : steps) {
        EXPECT_EQ(intern_string(d, step.text), step.result) << step.text;
    }
    EXPECT_EQ(allocations_counted(), 0); // no new block was needed, none was asked for
    stop_failing_allocations();
    EXPECT_EQ(dictionary_heap_bytes(d), without);
}

// Where nearly every text is new, the recent texts rest for a while and
// texts walk the trie at once; where texts come again, they are asked
// again. Phases of new and of repeated texts, longer than the windows in
// which that is decided, give the map's answers throughout, one text at a
// time and in runs.
TEST(StringDictionaryTest, RecentTextsRestAndComeBackWithTheSameIds) {
    std::map<std::string, std::int32_t> truth;
    std::int32_t next_id = 2;
    std::vector<std::string> texts;
    int fresh = 0;
    auto add_new = [&](int count) {
        for (int i = 0; i < count; ++i) texts.push_back("select c" + std::to_string(fresh++));
    };
    auto add_repeated = [&](int count) {
        for (int i = 0; i < count; ++i) texts.push_back("select c" + std::to_string(i % 50));
    };
    const int window = static_cast<int>(RECENT_WINDOW);
    add_new(3 * window); // the recent texts answer nothing: they rest
    add_repeated(2 * window);
    add_new(16 * window); // through the rest and into the next windows
    add_repeated(4 * window);
    StringDictionary* single = create_dictionary();
    StringDictionary* runs = create_dictionary();
    std::vector<std::int32_t> expected;
    for (const std::string& text : texts) {
        auto known = truth.find(text);
        expected.push_back(known != truth.end() ? known->second : -next_id);
        if (known == truth.end()) truth.emplace(text, next_id++);
    }
    for (std::size_t i = 0; i < texts.size(); ++i) {
        ASSERT_EQ(intern_string(single, texts[i].c_str()), expected[i]) << "text " << i;
    }
    for (std::size_t i = 0; i < texts.size(); i += 7) {
        std::size_t n = std::min<std::size_t>(7, texts.size() - i);
        const unsigned char* run[7];
        std::size_t lengths[7];
        std::int32_t results[7];
        for (std::size_t k = 0; k < n; ++k) {
            run[k] = reinterpret_cast<const unsigned char*>(texts[i + k].data());
            lengths[k] = texts[i + k].size();
        }
        intern_run(runs, run, lengths, n, results);
        for (std::size_t k = 0; k < n; ++k) ASSERT_EQ(results[k], expected[i + k]) << i + k;
    }
}

// Differential test against a map that always tells the truth: random texts
// of shapes that force every path (splits at every position, prefixes, end
// markers, high bytes, long runs), with a fixed seed so failures repeat. Each
// shape runs three times side by side: through the recent texts, on the
// plain path of a dictionary that could not have them, which walks the trie
// for every text, in runs of 1 to 16 texts through intern_run, whose walks
// go down the trie together (texts repeat within a run, too), and one by
// one after warm_run has walked each run.
TEST(StringDictionaryTest, AgreesWithAPlainMapWithAndWithoutRecentTexts) {
    struct Shape {
        const char* name;
        std::string alphabet;
        int max_length;
    };
    std::string every_byte;
    for (int b = 0; b < 256; ++b) every_byte += static_cast<char>(b);
    const Shape shapes[] = {
        {"two letters", "ab", 12},
        {"small alphabet", "abcd", 8},
        {"high bytes", std::string("\x80\xFF\x01z", 4), 6},
        {"long runs", "aaaaaaaaab", 300},
        {"longer than the recent texts keep", "aaaaaaaaaaaaaaaaaaab", 1200},
        {"sql-ish", "SELECT :N,=", 40},
        {"every byte, short (every branch size)", every_byte, 3},
        {"forty bytes (branches of 17 to 48 children)", every_byte.substr(60, 40), 4},
    };
    std::uint32_t nodes_met[5] = {};
    std::uint32_t growths_met[5] = {};
    std::mt19937 random(20261207); // fixed seed: reproducible
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.name);
        StringDictionary* recent = create_dictionary();
        StringDictionary* plain = create_dictionary();
        StringDictionary* runs = create_dictionary();
        StringDictionary* warmed = create_dictionary();
        // Two long texts (they never go through the recent texts) give both
        // dictionaries their first chunk of nodes; then the
        // plain one's first short text cannot have its recent texts.
        const std::string first(RECENT_TEXT_MOST + 1, '#');
        const std::string second(RECENT_TEXT_MOST + 1, '%');
        for (StringDictionary* d : {recent, plain, runs, warmed}) {
            intern_string(d, first.c_str());
            intern_string(d, second.c_str());
        }
        intern_string(recent, "x");
        intern_string(runs, "x");
        intern_string(warmed, "x");
        fail_allocations_from(1);
        intern_string(plain, "x");
        stop_failing_allocations();
        std::map<std::string, std::int32_t> truth{{first, 2}, {second, 3}, {"x", 4}};
        std::int32_t next_id = 5;
        std::vector<std::string> run;
        std::vector<std::int32_t> run_expected;
        std::uniform_int_distribution<std::size_t> run_length(1, INTERN_RUN_MOST);
        std::size_t run_goal = run_length(random);
        for (int i = 0; i < 20000; ++i) {
            std::uniform_int_distribution<int> length_of(1, shape.max_length);
            std::uniform_int_distribution<std::size_t> letter(0, shape.alphabet.size() - 1);
            std::string text;
            int length = length_of(random);
            for (int k = 0; k < length; ++k) text += shape.alphabet[letter(random)];
            auto found = truth.find(text);
            std::int32_t expected;
            if (found == truth.end()) {
                truth.emplace(text, next_id);
                expected = -next_id++;
            } else {
                expected = found->second;
            }
            const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
            ASSERT_EQ(intern_bytes(recent, bytes, text.size()), expected)
                << shape.name << ", step " << i << ", text '" << text << "'";
            ASSERT_EQ(intern_bytes(plain, bytes, text.size()), expected)
                << shape.name << ", plain, step " << i << ", text '" << text << "'";
            run.push_back(text);
            run_expected.push_back(expected);
            if (run.size() == run_goal || i == 19999) {
                const unsigned char* texts[INTERN_RUN_MOST];
                std::size_t lengths[INTERN_RUN_MOST];
                std::int32_t results[INTERN_RUN_MOST];
                for (std::size_t k = 0; k < run.size(); ++k) {
                    texts[k] = reinterpret_cast<const unsigned char*>(run[k].data());
                    lengths[k] = run[k].size();
                }
                intern_run(runs, texts, lengths, run.size(), results);
                ASSERT_EQ(std::vector<std::int32_t>(results, results + run.size()), run_expected)
                    << shape.name << ", in runs, up to step " << i;
                warm_run(warmed, texts, lengths, run.size());
                for (std::size_t k = 0; k < run.size(); ++k) {
                    ASSERT_EQ(intern_bytes(warmed, texts[k], lengths[k]), run_expected[k])
                        << shape.name << ", warmed, up to step " << i;
                }
                run.clear();
                run_expected.clear();
                run_goal = run_length(random);
            }
        }
        EXPECT_EQ(dictionary_heap_bytes(recent),
                  dictionary_heap_bytes(plain) + recent_texts_bytes());
        for (const auto& [text, id] : truth) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
            ASSERT_EQ(intern_bytes(recent, bytes, text.size()), id)
                << shape.name << ": '" << text << "'";
            ASSERT_EQ(intern_bytes(plain, bytes, text.size()), id)
                << shape.name << ": '" << text << "'";
        }
        Stored in_order(truth.begin(), truth.end());
        EXPECT_EQ(stored_texts(recent), in_order) << shape.name;
        EXPECT_EQ(stored_texts(plain), in_order) << shape.name;
        EXPECT_EQ(stored_texts(runs), in_order) << shape.name;
        DictionaryShape trie;
        dictionary_shape(plain, &trie);
        for (int k = 0; k < 5; ++k) {
            nodes_met[k] += trie.nodes[k];
            growths_met[k] += trie.grown[k];
        }
    }
    // The shapes reach every kind of node and every growth between kinds.
    for (int k = 0; k < 5; ++k) EXPECT_GT(nodes_met[k], 0U) << "node kind " << k;
    for (int k = 1; k < 5; ++k) EXPECT_GT(growths_met[k], 0U) << "growth into kind " << k;
}

} // namespace
