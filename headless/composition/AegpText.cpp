#include "headless/composition/AegpText.h"

#include <algorithm>
#include <cstring>

namespace headless {

std::u16string toUtf16(const std::string &text) {
    std::u16string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        char32_t cp = 0xFFFD;
        std::size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c >> 5) == 0x6 || (c >> 4) == 0xE || (c >> 3) == 0x1E) {
            len = (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : 4;
            char32_t value = c & (len == 2 ? 0x1F : len == 3 ? 0x0F : 0x07);
            bool ok = i + len <= text.size();
            for (std::size_t k = 1; ok && k < len; ++k) {
                const unsigned char next = static_cast<unsigned char>(text[i + k]);
                ok = (next >> 6) == 0x2;
                value = (value << 6) | (next & 0x3F);
            }
            const char32_t smallest = len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000; // no overlong forms
            if (ok && value >= smallest && value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF))
                cp = value;
            else
                len = 1; // only the lead byte is spent; what follows is read afresh
        }
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 + (cp >> 10)));
            out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
    }
    return out;
}

namespace {

void appendUtf8(std::string &out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(char(cp));
    } else if (cp < 0x800) {
        out.push_back(char(0xC0 | (cp >> 6)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(char(0xE0 | (cp >> 12)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (cp >> 18)));
        out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    }
}

} // namespace

std::string fromUtf16(const A_UTF16Char *text, std::size_t limit) {
    std::string out;
    for (std::size_t i = 0; i < limit && text[i] != 0; ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < limit && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        appendUtf8(out, cp);
    }
    return out;
}

void copyName(const std::string &text, A_char *field) {
    std::size_t len = std::min<std::size_t>(text.size(), AEGP_MAX_LAYER_NAME_SIZE - 1);
    while (len > 0 && len < text.size() && (static_cast<unsigned char>(text[len]) >> 6) == 0x2)
        --len; // text[len] continues a character: cut before that character starts
    std::memcpy(field, text.data(), len);
    field[len] = '\0';
}

} // namespace headless
