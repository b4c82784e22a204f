// Text helpers of the library.
#include "platform/text.h"

#include <cstdio>

MIDIFOLIO_BEGIN_NAMESPACE
namespace platform_detail {

std::string Thousands(uint64_t n) {
    std::string digits = std::to_string(n);
    for (size_t i = digits.size(); i > 3; i -= 3) digits.insert(i - 3, ",");
    return digits;
}

std::string Printable(const char* bytes, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

// Length of the UTF-8 sequence starting at p (within n bytes), 0 when it is not valid UTF-8.
size_t Utf8Sequence(const uint8_t* p, size_t n) {
    const uint8_t c = p[0];
    if (c < 0x80) return 1;
    size_t len;
    uint32_t cp;
    if ((c & 0xE0) == 0xC0) {
        len = 2;
        cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        len = 3;
        cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        len = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (len > n) return 0;
    for (size_t i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    static const uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

std::string DecodeText(const uint8_t* data, size_t length) {
    if (data == nullptr || length == 0) return {};
    bool utf8 = true;
    for (size_t i = 0; i < length;) {
        size_t n = Utf8Sequence(data + i, length - i);
        if (n == 0) {
            utf8 = false;
            break;
        }
        i += n;
    }
    if (utf8) return std::string(reinterpret_cast<const char*>(data), length);
    // Older files mostly carry Latin-1 text.
    std::string out;
    out.reserve(length * 2);
    for (size_t i = 0; i < length; ++i) {
        const uint8_t c = data[i];
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace platform_detail
MIDIFOLIO_END_NAMESPACE
