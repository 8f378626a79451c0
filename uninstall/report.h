// The uninstaller's final message: what stays, under headings that say why.
#pragma once
#include <stddef.h>
#include "language.h"
#include "path_limits.h"

// Room for at least one path of any length, and its "and N more" line.
constexpr size_t ListSize = 2 * PathBufferSize;

// Paths under a heading, as the log and as the screen tells them (the same
// but for the words that name what stays); those that do not fit are
// counted, never cut, and a path already listed is not listed again.
struct PathList {
    EnglishText heading;
    char text[ListSize];
    char shown[ListSize];
    int more;
};

// Adds the path, shown as given (the path itself when null).
void AddPath(PathList& list, const char* path, const char* shown = nullptr);
// The opening sentence, then each list that is not empty, in English or as
// the screen shows it.
bool ComposeReport(char* report, size_t size, const char* opening, const PathList* lists, int count, bool shown);
