#include "platform/block_reader.h"

#include "platform/allocation.h"
#include "platform/exit_statuses.h"
#include "platform/messages.h"
#include "platform/system_calls.h"

#include <cerrno>
#include <cstring>

namespace {

[[noreturn]] void fail_read(const BlockReader& r, std::int64_t offset) {
    Message m;
    message_start(&m);
    message_add(&m, "Can't read ");
    message_add_name(&m, r.path);
    message_add(&m, " file at offset ");
    message_add_number(&m, offset);
    message_add(&m, ".\n");
    fail(EXIT_INPUT, m.text);
}

// Reads what the system gives into [to, to + room), retrying interrupted
// reads; the file offset of `to` is `offset`. 0 at the end of the file.
std::size_t read_some(BlockReader* r, char* to, std::size_t room, std::int64_t offset) {
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

} // namespace

void open_block_reader(BlockReader* r, const char* path, std::size_t capacity) {
    *r = BlockReader{path, -1, nullptr, capacity, 0, 0, 0, false};
    r->fd = sys.open(path, O_RDONLY | O_BINARY, 0);
    if (r->fd < 0) fail_to_open(EXIT_INPUT, path);
    r->block = static_cast<char*>(checked_realloc(nullptr, capacity + 1, NOT_ENOUGH_MEMORY));
}

void close_block_reader(BlockReader* r) {
    release(r->block);
    r->block = nullptr;
    sys.close(r->fd);
    r->fd = -1;
}

void fill_block(BlockReader* r, std::size_t want) {
    if (r->begin > 0) {
        std::size_t left = r->end - r->begin;
        std::memmove(r->block, r->block + r->begin, left);
        r->block_offset += static_cast<std::int64_t>(r->begin);
        r->begin = 0;
        r->end = left;
    }
    while (r->end < want && !r->at_end) {
        r->end += read_some(r, r->block + r->end, r->capacity - r->end,
                            r->block_offset + static_cast<std::int64_t>(r->end));
    }
}

std::size_t read_past_block(BlockReader* r, char* to, std::size_t room) {
    r->block_offset += static_cast<std::int64_t>(r->end);
    r->begin = r->end = 0;
    std::size_t n = read_some(r, to, room, r->block_offset);
    r->block_offset += static_cast<std::int64_t>(n);
    return n;
}
