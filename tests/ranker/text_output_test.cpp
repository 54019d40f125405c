#include "ranker/text_output.h"

#include "ranker/html_page.h"
#include "ranker/listing.h"
#include "ranker/ranking.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// Runs `write` into a memory buffer and returns what it wrote.
template <typename Write> std::string written(Write write) {
    OutBuffer out;
    out_open(&out, OUT_MEMORY);
    write(&out);
    std::string text(out.data, out.used);
    out_close(&out);
    return text;
}

TEST(Utf8Test, WellFormedSequencesOnly) {
    struct Case {
        const char* bytes;
        std::size_t expected;
    };
    const Case cases[] = {
        {"a", 1},
        {"\xC3\xA9", 2},         // é
        {"\xE2\x82\xAC", 3},     // €
        {"\xF0\x9F\x98\x80", 4}, // U+1F600
        {"\xC0\xAF", 0},         // overlong '/'
        {"\xE0\x80\xAF", 0},     // overlong
        {"\xED\xA0\x80", 0},     // surrogate U+D800
        {"\xF4\x90\x80\x80", 0}, // above U+10FFFF
        {"\xA9", 0},             // stray continuation
        {"\xC3", 0},             // cut short by the end
        {"\xC3(", 0},            // cut short by an ASCII byte
        {"\xF8\x88\x80\x80", 0}, // five-byte lead
    };
    for (const Case& c : cases) {
        EXPECT_EQ(
            utf8_sequence(reinterpret_cast<const unsigned char*>(c.bytes), std::strlen(c.bytes)),
            c.expected)
            << c.bytes;
    }
}

TEST(Utf8Test, CutsNeverSplitASequence) {
    struct Case {
        std::string text;
        std::size_t limit;
        std::size_t expected;
    };
    const Case cases[] = {
        {"abc", 5, 3},
        {"abcdef", 3, 3},
        {"ab\xC3\xA9", 3, 2},          // inside é: back to its lead
        {"ab\xE2\x82\xAC", 4, 2},      // inside €
        {"ab\xF0\x9F\x98\x80z", 5, 2}, // inside a four-byte sequence
        {"ab\xF0\x9F\x98\x80z", 6, 6}, // right after it
        {"ab\xA9\xA9\xA9\xA9z", 4, 4}, // stray continuations: cut anywhere
    };
    for (const Case& c : cases) {
        EXPECT_EQ(utf8_cut(c.text.data(), c.text.size(), c.limit), c.expected) << c.text;
    }
}

TEST(TerminalTextTest, OneLineCutToTheWidth) {
    struct Case {
        std::string text;
        std::size_t columns;
        std::string expected;
    };
    const Case cases[] = {
        {"SELECT A FROM T", 0, "SELECT A FROM T"},
        {"SELECT A FROM T", 15, "SELECT A FROM T"}, // exactly fits
        {"SELECT A FROM T", 14, "SELECT A FR..."},
        {"select\n  a\r\n\tfrom t", 0, "select a from t"}, // white runs: one blank
        {"caf\xC3\xA9 ok", 7, "caf\xC3\xA9 ok"},           // é takes one column
        {"caf\xC3\xA9 okay", 7, "caf\xC3\xA9..."},
        {"a\x1B[31mred", 0, "a\\x1B[31mred"}, // no escape reaches the tty
        {"b\xE9 x", 0, "b\\xE9 x"},           // not UTF-8
        {"ab\x01"
         "cdef",
         6, "ab..."}, // \x01 would not fit
        {"abcdef", 2, ".."},
        // C1 controls (CSI), bidi overrides and isolates, zero-width
        // characters: escapes, each as wide as it is written.
        {"a\xC2\x9B"
         "2Jb",
         0, "a\\u{009B}2Jb"},
        {"'abc\xE2\x80\xAE"
         "dcba'",
         0, "'abc\\u{202E}dcba'"},
        {"x\xE2\x81\xA6y\xE2\x81\xA9z\xE2\x80\x8Bw\xEF\xBB\xBF", 0,
         "x\\u{2066}y\\u{2069}z\\u{200B}w\\u{FEFF}"},
        {"ab\xE2\x80\xAE"
         "cdefghijkl",
         11, "ab..."}, // the escape takes 8 columns
        {"ab\xE2\x80\xAE"
         "c",
         11, "ab\\u{202E}c"},
    };
    for (const Case& c : cases) {
        std::size_t used = 0;
        std::string out = written([&](OutBuffer* o) {
            used = out_terminal_text(o, c.text.data(), c.text.size(), c.text.size(), c.columns);
        });
        EXPECT_EQ(out, c.expected) << c.text << " in " << c.columns;
        if (c.columns > 0) {
            EXPECT_LE(used, c.columns);
        }
    }
}

