#include "packer/record_writer.h"

#include "packer/failure.h"
#include "packer/statement_text.h"
#include "platform/allocation.h"

#include <cstdlib>
#include <cstring>

namespace {

void put_int32(char* p, std::uint32_t v) {
    p[0] = static_cast<char>(v & 0xFF);
    p[1] = static_cast<char>(v >> 8 & 0xFF);
    p[2] = static_cast<char>(v >> 16 & 0xFF);
    p[3] = static_cast<char>(v >> 24 & 0xFF);
}

void write_out(RecordWriter* writer, const char* data, std::size_t length) {
    if (!output_write(writer->out, data, length)) {
        pack_fail_because(PACK_OUTPUT, "can't write ", writer->name,
                          output_error_text(writer->out));
    }
}

void drain(RecordWriter* writer) {
    write_out(writer, writer->buffer, writer->used);
    writer->used = 0;
}

void gather(RecordWriter* writer, const char* data, std::size_t length) {
    if (RECORD_BUFFER_SIZE - writer->used < length) {
        drain(writer);
        if (length >= RECORD_BUFFER_SIZE) { // a long text goes out as it is
            write_out(writer, data, length);
            return;
        }
    }
    std::memcpy(writer->buffer + writer->used, data, length);
    writer->used += length;
}

} // namespace

void records_start(RecordWriter* writer, OutputFile* out, const char* name, std::int64_t first_id) {
    writer->out = out;
    writer->name = name;
    writer->buffer =
        static_cast<char*>(checked_realloc(nullptr, RECORD_BUFFER_SIZE, NOT_ENOUGH_MEMORY));
    writer->used = 0;
    writer->next_id = first_id;
    writer->written = 0;
}

void write_record(RecordWriter* writer, const char* text, std::size_t length) {
    if (length > STATEMENT_TEXT_MAX) {
        pack_fail(PACK_USAGE_INPUT_OR_MEMORY, "a statement is longer than 2147483647 bytes",
                  nullptr, "");
    }
    if (writer->next_id > INT32_MAX) {
        pack_fail(PACK_USAGE_INPUT_OR_MEMORY, "record ids ran past 2147483647", nullptr, "");
    }
    char header[8];
    put_int32(header, static_cast<std::uint32_t>(static_cast<std::int32_t>(writer->next_id)));
    put_int32(header + 4, static_cast<std::uint32_t>(length));
    gather(writer, header, sizeof header);
    gather(writer, text, length);
    ++writer->next_id;
    ++writer->written;
}

void records_finish(RecordWriter* writer) {
    drain(writer);
    release(writer->buffer);
    writer->buffer = nullptr;
}
