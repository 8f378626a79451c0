// Buffer sizes and the platform's path limits, shared by the programs and the
// packer: plain C++, no Win32.
#pragma once
#include <stddef.h>

// Paths, commands and messages are formatted into buffers of this size.
constexpr int PathBufferSize = 1024;
// What the ANSI file functions take, with the terminating zero (MAX_PATH).
constexpr size_t FilePathLimit = 260;
// What CreateDirectoryA takes, with the terminating zero: MAX_PATH less room for an 8.3 name.
constexpr size_t FolderPathLimit = 248;
