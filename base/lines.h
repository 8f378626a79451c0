// Reading a text file line by line through a fixed chunk, whatever its size.
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>

constexpr DWORD LineChunkSize = 4096;

struct LineReader {
    HANDLE file;
    char chunk[LineChunkSize];
    DWORD length;
    DWORD at;
    uint64_t consumed; // bytes of the file read so far
};

bool OpenLines(LineReader& reader, const char* path);
// The next whole line, without its CR LF or LF. False at the end of the file,
// and at a line that is longer than the buffer or not ended by a line feed:
// nothing from there on is read.
bool ReadLine(LineReader& reader, char* line, size_t size);
void CloseLines(LineReader& reader);
