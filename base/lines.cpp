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

bool OpenLines(LineReader& reader, const char* path, const WCHAR* within)
{
    if (!within)
        reader.file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
            nullptr);
    else if (OpenFileWithin(path, GENERIC_READ, within, &reader.file) != OpenedFile)
        reader.file = INVALID_HANDLE_VALUE;
    reader.length = 0;
    reader.at = 0;
    reader.consumed = 0;
    return reader.file != INVALID_HANDLE_VALUE;
}

LineResult NextLine(LineReader& reader, char* line, size_t size)
{
    size_t length = 0;
    bool tooLong = false;
    bool ended = false;
    for (;;) {
        char c;
        if (!NextByte(reader, &c)) {
            ended = true;
            break;
        }
        if (c == '\n')
            break;
        if (length + 1 >= size)
            tooLong = true;
        else
            line[length++] = c;
    }
    if (ended && length == 0 && !tooLong)
        return LineEnded;
    if (length > 0 && line[length - 1] == '\r')
        --length;
    line[length] = '\0';
    if (tooLong)
        return LineTooLong;
    return ended ? LineUnended : LineRead;
}

bool ReadLine(LineReader& reader, char* line, size_t size)
{
    return NextLine(reader, line, size) == LineRead;
}

void CloseLines(LineReader& reader)
{
    CloseHandle(reader.file);
    reader.file = INVALID_HANDLE_VALUE;
}
