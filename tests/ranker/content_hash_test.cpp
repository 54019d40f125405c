#include "ranker/content_hash.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string hex(const unsigned char* digest) {
    static const char HEX[] = "0123456789abcdef";
    std::string s;
    for (std::size_t i = 0; i < SHA256_BYTES; ++i) {
        s += HEX[digest[i] >> 4];
        s += HEX[digest[i] & 15];
    }
    return s;
}

// Published digests, and lengths around the padding's edges: 55 bytes still
// fit one block with the length, 56 to 63 need a second one, 64 and 119 a
// whole block and more.
TEST(ContentHashTest, KnownDigests) {
    struct Case {
        std::string data;
        const char* digest;
    };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {std::string(63, 'a'), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {std::string(119, 'a'), "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) {
        unsigned char digest[SHA256_BYTES];
        sha256(c.data.data(), c.data.size(), digest);
        EXPECT_EQ(hex(digest), c.digest) << c.data.size() << " bytes";
    }
}

TEST(ContentHashTest, SourceExpressionInBase64) {
    char expression[CSP_HASH_MAX];
    csp_hash("abc", 3, expression);
    EXPECT_STREQ(expression, "sha256-ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=");
}

} // namespace
