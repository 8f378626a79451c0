#include "profile.h"
#include "code_page.h"
#include "path_limits.h"
#include "run.h"
#include "text.h"
#include <stdlib.h>

namespace {

// A profile file larger than this is no profile the setup wrote; it is left as it is.
constexpr DWORD ProfileSizeLimit = 1024 * 1024;
constexpr WCHAR ByteOrderMark = 0xFEFF;

bool ProfilePath(const char* profileFile, char* out, size_t size)
{
    char windows[PathBufferSize];
    UINT length = GetWindowsDirectoryA(windows, sizeof windows);
    return length > 0 && length < sizeof windows && FormatText(out, size, "%s\\%s", windows, profileFile);
}

enum FileState { FileMissing, FileRead, FileUnreadable };

// The whole file, from the heap.
FileState ReadWhole(const char* path, char** bytes, DWORD* size)
{
    *bytes = nullptr;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND ? FileMissing : FileUnreadable;
    *size = GetFileSize(file, nullptr);
    *bytes = *size <= ProfileSizeLimit ? static_cast<char*>(malloc(*size + 1)) : nullptr;
    DWORD read = 0;
    bool whole = *bytes && ReadFile(file, *bytes, *size, &read, nullptr) && read == *size;
    CloseHandle(file);
    if (whole)
        return FileRead;
    free(*bytes);
    *bytes = nullptr;
    return FileUnreadable;
}

// A byte order mark names the file's encoding, which the profile functions honour.
bool IsMarked(const char* bytes, DWORD size)
{
    return size >= 2
        && ((BYTE(bytes[0]) == 0xFF && BYTE(bytes[1]) == 0xFE) || (BYTE(bytes[0]) == 0xFE && BYTE(bytes[1]) == 0xFF)
            || (size >= 3 && BYTE(bytes[0]) == 0xEF && BYTE(bytes[1]) == 0xBB && BYTE(bytes[2]) == 0xBF));
}

bool IsAscii(const char* bytes, size_t size)
{
    for (size_t i = 0; i < size; ++i)
        if (BYTE(bytes[i]) >= 0x80)
            return false;
    return true;
}

// The file in UTF-16 with its byte order mark first, from the heap, each line
// read as StoredBytesToUtf16 reads a text: an earlier build's lines in the
// system's code page, this one's in UTF-8, the product's own either way.
WCHAR* DecodeLines(const char* bytes, DWORD size, int* length)
{
    WCHAR* text = static_cast<WCHAR*>(malloc(sizeof(WCHAR) * (size_t(size) + 1)));
    if (!text)
        return nullptr;
    text[0] = ByteOrderMark;
    *length = 1;
    for (DWORD begin = 0; begin < size;) {
        DWORD end = begin;
        while (end < size && bytes[end] != '\n')
            ++end;
        end += end < size ? 1 : 0;
        int lineLength = 0;
        WCHAR* line = StoredBytesToUtf16(bytes + begin, int(end - begin), &lineLength);
        if (!line) {
            free(text);
            return nullptr;
        }
        // A byte is at most one UTF-16 unit, in any code page.
        for (int i = 0; i < lineLength; ++i)
            text[(*length)++] = line[i];
        free(line);
        begin = end;
    }
    return text;
}

// Writes the text whole beside the path first, so that the file is never half written.
bool WriteUtf16(const char* path, const WCHAR* text, int length)
{
    char beside[PathBufferSize];
    if (!FormatText(beside, sizeof beside, "%s.converting", path))
        return false;
    HANDLE file = CreateFileA(beside, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD bytes = DWORD(sizeof(WCHAR) * size_t(length));
    DWORD written = 0;
    bool whole = WriteFile(file, text, bytes, &written, nullptr) && written == bytes && FlushFileBuffers(file);
    whole = CloseHandle(file) && whole;
    bool replaced = whole && MoveFileExA(beside, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!replaced)
        DeleteFileA(beside); // result deliberately ignored: a leftover of a failed write only
    return replaced;
}

// Whether the profile functions would misread the file: it has lines in a
// code page, so that it is not valid UTF-8 as a whole.
bool HasLinesOfACodePage(const char* bytes, DWORD size)
{
    return size > 0 && !IsMarked(bytes, size) && SystemCodePage() != 0
        && MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, int(size), nullptr, 0) == 0;
}

} // namespace

DWORD ReadProfileValue(const char* section, const char* key, const char* fallback, char* out, DWORD size,
    const char* profileFile)
{
    char path[PathBufferSize];
    char* bytes = nullptr;
    DWORD length = 0;
    if (!UsesUtf8() || !ProfilePath(profileFile, path, sizeof path) || ReadWhole(path, &bytes, &length) != FileRead
        || !HasLinesOfACodePage(bytes, length)) {
        free(bytes);
        return GetPrivateProfileStringA(section, key, fallback, out, size, profileFile);
    }
    // The profile functions read only files: a converted copy of it is read, the file left as it is.
    int wideLength = 0;
    WCHAR* text = DecodeLines(bytes, length, &wideLength);
    free(bytes);
    char folder[PathBufferSize];
    char copy[PathBufferSize];
    DWORD folderLength = GetTempPathA(sizeof folder, folder);
    bool copied = text && folderLength > 0 && folderLength < sizeof folder && GetTempFileNameA(folder, "pmp", 0, copy)
        && WriteUtf16(copy, text, wideLength);
    free(text);
    DWORD read = copied ? GetPrivateProfileStringA(section, key, fallback, out, size, copy)
                        : GetPrivateProfileStringA(section, key, fallback, out, size, profileFile);
    if (copied)
        DeleteFileA(copy); // result deliberately ignored: a copy in the temporary folder
    return read;
}

bool PrepareProfileForWriting(const char* profileFile, const char* value)
{
    char path[PathBufferSize];
    char* bytes = nullptr;
    DWORD length = 0;
    if (!UsesUtf8())
        return true;
    if (!ProfilePath(profileFile, path, sizeof path))
        return false;
    bool made = false;
    switch (ReadWhole(path, &bytes, &length)) {
    case FileMissing: {
        if (!value || IsAscii(value, TextLength(value)))
            return true;
        const WCHAR mark = ByteOrderMark;
        made = WriteUtf16(path, &mark, 1);
        break;
    }
    case FileRead: {
        bool asIs = IsMarked(bytes, length) || (IsAscii(bytes, length) && (!value || IsAscii(value, TextLength(value))));
        if (asIs) {
            free(bytes);
            return true;
        }
        int wideLength = 0;
        WCHAR* text = DecodeLines(bytes, length, &wideLength);
        made = text && WriteUtf16(path, text, wideLength);
        free(text);
        break;
    }
    default:
        break;
    }
    free(bytes);
    LogLine(made ? "Profile: %s is now UTF-16, which every reader reads alike"
                 : "Profile: %s could not be made UTF-16",
        path);
    return made;
}
