#include "profile.h"
#include "code_page.h"
#include "file_system.h"
#include "names.h"
#include "path_limits.h"
#include "run.h"
#include "text.h"
#include <stdlib.h>

namespace {

// A profile file larger than this is no profile the setup wrote; it is left as it is.
constexpr DWORD ProfileSizeLimit = 1024 * 1024;
constexpr WCHAR ByteOrderMark = 0xFEFF;

enum FileState { FileMissing, FileRead, FileTooLarge, FileUnreadable };

// The whole file, from the heap; the product may have it open.
FileState ReadWhole(const char* path, char** bytes, DWORD* size)
{
    *bytes = nullptr;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
        nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND ? FileMissing : FileUnreadable;
    LARGE_INTEGER fileSize = {};
    bool measured = GetFileSizeEx(file, &fileSize);
    bool small = measured && fileSize.QuadPart <= ProfileSizeLimit;
    *size = small ? DWORD(fileSize.QuadPart) : 0;
    *bytes = small ? static_cast<char*>(malloc(*size + 1)) : nullptr;
    DWORD read = 0;
    bool whole = *bytes && ReadFile(file, *bytes, *size, &read, nullptr) && read == *size;
    CloseHandle(file);
    if (whole)
        return FileRead;
    free(*bytes);
    *bytes = nullptr;
    return measured && !small ? FileTooLarge : FileUnreadable;
}

// Whether the file is valid UTF-8 throughout (or ASCII), read piece by piece:
// the profile functions of a process whose code page is UTF-8 then read it
// as it is and write it back unchanged.
bool IsUtf8File(const char* path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
        nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    constexpr DWORD PieceSize = 65536;
    // A piece, after the start of a character that the last one cut.
    static char piece[PieceSize + 3];
    DWORD carried = 0;
    bool valid = true;
    for (bool ended = false; valid && !ended;) {
        DWORD read = 0;
        valid = ReadFile(file, piece + carried, PieceSize, &read, nullptr) != 0;
        ended = read == 0;
        DWORD length = carried + read;
        // A character cut at the end (its lead byte among the last three) is read with the next piece.
        DWORD whole = length;
        for (DWORD back = 1; !ended && back <= 3 && back <= length; ++back) {
            BYTE c = BYTE(piece[length - back]);
            if ((c & 0xC0) == 0x80)
                continue;
            if (c >= 0xC0 && back < (c >= 0xF0 ? 4u : c >= 0xE0 ? 3u : 2u))
                whole = length - back;
            break;
        }
        valid = valid
            && (whole == 0 || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, piece, int(whole), nullptr, 0) > 0);
        carried = length - whole;
        MoveMemory(piece, piece + whole, carried);
    }
    CloseHandle(file);
    return valid;
}

// The only byte order mark the profile functions honour.
bool IsUtf16(const char* bytes, DWORD size)
{
    return size >= 2 && BYTE(bytes[0]) == 0xFF && BYTE(bytes[1]) == 0xFE;
}

bool HasUtf8Mark(const char* bytes, DWORD size)
{
    return size >= 3 && BYTE(bytes[0]) == 0xEF && BYTE(bytes[1]) == 0xBB && BYTE(bytes[2]) == 0xBF;
}

bool IsAscii(const char* bytes, size_t size)
{
    for (size_t i = 0; i < size; ++i)
        if (BYTE(bytes[i]) >= 0x80)
            return false;
    return true;
}

// Whether the profile functions of this process would misread the file: a
// UTF-8 mark they take for letters of the first line, or lines in a code
// page, so that it is not valid UTF-8 as a whole.
bool IsMisread(const char* bytes, DWORD size)
{
    if (!UsesUtf8() || IsUtf16(bytes, size))
        return false;
    return HasUtf8Mark(bytes, size)
        || (SystemCodePage() != 0 && MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, int(size), nullptr, 0)
            == 0);
}

