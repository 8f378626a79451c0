// The extraction's journal: every file it sets aside or creates, recorded and
// flushed to disk before the step is taken, so that a run ended at any
// instant can be undone by the next one. It lies in the system's Windows
// directory, where only administrators write, named after the product's
// profile file: pelmora.ini has the journal pelmora.ini.journal.
//
// One record per line, "CCCCCCCC K text" and CR LF, where CCCCCCCC is the
// Adler-32 checksum of "K text" in hexadecimal (libdeflate's, the checksum
// of zlib streams; a CRC-32's tables would not fit the uninstaller's size):
//   F folder TAB final   the installation folder's full path, and the final
//                        path the system resolved it to (UTF-8); the first record
//   A d name             the existing file of this stored name is renamed in its
//                        own folder to its name with ".pmold" added (d is 0) or
//                        ".d.pmold" (d is 1 to 9): the first of these that is free
//   C name               the file of this stored name, absent so far, is created
//   D                    every file was written: what was set aside may go
// A record that cannot be read in full ends the journal there: nothing after
// it is trusted.
#pragma once
#include <windows.h>
#include <stddef.h>
#include "file_system.h"
#include "path_limits.h"
#include "progress.h"

constexpr char JournalFolder = 'F';
constexpr char JournalSetAside = 'A';
constexpr char JournalCreated = 'C';
constexpr char JournalDone = 'D';

struct Journal {
    HANDLE file;
    int records; // written by this run
    // The installation folder's final path: nothing below it is written or
    // deleted unless it lies within.
    WCHAR folderFinal[FinalPathSize];
    // The last folder found to lie within, as the names spell it ("." for the folder itself).
    char checkedFolder[PathBufferSize];
};

// Starts the journal of a run into the folder; false when it cannot be made.
bool BeginJournal(Journal& journal, const char* folder);
// Records a step and flushes it to disk; false when that failed.
bool RecordStep(Journal& journal, char kind, const char* text);
// Records that every file was written. False when that record may not be on
// disk: it is then taken back, and never counts as done for this process.
bool RecordDone(Journal& journal);
// For the tests: the flushes of records of these kinds fail after their
// writes succeeded, as on a disk that fails; JournalDoneTakenBack stands for
// the flush that takes a done record back.
extern const char* JournalFlushesFailFor;
constexpr char JournalDoneTakenBack = 'd';
// Set when this run's done record could not be taken back for certain: this
// process then leaves its journal to the next run (which a test plays by
// clearing it).
extern bool JournalDoneUncertain;
// For the tests: the run ends at its record of this number (the folder's
// record is the first), as if the power went: before the record is written,
// or with JournalEndsAfterWriting once it is on disk, before its step. 0 for none.
extern int JournalEndsAtRecord;
extern bool JournalEndsAfterWriting;
void CloseJournal(Journal& journal);

// Whether the folders on the file's way may be made: none is made through a
// link or junction that leads out of the folder.
bool MayWrite(Journal& journal, const char* name, const char* target);

enum Preparation { Prepared, Skipped, Refused };
// Makes way for the file of a stored name at target: an existing file is
// renamed aside so that a rollback can put it back as it was; a file that
// cannot be written (held open, read-only) is skipped and never touched; a
// folder in its place is refused. Each step is journaled first. With aside,
// the name the existing file now has (empty when there was none).
Preparation MakeWay(Journal& journal, const char* name, const char* target, char* aside = nullptr,
    size_t asideSize = 0);
// Creates the file that MakeWay made way for, within the folder; an invalid
// handle when it cannot be.
HANDLE CreateNewFile(const Journal& journal, const char* name, const char* target);

// Where a stored name lies: in the system directory for a system name, else
// below the folder. False when the path would not fit.
bool StoredNamePath(const char* folder, const char* name, char* out, size_t size);
// The longest name a file of the folder takes while it is set aside or moved away.
bool LongestSetAsideName(const char* name, char* out, size_t size);
