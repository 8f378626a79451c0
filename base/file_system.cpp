#include "file_system.h"
#include "names.h"
#include "path_limits.h"
#include "run.h"
#include "text.h"
#include <stdlib.h>
#include <winternl.h>

namespace {

// CompareStringOrdinal's answer on the first aLength and bLength characters
// (-1: the whole text), ignoring case; 0 when a text cannot be converted.
int CompareWide(const char* a, int aLength, const char* b, int bLength)
{
    WCHAR first[PathBufferSize];
    WCHAR second[PathBufferSize];
    int firstLength = MultiByteToWideChar(CP_ACP, 0, a, aLength, first, PathBufferSize);
    int secondLength = MultiByteToWideChar(CP_ACP, 0, b, bLength, second, PathBufferSize);
    if ((aLength != 0 && firstLength == 0) || (bLength != 0 && secondLength == 0))
        return 0;
    // With -1 the converted length counts the terminating zero, which is not compared.
    firstLength -= aLength < 0 ? 1 : 0;
    secondLength -= bLength < 0 ? 1 : 0;
    // The file functions take either separator for the other.
    for (int i = 0; i < firstLength; ++i)
        first[i] = first[i] == L'/' ? L'\\' : first[i];
    for (int i = 0; i < secondLength; ++i)
        second[i] = second[i] == L'/' ? L'\\' : second[i];
    return CompareStringOrdinal(first, firstLength, second, secondLength, TRUE);
}

bool IsWideSeparator(WCHAR c)
{
    return c == L'\\' || c == L'/';
}

} // namespace

bool FinalPathIsWithin(const WCHAR* path, const WCHAR* folder)
{
    int length = lstrlenW(folder);
    int pathLength = lstrlenW(path);
    if (length == 0 || pathLength < length)
        return false;
    // A root such as \\?\C:\ ends in its separator already.
    bool separated = pathLength == length || IsWideSeparator(folder[length - 1]) || IsWideSeparator(path[length]);
    return separated && CompareStringOrdinal(path, length, folder, length, TRUE) == CSTR_EQUAL;
}

bool FinalPathNow(const char* path, WCHAR* out, size_t count)
{
    char part[PathBufferSize];
    if (!path[0] || !CopyText(part, sizeof part, path))
        return false;
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
    for (size_t end = TextLength(part);;) {
        HANDLE handle = CreateFileA(part, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, flags, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            bool resolved = FinalPathOf(handle, out, count);
            CloseHandle(handle);
            // The names below the part resolved follow it, after one separator.
            size_t used = resolved ? size_t(lstrlenW(out)) : 0;
            const char* below = path + end;
            below += IsSeparator(*below) ? 1 : 0;
            if (used > 0 && *below && !IsWideSeparator(out[used - 1]))
                out[used++] = L'\\';
            return resolved && used < count
                && (!*below || MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, below, -1, out + used, int(count - used)) > 0);
        }
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            return false;
        // Up one name; the folders on the way are followed wherever they lead.
        flags = FILE_FLAG_BACKUP_SEMANTICS;
        size_t separator = FolderPartLength(part, end);
        // A root keeps its separator ("C:\\"), and is the last part tried.
        if (separator < 2 || separator == end)
            return false;
        end = separator == 3 && part[1] == ':' ? separator : separator - 1;
        part[end] = '\0';
    }
}