// The file in UTF-16 with its byte order mark first, from the heap, each line
// read as StoredBytesToUtf16 reads a text: an earlier build's lines in the
// system's code page, this one's in UTF-8, the product's own either way.
WCHAR* DecodeLines(const char* bytes, DWORD size, int* length)
{
    DWORD begin = HasUtf8Mark(bytes, size) ? 3 : 0;
    // A byte is at most one UTF-16 unit, in any code page: the mark and every byte fit.
    const size_t room = size_t(size) + 1;
    WCHAR* text = static_cast<WCHAR*>(malloc(sizeof(WCHAR) * room));
    if (!text)
        return nullptr;
    text[0] = ByteOrderMark;
    *length = 1;
    while (begin < size) {
        DWORD end = begin;
        while (end < size && bytes[end] != '\n')
            ++end;
        end += end < size ? 1 : 0;
        int lineLength = 0;
        WCHAR* line = StoredBytesToUtf16(bytes + begin, int(end - begin), &lineLength);
        if (!line || size_t(*length) + size_t(lineLength) > room) {
            free(line);
            free(text);
            return nullptr;
        }
        for (int i = 0; i < lineLength; ++i)
            text[(*length)++] = line[i];
        free(line);
        begin = end;
    }
    return text;
}

bool IsBlank(WCHAR c)
{
    return c == L' ' || c == L'\t' || c == L'\r';
}

// A part of a line without the blanks around it.
void Trim(const WCHAR*& begin, const WCHAR*& end)
{
    while (begin < end && IsBlank(*begin))
        ++begin;
    while (end > begin && IsBlank(end[-1]))
        --end;
}

bool SameName(const WCHAR* begin, const WCHAR* end, const WCHAR* name)
{
    return CompareStringOrdinal(begin, int(end - begin), name, -1, TRUE) == CSTR_EQUAL;
}

enum Lookup { ValueFound, ValueAbsent, ValueTooLong };

// The value of the key in the section, found as the profile functions find
// it: the first of that name, names compared without letter case, blanks
// around names and values dropped, a value in matching quotes without them.
Lookup FindValue(const WCHAR* text, int length, const char* section, const char* key, char* out, DWORD size)
{
    WCHAR wideSection[64];
    WCHAR wideKey[64];
    if (!MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, section, -1, wideSection, 64)
        || !MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, key, -1, wideKey, 64))
        return ValueAbsent;
    bool inSection = false;
    for (const WCHAR* line = text; line < text + length;) {
        const WCHAR* next = line;
        while (next < text + length && *next != L'\n')
            ++next;
        const WCHAR* begin = line;
        const WCHAR* end = next;
        line = next + 1;
        Trim(begin, end);
        if (begin < end && *begin == L'[') {
            const WCHAR* close = begin + 1;
            while (close < end && *close != L']')
                ++close;
            const WCHAR* name = begin + 1;
            Trim(name, close);
            inSection = SameName(name, close, wideSection);
            continue;
        }
        const WCHAR* equals = begin;
        while (equals < end && *equals != L'=')
            ++equals;
        const WCHAR* nameEnd = equals;
        const WCHAR* name = begin;
        Trim(name, nameEnd);
        if (!inSection || equals == end || !SameName(name, nameEnd, wideKey))
            continue;
        const WCHAR* value = equals + 1;
        Trim(value, end);
        if (end - value >= 2 && (*value == L'"' || *value == L'\'') && end[-1] == *value) {
            ++value;
            --end;
        }
        int bytes = end > value
            ? WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, value, int(end - value), out, int(size) - 1, nullptr,
                nullptr)
            : 0;
        if (end > value && bytes <= 0)
            return ValueTooLong;
        out[bytes] = '\0';
        return ValueFound;
    }
    return ValueAbsent;
}