TEST(TerminalTextTest, CutsKeepTheEndOrCountWhatIsHidden) {
    struct Case {
        std::string text;
        std::size_t full; // 0: the text is whole
        std::size_t columns;
        std::string expected;
    };
    const std::string list = "IN ( :S , :S , :S , :S , :S , :S , :S , :S , :S , :S )";
    const Case cases[] = {
        // Whole texts too wide: two thirds of the room for the start, the
        // rest for the end, the bytes between counted.
        {list, 0, 40, "IN ( :S , :S , :...(30 bytes)...S , :S )"},
        {list + " AND X", 0, 40, "IN ( :S , :S , :...(36 bytes)... ) AND X"},
        // Kept in part: cut at the end, every byte not shown counted.
        {"SELECT A FROM T WHERE B", 1000, 40, "SELECT A FROM T WHER...(980 more bytes)"},
        {"SELECT A", 1000, 40, "SELECT A...(992 more bytes)"},
        // Two characters of two columns each count four.
        {"\xE6\xBC\xA2\xE5\xAD\x97", 0, 4, "\xE6\xBC\xA2\xE5\xAD\x97"},
        {"\xE6\xBC\xA2\xE5\xAD\x97x", 0, 4, "..."}, // no room for a wide one before "..."
    };
    for (const Case& c : cases) {
        std::size_t used = 0;
        std::size_t full = c.full > 0 ? c.full : c.text.size();
        std::string out = written([&](OutBuffer* o) {
            used = out_terminal_text(o, c.text.data(), c.text.size(), full, c.columns);
        });
        EXPECT_EQ(out, c.expected) << c.text << " in " << c.columns;
        EXPECT_LE(used, c.columns);
    }
}

TEST(TerminalTextTest, WideCharactersTakeTwoColumns) {
    struct Case {
        std::uint32_t code;
        std::size_t columns;
    };
    const Case cases[] = {
        {'a', 1},    {0xE9, 1},   {0x10FF, 1},  {0x1100, 2},  {0x115F, 2},  {0x1160, 1},
        {0x3041, 2}, {0x4E00, 2}, {0x9FFF, 2},  {0xAC00, 2},  {0xD7A3, 2},  {0xD7A4, 1},
        {0xFF01, 2}, {0xFF61, 1}, {0x1F600, 2}, {0x20000, 2}, {0x3FFFD, 2}, {0x40000, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(character_columns(c.code), c.columns) << std::hex << c.code;
    }
    EXPECT_EQ(terminal_width("\xE6\xBC\xA2"
                             "a\tb",
                             6),
              5u);
}

TEST(JsonTextTest, AnyBytesMakeAValidString) {
    struct Case {
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"plain \xE2\x82\xAC", "plain \xE2\x82\xAC"},
        {"\"\\/", "\\\"\\\\/"},
        {"\n\r\t\b\f", "\\n\\r\\t\\b\\f"},
        {std::string("\x00\x01\x1F", 3), "\\u0000\\u0001\\u001F"},
        {"caf\xE9", "caf\\u00E9"},   // not UTF-8: the byte as its Latin-1 character
        {"\xE2\x80\xA8", "\\u2028"}, // a line separator, for JavaScript
        {"\xC2\x85", "\xC2\x85"},    // a C1 control is valid JSON as it is
        {"\xED\xA0\x80", "\\u00ED\\u00A0\\u0080"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(written([&](OutBuffer* o) { out_json_text(o, c.text.data(), c.text.size()); }),
                  c.expected)
            << c.text;
    }
}

TEST(TsvTextTest, EveryByteRecoverable) {
    struct Case {
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"a\tb\nc\rd", "a\\tb\\nc\\rd"},
        {"back\\slash", "back\\\\slash"},
        {"x\x01y\x7F", "x\\x01y\\x7F"},
        {"caf\xC3\xA9 b\xE9", "caf\xC3\xA9 b\xE9"}, // bytes >= 0x80 as they are
        {"'quoted' \"too\"", "'quoted' \"too\""},
        {"csi\xC2\x9B"
         "2J \x9B"
         "2J",
         "csi\\u{009B}2J \\x9B2J"},                                 // C1: as a character, as a byte
        {"\xC2\x80\xC2\x9F\xC2\xA0", "\\u{0080}\\u{009F}\xC2\xA0"}, // no-break space as it is
        {"rl\xE2\x80\xAE \xA0\xFF", "rl\xE2\x80\xAE \xA0\xFF"},     // other bytes as they are
    };
    for (const Case& c : cases) {
        EXPECT_EQ(written([&](OutBuffer* o) { out_tsv_text(o, c.text.data(), c.text.size()); }),
                  c.expected);
    }
}

