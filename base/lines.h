// Reading a text file line by line through a fixed chunk, whatever its size.
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>
#include "file_system.h"

constexpr DWORD LineChunkSize = 4096;

struct LineReader {
    HANDLE file;
    char chunk[LineChunkSize];
    DWORD length;
    DWORD at;
    uint64_t consumed; // bytes of the file read so far
};

// With within, only a file whose final path lies within that folder is read:
// a link in its place is not followed.
bool OpenLines(LineReader& reader, const char* path, const WCHAR* within = nullptr);

enum LineResult { LineRead, LineEnded, LineTooLong, LineUnended };
// The next line, without its CR LF or LF: LineRead. LineEnded at the end of
// the file; LineTooLong for a line longer than the buffer (read past, not
// returned); LineUnended for a last line without its line feed (returned).
LineResult NextLine(LineReader& reader, char* line, size_t size);
// Only whole lines: false at the end and at the first line that is not one.
bool ReadLine(LineReader& reader, char* line, size_t size);
void CloseLines(LineReader& reader);
