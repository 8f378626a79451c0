#include "file_system.h"
#include "names.h"
#include "path_limits.h"
#include "text.h"

namespace {

// Compares the first count characters of each, or the whole texts with count -1.
bool SameWide(const char* a, int aLength, const char* b, int bLength)
{
    WCHAR first[PathBufferSize];
    WCHAR second[PathBufferSize];
    int firstLength = MultiByteToWideChar(CP_ACP, 0, a, aLength, first, PathBufferSize);
    int secondLength = MultiByteToWideChar(CP_ACP, 0, b, bLength, second, PathBufferSize);
    return firstLength > 0 && secondLength > 0
        && CompareStringOrdinal(first, firstLength, second, secondLength, TRUE) == CSTR_EQUAL;
}

} // namespace

bool SamePathText(const char* a, const char* b)
{
    return SameWide(a, -1, b, -1);
}

bool PathIsWithin(const char* path, const char* folder)
{
    size_t length = TextLength(folder);
    size_t pathLength = TextLength(path);
    if (length == 0 || pathLength < length)
        return false;
    if (pathLength == length)
        return SamePathText(path, folder);
    // A root such as C:\ ends in its separator already.
    bool separated = IsSeparator(folder[length - 1]) || IsSeparator(path[length]);
    return separated && SameWide(path, int(length), folder, int(length));
}

bool FinalFolderPath(const char* folder, char* out, size_t size)
{
    HANDLE handle = CreateFileA(folder, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    DWORD length = GetFinalPathNameByHandleA(handle, out, DWORD(size), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(handle);
    return length > 0 && length < size;
}

bool ResolvesWithin(const char* path, const char* folderFinal)
{
    char deepest[PathBufferSize];
    if (!CopyText(deepest, sizeof deepest, path))
        return false;
    // Walk up to the deepest folder that exists; what is below it does not yet.
    for (;;) {
        DWORD attributes = GetFileAttributesA(deepest);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            break;
        size_t separator = 0;
        bool found = false;
        for (size_t i = 0; deepest[i]; ++i)
            if (IsSeparator(deepest[i])) {
                separator = i;
                found = true;
            }
        if (!found) {
            CopyText(deepest, sizeof deepest, ".");
            break;
        }
        // A root keeps its separator: "\" or "C:\".
        bool root = separator == 0 || (separator == 2 && deepest[1] == ':');
        deepest[root ? separator + 1 : separator] = '\0';
        if (root)
            break;
    }
    char final[PathBufferSize];
    return FinalFolderPath(deepest, final, sizeof final) && PathIsWithin(final, folderFinal);
}
