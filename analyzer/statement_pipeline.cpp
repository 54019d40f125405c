#include "analyzer/statement_pipeline.h"

#include "analyzer/record_reader.h"
#include "normaliser/fatal_error.h"
#include "normaliser/lexer.h"
#include "normaliser/parser.h"
#include "platform/allocation.h"
#include "platform/block_reader.h"
#include "platform/cores.h"
#include "platform/exit_statuses.h"
#include "platform/messages.h"
#include "platform/system_calls.h"

#include <atomic>
#include <cassert>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

// Inputs below 4 MiB never start a thread: they take a few milliseconds on
// one, and a thread's start and the hand-over of batches would cost more
// than the other cores could save.
const PipelineSettings default_pipeline_settings = {0, PIPELINE_BATCH, std::int64_t{4} << 20};
PipelineSettings pipeline_settings = default_pipeline_settings;
PipelineRun last_pipeline_run = {0, 0};

namespace {

enum BatchState {
    BATCH_FREE, // its buffers wait for the reader
    BATCH_BUSY, // being read and normalised by one thread
    BATCH_DONE, // normalised, waiting for its turn with the consumer
};

// What the reader met right after a batch's records.
enum After {
    AFTER_MORE,   // the next batch goes on from here
    AFTER_END,    // the end of the file, between two records
    AFTER_LONG,   // a record too long for a batch: the calling thread reads it in its turn
    AFTER_FAILED, // a bad record or a failed read: the reader's message ends the run
};

// Before each normalised text in a batch's output. Entries are aligned to
// 4 bytes.
struct Entry {
    std::int32_t id;
    std::int32_t length;
    std::uint32_t text_at; // where the statement starts in the batch's input
    std::uint32_t normalized_length;
};

struct Batch {
    BatchState state;
    std::uint64_t number;   // place in file order
    char* input;            // batch_bytes, and one byte for the NUL after the last text
    std::size_t input_used; // bytes of the whole records in it
    std::uint32_t records;  // whole records in it
    std::int64_t offset;    // file offset of input[0]
    After after;
    char* output;             // entries, each followed by its normalised text
    std::uint32_t normalized; // records with an entry, in order from the first
    const char* parse_error;  // set: the record after the last entry cannot be parsed
};

// All the pipeline's state. The mutex guards every field that more than one
// thread touches: the batches' states and numbers, the reader's role and
// the run's end; a batch's buffers belong to the one thread whose role
// holds it (its reader-normaliser while BUSY, the calling thread while
// DONE). A static object: the threads never outlive a run, and nothing of
// it needs freeing.
struct Pipeline {
    std::mutex lock;
    std::condition_variable changed; // a batch or the reader changed state, or the run ends

    Batch* batches;
    unsigned batch_count; // allocated (the calling thread's one until others start)
    unsigned batch_slots; // room in `batches`
    std::size_t batch_bytes;
    std::size_t output_bytes; // of each batch's output

    // The reader: one thread at a time holds its role.
    const char* path;
    int fd;
    bool reading;        // a thread holds the role
    bool reader_stopped; // the last batch read ended other than AFTER_MORE
    bool at_end;         // the file has no more bytes
    char* carry;         // bytes read past the last whole record, for the next batch
    std::size_t carry_length;
    std::int64_t carry_offset; // file offset of carry[0]
    std::uint64_t next_read;   // number of the next batch to read
    Message failure;           // AFTER_FAILED: the message

