// Record files' bytes for tests: a record is its id and its text's length,
// each a little-endian 32-bit integer, then the text.
#pragma once

#include <cstdint>
#include <string>

inline std::string le32(std::int32_t v) {
    auto u = static_cast<std::uint32_t>(v);
    return {static_cast<char>(u), static_cast<char>(u >> 8), static_cast<char>(u >> 16),
            static_cast<char>(u >> 24)};
}

inline std::string record(std::int32_t id, const std::string& text) {
    return le32(id) + le32(static_cast<std::int32_t>(text.size())) + text;
}
