#include "analyzer/string_dictionary.h"

#include "normaliser/allocation.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <string>
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
    EXPECT_EQ(d->id_counter, 10);
}

TEST(StringDictionaryTest, TrieShapeAfterTheExample) {
    StringDictionary* d = create_dictionary();
    for (const char* t : {"ab", "a", "abc", "b"}) intern_string(d, t);
    // The root became a branch; slot 'a' holds an end marker with id 3
    // followed by the fragment "b" (id 2) and the fragment "c" (id 4).
    const State& root = d->states[d->root];
    ASSERT_EQ(root.length, STATE_BRANCH);
    const State& a = d->states[root.data.table->slot['a']];
    EXPECT_EQ(a.length, STATE_END_MARKER);
    EXPECT_EQ(a.id, 3);
    const State& b = d->states[a.next];
    ASSERT_EQ(b.length, 1);
    EXPECT_EQ(b.data.bytes[0], 'b');
    EXPECT_EQ(b.id, 2);
    const State& c = d->states[b.next];
    EXPECT_EQ(c.id, 4);
    const State& slot_b = d->states[root.data.table->slot['b']];
    EXPECT_EQ(slot_b.length, STATE_END_MARKER);
    EXPECT_EQ(slot_b.id, 5);
    EXPECT_EQ(slot_b.next, NO_STATE);
}

TEST(StringDictionaryTest, NullAndEmptyTextsChangeNothing) {
    StringDictionary* d = create_dictionary();
    EXPECT_EQ(intern_string(d, nullptr), 0);
    EXPECT_EQ(intern_string(d, ""), 1);
    EXPECT_EQ(d->root, NO_STATE);
    EXPECT_EQ(d->id_counter, 1);
    EXPECT_EQ(intern_string(d, "x"), -2);
    EXPECT_EQ(intern_string(d, ""), 1);
    EXPECT_EQ(intern_string(d, nullptr), 0);
    EXPECT_EQ(d->id_counter, 2);
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

TEST(StringDictionaryTest, SplitSharesTheFragmentsBytes) {
    StringDictionary* d = create_dictionary();
    intern_string(d, "abcdef");
    const unsigned char* bytes = d->states[d->root].data.bytes;
    std::size_t before = d->byte_total;
    intern_string(d, "abcxyz"); // split at 3: the old side keeps pointing into "abcdef"
    const State& root = d->states[d->root];
    ASSERT_EQ(root.length, 3);
    const State& branch = d->states[root.next];
    ASSERT_EQ(branch.length, STATE_BRANCH);
    const State& old_side = d->states[branch.data.table->slot['d']];
    EXPECT_EQ(old_side.data.bytes, bytes + 4);
    EXPECT_EQ(old_side.length, 2);
    EXPECT_EQ(d->byte_total, before); // the new side's "yz" went into the same chunk
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
    allocation_count = 0;
    allocation_fail_at = 1; // the next allocation, the recent texts', fails
    EXPECT_EQ(intern_string(d, "select 1"), -4);
    allocation_fail_at = 0;
    EXPECT_EQ(d->recent, nullptr);
    long before = allocation_count;
    const InternStep steps[] = {{"select 1", 4},
                                {"select 2", -5},
                                {"select 1", 4},
                                {"select 2", 5},
                                {long_text.c_str(), 2}};
    for (const InternStep& step : steps) {
        EXPECT_EQ(intern_string(d, step.text), step.result) << step.text;
    }
    EXPECT_EQ(allocation_count, before); // no new block was needed, none was asked for
}

// Differential test against a map that always tells the truth: random texts
// of shapes that force every path (splits at every position, prefixes, end
// markers, high bytes, long runs), with a fixed seed so failures repeat.
TEST(StringDictionaryTest, AgreesWithAPlainMap) {
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
        StringDictionary* d = create_dictionary();
        std::map<std::string, std::int32_t> truth;
        std::int32_t next_id = 2;
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
            std::int32_t got =
                intern_bytes(d, reinterpret_cast<const unsigned char*>(text.data()), text.size());
            ASSERT_EQ(got, expected) << shape.name << ", step " << i << ", text '" << text << "'";
        }
        for (const auto& [text, id] : truth) {
            ASSERT_EQ(
                intern_bytes(d, reinterpret_cast<const unsigned char*>(text.data()), text.size()),
                id)
                << shape.name << ": '" << text << "'";
        }
    }
}

} // namespace
