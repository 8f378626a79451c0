#include "journal.h"
#include "commands.h"
#include "file_system.h"
#include "names.h"
#include "payload.h"
#include "product.h"
#include "text.h"
#include <zlib.h>


namespace {

constexpr size_t CrcDigits = 8;
// A record: the CRC, a blank, the kind, a blank, a path, CR LF.
constexpr size_t RecordSize = CrcDigits + 3 + PathBufferSize + 2;
constexpr DWORD ChunkSize = 4096;

bool JournalPath(char* out, size_t size)
{
    char windows[PathBufferSize];
    UINT length = GetWindowsDirectoryA(windows, sizeof windows);
    return length > 0 && length < sizeof windows
        && FormatText(out, size, "%s\\%s.journal", windows, ProductConfig.profileFile);
}

unsigned long RecordCrc(const char* body, size_t length)
{
    return crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(body), uInt(length));
}

void WriteHex(char* out, unsigned long value)
{
    const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < CrcDigits; ++i)
        out[i] = digits[(value >> (4 * (CrcDigits - 1 - i))) & 0xf];
}

bool ReadHex(const char* text, unsigned long* value)
{
    *value = 0;
    for (size_t i = 0; i < CrcDigits; ++i) {
        char c = text[i];
        int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0)
            return false;
        *value = (*value << 4) | unsigned(digit);
    }
    return true;
}

// Reads a journal record by record, from a fixed chunk.
struct JournalReader {
    HANDLE file;
    char chunk[ChunkSize];
    DWORD length;
    DWORD at;
    uint64_t consumed;
};

bool NextByte(JournalReader& reader, char* c)
{
    if (reader.at == reader.length) {
        reader.at = 0;
        if (!ReadFile(reader.file, reader.chunk, ChunkSize, &reader.length, nullptr) || reader.length == 0) {
            reader.length = 0;
            return false;
        }
    }
    *c = reader.chunk[reader.at++];
    ++reader.consumed;
    return true;
}

// The next whole record whose CRC matches: its kind and text. False at the
// end, and at the first record that is cut off, too long or damaged.
bool ReadRecord(JournalReader& reader, char* kind, char* text, size_t size)
{
    char line[RecordSize];
    size_t length = 0;
    for (;;) {
        char c;
        if (!NextByte(reader, &c))
            return false;
        if (c == '\n')
            break;
        if (length + 1 >= sizeof line)
            return false;
        line[length++] = c;
    }
    if (length < CrcDigits + 2 || line[length - 1] != '\r' || line[CrcDigits] != ' ')
        return false;
    line[--length] = '\0';
    const char* body = line + CrcDigits + 1;
    unsigned long crc;
    if (!ReadHex(line, &crc) || crc != RecordCrc(body, length - CrcDigits - 1))
        return false;
    *kind = body[0];
    if (body[1] == '\0')
        return CopyText(text, size, "");
    return body[1] == ' ' && CopyText(text, size, body + 2);
}

// The next record that can be trusted: whole, of a known kind, and naming a
// file only as the packer may name one.
bool NextTrustedRecord(JournalReader& reader, char* kind, char* text, size_t size)
{
    if (!ReadRecord(reader, kind, text, size))
        return false;
    if (*kind == JournalDone)
        return true;
    return (*kind == JournalSetAside || *kind == JournalCreated) && !StoredNameProblem(text);
}

bool OpenReader(JournalReader& reader, const char* path)
{
    reader.file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
        nullptr);
    reader.length = 0;
    reader.at = 0;
    reader.consumed = 0;
    return reader.file != INVALID_HANDLE_VALUE;
}

bool Exists(const char* path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool DeleteIfPresent(const char* path)
{
    if (!Exists(path))
        return true;
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL); // a read-only file is deleted all the same
    return DeleteFileA(path) != 0;
}

// A file the run wrote that a program now runs from cannot be deleted, but it
// can be renamed out of the way and go at the next restart.
bool RemoveOrMoveAway(const char* path)
{
    if (DeleteIfPresent(path))
        return true;
    char away[PathBufferSize];
    if (!FormatText(away, sizeof away, "%s%s", path, MovedAwaySuffix) || Exists(away) || !MoveFileExA(path, away, 0))
        return false;
    MoveFileExA(away, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT); // result deliberately ignored: a leftover is harmless
    return true;
}

// What a journal says of its run, read to its first unreadable record.
struct JournalSummary {
    char folder[PathBufferSize];
    bool done;
    uint64_t size;
};

bool Summarise(const char* path, JournalSummary& summary)
{
    JournalReader reader;
    if (!OpenReader(reader, path))
        return false;
    char kind = 0;
    summary.done = false;
    summary.folder[0] = '\0';
    bool named = ReadRecord(reader, &kind, summary.folder, sizeof summary.folder) && kind == JournalFolder;
    char text[PathBufferSize];
    while (named && NextTrustedRecord(reader, &kind, text, sizeof text))
        summary.done = summary.done || kind == JournalDone;
    LARGE_INTEGER size = {};
    GetFileSizeEx(reader.file, &size);
    summary.size = uint64_t(size.QuadPart);
    CloseHandle(reader.file);
    if (!named)
        summary.folder[0] = '\0';
    return true;
}

