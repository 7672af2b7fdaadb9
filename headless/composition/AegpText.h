// Text as the AEGP suites exchange it: the model keeps names in UTF-8, the
// suites hand them out in UTF-16 (memory handles) or as 8-bit text in fixed
// fields of AEGP_MAX_LAYER_NAME_SIZE bytes.
//
// Thread safety: pure functions.
#pragma once

#include "headless/SdkHeaders.h"

#include <cstddef>
#include <string>

namespace headless {

// UTF-8 to UTF-16; every byte of a malformed or overlong sequence becomes
// U+FFFD.
std::u16string toUtf16(const std::string &text);

// NUL-terminated UTF-16 to UTF-8; unpaired surrogates become U+FFFD. Reads at
// most `limit` units, so an unterminated name cannot run on forever.
std::string fromUtf16(const A_UTF16Char *text, std::size_t limit = std::size_t(1) << 20);

// Copies `text` into an 8-bit name field of AEGP_MAX_LAYER_NAME_SIZE bytes,
// NUL-terminated, cut at a UTF-8 character boundary when it is too long.
void copyName(const std::string &text, A_char *field);

} // namespace headless
