// The statement pipeline: every record of a record file with its normalised
// text, handed to one consumer in file order, while the reading, the
// cutting into records and the normalising run on all the machine's cores.
//
//     reader (one thread at a time)     normalisers (every thread)     consumer (the caller's)
//     file --> batch of whole records --> normalised texts of the batch --> consume(), in order
//
// A batch is up to PIPELINE_BATCH bytes of whole records. Whichever thread
// is free reads the next batch (reading is serial: one reader at a time, in
// file order) and normalises it; the calling thread hands the batches'
// records to the consumer strictly in file order, so the dictionary and the
// groups see the texts exactly as a single thread would, and normalises
// batches itself while the next one in order is not ready. The calling
// thread is one of the threads: with one core (or LIT_THREADS=1) it does
// everything alone, and so it does until the input has passed
// pipeline_settings.single_below bytes, so that small inputs never start a
// thread.
//
// Failures keep their order. A worker never ends the process: a bad record
// or a read that fails stops the reading, a statement that cannot be parsed
// stops its batch, and each is noted where it happened. The calling thread
// meets the note when the consumer has had every record before it, and ends
// the run with its message then, exactly as a single thread would have; a
// failure of the consumer (the heap is exhausted) comes first when its
// record comes first. Every allocation is made by the calling thread, in an
// order that does not depend on the threads' timing.
//
// A record too long for a batch is read and normalised by the calling thread
// alone, in its turn, while the reader waits.
#pragma once

#include <cstddef>
#include <cstdint>

// One record with its normalised text, valid during the consumer's call.
struct NormalizedRecord {
    std::int32_t id;                 // record id from the file
    std::int32_t length;             // statement bytes
    const char* text;                // the statement's `length` bytes (not NUL-terminated)
    const unsigned char* normalized; // its normalised text, never empty
    std::size_t normalized_length;
};

// Called with runs of up to PIPELINE_RUN consecutive records, in file
// order, so that the consumer can look ahead over a few texts (intern_run).
constexpr std::size_t PIPELINE_RUN = 16;
using RecordConsumer = void (*)(const NormalizedRecord* records, std::size_t count);

// Input bytes of one batch: the reader's block size.
constexpr std::size_t PIPELINE_BATCH = 1 << 20;

// How the pipeline runs; the defaults suit the programs, tests shrink them
// to put small inputs through every path.
struct PipelineSettings {
    unsigned threads;          // threads in all, the caller's included; 0: usable_threads()
    std::size_t batch_bytes;   // input bytes per batch (at least 16)
    std::int64_t single_below; // input bytes read on the calling thread alone before others start
};
extern PipelineSettings pipeline_settings;
extern const PipelineSettings default_pipeline_settings;

// What the last run did, for tests and benchmarks.
struct PipelineRun {
    unsigned workers;      // threads started besides the calling one
    std::uint64_t batches; // batches read (a long record's not counted)
};
extern PipelineRun last_pipeline_run;

// Opens the file, reads every record, normalises its statement and hands
// it to `consume`, in file order, and closes the file. Ends the process
// with the message and status of the first failure in file order: the file
// cannot be opened or read, a record is cut short or has a negative length
// ("Record at offset N of PATH file ...", status -1), a statement cannot be
// parsed ("syntax error", "yacc stack overflow", status -1), or memory runs
// out (status 1).
void read_normalized_records(const char* path, RecordConsumer consume);
