#include "analyzer/string_dictionary.h"

#include "analyzer/recent_texts.h"
#include "tests/support/allocation_faults.h"

#include <gtest/gtest.h>

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

// The recent texts only save time: when they cannot be had, every text
// walks the trie, the ids stay right, and the allocation is not tried again
// on every call.
TEST(StringDictionaryTest, WorksWithoutRecentTexts) {
    StringDictionary* d = create_dictionary();
    // Two long texts (they always walk) make the trie take its first blocks
    // of states, bytes and tables.
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

// Differential test against a map that always tells the truth: random texts
// of shapes that force every path (splits at every position, prefixes, end
// markers, high bytes, long runs), with a fixed seed so failures repeat. Each
// shape runs twice side by side: through the recent texts, and on the plain
// path of a dictionary that could not have them, which walks the trie for
// every text.
TEST(StringDictionaryTest, AgreesWithAPlainMapWithAndWithoutRecentTexts) {
    struct Shape {
        const char* name;
        std::string alphabet;
        int max_length;
    };
    const Shape shapes[] = {
        {"two letters", "ab", 12},
        {"small alphabet", "abcd", 8},
        {"high bytes", std::string("\x80\xFF\x01z", 4), 6},
        {"long runs", "aaaaaaaaab", 300},
        {"longer than the recent texts keep", "aaaaaaaaaaaaaaaaaaab", 1200},
        {"sql-ish", "SELECT :N,=", 40},
    };
    std::mt19937 random(20261207); // fixed seed: reproducible
    for (const Shape& shape : shapes) {
        StringDictionary* recent = create_dictionary();
        StringDictionary* plain = create_dictionary();
        // Two long texts (they never go through the recent texts) give both
        // dictionaries their first states, bytes and branch table; then the
        // plain one's first short text cannot have its recent texts.
        const std::string first(RECENT_TEXT_MOST + 1, '#');
        const std::string second(RECENT_TEXT_MOST + 1, '%');
        for (StringDictionary* d : {recent, plain}) {
            intern_string(d, first.c_str());
            intern_string(d, second.c_str());
        }
        intern_string(recent, "x");
        fail_allocations_from(1);
        intern_string(plain, "x");
        stop_failing_allocations();
        std::map<std::string, std::int32_t> truth{{first, 2}, {second, 3}, {"x", 4}};
        std::int32_t next_id = 5;
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
    }
}

} // namespace
