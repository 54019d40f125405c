#include "packer/meta_writer.h"

#include "escape/escape.h"
#include "platform/digits.h"

#include <cstring>

const char META_HEADER[] = "id\tsource\tline\tduration_ms\tuser\tdatabase\ttime\n";

namespace {

void put_number(GatheredOutput* g, std::int64_t value) {
    char digits[DECIMAL_MOST];
    char* end = digits + DECIMAL_MOST;
    char* first = format_decimal(value, end);
    gather(g, first, static_cast<std::size_t>(end - first));
}

// A tab, then the field escaped straight into the gathered bytes.
void put_field(GatheredOutput* g, const char* text, std::size_t length) {
    gather(g, "\t", 1);
    while (length > 0) {
        char* room = gather_room(g, TSV_ESCAPE_MAX);
        std::size_t consumed = 0;
        g->used += escape_tsv(text, length, room, GATHER_SIZE - g->used, &consumed);
        text += consumed;
        length -= consumed;
    }
}

} // namespace

void meta_start(MetaWriter* writer, OutputFile* out, const char* name) {
    gather_start(&writer->out, out, name);
    gather(&writer->out, META_HEADER, sizeof META_HEADER - 1);
}

void write_meta_line(MetaWriter* writer, std::int32_t id, const char* source, std::int64_t line,
                     const EntryMeta& meta) {
    GatheredOutput* g = &writer->out;
    put_number(g, id);
    put_field(g, source, std::strlen(source));
    gather(g, "\t", 1);
    put_number(g, line);
    const TextRef fields[] = {meta.duration_ms, meta.user, meta.database, meta.time};
    for (const TextRef& field : fields) put_field(g, field.data, field.length);
    gather(g, "\n", 1);
}

void meta_finish(MetaWriter* writer) {
    gather_finish(&writer->out);
}
