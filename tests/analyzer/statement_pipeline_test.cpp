#include "analyzer/statement_pipeline.h"

#include "analyzer/record_reader.h"
#include "normaliser/lexer.h"
#include "normaliser/parser.h"
#include "platform/allocation.h"
#include "platform/exit_statuses.h"
#include "platform/system_calls.h"
#include "tests/support/fake_file.h"
#include "tests/support/record_bytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

// Only the reader's role reads, one thread at a time, each after the last
// let the role go under the pipeline's lock.
FakeFile fake;

int fake_open(const char*, int, int) {
    return 3;
}
long fake_read(int, void* buffer, std::size_t count) {
    return fake.read(buffer, count);
}
int fake_close(int) {
    return 0;
}

struct Got {
    std::int32_t id;
    std::string text;
    std::string normalized;
    bool operator==(const Got& o) const {
        return id == o.id && text == o.text && normalized == o.normalized;
    }
};
std::vector<Got> got;
std::thread::id calling_thread;

void collect(const NormalizedRecord* records, std::size_t count) {
    EXPECT_EQ(std::this_thread::get_id(), calling_thread) << "the consumer runs on the caller";
    EXPECT_TRUE(count >= 1 && count <= PIPELINE_RUN) << count;
    for (std::size_t i = 0; i < count; ++i) {
        const NormalizedRecord& r = records[i];
        got.push_back(
            {r.id, std::string(r.text, static_cast<std::size_t>(r.length)),
             std::string(reinterpret_cast<const char*>(r.normalized), r.normalized_length)});
    }
}

// The normaliser on its own, one statement at a time: what every record's
// normalised text must be.
std::string normalized_of(const std::string& text) {
    std::string copy = text; // NUL-terminated; an embedded NUL ends the statement
    input_cursor = copy.c_str();
    parse_statement();
    std::string result(normalized_text, normalized_length);
    release_normalized_text();
    return result;
}

// Records of many sizes: short statements, literals of every kind, texts
// with an embedded NUL or high bytes, and a few far longer than the small
// batches below. A fixed seed, so a failure repeats.
std::vector<Got> make_records(std::string* file, int count) {
    std::mt19937 random(20261207);
    std::vector<Got> records;
    for (int i = 0; i < count; ++i) {
        std::string text;
        switch (random() % 6) {
        case 0:
            text = "select a, b from t where x = " + std::to_string(random() % 1000);
            break;
        case 1:
            text = "INSERT into t values ('" + std::string(random() % 3000, 'q') + "', 12.5)";
            break;
        case 2:
            text = "  update u set v = '01-JAN-2003' where id in (1, 2, 3)  ";
            break;
        case 3:
            text = std::string("select 1") + '\0' + "ignored after the NUL";
            break;
        case 4:
            text = "select \xC3\xA9t\xE9 from \x80\xFF";
            break;
        default:
            text = "select " + std::to_string(random() % 7) + " -- tail";
            break;
        }
        auto id = static_cast<std::int32_t>(random() % 2000) - 1000;
        *file += record(id, text);
        records.push_back({id, text, normalized_of(text)});
    }
    return records;
}

class StatementPipelineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake = FakeFile();
        got.clear();
        calling_thread = std::this_thread::get_id();
        sys.open = fake_open;
        sys.read = fake_read;
        sys.close = fake_close;
    }
    void TearDown() override {
        sys = default_system_calls;
        pipeline_settings = default_pipeline_settings;
    }
};

