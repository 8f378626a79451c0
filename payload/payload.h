// The product's files compiled into the program, and their extraction.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <windows.h>
#include "progress.h"

enum ExtractResult {
    ExtractCannotCreate = 1,
    ExtractWriteFailed = 2,
    ExtractOutOfMemory = 3,
    ExtractDone = 4,
    // A file that another program holds open could neither be replaced nor
    // be left for the restart to replace: nothing was written.
    ExtractFileHeld = 5,
    // A span of the payload read for the extraction is not what the setup
    // was made with (or could not be read): nothing was put in place, and
    // DamagedPayloadFile names the file that holds it.
    ExtractPayloadDamaged = 6,
};

// Writes every payload file below the current directory (or into the system
// directory) and reports each file to the sink, which may be null.
int ExtractPayload(HWND dialog, ProgressSink sink);
// The file, as the run named it, that an extraction that ended with
// ExtractFileHeld found held open.
const char* FileHeldOpen();

// PayloadUncheckable: the system's SHA-256 could not be had, and nothing
// could be checked (the log says why).
enum PayloadCheck { PayloadChecking, PayloadWhole, PayloadDamaged, PayloadUncheckable };
// Checks that the setup program's own file and its companions are whole, as
// they were made: at once, that each is there with its size and that the
// program's image has the SHA-256 its trailer carries (PayloadDamaged when
// not); then, with wholeParts, on a thread of its own, each one's payload
// SHA-256, which the program's image carries. The extraction checks every
// byte it uses again as it reads it, whether or not this check was made.
int BeginPayloadCheck(bool wholeParts);
// Waits at most that long for the check: PayloadChecking while it goes on,
// PayloadWhole, or PayloadDamaged.
int AwaitPayloadCheck(DWORD milliseconds);
// How much of the payload the check has read, 0 to 100.
int PayloadCheckPercent();
// The file found damaged or incomplete, in the process's code page.
const char* DamagedPayloadFile();
// The rollback of a run that failed or was cut off: deletes what it created
// and puts back what it replaced, exactly as it was, from its journal. 4 when
// nothing is left to undo, 0 when a step failed and the journal stays for
// another try.
int RemoveExtractedFiles(HWND dialog, ProgressSink sink);
// Settles the journal a run left: a finished run's set-aside files are
// deleted (or, when held, go at the next restart); an unfinished run is
// undone as RemoveExtractedFiles does. With onlyFor, a journal of another
// folder is left alone. 4 when nothing is left to settle, 0 otherwise.
int SettleJournal(const char* onlyFor, HWND dialog, ProgressSink sink);
// The folder of the journal an earlier run left, which SettleJournal would
// settle; false when there is none, or it names none.
bool UnsettledJournalFolder(char* folder, size_t size);
enum JournalCause {
    JournalSettled,
    JournalUnreadable,
    JournalFolderElsewhere,
    JournalFolderOutOfReach,
    JournalFilesStay,
    JournalLeftoversStay,
    JournalUntrusted,
};
// Why the last SettleJournal left its journal, with the folder the journal
// names: unreadable, its folder now leads elsewhere, its folder cannot be
// reached, files it should put back stay where they are, or a finished run's
// set-aside files (or the journal itself) could not be deleted, or, one
// user's, it lies where programs without administrator rights may have
// written it and this process has them (it is then left for a run without).
JournalCause UnsettledJournal(const char** folder);
// Adds a link the setup made outside the folder (the Startup item) to the
// folder's install record, so that the uninstaller, whoever runs it, removes
// exactly that link; a link already recorded is not added again. False when
// it could not be added.
bool RecordLink(const char* folder, const char* linkPath);
// Whether the folder holds another product's installation, which an
// installation there would merge into its own and a removal of either would
// take: its install record names another product, or, an earlier build's that
// names none, does not name this product's main program. The reason is logged.
bool HoldsAnotherProduct(const char* folder);
// Holds the payload's names in the process's code page (see code_page.h);
// false when one cannot be held.
bool HoldPayloadNames();
// Whether every payload file's path below the folder, and every folder made
// for one, fits what the file functions take.
bool PayloadFitsFolder(const char* folder);
