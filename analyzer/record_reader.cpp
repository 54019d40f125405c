#include "analyzer/record_reader.h"

#include "analyzer/statement_groups.h"
#include "analyzer/statement_pipeline.h"
#include "platform/allocation.h"
#include "platform/block_reader.h"
#include "platform/exit_statuses.h"
#include "platform/messages.h"

#include <cstring>

const char RECORD_CUT_SHORT[] = " file is cut short.\n";
const char RECORD_NEGATIVE_LENGTH[] = " file has a negative length.\n";

void describe_bad_record(Message* m, const char* path, std::int64_t offset, const char* what) {
    message_start(m);
    message_add(m, "Record at offset ");
    message_add_number(m, offset);
    message_add(m, " of ");
    message_add_name(m, path);
    message_add(m, what);
}

namespace {

constexpr std::size_t HEADER_SIZE = RECORD_HEADER_SIZE;

[[noreturn]] void fail_at(const BlockReader& r, std::int64_t offset, const char* what) {
    Message m;
    describe_bad_record(&m, r.path, offset, what);
    fail(EXIT_INPUT, m.text);
}

// A text longer than the block: gathered in a buffer that grows as the bytes
// arrive. Returns the buffer, NUL-terminated; the caller releases it.
char* gather_long_text(BlockReader* r, std::size_t length, std::int64_t record_offset) {
    LongText t = start_long_text(r->block + r->begin, unconsumed(*r), length, 2 * READ_BLOCK_SIZE);
    while (t.have < t.length) {
        std::size_t room = long_text_room(&t); // may move t.text
        std::size_t n = read_past_block(r, t.text + t.have, room);
        if (n == 0) fail_at(*r, record_offset, RECORD_CUT_SHORT);
        t.have += n;
    }
    t.text[length] = '\0';
    return t.text;
}

} // namespace

LongText start_long_text(const char* start, std::size_t have, std::size_t length,
                         std::size_t first_room) {
    std::size_t capacity = first_room >= length ? length + 1 : first_room; // room for the NUL, too
    char* text = static_cast<char*>(checked_realloc(nullptr, capacity, NOT_ENOUGH_MEMORY));
    std::memcpy(text, start, have);
    return {text, have, length, capacity};
}

std::size_t long_text_room(LongText* t) {
    if (t->have == t->capacity) {
        // Doubling never stops at exactly `length`: the NUL needs the byte after it.
        t->capacity = 2 * t->capacity >= t->length ? t->length + 1 : 2 * t->capacity;
        t->text = static_cast<char*>(checked_realloc(t->text, t->capacity, NOT_ENOUGH_MEMORY));
    }
    std::size_t want = t->length - t->have;
    std::size_t room = t->capacity - t->have;
    return want < room ? want : room;
}

void read_records(const char* path, void (*handle)(const StatementRecord& record)) {
    BlockReader r;
    open_block_reader(&r, path, READ_BLOCK_SIZE);

    StatementRecord record;
    for (;;) {
        if (unconsumed(r) < HEADER_SIZE) {
            fill_block(&r, HEADER_SIZE);
            if (unconsumed(r) == 0) break; // no byte where a record would begin: the end
        }
        std::int64_t record_offset = consumed_offset(r);
        if (unconsumed(r) < HEADER_SIZE) fail_at(r, record_offset, RECORD_CUT_SHORT);
        const auto* header = reinterpret_cast<const unsigned char*>(r.block + r.begin);
        record.id = read_int32_le(header);
        record.length = read_int32_le(header + 4);
        if (record.length < 0) fail_at(r, record_offset, RECORD_NEGATIVE_LENGTH);
        r.begin += HEADER_SIZE;

        std::size_t length = static_cast<std::size_t>(record.length);
        if (unconsumed(r) < length && length <= READ_BLOCK_SIZE) {
            fill_block(&r, length);
            if (unconsumed(r) < length) fail_at(r, record_offset, RECORD_CUT_SHORT);
        }
        if (length <= unconsumed(r)) {
            // Cut out in place: a NUL over the byte after the text for the
            // time of the call (the block has one spare byte at its end).
            char* text = r.block + r.begin;
            char saved = text[length];
            text[length] = '\0';
            record.text = text;
            handle(record);
            text[length] = saved;
            r.begin += length;
        } else {
            char* text = gather_long_text(&r, length, record_offset);
            record.text = text;
            handle(record);
            release(text);
        }
    }
    close_block_reader(&r);
}

namespace {
void file_records(const NormalizedRecord* records, std::size_t count) {
    file_statements(records, count);
}
} // namespace

void read_statements(const char* path) {
    read_normalized_records(path, file_records);
}