// Whatever the threads, batch sizes, read sizes and the point at which the
// other threads start, the consumer gets every record with its normalised
// text, in file order: what one thread alone gives.
TEST_F(StatementPipelineTest, EveryRecordInFileOrderWhateverTheThreads) {
    std::string file;
    const std::vector<Got> expected = make_records(&file, 400);
    struct Setting {
        unsigned threads;
        std::size_t batch;
        std::int64_t single_below;
        std::size_t chunk;
    };
    const Setting settings[] = {
        {1, PIPELINE_BATCH, 0, 1 << 30},
        {1, 64, 0, 1 << 30},
        {2, 16, 0, 1 << 30},
        {2, 64, 0, 7},
        {3, 100, 0, 1 << 30},
        {4, 1000, 0, 333},
        {4, 64, 5000, 1 << 30},
        {8, 4096, 0, 1 << 30},
        {3, PIPELINE_BATCH, 0, 1 << 30},
    };
    for (const Setting& s : settings) {
        SCOPED_TRACE(testing::Message()
                     << s.threads << " threads, batch " << s.batch << ", single below "
                     << s.single_below << ", reads of " << s.chunk);
        fake = FakeFile();
        fake.bytes = file;
        fake.chunk = s.chunk;
        got.clear();
        pipeline_settings = {s.threads, s.batch, s.single_below};
        read_normalized_records("in.rec", collect);
        ASSERT_EQ(got.size(), expected.size());
        for (std::size_t i = 0; i < got.size(); ++i)
            ASSERT_EQ(got[i], expected[i]) << "record " << i;
        bool several_batches = file.size() > s.batch;
        EXPECT_EQ(last_pipeline_run.workers, several_batches ? s.threads - 1 : 0);
    }
}

// Records longer than a batch are read whole by the calling thread in their
// turn, also at exactly the sizes where the buffer for them doubles.
TEST_F(StatementPipelineTest, LongRecordsOfEverySizeAroundTheBatch) {
    constexpr std::size_t batch = 64;
    std::string file;
    std::vector<Got> expected;
    std::int32_t id = 0;
    for (std::size_t length : {batch - 9, batch - 8, batch - 7, batch, 2 * batch - 1, 2 * batch,
                               2 * batch + 1, 4 * batch, 8 * batch + 3}) {
        std::string text = "select '" + std::string(length - 10, 'z') + "' x";
        file += record(id, text) + record(id + 1, "select 1");
        expected.push_back({id, text, normalized_of(text)});
        expected.push_back({id + 1, "select 1", "SELECT :N"});
        id += 2;
    }
    for (unsigned threads : {1U, 3U}) {
        fake = FakeFile();
        fake.bytes = file;
        got.clear();
        pipeline_settings = {threads, batch, 0};
        read_normalized_records("in.rec", collect);
        EXPECT_EQ(got, expected) << threads << " threads";
    }
}

// Small inputs never start a thread: below single_below bytes the calling
// thread does everything, whatever the cores.
TEST_F(StatementPipelineTest, SmallInputsStayOnTheCallingThread) {
    std::string file;
    const std::vector<Got> expected = make_records(&file, 60);
    fake.bytes = file;
    pipeline_settings = {4, 256, std::int64_t{4} << 20};
    read_normalized_records("in.rec", collect);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(last_pipeline_run.workers, 0U);
    EXPECT_GT(last_pipeline_run.batches, 10U);
}

// Every allocation of a run is made by the calling thread, in an order that
// does not depend on the threads' timing: the allocation-failure test's
// n-th allocation is the same one in every run.
std::vector<std::size_t> allocation_sizes;
std::mutex allocation_lock;
bool allocation_off_caller = false;
void* noting_realloc(void* block, std::size_t size) {
    std::lock_guard<std::mutex> hold(allocation_lock);
    if (std::this_thread::get_id() != calling_thread) allocation_off_caller = true;
    allocation_sizes.push_back(size);
    return default_system_calls.realloc(block, size);
}
void* noting_calloc(std::size_t count, std::size_t size) {
    std::lock_guard<std::mutex> hold(allocation_lock);
    if (std::this_thread::get_id() != calling_thread) allocation_off_caller = true;
    allocation_sizes.push_back(count * size);
    return default_system_calls.calloc(count, size);
}

TEST_F(StatementPipelineTest, AllocationsOnlyOnTheCallingThreadInAFixedOrder) {
    std::string file;
    make_records(&file, 400);
    std::vector<std::size_t> first_run;
    for (int run = 0; run < 3; ++run) {
        fake = FakeFile();
        fake.bytes = file;
        got.clear();
        allocation_sizes.clear();
        allocation_off_caller = false;
        pipeline_settings = {3, 128, 0};
        sys.realloc = noting_realloc;
        sys.calloc = noting_calloc;
        read_normalized_records("in.rec", collect);
        sys.realloc = default_system_calls.realloc;
        sys.calloc = default_system_calls.calloc;
        EXPECT_FALSE(allocation_off_caller) << "run " << run;
        EXPECT_EQ(last_pipeline_run.workers, 2U);
        if (run == 0) {
            first_run = allocation_sizes;
        } else {
            EXPECT_EQ(allocation_sizes, first_run) << "run " << run;
        }
    }
}

