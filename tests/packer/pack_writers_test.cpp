// The record and metadata writers, through real output files: the bytes
// litsieve and litrank read.
#include "packer/meta_writer.h"
#include "packer/record_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string read_file(const char* name) {
    std::string bytes;
    std::FILE* f = std::fopen(name, "rb");
    if (f == nullptr) return "(missing)";
    char block[4096];
    for (std::size_t n; (n = std::fread(block, 1, sizeof block, f)) > 0;) bytes.append(block, n);
    std::fclose(f);
    return bytes;
}

TextRef ref(const char* text) {
    return TextRef{text, std::char_traits<char>::length(text)};
}

TEST(PackWritersTest, RecordsAndMetadataLines) {
    const char* records_name = "pack_writers_test.rec";
    const char* meta_name = "pack_writers_test.tsv";
    OutputFile records_file;
    OutputFile meta_file;
    ASSERT_EQ(output_open(&records_file, records_name, nullptr, 0), OUTPUT_OK);
    ASSERT_EQ(output_open(&meta_file, meta_name, nullptr, 0), OUTPUT_OK);
    RecordWriter records;
    MetaWriter meta;
    records_start(&records, &records_file, records_name, -2);
    meta_start(&meta, &meta_file, meta_name);

    // A text longer than the gathering buffer goes out between short ones.
    std::string long_text(GATHER_SIZE + 10, 'x');
    EXPECT_EQ(write_record(&records, "select 1", 8), -2);
    EXPECT_EQ(write_record(&records, long_text.data(), long_text.size()), -1);
    EXPECT_EQ(write_record(&records, "", 0), 0);
    write_meta_line(&meta, -2, "odd\tname\n.sql", 7, EntryMeta{});
    write_meta_line(
        &meta, -1, "slow.log", 2147483648LL,
        EntryMeta{ref("4.211"), ref("app[app]"), ref("shop"), ref("2024-03-05T14:02:11.532871Z")});
    write_meta_line(&meta, 0, "c.log", 1,
                    EntryMeta{TextRef{nullptr, 0}, ref("us\\er\xC2\x9B"), ref(""), ref("")});
    records_finish(&records);
    meta_finish(&meta);
    ASSERT_EQ(output_commit(&records_file), OUTPUT_OK);
    ASSERT_EQ(output_commit(&meta_file), OUTPUT_OK);

    std::string expected_records = std::string("\xFE\xFF\xFF\xFF\x08\x00\x00\x00select 1", 16) +
                                   std::string("\xFF\xFF\xFF\xFF\x0A\x00\x01\x00", 8) + long_text +
                                   std::string(8, '\0');
    EXPECT_EQ(read_file(records_name), expected_records);
    EXPECT_EQ(records.written, 3);
    EXPECT_EQ(read_file(meta_name),
              "id\tsource\tline\tduration_ms\tuser\tdatabase\ttime\n"
              "-2\todd\\tname\\n.sql\t7\t\t\t\t\n"
              "-1\tslow.log\t2147483648\t4.211\tapp[app]\tshop\t2024-03-05T14:02:11.532871Z\n"
              "0\tc.log\t1\t\tus\\\\er\\u{009B}\t\t\n");
    std::remove(records_name);
    std::remove(meta_name);
}

} // namespace
