#include "packer/record_writer.h"

#include "packer/failure.h"

namespace {

void put_int32(char* p, std::uint32_t v) {
    p[0] = static_cast<char>(v & 0xFF);
    p[1] = static_cast<char>(v >> 8 & 0xFF);
    p[2] = static_cast<char>(v >> 16 & 0xFF);
    p[3] = static_cast<char>(v >> 24 & 0xFF);
}

} // namespace

void records_start(RecordWriter* writer, OutputFile* out, const char* name, std::int64_t first_id) {
    gather_start(&writer->out, out, name);
    writer->next_id = first_id;
    writer->written = 0;
}

std::int32_t write_record(RecordWriter* writer, const char* text, std::size_t length) {
    if (length > RECORD_TEXT_MAX) {
        pack_fail(PACK_USAGE_INPUT_OR_MEMORY, "a statement is longer than 2147483647 bytes",
                  nullptr, "");
    }
    if (writer->next_id > INT32_MAX) {
        pack_fail(PACK_USAGE_INPUT_OR_MEMORY, "record ids ran past 2147483647", nullptr, "");
    }
    auto id = static_cast<std::int32_t>(writer->next_id);
    char* header = gather_room(&writer->out, 8);
    put_int32(header, static_cast<std::uint32_t>(id));
    put_int32(header + 4, static_cast<std::uint32_t>(length));
    writer->out.used += 8;
    gather(&writer->out, text, length);
    ++writer->next_id;
    ++writer->written;
    return id;
}

void records_finish(RecordWriter* writer) {
    gather_finish(&writer->out);
}
