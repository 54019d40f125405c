// The page's content security policy names its inline script and style by
// their SHA-256 digests (FIPS 180-4), in base64: a browser then runs that
// script and applies that style and nothing else inline, so that markup
// smuggled into the page by a statement text, were escaping ever to miss
// it, could not run.
#pragma once

#include <cstddef>

constexpr std::size_t SHA256_BYTES = 32;

void sha256(const char* data, std::size_t length, unsigned char digest[SHA256_BYTES]);

// "sha256-" and the digest of `data` in base64 (with padding), as a CSP
// source expression wants it; NUL-terminated into `out`.
constexpr std::size_t CSP_HASH_MAX = 7 + 44 + 1;
void csp_hash(const char* data, std::size_t length, char out[CSP_HASH_MAX]);
