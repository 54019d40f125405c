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

struct PackContext {
    Packed* packed;
    std::int64_t next_id;
    const char* source;
};

void pack_statement(void* context, const char* text, std::size_t length, std::int64_t line,
                    const EntryMeta& meta) {
    auto* c = static_cast<PackContext*>(context);
    EXPECT_EQ(text[length], '\0') << "the text is handed over NUL-terminated";
    auto id = static_cast<std::int32_t>(c->next_id++);
    c->packed->records.push_back(Record{id, std::string(text, length)});
    auto field = [](TextRef t) {
        return t.length == 0 ? std::string() : std::string(t.data, t.length);
    };
    c->packed->meta.push_back({std::to_string(id), c->source, std::to_string(line),
                               field(meta.duration_ms), field(meta.user), field(meta.database),
                               field(meta.time)});
}

void pack_warning(void* context, const char* source, std::int64_t line, const char* text) {
    static_cast<PackContext*>(context)->packed->warnings.push_back(
        std::string(source) + ":" + std::to_string(line) + ": " + text);
}

void pack_chosen(void* context, const char* source, InputFormat format) {
    static_cast<PackContext*>(context)->packed->chosen.push_back(std::string(source) + ": " +
                                                                 FORMAT_NAMES[format]);
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
    PackContext context{&packed, run.first_id, ""};
    std::unique_ptr<Packer> p(new Packer);
    PackerOptions options{};
    options.dialect = run.dialect;
    options.keep_all = run.keep_all;
    options.events = PackerEvents{&context, pack_statement, pack_warning, pack_chosen};
    packer_init(p.get(), options);
    bool ok = true;
    for (const Input& in : inputs) {
        context.source = in.name.c_str();
        ok = ok && packer_begin(p.get(), in.name.c_str(), in.format);
        std::size_t step = run.chunk == 0 ? in.bytes.size() : run.chunk;
        for (std::size_t at = 0; ok && at < in.bytes.size(); at += step) {
            ok = packer_feed(p.get(), in.bytes.data() + at, std::min(step, in.bytes.size() - at));
        }
        ok = ok && packer_end(p.get());
    }
    packed.ok = ok;
    packed.out_of_memory = p->out_of_memory;
    packed.packed = p->packed;
    packed.skipped[0] = p->skipped[0];
    packed.skipped[1] = p->skipped[1];
    packer_free(p.get());
    return packed;
}
