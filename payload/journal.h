// The extraction's journal: every file it sets aside or creates, recorded and
// flushed to disk before the step is taken, so that a run ended at any
// instant can be undone by the next one. It lies in the Windows directory,
// where only administrators write, named after the product's profile file:
// pelmora.ini has the journal pelmora.ini.journal.
//
// One record per line, "CCCCCCCC K text" and CR LF, where CCCCCCCC is the
// CRC-32 of "K text" in hexadecimal:
//   F folder   the installation folder's full path, the first record
//   A name     the existing file of this stored name is renamed to the same
//              name with ".pmold" added, in its own folder
//   C name     the file of this stored name, absent so far, is created
//   D          every file was written: what was set aside may go
// A record that cannot be read in full ends the journal there: nothing after
// it is trusted.
#pragma once
#include <windows.h>
#include <stddef.h>
#include "path_limits.h"
#include "progress.h"

constexpr char JournalFolder = 'F';
constexpr char JournalSetAside = 'A';
constexpr char JournalCreated = 'C';
constexpr char JournalDone = 'D';

struct Journal {
    HANDLE file;
    // The installation folder's final path: nothing below it is written or
    // deleted unless it resolves within.
    char folderFinal[PathBufferSize];
};

// Starts the journal of a run into the folder; false when it cannot be made.
bool BeginJournal(Journal& journal, const char* folder);
// Records a step and flushes it to disk; false when that failed.
bool RecordStep(Journal& journal, char kind, const char* text);
void CloseJournal(Journal& journal);
bool JournalExists();

// Where a stored name lies: in the system directory for a system name, else
// below the folder. False when the path would not fit.
bool StoredNamePath(const char* folder, const char* name, char* out, size_t size);
// The same path with SetAsideSuffix added.
bool SetAsidePath(const char* path, char* out, size_t size);