bool SameFolder(const char* a, const char* b)
{
    char first[PathBufferSize];
    char second[PathBufferSize];
    if (FinalFolderPath(a, first, sizeof first) && FinalFolderPath(b, second, sizeof second))
        return SamePathText(first, second);
    return SamePathText(a, b);
}

// Undoes one step of an unfinished run, or finishes one of a finished run;
// false when a deletion or the renaming back failed.
bool SettleStep(const JournalSummary& summary, const char* folderFinal, char kind, const char* name)
{
    char path[PathBufferSize];
    char aside[PathBufferSize];
    if (!StoredNamePath(summary.folder, name, path, sizeof path) || !SetAsidePath(path, aside, sizeof aside))
        return true; // no file function could name it, so no step could have made it
    // A link or junction put in the folder's place is never followed out of it.
    if (!IsSystemName(name) && (!folderFinal[0] || !ResolvesWithin(path, folderFinal)))
        return true;
    if (summary.done) {
        if (kind != JournalSetAside || DeleteIfPresent(aside))
            return true;
        MoveFileExA(aside, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT); // result deliberately ignored: a leftover is harmless
        return true;
    }
    if (kind == JournalCreated)
        return RemoveOrMoveAway(path);
    if (kind != JournalSetAside || !Exists(aside))
        return true;
    return RemoveOrMoveAway(path) && MoveFileExA(aside, path, 0);
}

} // namespace

bool StoredNamePath(const char* folder, const char* name, char* out, size_t size)
{
    if (!IsSystemName(name))
        return FormatFolderFile(out, size, folder, name);
    UINT length = GetSystemDirectoryA(out, UINT(size));
    if (length == 0 || length >= size)
        return false;
    if (!IsSeparator(out[length - 1]) && !AppendText(out, size, "\\"))
        return false;
    return AppendText(out, size, name + SystemPrefixLength);
}

bool SetAsidePath(const char* path, char* out, size_t size)
{
    return FormatText(out, size, "%s%s", path, SetAsideSuffix);
}

bool JournalExists()
{
    char path[PathBufferSize];
    return JournalPath(path, sizeof path) && Exists(path);
}

bool BeginJournal(Journal& journal, const char* folder)
{
    char path[PathBufferSize];
    if (!JournalPath(path, sizeof path) || !FinalFolderPath(folder, journal.folderFinal, sizeof journal.folderFinal))
        return false;
    journal.file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
        nullptr);
    if (journal.file == INVALID_HANDLE_VALUE)
        return false;
    if (RecordStep(journal, JournalFolder, folder))
        return true;
    CloseJournal(journal);
    DeleteFileA(path); // result deliberately ignored: a journal without its folder record undoes nothing
    return false;
}

bool RecordStep(Journal& journal, char kind, const char* text)
{
    char line[RecordSize];
    char* body = line + CrcDigits + 1;
    size_t bodySize = sizeof line - CrcDigits - 1;
    const char kindText[] = {kind, '\0'};
    bool formatted = kind == JournalDone ? FormatText(body, bodySize, "%s", kindText)
                                         : FormatText(body, bodySize, "%s %s", kindText, text);
    if (!formatted)
        return false;
    size_t bodyLength = TextLength(body);
    WriteHex(line, RecordCrc(body, bodyLength));
    line[CrcDigits] = ' ';
    if (!AppendText(body, bodySize, "\r\n"))
        return false;
    DWORD length = DWORD(CrcDigits + 1 + bodyLength + 2);
    DWORD written = 0;
    return WriteFile(journal.file, line, length, &written, nullptr) && written == length
        && FlushFileBuffers(journal.file);
}

void CloseJournal(Journal& journal)
{
    CloseHandle(journal.file);
    journal.file = INVALID_HANDLE_VALUE;
}

int SettleJournal(const char* onlyFor, HWND dialog, ProgressSink sink)
{
    char path[PathBufferSize];
    JournalSummary summary;
    if (!JournalPath(path, sizeof path) || !Summarise(path, summary))
        return ExtractDone;
    if (onlyFor && summary.folder[0] && !SameFolder(summary.folder, onlyFor))
        return ExtractDone;
    char folderFinal[PathBufferSize] = "";
    if (summary.folder[0] && !FinalFolderPath(summary.folder, folderFinal, sizeof folderFinal))
        folderFinal[0] = '\0';

    JournalReader reader;
    if (!OpenReader(reader, path))
        return 0;
    bool settled = true;
    char kind = 0;
    char text[PathBufferSize];
    // The folder record first; without it nothing was done.
    if (ReadRecord(reader, &kind, text, sizeof text) && kind == JournalFolder) {
        while (NextTrustedRecord(reader, &kind, text, sizeof text)) {
            if (kind == JournalDone)
                continue;
            if (sink)
                sink(dialog, text, summary.size ? int(reader.consumed * 100 / summary.size) : 0);
            settled = SettleStep(summary, folderFinal, kind, text) && settled;
        }
    }
    CloseHandle(reader.file);
    if (!settled || !DeleteFileA(path))
        return 0;
    if (sink)
        sink(dialog, "", 100);
    return ExtractDone;
}
