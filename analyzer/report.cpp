#include "analyzer/report.h"

#include "analyzer/statement_groups.h"
#include "platform/digits.h"
#include "platform/output_buffer.h"

#include <cstring>

int full_report = 0;

namespace {

// Digits of a 32-bit magnitude: 1 to 10, by comparisons rather than divisions.
inline std::size_t decimal_digits(std::uint32_t m) {
    if (m < 100000) return m < 100 ? (m < 10 ? 1 : 2) : (m < 1000 ? 3 : m < 10000 ? 4 : 5);
    return m < 10000000 ? (m < 1000000 ? 6 : 7) : (m < 100000000 ? 8 : m < 1000000000 ? 9 : 10);
}

// Writes the number straight into the line: its length is known first, so
// the digits can be laid down from their end.
inline char* put_number(char* out, std::int32_t value) {
    std::uint32_t magnitude =
        value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
    if (value < 0) *out++ = '-';
    char* end = out + decimal_digits(magnitude);
    format_decimal(magnitude, end);
    return end;
}

// What follows the record id on a line: "\tgroup\tsize\tfirst member\r\n",
// at most 3 * 11 + 3 + 2 bytes.
constexpr std::size_t SUFFIX_MOST = 38;

char* put_suffix(char* p, std::int32_t group, std::int32_t size, std::int32_t first_member) {
    *p++ = '\t';
    p = put_number(p, group);
    *p++ = '\t';
    p = put_number(p, size);
    *p++ = '\t';
    p = put_number(p, first_member);
    *p++ = '\r';
    *p++ = '\n';
    return p;
}

// The lines of one group differ only in the record id, so each group's
// suffix is formatted once and then copied, 40 bytes at a time whatever its
// length. Formatting every line whole instead (format_report_line) takes
// 5.0 % more instructions on oltp-1m, 0.4 % on distinct-200k
// (bench/results/PROFILE.md); the report tests check the two agree. The slots are chosen by group
// number and name the group they hold by all three numbers, so a slot left by an earlier report
// (tests write several in one process) is never taken for another group. Group numbers start at 2:
// a zeroed slot holds none.
struct GroupSuffix {
    std::int32_t group;
    std::int32_t size;
    std::int32_t first_member;
    std::uint32_t length;
    char text[40];
};
static_assert(sizeof(GroupSuffix::text) >= SUFFIX_MOST, "a suffix fits its slot");
constexpr std::size_t SUFFIX_SLOTS = 4096;
GroupSuffix suffixes[SUFFIX_SLOTS];

// Room a line needs in the buffer: its id, and the suffix's whole copy.
constexpr std::size_t LINE_ROOM = 11 + sizeof(GroupSuffix::text);

} // namespace

std::size_t format_report_line(char* out, std::int32_t id, std::int32_t group, std::int32_t size,
                               std::int32_t first_member) {
    char* p = put_number(out, id);
    p = put_suffix(p, group, size, first_member);
    return static_cast<std::size_t>(p - out);
}

bool write_report(int fd) {
    // Static: the report file exists by now, and no allocation may fail
    // and leave it half written.
    static char storage[OUT_BUFFER_SIZE];
    OutBuffer out;
    out_open_on(&out, fd, storage, sizeof storage);
    for (std::int32_t i = 0; i <= record_list.last; ++i) {
        const ListedRecord& record = record_list.base[i];
        const StatementGroup& group = group_of(record);
        if (group.size <= 1 && !full_report) continue;
        GroupSuffix& suffix = suffixes[static_cast<std::uint32_t>(group.number) % SUFFIX_SLOTS];
        if (suffix.group != group.number || suffix.size != group.size ||
            suffix.first_member != group.first_member) {
            char* end = put_suffix(suffix.text, reported_group_number(group.number), group.size,
                                   group.first_member);
            suffix.group = group.number;
            suffix.size = group.size;
            suffix.first_member = group.first_member;
            suffix.length = static_cast<std::uint32_t>(end - suffix.text);
        }
        char* line = out_room(&out, LINE_ROOM);
        char* p = put_number(line, record.id);
        std::memcpy(p, suffix.text, sizeof suffix.text);
        out.used += static_cast<std::size_t>(p + suffix.length - line);
    }
    return out_close(&out);
}
