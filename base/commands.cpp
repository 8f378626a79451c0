#include "commands.h"
#include "text.h"

bool FormatGroupItemCommand(char* out, size_t size, const char* commandLine, const char* itemName,
    const char* folder)
{
    return FormatText(out, size, "[AddItem(\"%s\",%s,,,,,\"%s\")]", commandLine, itemName, folder);
}

bool FormatStartupItemCommand(char* out, size_t size, const char* startupCommand, const char* itemName,
    const char* folder, int minimized)
{
    return FormatText(out, size, "[AddItem(%s,%s,,,,,\"%s\",,%d)]", startupCommand, itemName, folder, minimized);
}

bool FormatQuoted(char* out, size_t size, const char* text)
{
    return FormatText(out, size, "\"%s\"", text);
}

bool FormatFolderFile(char* out, size_t size, const char* folder, const char* fileName)
{
    return FormatText(out, size, "%s\\%s", folder, fileName);
}

bool FormatFolderProgram(char* program, char* quoted, size_t size, const char* folder, const char* fileName)
{
    return FormatFolderFile(program, size, folder, fileName) && FormatQuoted(quoted, size, program);
}

bool FormatIconLocation(char* out, size_t size, const char* program)
{
    return FormatText(out, size, "%s,0", program);
}

bool FormatUninstallKey(char* out, size_t size, const char* displayName)
{
    return FormatText(out, size, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%s", displayName);
}

bool JoinArguments(char* out, size_t size, const char* const* arguments, int count)
{
    if (!CopyText(out, size, ""))
        return false;
    for (int i = 0; i < count; ++i)
        if ((i > 0 && !AppendText(out, size, " ")) || !AppendText(out, size, arguments[i]))
            return false;
    return true;
}

bool TitleMarksRunningCopy(const char* title, const char* displayName)
{
    // An empty name would mark every window; it marks none.
    if (!displayName[0])
        return false;
    for (size_t i = 0; displayName[i]; ++i)
        if (title[i] != displayName[i])
            return false;
    return true;
}
