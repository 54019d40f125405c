#include "tests/packer/packer_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

std::string fixture(const char* name) {
    for (std::size_t i = 0; i < FIXTURE_COUNT; ++i) {
        if (std::strcmp(FIXTURES[i].name, name) == 0) {
            return std::string(reinterpret_cast<const char*>(FIXTURES[i].bytes), FIXTURES[i].size);
        }
    }
    ADD_FAILURE() << "no fixture " << name;
    return std::string();
}

namespace {

bool collect_statement(void* context, char* text, std::size_t length, std::int64_t line) {
    EXPECT_EQ(text[length], '\0') << "the text is handed over NUL-terminated";
    static_cast<Split*>(context)->statements.push_back(Stmt{line, std::string(text, length)});
    return true;
}

void collect_warning(void* context, SplitWarning warning, std::int64_t line) {
    static_cast<Split*>(context)->warnings.push_back(std::to_string(line) + ": " +
                                                     SPLIT_WARNING_TEXTS[warning]);
}

bool write_records(void* context, const char* bytes, std::size_t length) {
    static_cast<Packed*>(context)->record_bytes.append(bytes, length);
    return true;
}

bool write_meta(void* context, const char* bytes, std::size_t length) {
    static_cast<Packed*>(context)->meta_bytes.append(bytes, length);
    return true;
}

void pack_warning(void* context, const char* source, std::int64_t line, const char* text) {
    static_cast<Packed*>(context)->warnings.push_back(std::string(source) + ":" +
                                                      std::to_string(line) + ": " + text);
}

void pack_chosen(void* context, const char* source, InputFormat format) {
    static_cast<Packed*>(context)->chosen.push_back(std::string(source) + ": " +
                                                    FORMAT_NAMES[format]);
}

std::int32_t int32_at(const std::string& bytes, std::size_t at) {
    std::uint32_t v = 0;
    for (int k = 3; k >= 0; --k)
        v = v << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(k)]);
    return static_cast<std::int32_t>(v);
}

std::vector<std::string> cut_at(const std::string& line, char separator) {
    std::vector<std::string> fields(1);
    for (char c : line) {
        if (c == separator) {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

} // namespace

Split split(Dialect dialect, bool script, const std::string& text, std::size_t chunk) {
    Split result;
    Splitter s;
    splitter_init(&s, dialect, script, SplitterEvents{&result, collect_statement, collect_warning});
    splitter_reset(&s, 1);
    std::size_t step = chunk == 0 ? text.size() : chunk;
    for (std::size_t at = 0; at < text.size(); at += step) {
        EXPECT_TRUE(splitter_feed(&s, text.data() + at, std::min(step, text.size() - at)));
    }
    EXPECT_TRUE(splitter_finish(&s));
    splitter_free(&s);
    return result;
}

Split split_every_way(Dialect dialect, bool script, const std::string& text) {
    Split whole = split(dialect, script, text, 0);
    for (std::size_t chunk : {1u, 2u, 3u, 5u, 7u, 13u, 64u}) {
        Split pieces = split(dialect, script, text, chunk);
        EXPECT_EQ(pieces.statements, whole.statements) << "fed in chunks of " << chunk;
        EXPECT_EQ(pieces.warnings, whole.warnings) << "fed in chunks of " << chunk;
    }
    return whole;
}

Packed pack(const std::vector<Input>& inputs, const PackRun& run) {
    Packed packed{};
    std::unique_ptr<Packer> p(new Packer);
    PackerOptions options{};
    options.dialect = run.dialect;
    options.first_id = run.first_id;
    options.keep_all = run.keep_all;
    options.records = PackerOutput{&packed, write_records};
    options.meta = run.meta ? PackerOutput{&packed, write_meta} : PackerOutput{nullptr, nullptr};
    options.events = PackerEvents{&packed, pack_warning, pack_chosen};
    packer_init(p.get(), options);
    bool ok = true;
    for (const Input& in : inputs) {
        ok = ok && packer_begin(p.get(), in.name.c_str(), in.format);
        std::size_t step = run.chunk == 0 ? in.bytes.size() : run.chunk;
        for (std::size_t at = 0; ok && at < in.bytes.size(); at += step) {
            ok = packer_feed(p.get(), in.bytes.data() + at, std::min(step, in.bytes.size() - at));
        }
        ok = ok && packer_end(p.get());
    }
    packed.ok = ok && packer_close(p.get());
    packed.error = p->error;
    packed.written = p->written;
    packed.skipped[0] = p->skipped[0];
    packed.skipped[1] = p->skipped[1];
    packer_free(p.get());
    for (std::size_t at = 0; at + 8 <= packed.record_bytes.size();) {
        std::int32_t id = int32_at(packed.record_bytes, at);
        auto length = static_cast<std::size_t>(int32_at(packed.record_bytes, at + 4));
        packed.records.push_back(Record{id, packed.record_bytes.substr(at + 8, length)});
        at += 8 + length;
    }
    std::vector<std::string> lines = cut_at(packed.meta_bytes, '\n');
    for (std::size_t i = 1; i + 1 < lines.size(); ++i)
        packed.meta.push_back(cut_at(lines[i], '\t'));
    return packed;
}
