// What the setup wrote, as its record in the installation folder names it:
// every name that the packer's rules allow, its separators made backslashes,
// sorted as the file system compares names. Without a record (an
// installation by a setup that kept none), the names this uninstaller was
// built with stand in.
#pragma once
#include <stddef.h>
#include <windows.h>
#include "path_limits.h"

// The links outside the folder a record may name (a Startup item for each
// user who installed): beyond this many, the rest are not read.
constexpr int RecordedLinkLimit = 16;

struct RecordedNames {
    char* text;          // the names, each ended by a zero
    size_t used;
    size_t capacity;
    const char** names;  // into text, sorted
    int count;
    int room;
    bool fromRecord;
    // The links the record names, each a full path.
    char linkText[RecordedLinkLimit][PathBufferSize];
    const char* links[RecordedLinkLimit];
    int linkCount;
};

// False when the record is there but cannot be read (or lies out of the
// folder whose final path is given), or memory ran out.
bool LoadRecordedNames(RecordedNames& recorded, const char* recordPath, const WCHAR* folderFinal);
void FreeRecordedNames(RecordedNames& recorded);
bool IsRecordedFile(const RecordedNames& recorded, const char* relative);
// Whether a recorded name lies below the folder (relative, without a trailing separator).
bool IsRecordedFolder(const RecordedNames& recorded, const char* relative);