TEST(HtmlTextTest, TextStaysText) {
    struct Case {
        std::string text;
        bool mark;
        std::string expected;
    };
    const std::string span_e9 = "<span class=\"byte\">\\xE9</span>";
    const Case cases[] = {
        {"</script><script>x()</script>", true, "&lt;/script&gt;&lt;script&gt;x()&lt;/script&gt;"},
        {"<img src=x onerror=\"a('b')\">", false,
         "&lt;img src=x onerror=&quot;a(&#39;b&#39;)&quot;&gt;"},
        {"a && b &amp;", true, "a &amp;&amp; b &amp;amp;"},
        {"caf\xC3\xA9 \xE2\x82\xAC", true, "caf\xC3\xA9 \xE2\x82\xAC"}, // UTF-8 as it is
        {"b\xE9", true, "b" + span_e9},
        {"b\xE9", false, "b\\xE9"},
        {"\xC3", true, "<span class=\"byte\">\\xC3</span>"}, // cut sequence
        {"a\x01\x1B", false, "a\\x01\\x1B"},
        {"line\n\ttab\r\n", true, "line\n\ttab\r\n"},
        {"v\x0B"
         "f\x0C",
         false, "v\\x0Bf\\x0C"},
        {"'abc\xE2\x80\xAE"
         "dcba'",
         true, "&#39;abc<span class=\"byte\">\\u{202E}</span>dcba&#39;"},
        {"\xE2\x80\x8B\xC2\x9B", false, "\\u{200B}\\u{009B}"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(
            written([&](OutBuffer* o) { out_html_text(o, c.text.data(), c.text.size(), c.mark); }),
            c.expected);
    }
}

TEST(OutBufferTest, NumbersAndShares) {
    EXPECT_EQ(written([](OutBuffer* o) {
                  out_number(o, -2147483648LL);
                  out_text(o, "|");
                  out_padded_number(o, 42, 5);
                  out_text(o, "|");
                  out_basis_points(o, 10000);
                  out_text(o, "|");
                  out_basis_points(o, 5);
                  out_text(o, "|");
                  out_basis_points(o, 1234);
              }),
              "-2147483648|   42|100.00|0.05|12.34");
}

class ListingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_ranking();
        dictionary = create_dictionary();
    }
    void feed(std::int32_t id, const std::string& text) {
        rank_record(StatementRecord{id, static_cast<std::int32_t>(text.size()), text.c_str()}, nullptr);
    }
    // Hostile statements: markup, quotes, tabs and line breaks, escape
    // sequences, bytes that are not UTF-8. The first two share a group.
    const std::vector<std::string> hostile = {
        "select '</script><img src=x onerror=alert(1)>' from t\twhere a = 1",
        "select 'x' from t\twhere a = 2",
        "select \\* </script><b>\"&amp;\"</b> *\\ from\nt where b\xE9 = 1",
        "select \x1B]0;title\x07 from caf\xC3\xA9",
    };
    void feed_hostile() {
        for (std::size_t i = 0; i < hostile.size(); ++i) {
            feed(static_cast<std::int32_t>(i + 1), hostile[i]);
        }
    }
};

RunFacts facts(const char* input) {
    return {input, nullptr, RANK_BY_SIZE, false, false, 0, false};
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "output ends with a line end";
    return lines;
}

