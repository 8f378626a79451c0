// How the file system names and compares paths: ordinally, ignoring case, and
// by the final path a handle resolves to, links and junctions followed. Every
// change below an installation folder is made through a handle whose final
// path was checked, never by a path that could lead elsewhere meanwhile.
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>

// Whether two paths, or a path's beginning, are the same names to the file
// system: converted with the ANSI code page and compared ordinally, ignoring
// case, never linguistically, with "/" and "\" alike.
bool SamePathText(const char* a, const char* b);
// The same comparison as an order: below, at or above zero. A text that
// cannot be converted compares below every other.
int ComparePathText(const char* a, const char* b);
// Whether the path is the folder or lies below it, by the same comparison.
bool PathIsWithin(const char* path, const char* folder);

// Lists of names sorted by that comparison: sorting, finding a name, and
// finding a name that lies below a folder (all relative the same way).
void SortPaths(const char** names, int count);
bool HoldsPath(const char* const* sorted, int count, const char* name);
bool HoldsPathBelow(const char* const* sorted, int count, const char* folder);

// Final paths are wide: the ANSI code page cannot name every folder.
constexpr size_t FinalPathSize = 1024;
// The final path of an open file or folder, as the system resolves it.
bool FinalPathOf(HANDLE handle, WCHAR* out, size_t count);
// The final path of an existing folder, as the system resolves it.
bool FinalFolderPath(const char* folder, WCHAR* out, size_t count);
bool SameFinalPath(const WCHAR* a, const WCHAR* b);
// A path as the file system names it: full, with long names (where it
// exists), without a trailing backslash unless it is a root. False when it
// would not fit.
bool CanonicalPath(const char* path, char* out, DWORD size);
// Whether two paths name the same file or folder by their canonical paths.
bool SamePath(const char* a, const char* b);
// Whether an open file is the one its path names, with no link or junction on
// the way: its final path is the path's full form, with long names.
bool HandleIsAtPath(HANDLE handle, const char* path);
// Whether an existing folder is the one its path names, the same way.
bool FolderIsAtPath(const char* folder);
// Whether a final path is the folder's or lies below it.
bool FinalPathIsWithin(const WCHAR* path, const WCHAR* folder);
// Where a full path leads now, as the system resolves it when it acts on it
// (at the restart too): the final path of what it names, links and junctions
// on the way followed and the last name itself not; where its end is not
// there, its deepest folder that is, resolved so, with the names below it.
// False when no part of it can be resolved, or it does not fit.
bool FinalPathNow(const char* path, WCHAR* out, size_t count);
// Whether the open file or folder lies within the folder whose final path is
// given; a null folder stands for anywhere.
bool HandleLiesWithin(HANDLE handle, const WCHAR* folderFinal);
// Whether what a path would name lies within the folder whose final path is
// given: its deepest existing folder is resolved, so a link or junction on the
// way counts where it leads.
bool ResolvesWithin(const char* path, const WCHAR* folderFinal);

enum OpenResult { OpenedFile, AbsentFile, DeniedFile, OutsideFile, FailedFile };
// Opens an existing file (a link itself, not what it leads to) for the access
// asked, sharing reading and writing, and makes sure it lies within the
// folder. DeniedFile: a program holds it, or it may not be opened so.
OpenResult OpenFileWithin(const char* path, DWORD access, const WCHAR* folderFinal, HANDLE* handle);
// A file opened with DELETE access: deleted when the handle closes, or
// renamed (never over an existing file).
bool DeleteOpenFile(HANDLE handle);
// Clears the read-only attribute of a file opened with FILE_WRITE_ATTRIBUTES.
bool ClearReadOnly(HANDLE handle);
bool RenameOpenFile(HANDLE handle, const char* newPath);
// The same, to a name in the folder open as folder, whatever path leads to
// that folder now (null: name is a full path).
bool RenameOpenFileInto(HANDLE handle, HANDLE folder, const char* name);
// Opens an existing folder that is itself no link, and keeps anyone from
// renaming or deleting it while the handle is open (so that its path keeps
// leading to it). INVALID_HANDLE_VALUE otherwise.
HANDLE OpenPlainFolder(const char* folder, DWORD access);
// Whether the open file (a link itself, not what it leads to) is a plain
// file, no link and of one name, at its path, with no link or junction on the
// way.
bool IsPlainFileAtPath(HANDLE file, const char* path);
// Whether the file at the path is missing, or is such a plain file.
bool NoFileOrPlainAtPath(const char* path);
// The open file's identity on its volume (its file index): the same however
// its path is spelled, and another for a file made since under the same name.
bool FileIdentity(HANDLE handle, uint64_t* identity);
// Whether the volume that holds the path keeps a file's identity when the
// file is renamed: FAT volumes number a file by its place in its folder.
bool KeepsIdentityOnRename(const char* path);
// Makes the names in the folder that holds the path durable: what was created,
// renamed or deleted there survives a power cut. False when that failed.
bool FlushFolderOf(const char* path);

// Whether a failed open is one the C runtime reports as access denied: a
// read-only file, or one that a running program holds open.
bool IsAccessDeniedError(DWORD error);
