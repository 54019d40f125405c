#include "analyzer/record_reader.h"

#include "analyzer/statement_groups.h"
#include "platform/allocation.h"
#include "platform/block_reader.h"
#include "platform/exit_statuses.h"
#include "platform/messages.h"

#include <cstring>

namespace {

constexpr std::size_t HEADER_SIZE = 8;

[[noreturn]] void fail_at(const BlockReader& r, std::int64_t offset, const char* what) {
    Message m;
    message_start(&m);
    message_add(&m, "Record at offset ");
    message_add_number(&m, offset);
    message_add(&m, " of ");
    message_add_name(&m, r.path);
    message_add(&m, what);
    fail(EXIT_INPUT, m.text);
}

// A text longer than the block: gathered in a buffer that grows as the bytes
// arrive. Returns the buffer, NUL-terminated; the caller releases it.
char* gather_long_text(BlockReader* r, std::size_t length, std::int64_t record_offset) {
    std::size_t have = unconsumed(*r);
    std::size_t capacity = 2 * READ_BLOCK_SIZE;
    if (capacity > length + 1) capacity = length + 1;
    char* text = static_cast<char*>(checked_realloc(nullptr, capacity, NOT_ENOUGH_MEMORY));
    std::memcpy(text, r->block + r->begin, have);
    while (have < length) {
        if (have == capacity) {
            capacity = capacity > (length + 1) / 2 ? length + 1 : 2 * capacity;
            text = static_cast<char*>(checked_realloc(text, capacity, NOT_ENOUGH_MEMORY));
        }
        std::size_t want = length - have;
        std::size_t room = capacity - have;
        std::size_t n = read_past_block(r, text + have, want < room ? want : room);
        if (n == 0) fail_at(*r, record_offset, " file is cut short.\n");
        have += n;
    }
    text[length] = '\0';
    return text;
}

} // namespace

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
        if (unconsumed(r) < HEADER_SIZE) fail_at(r, record_offset, " file is cut short.\n");
        const auto* header = reinterpret_cast<const unsigned char*>(r.block + r.begin);
        record.id = read_int32_le(header);
        record.length = read_int32_le(header + 4);
        if (record.length < 0) fail_at(r, record_offset, " file has a negative length.\n");
        r.begin += HEADER_SIZE;

        std::size_t length = static_cast<std::size_t>(record.length);
        if (unconsumed(r) < length && length <= READ_BLOCK_SIZE) {
            fill_block(&r, length);
            if (unconsumed(r) < length) fail_at(r, record_offset, " file is cut short.\n");
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
void process_record(const StatementRecord& record) {
    process_statement(record.id, record.text);
}
} // namespace

void read_statements(const char* path) {
    read_records(path, process_record);
}
