// How a run is started and how it ends for whoever started it: the switches,
// one run of a product at a time, the log it writes as it goes, and the exit
// code that deployment tools read.
#pragma once
#include <stddef.h>
#include "language.h"
#include "path_limits.h"

// The exit codes of Windows Installer, which deployment tools already understand.
constexpr int ExitDone = 0;
constexpr int ExitDeclined = 1602;
constexpr int ExitFailed = 1603;
constexpr int ExitNotInstalledHere = 1605;
constexpr int ExitAlreadyRunning = 1618;
constexpr int ExitBadSwitch = 1639;
constexpr int ExitRestartNeeded = 3010;

struct RunSwitches {
    bool unattended;               // /S
    bool help;                     // /?
    bool currentUser;              // /CURRENTUSER: the setup installs for the user alone
    bool allUsers;                 // /ALLUSERS: the setup installs for everyone on the computer
    // The setup and the uninstaller give these to themselves when they start
    // again, elevated: /ELEVATED (the run goes on from the first process,
    // which never asks for rights again), and the setup /AGREED (its
    // agreement was accepted there, and the log written so far goes on).
    bool elevated;
    bool agreed;
    char folder[PathBufferSize];   // /D=, empty without it
    char log[PathBufferSize];      // /LOG=, empty without it
    char language[16];             // /LANG=, the last (after /ELEVATED, the first), empty without it
    char problem[PathBufferSize];  // the switch that could not be read
};
// Reads the switches after the program's name, in any letter case. /D= takes
// the rest of the line and is read, with the setup's other switches
// (/CURRENTUSER, /ALLUSERS, /AGREED), only when takesFolder. False, with the
// switch named in problem, when one is unknown or malformed.
bool ReadSwitches(const char* arguments, bool takesFolder, RunSwitches& switches);
// The arguments after the program's name in a command line.
const char* SkipProgramName(const char* commandLine);

// True in an unattended run: no window of any kind; each message goes to the
// log with the answer taken for it.
extern bool Unattended;

// What a program is, for its messages and its log.
struct RunProgram {
    EnglishText name;        // "Setup", "Uninstaller"
    bool takesFolder;        // whether /D= is one of its switches
    EnglishText switches;    // its own lines of the switch list
    EnglishText exitCodes;   // its lines of the exit codes below those all programs share
    EnglishText restartCode; // its line of 3010, which comes after them
    // Holds the program's own tables of texts in the process's code page
    // (see code_page.h); false when one cannot be held.
    bool (*holdTexts)();
    // Whether the run is to install, or remove, for everyone on the computer
    // (for a product that may be installed either way).
    bool (*wantsMachine)(const RunSwitches& switches);
    // Reads the product the packer wrote into the program (product_data.h);
    // false when what it holds is damaged, which damaged says, with the
    // program's path, before anything else.
    bool (*readProduct)();
    EnglishText damaged;
};
// Reads the command line and the program's product, chooses the run's language (language.h), answers
// /?, holds the product's texts in the process's code page, settles the
// places of the run (RunMode: the machine's where the run is for everyone,
// the user's otherwise), opens the log and makes sure that no other run of
// the product is going. A run for everyone without administrator rights goes
// on, before anything else, in a new process of the program started elevated
// (see StartElevated), whose exit code it ends with. True when the run goes
// on; false, with the exit code it ended with, when it is over: also when
// this Windows cannot hold the product's texts, which is said before
// anything changes.
bool BeginRun(const RunProgram& program, RunSwitches& switches, int* exitCode);
// Logs the exit code and closes the log; returns the code.
int EndRun(int exitCode);
// Closes the log while another process of the run writes it, and opens it
// again, to go on after what that one wrote.
void SuspendLog();
void ResumeLog();
// Starts this program again with administrator rights (the "runas" verb:
// Windows asks the user for them), the answers given (switches of its own)
// and the run's language (/LANG=) before the switches it was started with, in this process's current folder,
// and waits for it, with its exit code. Otherwise the error, with 1602 when
// the rights were refused and 1603 else. The caller has no window left: one
// that no thread serves would stop the new process's Program Manager
// conversations, which are offered to every window.
unsigned long StartElevated(const char* answers, int* exitCode);
// For the tests: how the elevated process is started (ShellExecuteExA), so
// that a test may refuse the rights as a user may.
extern BOOL(WINAPI* ElevatedStart)(struct _SHELLEXECUTEINFOA* start);

// A line of the log, formatted as FormatText does; nothing without a log.
void LogLine(const char* format, ...);
// A line of the log from parts too long to format at once.
void LogParts(const char* const* parts, int count);
