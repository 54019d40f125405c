#include "packer/gathered_output.h"

#include "packer/failure.h"
#include "platform/allocation.h"

#include <cstring>

namespace {

void write_out(GatheredOutput* g, const char* data, std::size_t length) {
    if (!output_write(g->out, data, length)) {
        pack_fail_because(PACK_OUTPUT, "can't write ", g->name, output_error_text(g->out));
    }
}

} // namespace

void gather_start(GatheredOutput* g, OutputFile* out, const char* name) {
    g->out = out;
    g->name = name;
    g->buffer = static_cast<char*>(checked_realloc(nullptr, GATHER_SIZE, NOT_ENOUGH_MEMORY));
    g->used = 0;
}

void gather_drain(GatheredOutput* g) {
    if (g->used > 0) write_out(g, g->buffer, g->used);
    g->used = 0;
}

void gather(GatheredOutput* g, const char* data, std::size_t length) {
    if (GATHER_SIZE - g->used < length) {
        gather_drain(g);
        if (length >= GATHER_SIZE) { // a long text goes out as it is
            write_out(g, data, length);
            return;
        }
    }
    std::memcpy(g->buffer + g->used, data, length);
    g->used += length;
}

void gather_finish(GatheredOutput* g) {
    gather_drain(g);
    release(g->buffer);
    g->buffer = nullptr;
}
