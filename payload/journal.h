// The extraction's journal: a run's steps as data, each recorded and flushed
// to disk before it is taken, so that a run ended at any instant can be undone
// by the next one. It lies in the system's Windows directory, where only
// administrators write, named after the product's profile file: pelmora.ini
// has the journal pelmora.ini.journal.
//
// A run writes every new file under its staged name beside its place, then
// commits them all: each earlier file is set aside and the staged file renamed
// into its place. Nothing is ever written over, and an undo deletes only the
// staged files and the files the journal proves the run's own by their
// identity, never by their path alone.
//
// One record per line, "CCCCCCCC K text" and CR LF, where CCCCCCCC is the
// Adler-32 checksum of "K text" in hexadecimal (libdeflate's, the checksum
// of zlib streams; a CRC-32's tables would not fit the uninstaller's size):
//   F folder TAB final   the installation folder's full path, and the final
//                        path the system resolved it to (UTF-8); the first record
//   S s name             the new file of this stored name is created as its
//                        staged name: ".pmnew" added (s is 0) or ".s.pmnew"
//                        (s is 1 to 9), the first of these that is free
//   M s a identity name  the staged file s, of this identity (16 hexadecimal
//                        digits; 0 on a volume where a rename may change it),
//                        is renamed to the name; the earlier file there is
//                        first renamed to ".pmold" added (a is 0) or ".a.pmold"
//                        (1 to 9), or a is "-" when there was none
//   R s name             the file at the name is held open: the staged file s
//                        replaces it when Windows restarts, scheduled only once
//                        the run is done (when its journal is settled)
//   D                    every file was committed: what was set aside may go
// An earlier build wrote "A a name" (set aside as above) and "C name" (created
// in place); such a journal is settled as that build settled it.
// A record that cannot be read in full ends the journal there: nothing after
// it is trusted.
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>
#include "file_system.h"
#include "path_limits.h"
#include "progress.h"

constexpr char JournalFolder = 'F';
constexpr char JournalStaged = 'S';
constexpr char JournalCommitted = 'M';
constexpr char JournalAtRestart = 'R';
constexpr char JournalDone = 'D';
constexpr char JournalSetAside = 'A';
constexpr char JournalCreated = 'C';
constexpr int NoSuffix = -1;

struct Journal {
    HANDLE file;
    int records; // written by this run
    int steps;   // taken by this run
    // Whether the folder's volume keeps a file's identity when it is renamed.
    bool identities;
    // Whether a held file may be left for the restart to replace: only where
    // no one but administrators may put a link in a folder's place meanwhile.
    bool replacesAtRestart;
    // The installation folder's final path: nothing below it is written or
    // deleted unless it lies within.
    WCHAR folderFinal[FinalPathSize];
    // The last folder found to lie within, as the names spell it ("." for the folder itself).
    char checkedFolder[PathBufferSize];
    // The run's stored names, sorted as the file system compares them: the
    // suffixed names one of them takes first ("x.1" takes "x.1.pmnew") no
    // other file of the run takes.
    const char* const* names;
    int nameCount;
};

// A step of the run: staging a file, or committing a staged one.
struct JournalStep {
    char kind;         // JournalStaged, JournalCommitted or JournalAtRestart
    int staged;        // the staged name's suffix number
    int aside;         // the set-aside name's suffix number, or NoSuffix
    uint64_t identity; // the staged file's; 0 where a rename may change it
    const char* name;  // the stored name
    bool held;         // the file at its place is held open: committed at the restart
};

// Starts the journal of a run into the folder (the current directory); false
// when it cannot be made.
bool BeginJournal(Journal& journal, const char* folder);
// Writes a step's record; the records written since the last flush are a
// group that FlushSteps makes durable, once, before any of its steps is taken.
bool RecordStep(Journal& journal, const JournalStep& step);
bool FlushSteps(Journal& journal);
// Takes a step whose record is durable. Staging creates the staged file, new,
// gives its handle and fills in its identity for the commit; a commit sets
// the earlier file aside and renames the staged file of the recorded identity
// into place, or, for a held file, leaves the replacement to the restart.
// False when it failed.
bool TakeStep(Journal& journal, JournalStep& step, HANDLE* staged = nullptr);
// Records that every file was committed. False when that record may not be
// on disk: it is then taken back, and never counts as done for this process.
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
// For the tests: the run ends, as if the power went, before it writes its
// record of this number (the folder's record is the first), or before it
// takes its step of this number, every record before then on disk. 0 for none.
extern int JournalEndsAtRecord;
extern int JournalEndsAtStep;
// For the tests: the run records no identities, as on a FAT volume.
extern bool JournalWithoutIdentities;
// For the tests: a settling (an undo, or the end of a finished run) ends, as
// if the power went, before its step of this number; the deletion of the
// journal is its last step, and one more ends it just after that deletion.
// Cleared when it ends one.
extern int JournalSettlingEndsAt;
// For the tests: how much of the journal its last flush made durable, all a
// power cut would leave of it.
extern uint64_t JournalFlushedLength;
void CloseJournal(Journal& journal);

// Whether the folders on the file's way may be made: none is made through a
// link or junction that leads out of the folder.
bool MayWrite(Journal& journal, const char* name, const char* target);

enum Preparation { Prepared, Deferred, Skipped, Held, Refused };
// Whether the file of a stored name may be staged at target: a read-only or
// protected file is skipped and never touched; one held open where the
// restart may not replace it is Held; elsewhere a held file is staged and
// replaced when Windows restarts (Deferred), as is one that an earlier run's
// staged file waits to replace, so that the two replace it in their order; a
// folder in its place is refused. With staged, the free suffix number of the
// staged name: no file has it, no other file of the run takes it, and no
// operation left for the restart moves a file of that name.
Preparation PrepareStep(const Journal& journal, const char* name, const char* target, int* staged);
// Fills in a commit's set-aside suffix: the first free one, as for the staged
// name, when a file stands at the stored name's place now, else NoSuffix; a
// held file's commit is left for the restart and sets nothing aside. False
// when no suffix is free.
bool PrepareCommit(const Journal& journal, JournalStep& step);
// Where a stored name is written: in the system directory, or below the current one.
bool TargetOf(const char* name, char* out, size_t size);
// Where a stored name lies: in the system directory for a system name, else
// below the folder. False when the path would not fit.
bool StoredNamePath(const char* folder, const char* name, char* out, size_t size);
// The longest name a file of the folder takes while it is staged, set aside or moved away.
bool LongestSetAsideName(const char* name, char* out, size_t size);
