#include "lines.h"

namespace {

bool NextByte(LineReader& reader, char* c)
{
    if (reader.at == reader.length) {
        reader.at = 0;
        if (!ReadFile(reader.file, reader.chunk, LineChunkSize, &reader.length, nullptr) || reader.length == 0) {
            reader.length = 0;
            return false;
        }
    }
    *c = reader.chunk[reader.at++];
    ++reader.consumed;
    return true;
}

} // namespace

bool OpenLines(LineReader& reader, const char* path)
{
    reader.file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
        nullptr);
    reader.length = 0;
    reader.at = 0;
    reader.consumed = 0;
    return reader.file != INVALID_HANDLE_VALUE;
}

bool ReadLine(LineReader& reader, char* line, size_t size)
{
    size_t length = 0;
    for (;;) {
        char c;
        if (!NextByte(reader, &c))
            return false;
        if (c == '\n')
            break;
        if (length + 1 >= size)
            return false;
        line[length++] = c;
    }
    if (length > 0 && line[length - 1] == '\r')
        --length;
    line[length] = '\0';
    return true;
}

void CloseLines(LineReader& reader)
{
    CloseHandle(reader.file);
    reader.file = INVALID_HANDLE_VALUE;
}
