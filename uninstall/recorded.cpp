#include "recorded.h"
#include "code_page.h"
#include "file_system.h"
#include "lines.h"
#include "names.h"
#include "path_limits.h"
#include "text.h"
#include "uninstall.h"
#include <stdlib.h>

const UninstallTables* UninstallNames = &UninstallPayload;

namespace {

UninstallTables HeldNames;

bool Grow(RecordedNames& recorded, size_t length)
{
    if (recorded.used + length + 1 > recorded.capacity) {
        size_t capacity = recorded.capacity * 2 + length + 4096;
        char* text = static_cast<char*>(realloc(recorded.text, capacity));
        if (!text)
            return false;
        recorded.text = text;
        recorded.capacity = capacity;
    }
    if (recorded.count == recorded.room) {
        int room = recorded.room * 2 + 256;
        const char** names = static_cast<const char**>(realloc(recorded.names, sizeof(char*) * size_t(room)));
        if (!names)
            return false;
        recorded.names = names;
        recorded.room = room;
    }
    return true;
}

// Names are kept as offsets until the text stops moving.
bool AddName(RecordedNames& recorded, const char* name)
{
    size_t length = TextLength(name);
    if (!Grow(recorded, length))
        return false;
    char* copy = recorded.text + recorded.used;
    for (size_t i = 0; i <= length; ++i)
        copy[i] = name[i] == '/' ? '\\' : name[i];
    recorded.names[recorded.count++] = reinterpret_cast<const char*>(recorded.used);
    recorded.used += length + 1;
    return true;
}

} // namespace

bool LoadRecordedNames(RecordedNames& recorded, const char* recordPath, const WCHAR* folderFinal)
{
    recorded = RecordedNames();
    LineReader reader;
    // Only a record that is not there at all leaves the names this uninstaller was built with.
    bool absent = GetFileAttributesA(recordPath) == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND;
    recorded.fromRecord = !absent;
    if (recorded.fromRecord && !OpenLines(reader, recordPath, folderFinal))
        return false;
    bool enough = true;
    if (recorded.fromRecord) {
        char name[PathBufferSize];
        // The folder may be writable by users: only names the packer could have given count.
        // An earlier build wrote the names in the system's code page.
        for (LineResult result; enough && (result = NextLine(reader, name, sizeof name)) != LineEnded;) {
            if (result == LineTooLong || !ReadStoredText(name, sizeof name))
                continue;
            const char* link = RecordedLinkPath(name);
            if (link && recorded.linkCount < RecordedLinkLimit) {
                CopyText(recorded.linkText[recorded.linkCount], PathBufferSize, link); // result deliberately ignored: the line fits a buffer as large
                recorded.links[recorded.linkCount] = recorded.linkText[recorded.linkCount];
                ++recorded.linkCount;
            } else if (!StoredNameProblem(name)) {
                enough = AddName(recorded, name);
            }
        }
        CloseLines(reader);
    } else {
        for (int i = 0; enough && i < UninstallNames->fileCount; ++i)
            enough = AddName(recorded, UninstallNames->fileNames[i]);
    }
    for (int i = 0; i < recorded.count; ++i)
        recorded.names[i] = recorded.text + reinterpret_cast<size_t>(recorded.names[i]);
    if (enough)
        SortPaths(recorded.names, recorded.count);
    return enough;
}

bool HoldUninstallNames()
{
    if (UsesUtf8())
        return true;
    const UninstallTables& built = UninstallPayload;
    const char** names = static_cast<const char**>(malloc(sizeof(char*) * size_t(built.fileCount + built.folderCount + 1)));
    if (!names || !HoldTexts(built.fileNames, built.fileCount, names)
        || !HoldTexts(built.folderNames, built.folderCount, names + built.fileCount)) {
        free(names);
        return false;
    }
    HeldNames = {built.fileCount, names, built.folderCount, names + built.fileCount};
    UninstallNames = &HeldNames;
    return true;
}

void FreeRecordedNames(RecordedNames& recorded)
{
    free(recorded.text);
    free(recorded.names);
    recorded = RecordedNames();
}

bool IsRecordedFile(const RecordedNames& recorded, const char* relative)
{
    return HoldsPath(recorded.names, recorded.count, relative);
}

bool IsRecordedFolder(const RecordedNames& recorded, const char* relative)
{
    return HoldsPathBelow(recorded.names, recorded.count, relative);
}
