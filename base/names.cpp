#include "names.h"
#include "path_limits.h"
#include "text.h"

namespace {

bool StartsWith(const char* text, const char* prefix, size_t length)
{
    for (size_t i = 0; i < length; ++i)
        if (text[i] != prefix[i])
            return false;
    return true;
}

} // namespace

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

bool IsSystemName(const char* name)
{
    return StartsWith(name, "SYSTEM\\", SystemPrefixLength) || StartsWith(name, "SYSTEM/", SystemPrefixLength);
}

size_t BrokenNameLimit(const char* folder, const char* name)
{
    char path[FilePathLimit];
    if (!FormatText(path, sizeof path, "%s\\%s", folder, name))
        return FilePathLimit;
    // Cut the file's name off: what is left is the deepest folder the name needs.
    size_t end = 0;
    for (size_t i = 0; path[i]; ++i)
        if (IsSeparator(path[i]))
            end = i;
    path[end] = '\0';
    size_t folderLength = TextLength(path);
    // The installation folder itself is not made by the extraction.
    if (folderLength <= TextLength(folder))
        return 0;
    return folderLength < FolderPathLimit ? 0 : FolderPathLimit;
}