namespace {

int ComparePathPointers(const void* a, const void* b)
{
    return ComparePathText(*static_cast<const char* const*>(a), *static_cast<const char* const*>(b));
}

// The first sorted name not below the text.
int LowerBound(const char* const* sorted, int count, const char* text)
{
    int low = 0;
    int high = count;
    while (low < high) {
        int middle = low + (high - low) / 2;
        if (ComparePathText(sorted[middle], text) < 0)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

// An existing folder, opened only to ask where it is.
HANDLE OpenFolderToQuery(const char* folder)
{
    return CreateFileA(folder, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

} // namespace

bool FinalPathOf(HANDLE handle, WCHAR* out, size_t count)
{
    DWORD length = GetFinalPathNameByHandleW(handle, out, DWORD(count), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    return length > 0 && length < count;
}

int ComparePathText(const char* a, const char* b)
{
    return CompareWide(a, -1, b, -1) - CSTR_EQUAL;
}

bool SamePathText(const char* a, const char* b)
{
    return CompareWide(a, -1, b, -1) == CSTR_EQUAL;
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
    return separated && CompareWide(path, int(length), folder, int(length)) == CSTR_EQUAL;
}

void SortPaths(const char** names, int count)
{
    qsort(names, size_t(count), sizeof(char*), ComparePathPointers);
}

bool HoldsPath(const char* const* sorted, int count, const char* name)
{
    int at = LowerBound(sorted, count, name);
    return at < count && SamePathText(sorted[at], name);
}

bool HoldsPathBelow(const char* const* sorted, int count, const char* folder)
{
    // Names below the folder sort together, from the folder and its separator on.
    char prefix[PathBufferSize];
    if (!FormatText(prefix, sizeof prefix, "%s\\", folder))
        return false;
    int at = LowerBound(sorted, count, prefix);
    return at < count && PathIsWithin(sorted[at], folder) && TextLength(sorted[at]) > TextLength(folder);
}

bool FinalFolderPath(const char* folder, WCHAR* out, size_t count)
{
    HANDLE handle = OpenFolderToQuery(folder);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    bool found = FinalPathOf(handle, out, count);
    CloseHandle(handle);
    return found;
}

bool CanonicalPath(const char* path, char* out, DWORD size)
{
    char full[PathBufferSize];
    DWORD length = GetFullPathNameA(path, sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full)
        return false;
    // A path that does not exist keeps the names it was given.
    length = GetLongPathNameA(full, out, size);
    if (length >= size || (length == 0 && !CopyText(out, size, full)))
        return false;
    length = DWORD(TextLength(out));
    if (length > 3 && out[length - 1] == '\\')
        out[length - 1] = '\0';
    return true;
}

bool SamePath(const char* a, const char* b)
{
    char first[PathBufferSize];
    char second[PathBufferSize];
    return CanonicalPath(a, first, sizeof first) && CanonicalPath(b, second, sizeof second)
        && SamePathText(first, second);
}

bool HandleIsAtPath(HANDLE handle, const char* path)
{
    char longPath[PathBufferSize];
    WCHAR named[FinalPathSize];
    WCHAR final[FinalPathSize];
    if (!CanonicalPath(path, longPath, sizeof longPath)
        || MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, longPath, -1, named, FinalPathSize) == 0
        || !FinalPathOf(handle, final, FinalPathSize))
        return false;
    // The final path is "\\?\C:\x" for "C:\x", and "\\?\UNC\server\share" for "\\server\share".
    const WCHAR* resolved = final;
    const WCHAR* given = named;
    if (CompareStringOrdinal(final, 8, L"\\\\?\\UNC\\", 8, TRUE) == CSTR_EQUAL) {
        resolved += 8;
        given += 2;
    } else if (CompareStringOrdinal(final, 4, L"\\\\?\\", 4, TRUE) == CSTR_EQUAL) {
        resolved += 4;
    }
    return CompareStringOrdinal(resolved, -1, given, -1, TRUE) == CSTR_EQUAL;
}

bool FolderIsAtPath(const char* folder)
{
    HANDLE handle = OpenFolderToQuery(folder);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    bool at = HandleIsAtPath(handle, folder);
    CloseHandle(handle);
    return at;
}

bool SameFinalPath(const WCHAR* a, const WCHAR* b)
{
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

bool HandleLiesWithin(HANDLE handle, const WCHAR* folderFinal)
{
    WCHAR final[FinalPathSize];
    return !folderFinal || (FinalPathOf(handle, final, FinalPathSize) && FinalPathIsWithin(final, folderFinal));
}

bool ResolvesWithin(const char* path, const WCHAR* folderFinal)
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
        // A root keeps its separator: "\\" or "C:\\".
        bool root = separator == 0 || (separator == 2 && deepest[1] == ':');
        deepest[root ? separator + 1 : separator] = '\0';
        if (root)
            break;
    }
    WCHAR final[FinalPathSize];
    return FinalFolderPath(deepest, final, FinalPathSize) && FinalPathIsWithin(final, folderFinal);
}

OpenResult OpenFileWithin(const char* path, DWORD access, const WCHAR* folderFinal, HANDLE* handle)
{
    *handle = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
        FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (*handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return AbsentFile;
        return IsAccessDeniedError(error) ? DeniedFile : FailedFile;
    }
    if (HandleLiesWithin(*handle, folderFinal))
        return OpenedFile;
    CloseHandle(*handle);
    *handle = INVALID_HANDLE_VALUE;
    return OutsideFile;
}

bool ClearReadOnly(HANDLE handle)
{
    FILE_BASIC_INFO basic = {};
    if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic))
        return false;
    if (!(basic.FileAttributes & FILE_ATTRIBUTE_READONLY))
        return true;
    basic.FileAttributes &= ~DWORD(FILE_ATTRIBUTE_READONLY);
    basic.FileAttributes |= basic.FileAttributes ? 0 : FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic) != 0;
}

