#include "analyzer/recent_texts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const unsigned char* bytes(const std::string& text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

std::int32_t recall(RecentTexts* r, const std::string& text) {
    return recall_text(r, recent_key(bytes(text), text.size()), bytes(text), text.size());
}

void remember(RecentTexts* r, const std::string& text, std::int32_t id) {
    remember_text(r, recent_key(bytes(text), text.size()), bytes(text), text.size(), id);
}

// `count` texts made from `stem` that all fall into one set, the set of the
// first of them.
std::vector<std::string> texts_of_one_set(const std::string& stem, std::size_t count) {
    std::vector<std::string> texts = {stem + "0"};
    std::size_t set = recent_key(bytes(texts[0]), texts[0].size()).set;
    for (int n = 1; texts.size() < count; ++n) {
        std::string text = stem + std::to_string(n);
        if (recent_key(bytes(text), text.size()).set == set) texts.push_back(text);
    }
    return texts;
}

TEST(RecentTextsTest, AnswersOnlyTheTextsRemembered) {
    RecentTexts* r = new_recent_texts();
    ASSERT_NE(r, nullptr);
    const std::string longest(RECENT_TEXT_MOST, 'q');
    std::string longest_but_last = longest;
    longest_but_last.back() = 'r';
    remember(r, "SELECT :N", 2);
    remember(r, longest, 3);
    remember(r, std::string("A\0B", 3), 4);
    EXPECT_EQ(recall(r, "SELECT :N"), 2);
    EXPECT_EQ(recall(r, longest), 3);
    EXPECT_EQ(recall(r, std::string("A\0B", 3)), 4);
    // Neither a prefix, nor an extension, nor a text differing in its last
    // byte, nor one with the same bytes up to a NUL is taken for a text kept.
    for (const std::string& other :
         {std::string("SELECT :"), std::string("SELECT :NN"), longest_but_last,
          std::string("A\0C", 3), std::string("A"), std::string("select :N")}) {
        EXPECT_EQ(recall(r, other), 0) << other;
    }
}

// Two entries a set; a third text pushes out the one used least lately,
// and a hit counts as a use.
TEST(RecentTextsTest, SetsOfTwoKeepTheTextsUsedLast) {
    RecentTexts* r = new_recent_texts();
    ASSERT_NE(r, nullptr);
    std::vector<std::string> t = texts_of_one_set("UPDATE T SET C = ", 4);
    remember(r, t[0], 10);
    remember(r, t[1], 11);
    EXPECT_EQ(recall(r, t[0]), 10); // t[0] used last now
    remember(r, t[2], 12);          // pushes out t[1]
    EXPECT_EQ(recall(r, t[1]), 0);
    EXPECT_EQ(recall(r, t[0]), 10);
    EXPECT_EQ(recall(r, t[2]), 12);
    remember(r, t[3], 13); // t[2] was used last: t[0] goes
    EXPECT_EQ(recall(r, t[0]), 0);
    EXPECT_EQ(recall(r, t[2]), 12);
    EXPECT_EQ(recall(r, t[3]), 13);
    // Texts of other sets are untouched by all this.
    remember(r, "DELETE FROM T", 20);
    EXPECT_EQ(recall(r, "DELETE FROM T"), 20);
    EXPECT_EQ(recall(r, t[3]), 13);
}

} // namespace
