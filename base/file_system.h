// How the file system names and compares paths: ordinally, ignoring case, and
// by the final path a handle resolves to, links and junctions followed.
#pragma once
#include <windows.h>
#include <stddef.h>

// Whether two paths, or a path's beginning, are the same names to the file
// system: converted with the ANSI code page and compared ordinally, ignoring
// case, never linguistically.
bool SamePathText(const char* a, const char* b);
// Whether the path is the folder or lies below it, by the same comparison.
bool PathIsWithin(const char* path, const char* folder);
// The final path of an existing folder, as the system resolves it.
bool FinalFolderPath(const char* folder, char* out, size_t size);
// Whether what a path would name lies within the folder whose final path is
// given: its deepest existing folder is resolved, so a link or junction on the
// way counts where it leads.
bool ResolvesWithin(const char* path, const char* folderFinal);