// Columns of a line as a terminal shows it: one per UTF-8 character.
std::size_t columns_of(const std::string& line) {
    std::size_t n = 0;
    for (char c : line) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

TEST_F(ListingTest, TableLinesFitTheWidth) {
    feed_hostile();
    for (int i = 0; i < 30; ++i) feed(10 + i, "update orders set status = 'x' where id = 7");
    Ranking ranking = rank_groups(RANK_BY_SIZE, 0);
    recover_normalised_texts();
    // The numbers take 44 columns here and the texts keep at least 20.
    for (std::size_t width : {64u, 80u, 200u}) {
        std::string table = written(
            [&](OutBuffer* o) { write_table(o, ranking, nullptr, facts("in.rec"), width); });
        std::vector<std::string> lines = lines_of(table);
        ASSERT_EQ(lines.size(), 3 + 2 * static_cast<std::size_t>(ranking.count));
        for (const std::string& line : lines) {
            EXPECT_LE(columns_of(line), width) << line;
            EXPECT_EQ(line.find('\x1B'), std::string::npos);
            EXPECT_EQ(line.find('\t'), std::string::npos);
        }
        // rank, group (the update is the fourth text), size, share, bytes, first id
        EXPECT_EQ(lines[3].substr(0, 44), "   1      4    30  88.24%   1290        10  ");
    }
    release_ranking(&ranking);
}

TEST_F(ListingTest, TsvHasEightFieldsPerLine) {
    feed_hostile();
    Ranking ranking = rank_groups(RANK_BY_BYTES, 0);
    recover_normalised_texts();
    std::vector<std::string> lines =
        lines_of(written([&](OutBuffer* o) { write_tsv(o, ranking, nullptr, facts("in.rec")); }));
    ASSERT_EQ(lines.size(), 1 + static_cast<std::size_t>(ranking.count));
    for (const std::string& line : lines) EXPECT_EQ(count(line, "\t"), 7u) << line;
    std::string bytes = std::to_string(hostile[0].size() + hostile[1].size());
    std::string start = "1\t1\t2\t50.00\t" + bytes + "\t1\tSELECT :S FROM T WHERE A = :N\t";
    EXPECT_EQ(lines[1].substr(0, start.size()), start);
    EXPECT_NE(
        lines[1].find("\tselect '</script><img src=x onerror=alert(1)>' from t\\twhere a = 1"),
        std::string::npos);
    release_ranking(&ranking);
}

TEST_F(ListingTest, PageKeepsHostileTextsOutOfMarkup) {
    feed_hostile();
    Ranking ranking = rank_groups(RANK_BY_SIZE, 0);
    recover_normalised_texts();
    std::string page =
        written([&](OutBuffer* o) { write_html(o, ranking, nullptr, facts("<in>&\"'.rec")); });
    EXPECT_EQ(count(page, "<script"), 1u);
    EXPECT_EQ(count(page, "</script"), 1u);
    EXPECT_EQ(count(page, "<img"), 0u);
    EXPECT_EQ(count(page, "<b>"), 0u);
    EXPECT_EQ(count(page, "\x1B"), 0u);
    EXPECT_EQ(count(page, "<rect class=\"bar\""), 3u);
    EXPECT_EQ(count(page, "<tr id=\"g"), 3u);
    EXPECT_NE(page.find("<title>litrank: &lt;in&gt;&amp;&quot;&#39;.rec</title>"),
              std::string::npos);
    EXPECT_NE(page.find("from caf\xC3\xA9</td>"), std::string::npos);
    EXPECT_NE(page.find("b<span class=\"byte\">\\xE9</span>"), std::string::npos);
    release_ranking(&ranking);
}

TEST_F(ListingTest, ChartDrawsAtMostItsBarsButTheTableListsAll) {
    for (std::int32_t i = 0; i < PAGE_BARS_MAX + 20; ++i) {
        feed(i, "select c" + std::to_string(i) + " from t");
    }
    for (std::int32_t top : {7, PAGE_BARS_MAX + 20}) {
        Ranking ranking = rank_groups(RANK_BY_SIZE, top);
        recover_normalised_texts();
        std::string page =
            written([&](OutBuffer* o) { write_html(o, ranking, nullptr, facts("in.rec")); });
        std::size_t bars = static_cast<std::size_t>(top < PAGE_BARS_MAX ? top : PAGE_BARS_MAX);
        EXPECT_EQ(count(page, "<rect class=\"bar\""), bars);
        EXPECT_EQ(count(page, "<tr id=\"g"), static_cast<std::size_t>(top));
        release_ranking(&ranking);
    }
}

} // namespace