// Writes the bytes whole beside the path first, so that the file is never
// half written; an existing file is replaced keeping its security settings
// and attributes, which the product may rely on.
bool WriteWhole(const char* path, const void* text, DWORD bytes, bool existing)
{
    char beside[PathBufferSize];
    if (!FormatText(beside, sizeof beside, "%s.converting", path))
        return false;
    HANDLE file = CreateFileA(beside, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool whole = WriteFile(file, text, bytes, &written, nullptr) && written == bytes && FlushFileBuffers(file);
    whole = CloseHandle(file) && whole;
    bool replaced = whole
        && (existing ? ReplaceFileA(path, beside, nullptr, 0, nullptr, nullptr) != 0
                     : MoveFileExA(beside, path, MOVEFILE_WRITE_THROUGH) != 0);
    if (!replaced)
        DeleteFileA(beside); // result deliberately ignored: a leftover of a failed write only
    return replaced;
}

// Where a line that begins at the position ends, after its line feed.
DWORD LineEnd(const char* bytes, DWORD size, DWORD at)
{
    while (at < size && bytes[at] != '\n')
        ++at;
    return at < size ? at + 1 : at;
}

// Whether the bytes, without the blanks around them, are the name in ASCII letters of either case.
bool IsAsciiName(const char* begin, const char* end, const char* name)
{
    while (begin < end && (*begin == ' ' || *begin == '\t'))
        ++begin;
    while (end > begin && (end[-1] == ' ' || end[-1] == '\t' || end[-1] == '\r' || end[-1] == '\n'))
        --end;
    for (; begin < end && *name; ++begin, ++name)
        if ((*begin | 0x20) != (*name | 0x20) || BYTE(*begin) >= 0x80)
            return false;
    return begin == end && !*name;
}

} // namespace

DWORD ReadProfileValue(const char* section, const char* key, const char* fallback, char* out, DWORD size,
    const char* path)
{
    char* bytes = nullptr;
    DWORD length = 0;
    Lookup found = ValueAbsent;
    if (UsesUtf8() && ReadWhole(path, &bytes, &length) == FileRead
        && IsMisread(bytes, length)) {
        int wideLength = 0;
        WCHAR* text = DecodeLines(bytes, length, &wideLength);
        // After the byte order mark that DecodeLines puts first.
        found = text ? FindValue(text + 1, wideLength - 1, section, key, out, size) : ValueAbsent;
        if (!text)
            LogLine("Profile: %s could not be read", path);
        free(text);
    } else {
        // The fallback as the default, so that a value present but empty stays empty.
        DWORD read = GetPrivateProfileStringA(section, key, fallback, out, size, path);
        found = read + 1 >= size ? ValueTooLong : ValueFound;
    }
    free(bytes);
    if (found == ValueTooLong)
        LogLine("Profile: the value of %s in %s is too long to be a folder: ignored", key, path);
    if (found != ValueFound && !CopyText(out, size, fallback))
        return 0;
    return DWORD(TextLength(out));
}

bool PrepareProfileForWriting(const char* path, const char* value)
{
    char* bytes = nullptr;
    DWORD length = 0;
    if (!UsesUtf8())
        return true;
    bool asciiValue = !value || IsAscii(value, TextLength(value));
    bool made = false;
    switch (ReadWhole(path, &bytes, &length)) {
    case FileMissing: {
        if (asciiValue)
            return true;
        const WCHAR mark = ByteOrderMark;
        made = WriteWhole(path, &mark, sizeof mark, false);
        break;
    }
    case FileRead: {
        if (IsUtf16(bytes, length) || (IsAscii(bytes, length) && asciiValue)) {
            free(bytes);
            return true;
        }
        int wideLength = 0;
        WCHAR* text = DecodeLines(bytes, length, &wideLength);
        made = text && WriteWhole(path, text, DWORD(sizeof(WCHAR) * size_t(wideLength)), true);
        free(text);
        break;
    }
    case FileTooLarge:
        // Too large to be made UTF-16 here: left to the profile functions when they read it as it is.
        if (asciiValue && IsUtf8File(path)) {
            LogLine("Profile: %s is too large to be made UTF-16, and needs not be: it is UTF-8", path);
            return true;
        }
        break;
    default:
        // What cannot be read here, the profile functions cannot read either: the write tells.
        if (asciiValue)
            return true;
        break;
    }
    free(bytes);
    LogLine(made ? "Profile: %s is now UTF-16, which every reader reads alike"
                 : "Profile: %s could not be made UTF-16",
        path);
    return made;
}