    std::atomic<bool> stopping; // the run is ending: workers stop at their next record
    std::thread workers[MOST_THREADS];
    unsigned worker_count;
};
Pipeline pipeline;

inline std::size_t round_up4(std::size_t n) {
    return (n + 3) & ~std::size_t{3};
}

// Output a batch of `batch_bytes` input bytes can need: a record of L bytes
// takes at most an entry and 3L + 2 bytes of normalised text and padding
// (":N" and a blank for a one-byte number), no more than three times its
// 8 + L bytes of input; and the parse of a record wants room for
// normalize_room(L) when it starts, which the last record's L + 15009 more
// bytes cover.
std::size_t output_bytes_for(std::size_t batch_bytes) {
    return 3 * batch_bytes + sizeof(Entry) + normalize_room(0) + 64;
}

void allocate_batch(Batch* b) {
    b->state = BATCH_FREE;
    b->input =
        static_cast<char*>(checked_realloc(nullptr, pipeline.batch_bytes + 1, NOT_ENOUGH_MEMORY));
    b->output =
        static_cast<char*>(checked_realloc(nullptr, pipeline.output_bytes, NOT_ENOUGH_MEMORY));
}

// --- the reader's role ------------------------------------------------------

/*
 * Reads the next batch into b: the bytes carried over from the last one,
 * then what the file gives until the batch is full or the file ends; then
 * cuts it into whole records.
 * 1. A read that fails: the records cut so far stay; AFTER_FAILED.
 * 2. Cutting, record by record: fewer than 8 bytes left, or a text that is
 *    not all there, is carried over (AFTER_MORE); at the end of the file it
 *    is cut short (AFTER_FAILED), unless no byte is left (AFTER_END). A
 *    negative length fails; a record longer than a batch is left to the
 *    calling thread (AFTER_LONG), its bytes so far carried over.
 * Never ends the process; allocates nothing.
 */
void read_batch(Batch* b) {
    Pipeline& p = pipeline;
    std::memcpy(b->input, p.carry, p.carry_length);
    std::size_t used = p.carry_length;
    b->offset = p.carry_offset;
    bool failed = false;
    while (used < p.batch_bytes && !p.at_end) { // 1.
        long n = read_some_bytes(p.fd, b->input + used, p.batch_bytes - used);
        if (n < 0) {
            describe_read_failure(&p.failure, p.path, b->offset + static_cast<std::int64_t>(used));
            failed = true;
            break;
        }
        if (n == 0) p.at_end = true;
        used += static_cast<std::size_t>(n);
    }
    std::size_t at = 0; // 2.
    std::uint32_t records = 0;
    std::size_t left;
    const char* bad = nullptr;
    bool long_record = false;
    for (;;) {
        left = used - at;
        if (left < RECORD_HEADER_SIZE) break;
        std::int32_t length =
            read_int32_le(reinterpret_cast<const unsigned char*>(b->input + at + 4));
        std::size_t size = RECORD_HEADER_SIZE + static_cast<std::size_t>(length);
        if (length < 0) {
            bad = RECORD_NEGATIVE_LENGTH; // known from its header, before any later read
        } else if (size <= left) {
            at += size;
            ++records;
            continue;
        } else {
            long_record = size > p.batch_bytes;
        }
        break;
    }
    After after = AFTER_MORE;
    if (bad != nullptr || (!failed && p.at_end && left > 0)) {
        describe_bad_record(&p.failure, p.path, b->offset + static_cast<std::int64_t>(at),
                            bad != nullptr ? bad : RECORD_CUT_SHORT);
        after = AFTER_FAILED;
    } else if (failed) {
        after = AFTER_FAILED; // the read's message
    } else if (long_record) {
        after = AFTER_LONG;
    } else if (p.at_end) {
        after = AFTER_END;
    }
    b->input_used = at;
    b->records = records;
    b->after = after;
    p.carry_length = used - at;
    std::memcpy(p.carry, b->input + at, p.carry_length);
    p.carry_offset = b->offset + static_cast<std::int64_t>(at);
}

// Normalises a batch's records into its output, up to the first that cannot
// be parsed, or until the run is ending.
void normalize_batch(Batch* b) {
    char* record = b->input;
    char* out = b->output;
    b->normalized = 0;
    b->parse_error = nullptr;
    for (std::uint32_t i = 0; i < b->records; ++i) {
        if (pipeline.stopping.load(std::memory_order_relaxed)) return;
        std::int32_t id = read_int32_le(reinterpret_cast<const unsigned char*>(record));
        auto length = static_cast<std::size_t>(
            read_int32_le(reinterpret_cast<const unsigned char*>(record + 4)));
        char* text = record + RECORD_HEADER_SIZE;
        if (static_cast<std::size_t>(b->output + pipeline.output_bytes - out) <
            sizeof(Entry) + normalize_room(length)) {
            std::abort(); // cannot happen: see output_bytes_for
        }
        // The text ends with a NUL for the time of the parse (over the next
        // record's first byte, or the byte after the batch's records).
        char saved = text[length];
        text[length] = '\0';
        std::size_t written = 0;
        const char* error = normalize_into(text, length, out + sizeof(Entry), &written);
        text[length] = saved;
        if (error != nullptr) {
            b->parse_error = error;
            return;
        }
        Entry e = {id, static_cast<std::int32_t>(length),
                   static_cast<std::uint32_t>(text - b->input),
                   static_cast<std::uint32_t>(written)};
        std::memcpy(out, &e, sizeof e);
        out += sizeof(Entry) + round_up4(written);
        ++b->normalized;
        record = text + length;
    }
}

// Under the lock: a free batch to read into, when the reader's role is free
// and the reader has not stopped; else null.
Batch* take_reading_job() {
    Pipeline& p = pipeline;
    if (p.reading || p.reader_stopped) return nullptr;
    for (unsigned i = 0; i < p.batch_count; ++i) {
        Batch* b = &p.batches[i];
        if (b->state == BATCH_FREE) {
            b->state = BATCH_BUSY;
            b->number = p.next_read++;
            p.reading = true;
            return b;
        }
    }
    return nullptr;
}

// Reads and normalises the batch taken under the lock, which `hold` holds;
// the lock is let go meanwhile and held again at the end.
void run_job(Batch* b, std::unique_lock<std::mutex>& hold) {
    hold.unlock();
    read_batch(b);
    hold.lock();
    pipeline.reading = false;
    pipeline.reader_stopped = b->after != AFTER_MORE;
    pipeline.changed.notify_all(); // the reader's role is free for the next batch
    hold.unlock();
    normalize_batch(b);
    hold.lock();
    b->state = BATCH_DONE;
    pipeline.changed.notify_all();
}

void worker_main() {
    std::unique_lock<std::mutex> hold(pipeline.lock);
    for (;;) {
        if (pipeline.stopping.load()) return;
        Batch* b = take_reading_job();
        if (b == nullptr) {
            pipeline.changed.wait(hold);
            continue;
        }
        run_job(b, hold);
    }
}

// Stops the workers and waits for them: at the end of the input, and
// before any failure ends the run (before_failing).
void stop_workers() {
    Pipeline& p = pipeline;
    {
        std::lock_guard<std::mutex> hold(p.lock);
        p.stopping.store(true);
    }
    p.changed.notify_all();
    for (unsigned i = 0; i < p.worker_count; ++i) p.workers[i].join();
    p.worker_count = 0;
    before_failing = nullptr;
}

// Once the input has passed single_below bytes: the other threads' batches,
// then the threads. A thread the system will not start is done without.
void start_workers(unsigned threads) {
    Pipeline& p = pipeline;
    for (unsigned i = p.batch_count; i < p.batch_slots; ++i) allocate_batch(&p.batches[i]);
    {
        std::lock_guard<std::mutex> hold(p.lock);
        p.batch_count = p.batch_slots;
    }
    before_failing = stop_workers;
    for (unsigned i = 0; i + 1 < threads; ++i) {
        try {
            p.workers[p.worker_count] = std::thread(worker_main);
        } catch (const std::system_error&) {
            break; // fewer threads: the calling thread does the rest
        }
        ++p.worker_count;
    }
    last_pipeline_run.workers = p.worker_count;
}

// --- the calling thread -----------------------------------------------------

// Hands a batch's records to the consumer; a statement that could not be
// parsed ends the run in its turn.
void consume_batch(const Batch* b, RecordConsumer consume) {
    const char* out = b->output;
    NormalizedRecord run[PIPELINE_RUN];
    std::size_t in_run = 0;
    for (std::uint32_t i = 0; i < b->normalized; ++i) {
        Entry e;
        std::memcpy(&e, out, sizeof e);
        run[in_run++] = {e.id, e.length, b->input + e.text_at,
                         reinterpret_cast<const unsigned char*>(out + sizeof e),
                         e.normalized_length};
        out += sizeof e + round_up4(e.normalized_length);
        if (in_run == PIPELINE_RUN) {
            consume(run, in_run);
            in_run = 0;
        }
    }
    if (in_run > 0) consume(run, in_run);
    if (b->parse_error != nullptr) fatal_error(b->parse_error);
}

/*
 * A record longer than a batch (AFTER_LONG), in its turn, while the reader
 * waits: the carried bytes hold its header and the start of its text; the
 * rest is read into a buffer of its own that grows only as bytes arrive,
 * so that a huge announced length never allocates more than the file
 * holds. Normalised here with the calling thread's own text buffer.
 */
void read_long_record(RecordConsumer consume) {
    Pipeline& p = pipeline;
    std::int64_t offset = p.carry_offset;
    std::int32_t id = read_int32_le(reinterpret_cast<const unsigned char*>(p.carry));
    std::int32_t length32 = read_int32_le(reinterpret_cast<const unsigned char*>(p.carry + 4));
    auto length = static_cast<std::size_t>(length32);
    LongText t = start_long_text(p.carry + RECORD_HEADER_SIZE, p.carry_length - RECORD_HEADER_SIZE,
                                 length, 2 * p.batch_bytes);
    while (t.have < t.length) {
        std::size_t room = long_text_room(&t); // may move t.text
        long n = read_some_bytes(p.fd, t.text + t.have, room);
        Message m;
        if (n < 0) {
            describe_read_failure(&m, p.path,
                                  offset + static_cast<std::int64_t>(RECORD_HEADER_SIZE + t.have));
            fail(EXIT_INPUT, m.text);
        }
        if (n == 0) {
            describe_bad_record(&m, p.path, offset, RECORD_CUT_SHORT);
            fail(EXIT_INPUT, m.text);
        }
        t.have += static_cast<std::size_t>(n);
    }
    char* text = t.text;
    text[length] = '\0';
    input_cursor = text;
    parse_statement();
    NormalizedRecord record = {id, length32, text,
                               reinterpret_cast<const unsigned char*>(normalized_text),
                               normalized_length};
    consume(&record, 1);
    release_normalized_text();
    release(text);
    p.carry_length = 0;
    p.carry_offset = offset + static_cast<std::int64_t>(RECORD_HEADER_SIZE + length);
}

} // namespace

