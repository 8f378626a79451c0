// The uninstaller's final message: what stays, under headings that say why.
#pragma once
#include <stddef.h>
#include "path_limits.h"

// Room for at least one path of any length, and its "and N more" line.
constexpr size_t ListSize = 2 * PathBufferSize;

// Paths under a heading; those that do not fit are counted, never cut, and a
// path already listed is not listed again.
struct PathList {
    const char* heading;
    char text[ListSize];
    int more;
};

void AddPath(PathList& list, const char* path);
// The opening sentence, then each list that is not empty.
bool ComposeReport(char* report, size_t size, const char* opening, const PathList* lists, int count);
