// What a run leaves for Windows to do when it restarts, and the files it
// keeps as they were: counted and listed for the run's last message and its
// exit code.
#pragma once
#include <windows.h>
#include <stddef.h>

// Whether the restart may act on a path within the folder (replace a held
// file, delete an empty folder): only within the system's folders for
// programs, where no one but administrators may put a link in a folder's
// place before then, and never for one user's run.
bool RestartMayActWithin(const WCHAR* folderFinal);
// Whether an earlier run left a staged file to replace the file of this
// stored name in the folder at the restart.
bool ReplacementWaits(const WCHAR* folderFinal, const char* name);
// Leaves the staged file, open (and closed here), its staged suffix number
// given, to replace the held one at path when Windows restarts, both named by
// their final paths. False when it could not be scheduled.
bool ScheduleReplacement(HANDLE staged, int number, const char* path, const char* stagedPath);
// Makes the replacements scheduled since the last call durable; false when
// they may not be on disk.
bool MakeReplacementsDurable();
// Moves the open file of the run's, which a program runs from, into the
// restart folder, where it goes when Windows restarts (see restart.h); counted
// for the run unless it is this very program's, which goes at the restart
// whatever the run does. False when it stays where it was.
bool LeaveRunsFileForRestart(HANDLE file, const char* path);

// A file the run keeps as it was, for the user to be told of.
void NoteKept(const char* target);
// How many files were noted as kept so far; the notes after that many are
// taken back when what made them is undone.
int KeptFilesNoted();
void ForgetKeptFilesAfter(int count);

// How many files of the product this run left for Windows to delete or
// replace when it restarts, because a program held them.
int FilesAwaitingRestart();
// How many of those are files of the new version that replace held ones.
int FilesReplacedAtRestart();
// The read-only files this run kept as they were: how many, and their names
// one per line into list, as many as KeptListSize holds, then how many more.
constexpr size_t KeptListSize = 1024;
int ReadOnlyFilesKept(char* list, size_t size);