/*
 * The calling thread, batch by batch in file order:
 * 1. Wait for the next batch to be done; meanwhile read and normalise any
 *    batch that is free to be read, as the workers do.
 * 2. Hand its records to the consumer.
 * 3. By what followed it: free it for the reader; end; fail with the
 *    reader's message; or read the long record and let the reader go on.
 * 4. Once the input has passed single_below bytes, start the other threads.
 */
void read_normalized_records(const char* path, RecordConsumer consume) {
    Pipeline& p = pipeline;
    unsigned threads =
        pipeline_settings.threads != 0 ? pipeline_settings.threads : usable_threads();
    if (threads > MOST_THREADS) threads = MOST_THREADS;
    p.batch_bytes = pipeline_settings.batch_bytes < 16 ? 16 : pipeline_settings.batch_bytes;
    p.output_bytes = output_bytes_for(p.batch_bytes);
    p.path = path;
    p.fd = sys.open(path, O_RDONLY | O_BINARY, 0);
    if (p.fd < 0) fail_to_open(EXIT_INPUT, path);
    p.batch_slots = threads == 1 ? 1 : threads + 2;
    p.batches = static_cast<Batch*>(
        checked_realloc(nullptr, p.batch_slots * sizeof(Batch), NOT_ENOUGH_MEMORY));
    p.carry = static_cast<char*>(checked_realloc(nullptr, p.batch_bytes, NOT_ENOUGH_MEMORY));
    allocate_batch(&p.batches[0]);
    p.batch_count = 1;
    p.reading = p.reader_stopped = p.at_end = false;
    p.carry_length = 0;
    p.carry_offset = 0;
    p.next_read = 0;
    p.stopping.store(false);
    p.worker_count = 0;
    last_pipeline_run = {0, 0};

    std::unique_lock<std::mutex> hold(p.lock);
    for (std::uint64_t next = 0;; ++next) {
        Batch* b = nullptr; // 1.
        while (b == nullptr) {
            for (unsigned i = 0; i < p.batch_count; ++i) {
                if (p.batches[i].state == BATCH_DONE && p.batches[i].number == next) {
                    b = &p.batches[i];
                }
            }
            if (b != nullptr) break;
            Batch* job = take_reading_job();
            if (job != nullptr) {
                run_job(job, hold);
            } else {
                p.changed.wait(hold);
            }
        }
        hold.unlock();
        consume_batch(b, consume); // 2.
        After after = b->after;    // 3.
        std::int64_t passed = b->offset + static_cast<std::int64_t>(b->input_used);
        if (after == AFTER_FAILED) fail(EXIT_INPUT, p.failure.text);
        if (after == AFTER_LONG) read_long_record(consume);
        hold.lock();
        b->state = BATCH_FREE;
        if (after == AFTER_END) break;
        if (after == AFTER_LONG) p.reader_stopped = false;
        p.changed.notify_all();
        if (p.worker_count == 0 && p.batch_count < p.batch_slots && // 4.
            passed >= pipeline_settings.single_below) {
            hold.unlock();
            start_workers(threads);
            hold.lock();
        }
    }
    last_pipeline_run.batches = p.next_read;
    hold.unlock();
    stop_workers();
    sys.close(p.fd);
    for (unsigned i = 0; i < p.batch_count; ++i) {
        release(p.batches[i].input);
        release(p.batches[i].output);
    }
    release(p.batches);
    release(p.carry);
    p.batches = nullptr;
    p.carry = nullptr;
}
