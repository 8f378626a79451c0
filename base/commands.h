// The texts the shell steps send or store, built without side effects.
#pragma once
#include <stddef.h>

// The name of the product group's item that starts the uninstaller.
constexpr char UninstallItemName[] = "Uninstall";

bool FormatGroupItemCommand(char* out, size_t size, const char* commandLine, const char* itemName,
    const char* folder);
bool FormatStartupItemCommand(char* out, size_t size, const char* startupCommand, const char* itemName,
    const char* folder, int minimized);
bool FormatQuoted(char* out, size_t size, const char* text);
bool FormatFolderFile(char* out, size_t size, const char* folder, const char* fileName);
// A program in the installation folder: its path, and the quoted form that is
// its argument zero. Both buffers have the given size.
bool FormatFolderProgram(char* program, char* quoted, size_t size, const char* folder, const char* fileName);
// An icon location: the program's first icon, its index after the last comma,
// so that a comma in the path is never taken for one.
bool FormatIconLocation(char* out, size_t size, const char* program);
bool FormatUninstallKey(char* out, size_t size, const char* displayName);
// Arguments joined by single blanks, with nothing added, quoted or escaped.
bool JoinArguments(char* out, size_t size, const char* const* arguments, int count);
// Whether a window title marks a running copy of the product.
bool TitleMarksRunningCopy(const char* title, const char* displayName);