bool DeleteOpenFile(HANDLE handle)
{
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

bool RenameOpenFileInto(HANDLE handle, HANDLE root, const char* name)
{
    // The structure ends in the name's first character: room for the rest.
    size_t size = sizeof(FILE_RENAME_INFO) + PathBufferSize * sizeof(WCHAR);
    FILE_RENAME_INFO* rename = static_cast<FILE_RENAME_INFO*>(calloc(1, size));
    if (!rename)
        return false;
    int characters = MultiByteToWideChar(CP_ACP, 0, name, -1, rename->FileName, PathBufferSize);
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = root;
    rename->FileNameLength = DWORD(characters > 0 ? characters - 1 : 0) * sizeof(WCHAR);
    // Windows' own call takes the name for a path from the current folder: relative to a folder, the
    // system call it makes takes the same structure.
    IO_STATUS_BLOCK status;
    bool renamed = characters > 0
        && (root ? NT_SUCCESS(NtSetInformationFile(handle, &status, rename, ULONG(size), FileRenameInformation))
                 : SetFileInformationByHandle(handle, FileRenameInfo, rename, DWORD(size)) != 0);
    free(rename);
    return renamed;
}

bool RenameOpenFile(HANDLE handle, const char* newPath)
{
    char full[PathBufferSize];
    DWORD length = GetFullPathNameA(newPath, sizeof full, full, nullptr);
    return length > 0 && length < sizeof full && RenameOpenFileInto(handle, nullptr, full);
}

HANDLE OpenPlainFolder(const char* folder, DWORD access)
{
    HANDLE handle = CreateFileA(folder, access | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return handle;
    FILE_BASIC_INFO basic = {};
    if (GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)
        && (basic.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == FILE_ATTRIBUTE_DIRECTORY)
        return handle;
    CloseHandle(handle);
    return INVALID_HANDLE_VALUE;
}

bool NoFileOrPlainAtPath(const char* path)
{
    HANDLE file = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    bool plain = IsPlainFileAtPath(file, path);
    CloseHandle(file);
    return plain;
}

bool IsPlainFileAtPath(HANDLE file, const char* path)
{
    BY_HANDLE_FILE_INFORMATION information;
    return GetFileInformationByHandle(file, &information)
        && !(information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))
        && information.nNumberOfLinks == 1 && HandleIsAtPath(file, path);
}

// The file index alone: GetFileInformationByHandle also asks for the volume's
// serial number, which under Wine is a round trip to its mount manager (half
// a millisecond a file, against 3 microseconds for this).
bool FileIdentity(HANDLE handle, uint64_t* identity)
{
    FILE_INTERNAL_INFORMATION information;
    IO_STATUS_BLOCK status;
    if (!NT_SUCCESS(NtQueryInformationFile(handle, &status, &information, sizeof information, FileInternalInformation)))
        return false;
    *identity = uint64_t(information.IndexNumber.QuadPart);
    return true;
}

bool KeepsIdentityOnRename(const char* path)
{
    char root[PathBufferSize];
    char system[MAX_PATH + 1];
    if (!GetVolumePathNameA(path, root, sizeof root)
        || !GetVolumeInformationA(root, nullptr, 0, nullptr, nullptr, nullptr, system, sizeof system))
        return false;
    // FAT, FAT32 and exFAT, as Windows names them.
    return !(system[0] == 'F' && system[1] == 'A' && system[2] == 'T') && !TextEquals(system, "exFAT");
}

bool FlushFolderOf(const char* path)
{
    char folder[PathBufferSize];
    DWORD length = GetFullPathNameA(path, sizeof folder, folder, nullptr);
    if (length == 0 || length >= sizeof folder)
        return false;
    folder[FolderPartLength(folder, length)] = '\0';
    HANDLE handle = CreateFileA(folder, FILE_ADD_FILE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    bool flushed = handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle);
    DWORD error = GetLastError();
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
    // A file system that cannot open or flush a folder (a network share may
    // refuse it) keeps its entries by its own means: only a failure to write fails.
    bool refused = error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_PARAMETER
        || error == ERROR_ACCESS_DENIED;
    if (!flushed)
        LogLine("Not flushed (error %d): the names in %s", int(error), folder);
    return flushed || refused;
}

bool IsAccessDeniedError(DWORD error)
{
    switch (error) {
    case 5: case 16: case 65: case 82: case 83: case 108: case 132: case 158: case 167:
        return true;
    default:
        return error >= 19 && error <= 36;
    }
}
