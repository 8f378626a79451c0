// What differs between the build machines the packer runs on, Linux and
// Windows: paths, file details, moving files, folding letters. Paths are in
// UTF-8 on both (on Windows, the packer's process code page is UTF-8).
#pragma once
#include <cstdint>
#include <string>

// Whether a path names its place without the current folder: "/x"; on
// Windows also "\x", "C:\x", "C:x" (of that drive's own current folder) and "\\server\x".
bool IsAbsolutePath(const std::string& path);
// The folder that holds a path's last name ("." when the path names none):
// where a name beside it is found by joining it after a "/". Windows also
// separates with "\", and keeps a drive's root whole ("C:\x" gives "C:\").
std::string ParentFolder(const std::string& path);
// The time (in seconds since 1970) and size of a regular file; false when the
// path names none.
bool RegularFileDetails(const std::string& path, int64_t& modified, uint64_t& size);
// Moves a file to another path, replacing the file there.
bool MoveOver(const std::string& from, const std::string& to);
// A name's letters in upper case, as names are compared; empty when the
// system could not fold them.
std::wstring UpperCase(std::wstring name);
