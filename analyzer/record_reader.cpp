#include "analyzer/record_reader.h"

#include "analyzer/statement_groups.h"
#include "analyzer/system.h"
#include "normaliser/allocation.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t HEADER_SIZE = 8;

struct Reader {
    const char* path;
    int fd;
    char* block;               // READ_BLOCK_SIZE bytes and one more for a terminator
    std::size_t begin;         // first unconsumed byte in block
    std::size_t end;           // one past the last byte read into block
    std::int64_t block_offset; // file offset of block[0]
    bool at_end;               // the file has no more bytes
};

[[noreturn]] void fail_at(const Reader& r, std::int64_t offset, const char* what) {
    Message m;
    message_start(&m);
    message_add(&m, "Record at offset ");
    message_add_number(&m, offset);
    message_add(&m, " of ");
    message_add_name(&m, r.path);
    message_add(&m, what);
    fail(EXIT_INPUT, m.text);
}

[[noreturn]] void fail_read(const Reader& r, std::int64_t offset) {
    Message m;
    message_start(&m);
    message_add(&m, "Can't read ");
    message_add_name(&m, r.path);
    message_add(&m, " file at offset ");
    message_add_number(&m, offset);
    message_add(&m, ".\n");
    fail(EXIT_INPUT, m.text);
}

// Reads what the system gives into [to, to + room); returns the byte count,
// 0 at the end of the file.
std::size_t read_some(Reader* r, char* to, std::size_t room, std::int64_t offset) {
    for (;;) {
        long n = sys.read(r->fd, to, room);
        if (n > 0) return static_cast<std::size_t>(n);
        if (n == 0) {
            r->at_end = true;
            return 0;
        }
        if (errno != EINTR) fail_read(*r, offset);
    }
}

// Moves the unconsumed bytes to the front of the block and reads until the
// block holds at least `want` bytes or the file ends.
void fill(Reader* r, std::size_t want) {
    if (r->begin > 0) {
        std::size_t left = r->end - r->begin;
        std::memmove(r->block, r->block + r->begin, left);
        r->block_offset += static_cast<std::int64_t>(r->begin);
        r->begin = 0;
        r->end = left;
    }
    while (r->end < want && !r->at_end) {
        r->end += read_some(r, r->block + r->end, READ_BLOCK_SIZE - r->end,
                            r->block_offset + static_cast<std::int64_t>(r->end));
    }
}

// A text longer than the block: gathered in a buffer that grows as the bytes
// arrive. Returns the buffer, NUL-terminated; the caller frees it.
char* gather_long_text(Reader* r, std::size_t length, std::int64_t record_offset) {
    std::size_t have = r->end - r->begin;
    std::size_t capacity = 2 * READ_BLOCK_SIZE;
    if (capacity > length + 1) capacity = length + 1;
    char* text = static_cast<char*>(checked_realloc(nullptr, capacity, NOT_ENOUGH_MEMORY));
    std::memcpy(text, r->block + r->begin, have);
    r->block_offset += static_cast<std::int64_t>(r->end);
    r->begin = r->end = 0;
    while (have < length) {
        if (have == capacity) {
            capacity = capacity > (length + 1) / 2 ? length + 1 : 2 * capacity;
            text = static_cast<char*>(checked_realloc(text, capacity, NOT_ENOUGH_MEMORY));
        }
        std::size_t want = length - have;
        std::size_t room = capacity - have;
        std::size_t n = read_some(r, text + have, want < room ? want : room, r->block_offset);
        if (n == 0) fail_at(*r, record_offset, " file is cut short.\n");
        have += n;
        r->block_offset += static_cast<std::int64_t>(n);
    }
    text[length] = '\0';
    return text;
}

} // namespace

void read_records(const char* path, void (*handle)(const StatementRecord& record)) {
    Reader r = {path, -1, nullptr, 0, 0, 0, false};
    r.fd = sys.open(path, O_RDONLY | O_BINARY, 0);
    if (r.fd < 0) {
        fail_to_open(EXIT_INPUT, path);
    }
    r.block = static_cast<char*>(checked_realloc(nullptr, READ_BLOCK_SIZE + 1, NOT_ENOUGH_MEMORY));

    StatementRecord record;
    for (;;) {
        if (r.end - r.begin < HEADER_SIZE) {
            fill(&r, HEADER_SIZE);
            if (r.end == r.begin) break; // no byte where a record would begin: the end
        }
        std::int64_t record_offset = r.block_offset + static_cast<std::int64_t>(r.begin);
        if (r.end - r.begin < HEADER_SIZE) fail_at(r, record_offset, " file is cut short.\n");
        const auto* header = reinterpret_cast<const unsigned char*>(r.block + r.begin);
        record.id = read_int32_le(header);
        record.length = read_int32_le(header + 4);
        if (record.length < 0) fail_at(r, record_offset, " file has a negative length.\n");
        r.begin += HEADER_SIZE;

        std::size_t length = static_cast<std::size_t>(record.length);
        if (r.end - r.begin < length && length <= READ_BLOCK_SIZE) {
            fill(&r, length);
            if (r.end - r.begin < length) fail_at(r, record_offset, " file is cut short.\n");
        }
        if (length <= r.end - r.begin) {
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
            std::free(text);
        }
    }
    std::free(r.block);
    sys.close(r.fd);
}

namespace {
void process_record(const StatementRecord& record) {
    process_statement(record.id, record.text);
}
} // namespace

void read_statements(const char* path) {
    read_records(path, process_record);
}
