#include "analyzer/record_reader.h"

#include "platform/exit_statuses.h"
#include "platform/system_calls.h"
#include "tests/support/fake_file.h"
#include "tests/support/record_bytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace {

FakeFile fake;

int fake_open(const char*, int, int) {
    fake.opened = true;
    return 3;
}
long fake_read(int fd, void* buffer, std::size_t count) {
    EXPECT_EQ(fd, 3);
    return fake.read(buffer, count);
}
int fake_close(int) {
    fake.closed = true;
    return 0;
}

struct Seen {
    std::int32_t id;
    std::int32_t length;
    std::string text;
    bool operator==(const Seen& o) const {
        return id == o.id && length == o.length && text == o.text;
    }
};
std::vector<Seen> seen;
void collect(const StatementRecord& r) {
    // The text ends with an added NUL right after its L bytes.
    EXPECT_EQ(r.text[r.length], '\0');
    seen.push_back({r.id, r.length, std::string(r.text, static_cast<std::size_t>(r.length))});
}

class RecordReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake = FakeFile();
        seen.clear();
        sys.open = fake_open;
        sys.read = fake_read;
        sys.close = fake_close;
    }
    void TearDown() override { sys = default_system_calls; }
};

TEST_F(RecordReaderTest, ReadsRecordsWhateverTheReadSizes) {
    std::string big(3 * READ_BLOCK_SIZE + 17, 'x');
    big[5] = '\0'; // an embedded NUL is kept; it only ends the statement for the normaliser
    std::string block_sized(READ_BLOCK_SIZE, 'b');
    fake.bytes = record(1, "select 1") + record(-7, "") + record(INT32_MAX, "\xFF\x80") +
                 record(4, big) + record(5, block_sized) + record(6, "last");
    const std::vector<Seen> expected = {
        {1, 8, "select 1"},
        {-7, 0, ""},
        {INT32_MAX, 2, "\xFF\x80"},
        {4, static_cast<std::int32_t>(big.size()), big},
        {5, static_cast<std::int32_t>(READ_BLOCK_SIZE), block_sized},
        {6, 4, "last"}};
    for (std::size_t chunk : {std::size_t{1} << 30, std::size_t{1}, std::size_t{3}, std::size_t{7},
                              READ_BLOCK_SIZE - 1}) {
        if (chunk == 1) {
            // One byte at a time over megabytes is slow; do it on the small records.
            fake.bytes = record(1, "select 1") + record(-7, "") + record(9, "ab");
        } else if (chunk != (std::size_t{1} << 30)) {
            fake.bytes = record(1, "select 1") + record(-7, "") + record(INT32_MAX, "\xFF\x80") +
                         record(4, big) + record(5, block_sized) + record(6, "last");
        }
        fake.position = 0;
        seen.clear();
        read_records("in.rec", collect);
        if (chunk == 1) {
            EXPECT_EQ(seen, (std::vector<Seen>{{1, 8, "select 1"}, {-7, 0, ""}, {9, 2, "ab"}}));
        } else {
            EXPECT_EQ(seen, expected) << "chunk " << chunk;
        }
        EXPECT_TRUE(fake.closed);
    }
}

// A long record is gathered in a buffer that doubles from two blocks; at
// lengths of exactly two and four blocks the buffer once ended right at the
// text, and its NUL went one byte past the buffer (caught by the asan
// preset).
TEST_F(RecordReaderTest, LongRecordsOfExactlyTheBufferSizes) {
    const std::string two(2 * READ_BLOCK_SIZE, 't');
    const std::string four(4 * READ_BLOCK_SIZE, 'f');
    fake.bytes = record(1, two) + record(2, four) + record(3, "x");
    read_records("in.rec", collect);
    const std::vector<Seen> expected = {{1, static_cast<std::int32_t>(two.size()), two},
                                        {2, static_cast<std::int32_t>(four.size()), four},
                                        {3, 1, "x"}};
    EXPECT_EQ(seen, expected);
}

TEST_F(RecordReaderTest, EmptyFileHasNoRecords) {
    read_records("in.rec", collect);
    EXPECT_TRUE(seen.empty());
    EXPECT_TRUE(fake.closed);
}

using RecordReaderDeathTest = RecordReaderTest;

struct BadFile {
    const char* name;
    std::string bytes;
    const char* message; // regex
};

TEST_F(RecordReaderDeathTest, BadRecordsEndTheRunWithTheirOffset) {
    const std::string good = record(1, "select 1"); // 16 bytes
    const BadFile cases[] = {
        {"1 byte", "\x01", "^Record at offset 0 of in.rec file is cut short.\n$"},
        {"id only", le32(1), "^Record at offset 0 of in.rec file is cut short.\n$"},
        {"7 bytes after a record", good + le32(2) + "\x01\x00\x00",
         "^Record at offset 16 of in.rec file is cut short.\n$"},
        {"text short", good + le32(2) + le32(10) + "abc",
         "^Record at offset 16 of in.rec file is cut short.\n$"},
        {"huge length", good + le32(2) + le32(INT32_MAX) + "abc",
         "^Record at offset 16 of in.rec file is cut short.\n$"},
        {"negative length", good + le32(2) + le32(-1) + "abc",
         "^Record at offset 16 of in.rec file has a negative length.\n$"},
        {"most negative length", le32(2) + le32(INT32_MIN),
         "^Record at offset 0 of in.rec file has a negative length.\n$"},
    };
    for (const BadFile& c : cases) {
        fake = FakeFile();
        fake.bytes = c.bytes;
        EXPECT_EXIT(read_records("in.rec", collect), ::testing::ExitedWithCode(EXIT_INPUT_SEEN),
                    c.message)
            << c.name;
    }
}

TEST_F(RecordReaderDeathTest, ReadErrorInMidFile) {
    fake.bytes = record(1, "select 1") + record(2, std::string(100, 'y'));
    fake.chunk = 20;
    fake.fail_at = 20;
    EXPECT_EXIT(read_records("in.rec", collect), ::testing::ExitedWithCode(EXIT_INPUT_SEEN),
                "^Can't read in.rec file at offset 20.\n$");
}

TEST_F(RecordReaderDeathTest, InputThatCannotBeOpened) {
    sys = default_system_calls;
    EXPECT_EXIT(read_records("/nonexistent/in.rec", collect),
                ::testing::ExitedWithCode(EXIT_INPUT_SEEN),
                "^Can't open /nonexistent/in.rec file.\n$");
}

} // namespace
