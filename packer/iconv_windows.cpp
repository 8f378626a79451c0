#include "iconv.h"
#include <windows.h>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

enum class Target { Utf16, Utf32, CodePage };

struct WindowsConverter {
    Target target;
    UINT codePage;
};

namespace {

const size_t Failed = size_t(-1);

// The code point a text of `length` bytes begins with, and how many bytes it
// takes; 0 when they are no UTF-8 (or, with `incomplete`, only its beginning).
size_t DecodeUtf8(const unsigned char* text, size_t length, uint32_t& point, bool& incomplete)
{
    incomplete = false;
    unsigned char first = text[0];
    if (first < 0x80) {
        point = first;
        return 1;
    }
    size_t size = first >= 0xC2 && first <= 0xDF ? 2 : first >= 0xE0 && first <= 0xEF ? 3
        : first >= 0xF0 && first <= 0xF4                                           ? 4
                                                                                   : 0;
    if (size == 0)
        return 0;
    // The second byte's range rules out overlong forms, surrogates and points past U+10FFFF.
    unsigned char low = first == 0xE0 ? 0xA0 : first == 0xF0 ? 0x90 : 0x80;
    unsigned char high = first == 0xED ? 0x9F : first == 0xF4 ? 0x8F : 0xBF;
    point = first & (0xFF >> (size + 1));
    for (size_t k = 1; k < size; ++k) {
        if (k == length) {
            incomplete = true;
            return 0;
        }
        unsigned char next = text[k];
        if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF))
            return 0;
        point = point << 6 | (next & 0x3F);
    }
    return size;
}

// The point's bytes in the target, in `bytes`; 0 when it has no place there.
size_t Encode(const WindowsConverter& converter, uint32_t point, char* bytes, size_t room)
{
    wchar_t wide[2];
    size_t units = 1;
    if (point >= 0x10000) {
        wide[0] = wchar_t(0xD800 + ((point - 0x10000) >> 10));
        wide[1] = wchar_t(0xDC00 + ((point - 0x10000) & 0x3FF));
        units = 2;
    } else {
        wide[0] = wchar_t(point);
    }
    if (converter.target == Target::Utf32) {
        for (int b = 0; b < 4; ++b)
            bytes[b] = char(point >> (8 * b) & 0xFF);
        return 4;
    }
    if (converter.target == Target::Utf16) {
        for (size_t u = 0; u < units; ++u) {
            bytes[2 * u] = char(wide[u] & 0xFF);
            bytes[2 * u + 1] = char(wide[u] >> 8);
        }
        return 2 * units;
    }
    BOOL defaulted = FALSE;
    int written = WideCharToMultiByte(converter.codePage, WC_NO_BEST_FIT_CHARS, wide, int(units), bytes, int(room),
        nullptr, &defaulted);
    return written > 0 && !defaulted ? size_t(written) : 0;
}

} // namespace

iconv_t iconv_open(const char* to, const char* from)
{
    char* end = nullptr;
    unsigned long codePage = std::strncmp(to, "CP", 2) == 0 ? std::strtoul(to + 2, &end, 10) : 0;
    WindowsConverter converter{Target::CodePage, UINT(codePage)};
    bool known = true;
    if (std::strcmp(to, "UTF-16LE") == 0 || std::strcmp(to, "WCHAR_T") == 0)
        converter.target = Target::Utf16;
    else if (std::strcmp(to, "UTF-32LE") == 0)
        converter.target = Target::Utf32;
    else
        known = codePage != 0 && *end == '\0' && IsValidCodePage(converter.codePage);
    if (std::strcmp(from, "UTF-8") != 0 || !known) {
        errno = EINVAL;
        return reinterpret_cast<iconv_t>(-1);
    }
    return new WindowsConverter(converter);
}

size_t iconv(iconv_t converter, char** in, size_t* inLeft, char** out, size_t* outLeft)
{
    // Each character converts alone: there is no state to reset or to flush.
    if (!in || !*in)
        return 0;
    while (*inLeft > 0) {
        uint32_t point = 0;
        bool incomplete = false;
        size_t length = DecodeUtf8(reinterpret_cast<const unsigned char*>(*in), *inLeft, point, incomplete);
        char bytes[8];
        size_t size = length ? Encode(*converter, point, bytes, sizeof bytes) : 0;
        if (size == 0) {
            errno = incomplete ? EINVAL : EILSEQ;
            return Failed;
        }
        if (size > *outLeft) {
            errno = E2BIG;
            return Failed;
        }
        std::memcpy(*out, bytes, size);
        *out += size;
        *outLeft -= size;
        *in += length;
        *inLeft -= length;
    }
    return 0;
}

int iconv_close(iconv_t converter)
{
    delete converter;
    return 0;
}
