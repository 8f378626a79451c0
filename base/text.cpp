#include "text.h"

namespace {

struct Writer {
    char* buffer;
    size_t size;
    size_t used;
    bool overflow;
};

void Put(Writer& w, char c)
{
    if (w.used + 1 < w.size)
        w.buffer[w.used++] = c;
    else
        w.overflow = true;
}

void PutText(Writer& w, const char* text)
{
    for (; *text && !w.overflow; ++text)
        Put(w, *text);
}

void PutDecimal(Writer& w, int value)
{
    char digits[12];
    int count = 0;
    // Work in unsigned so that the most negative value does not overflow.
    unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (value < 0)
        Put(w, '-');
    while (count)
        Put(w, digits[--count]);
}

bool Finish(Writer& w, bool valid)
{
    if (w.size == 0)
        return false;
    if (w.overflow || !valid) {
        w.buffer[0] = '\0';
        return false;
    }
    w.buffer[w.used] = '\0';
    return true;
}

} // namespace

bool FormatTextV(char* buffer, size_t size, const char* format, va_list args)
{
    Writer w = {buffer, size, 0, size == 0};
    bool valid = true;
    for (const char* p = format; *p && valid && !w.overflow; ++p) {
        if (*p != '%') {
            Put(w, *p);
            continue;
        }
        switch (*++p) {
        case '\0':
            // A lone "%" at the end: stop here rather than step past the terminator.
            --p;
            valid = false;
            break;
        case 's': {
            const char* text = va_arg(args, const char*);
            PutText(w, text ? text : "");
            break;
        }
        case 'd':
            PutDecimal(w, va_arg(args, int));
            break;
        case '%':
            Put(w, '%');
            break;
        default:
            valid = false;
            break;
        }
    }
    return Finish(w, valid);
}

bool FormatText(char* buffer, size_t size, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    bool fits = FormatTextV(buffer, size, format, args);
    va_end(args);
    return fits;
}

bool CopyText(char* buffer, size_t size, const char* source)
{
    Writer w = {buffer, size, 0, size == 0};
    PutText(w, source);
    return Finish(w, true);
}

bool CopyTextPrefix(char* buffer, size_t size, const char* source, size_t length)
{
    Writer w = {buffer, size, 0, size == 0};
    for (size_t i = 0; i < length && !w.overflow; ++i)
        Put(w, source[i]);
    return Finish(w, true);
}

bool AppendText(char* buffer, size_t size, const char* source)
{
    if (size == 0)
        return false;
    size_t used = TextLength(buffer);
    if (used >= size) {
        buffer[0] = '\0';
        return false;
    }
    Writer w = {buffer + used, size - used, 0, false};
    PutText(w, source);
    if (w.overflow) {
        buffer[0] = '\0';
        return false;
    }
    w.buffer[w.used] = '\0';
    return true;
}

size_t TextLength(const char* text)
{
    size_t length = 0;
    while (text[length])
        ++length;
    return length;
}

bool TextEquals(const char* a, const char* b)
{
    while (*a && *a == *b)
        ++a, ++b;
    return *a == *b;
}

uint32_t TextKey(const char* text)
{
    uint32_t key = 2166136261u;
    for (; *text; ++text)
        key = (key ^ uint8_t(*text)) * 16777619u;
    return key;
}