// A failure ends the run with its own message, status and nothing more, and
// it is always the first in file order, whichever thread met it first: the
// threads read and normalise far ahead of the record the consumer is at.
struct FailureCase {
    const char* name;
    std::string file;
    std::size_t fail_read_at; // file offset from which reads fail
    int status;
    std::string message;
};

std::string good_records(int count) {
    std::string file;
    for (int i = 0; i < count; ++i) file += record(i, "select " + std::to_string(i));
    return file;
}

std::vector<FailureCase> failure_cases() {
    std::vector<FailureCase> cases;
    const std::string head = good_records(40);
    const std::string bad_length = le32(77) + le32(-3) + "abc";
    const std::string overflow(5000, ',');
    std::string negative_offset = std::to_string(head.size());
    cases.push_back({"syntax error before a negative length",
                     head + record(9, "   ") + good_records(30) + bad_length, std::string::npos,
                     EXIT_INPUT_SEEN, "syntax error"});
    cases.push_back(
        {"negative length before a syntax error", head + bad_length + record(9, ""),
         std::string::npos, EXIT_INPUT_SEEN,
         "Record at offset " + negative_offset + " of in.rec file has a negative length"});
    cases.push_back({"stack overflow before a cut short end",
                     head + record(5, overflow) + good_records(30) + le32(1) + le32(10) + "abc",
                     std::string::npos, EXIT_INPUT_SEEN, "yacc stack overflow"});
    std::string cut = head + good_records(30);
    cases.push_back(
        {"cut short at the end", cut + le32(1) + le32(10) + "abc", std::string::npos,
         EXIT_INPUT_SEEN,
         "Record at offset " + std::to_string(cut.size()) + " of in.rec file is cut short"});
    cases.push_back({"a read that fails after a syntax error", head + record(3, "") + head,
                     head.size() + 200, EXIT_INPUT_SEEN, "syntax error"});
    std::string failing = head + head + head;
    cases.push_back({"a read that fails before a syntax error", failing + record(3, ""), 300,
                     EXIT_INPUT_SEEN, "Can't read in.rec file at offset "});
    return cases;
}

TEST_F(StatementPipelineTest, FirstFailureInFileOrderEndsTheRun) {
    for (const FailureCase& c : failure_cases()) {
        for (unsigned threads : {1U, 3U}) {
            // Small batches: the threads are far ahead of the consumer; one
            // batch for all: the failures meet in one batch.
            for (std::size_t batch : {std::size_t{64}, std::size_t{1} << 16}) {
                SCOPED_TRACE(testing::Message()
                             << c.name << ", " << threads << " threads, batch " << batch);
                fake = FakeFile();
                fake.bytes = c.file;
                fake.fail_at = c.fail_read_at;
                fake.chunk = 50;
                pipeline_settings = {threads, batch, 0};
                EXPECT_EXIT(read_normalized_records("in.rec", collect),
                            ::testing::ExitedWithCode(c.status), c.message);
            }
        }
    }
}

// The consumer's own failure (the heap is exhausted while it files a
// record) comes before a bad statement that the threads met further on.
int consumed = 0;
void run_out_at_tenth(const NormalizedRecord*, std::size_t count) {
    consumed += static_cast<int>(count);
    if (consumed >= 10) out_of_memory(NOT_ENOUGH_MEMORY);
}

TEST_F(StatementPipelineTest, ConsumerFailureBeforeALaterBadStatement) {
    for (const std::string& bad : {record(1, " "), le32(1) + le32(-1)}) {
        for (std::size_t batch : {std::size_t{48}, std::size_t{1} << 16}) {
            fake = FakeFile();
            fake.bytes = good_records(20) + bad + good_records(5);
            pipeline_settings = {3, batch, 0};
            consumed = 0;
            EXPECT_EXIT(read_normalized_records("in.rec", run_out_at_tenth),
                        ::testing::ExitedWithCode(EXIT_USAGE_OR_MEMORY), "Not enough memory")
                << "batch " << batch;
        }
    }
}

} // namespace
