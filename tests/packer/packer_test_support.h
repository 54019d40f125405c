// What the packer tests share: the fixtures (compiled in), and runs of the
// splitter and the packer that collect what they report.
#pragma once

#include "packer/packer.h"

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

struct Fixture {
    const char* name;
    const unsigned char* bytes;
    std::size_t size;
};
extern const Fixture FIXTURES[];
extern const std::size_t FIXTURE_COUNT;

// The bytes of fixtures/<name>; a failure when there is none.
std::string fixture(const char* name);

// A statement as the splitter reports it.
struct Stmt {
    std::int64_t line;
    std::string text;
    bool operator==(const Stmt& o) const { return line == o.line && text == o.text; }
};
inline std::ostream& operator<<(std::ostream& os, const Stmt& s) {
    return os << s.line << ": \"" << s.text << "\"";
}

struct Split {
    std::vector<Stmt> statements;
    std::vector<std::string> warnings; // "LINE: text"
};

// Feeds `text` in chunks of `chunk` bytes (0: all at once).
Split split(Dialect dialect, bool script, const std::string& text, std::size_t chunk);

// The same text fed whole and in chunks of 1, 2, 3, 5, 7, 13 and 64 bytes:
// every way must report the same (checked here); returns what they report.
Split split_every_way(Dialect dialect, bool script, const std::string& text);

struct Input {
    std::string name;
    std::string bytes;
    InputFormat format;
};

struct PackRun {
    Dialect dialect = DIALECT_GENERIC;
    std::int64_t first_id = 1;
    bool keep_all = false;
    std::size_t chunk = 0; // 0: each input in one feed
};

struct Record {
    std::int32_t id;
    std::string text;
    bool operator==(const Record& o) const { return id == o.id && text == o.text; }
};
inline std::ostream& operator<<(std::ostream& os, const Record& r) {
    return os << r.id << ": \"" << r.text << "\"";
}

// What the packer handed on: each statement as the record it becomes (ids
// from the run's first_id) and its metadata fields (id, source, line,
// duration_ms, user, database, time) as the metadata line holds them before
// escaping.
struct Packed {
    bool ok;
    bool out_of_memory;
    std::vector<Record> records;
    std::vector<std::vector<std::string>> meta;
    std::vector<std::string> warnings; // "SOURCE:LINE: text"
    std::vector<std::string> chosen;   // "SOURCE: FORMAT" for each format detected
    std::int64_t packed;
    std::int64_t skipped[SKIP_REASONS];
};

Packed pack(const std::vector<Input>& inputs, const PackRun& run);