void DeleteBlankProfile(const char* path)
{
    char* bytes = nullptr;
    DWORD length = 0;
    if (ReadWhole(path, &bytes, &length) != FileRead)
        return;
    // In UTF-16, after the byte order mark, each character's second byte is zero.
    bool utf16 = IsUtf16(bytes, length);
    bool blank = true;
    for (DWORD i = utf16 ? 2 : 0; blank && i < length; ++i) {
        char c = bytes[i];
        blank = utf16 && i % 2 == 1 ? c == '\0' : c == ' ' || c == '\t' || c == '\r' || c == '\n';
    }
    free(bytes);
    if (blank && DeleteFileA(path))
        LogLine("Profile: %s removed, nothing was left in it", path);
}

namespace {

bool WriteProfileLine(const char* section, const char* key, const char* value, const char* path)
{
    char line[PathBufferSize + 64];
    char* bytes = nullptr;
    DWORD size = 0;
    if (!UsesUtf8() || SystemCodePage() != 0 || !FormatText(line, sizeof line, "%s=%s\r\n", key, value))
        return false;
    FileState state = ReadWhole(path, &bytes, &size);
    if (state != FileRead && state != FileMissing)
        return false;
    // The key's line in the first section of that name, else the end of that section's own line, else none.
    DWORD replaced = size;
    DWORD after = size;
    bool inSection = false;
    bool found = false;
    bool sectionFound = false;
    for (DWORD at = 0; at < size && !found && !IsUtf16(bytes, size);) {
        DWORD end = LineEnd(bytes, size, at);
        DWORD begin = at;
        while (begin < end && (bytes[begin] == ' ' || bytes[begin] == '\t'))
            ++begin;
        DWORD mark = begin;
        char sought = begin < end && bytes[begin] == '[' ? ']' : '=';
        while (mark < end && bytes[mark] != sought)
            ++mark;
        if (sought == ']') {
            inSection = IsAsciiName(bytes + begin + 1, bytes + mark, section);
            after = inSection && !sectionFound ? end : after;
            sectionFound = sectionFound || inSection;
        } else if (inSection && mark < end && IsAsciiName(bytes + at, bytes + mark, key)) {
            found = true;
            replaced = at;
            after = end;
        }
        at = end;
    }
    DWORD head = found ? replaced : after;
    // A line of its own: after a line feed, and under the section's name when there is no such section.
    char opening[128] = "";
    bool opened = (head == 0 || bytes[head - 1] == '\n' || CopyText(opening, sizeof opening, "\r\n"))
        && (sectionFound
            || (AppendText(opening, sizeof opening, "[") && AppendText(opening, sizeof opening, section)
                && AppendText(opening, sizeof opening, "]\r\n")));
    size_t total = size_t(head) + TextLength(opening) + TextLength(line) + (size - after);
    char* text = opened && !IsUtf16(bytes, size) ? static_cast<char*>(malloc(total + 1)) : nullptr;
    bool written = false;
    if (text) {
        CopyMemory(text, bytes, head);
        CopyText(text + head, total + 1 - head, opening); // results deliberately ignored: the room was counted
        AppendText(text + head, total + 1 - head, line);
        CopyMemory(text + total - (size - after), bytes + after, size - after);
        written = WriteWhole(path, text, DWORD(total), state == FileRead);
    }
    free(text);
    free(bytes);
    LogLine(written ? "Profile: %s written as a line of its own, the rest of %s kept as it is"
                    : "Profile: %s could not be written as a line of its own to %s",
        key, path);
    return written;
}

} // namespace

bool WriteProfileValue(const char* section, const char* key, const char* value, const char* path)
{
    return (PrepareProfileForWriting(path, value) && WritePrivateProfileStringA(section, key, value, path))
        || WriteProfileLine(section, key, value, path);
}

HANDLE HoldProfileFolder(const char* path)
{
    char folder[PathBufferSize];
    HANDLE held = CopyFolderPart(path, folder, sizeof folder) ? OpenPlainFolder(folder, 0) : INVALID_HANDLE_VALUE;
    if (held != INVALID_HANDLE_VALUE && HandleIsAtPath(held, folder) && NoFileOrPlainAtPath(path))
        return held;
    if (held != INVALID_HANDLE_VALUE)
        CloseHandle(held);
    LogLine("Profile: %s left alone, since a link or a second name lies on its way", path);
    return INVALID_HANDLE_VALUE;
}
