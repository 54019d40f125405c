#include "platform/block_reader.h"

#include "platform/exit_statuses.h"
#include "platform/system_calls.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A file in memory behind sys.read: the reads it gives, in turn, each a
// byte count (taken from the file), 0 (end) or -errno.
struct Script {
    std::string bytes;
    std::vector<long> reads;
    std::size_t position = 0;
    std::size_t next = 0;
    std::vector<std::size_t> asked; // room of every call
};
Script script;

int fake_open(const char*, int, int) {
    return 5;
}
long fake_read(int fd, void* buffer, std::size_t count) {
    EXPECT_EQ(fd, 5);
    script.asked.push_back(count);
    long step = script.next < script.reads.size() ? script.reads[script.next++] : 0;
    if (step < 0) {
        errno = static_cast<int>(-step);
        return -1;
    }
    auto n =
        std::min({static_cast<std::size_t>(step), count, script.bytes.size() - script.position});
    std::memcpy(buffer, script.bytes.data() + script.position, n);
    script.position += n;
    return static_cast<long>(n);
}
int fake_close(int) {
    return 0;
}

class BlockReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        script = Script();
        sys.open = fake_open;
        sys.read = fake_read;
        sys.close = fake_close;
    }
    void TearDown() override { sys = default_system_calls; }
};

// Short and interrupted reads are continued until the block holds what was
// asked; the unconsumed bytes move to the front, and the offsets count every
// byte consumed, in the block or past it.
TEST_F(BlockReaderTest, FillsAcrossShortAndInterruptedReads) {
    script.bytes = "0123456789abcdefghij";
    script.reads = {3, -EINTR, 2, 4, -EINTR, 6, 5};
    BlockReader r;
    open_block_reader(&r, "f", 8);
    fill_block(&r, 6); // reads of 3, 2 and 3 (of 4: the block is full)
    EXPECT_EQ(std::string(r.block + r.begin, unconsumed(r)), "01234567");
    r.begin += 5;
    EXPECT_EQ(consumed_offset(r), 5);
    fill_block(&r, 8); // "567" moved to the front, then room for 5 more
    EXPECT_EQ(std::string(r.block, unconsumed(r)), "56789abc");
    EXPECT_EQ(consumed_offset(r), 5);
    char past[16];
    std::size_t n = read_past_block(&r, past, sizeof past); // the block is consumed whole
    EXPECT_EQ(std::string(past, n), "defgh");
    EXPECT_EQ(consumed_offset(r), 18);
    EXPECT_EQ(read_past_block(&r, past, sizeof past), 0u);
    EXPECT_TRUE(r.at_end);
    close_block_reader(&r);
    // Every read asked for the room left and no more.
    EXPECT_EQ(script.asked, (std::vector<std::size_t>{8, 5, 5, 3, 5, 5, 16, 16}));
}

using BlockReaderDeathTest = BlockReaderTest;

// A read that fails names the offset it was to start at, in the block or
// past it.
TEST_F(BlockReaderDeathTest, FailedReadNamesItsOffset) {
    script.bytes = std::string(40, 'x');
    script.reads = {7, 4, -EIO};
    BlockReader r;
    open_block_reader(&r, "in.rec", 32);
    EXPECT_EXIT(fill_block(&r, 20), ::testing::ExitedWithCode(EXIT_INPUT_SEEN),
                "^Can't read in.rec file at offset 11.\n$");
    fill_block(&r, 11); // here the death test's child took no read: 7 and 4
    r.begin = 2;
    char past[8];
    EXPECT_EXIT(read_past_block(&r, past, sizeof past), ::testing::ExitedWithCode(EXIT_INPUT_SEEN),
                "^Can't read in.rec file at offset 11.\n$");
    close_block_reader(&r);
}

TEST_F(BlockReaderDeathTest, FileThatCannotBeOpened) {
    sys = default_system_calls;
    BlockReader r;
    EXPECT_EXIT(open_block_reader(&r, "/nonexistent/report.txt", 64),
                ::testing::ExitedWithCode(EXIT_INPUT_SEEN),
                "^Can't open /nonexistent/report.txt file.\n$");
}

} // namespace
