// Doubles of the subsystems the sequence calls: each records its call in the
// transcript the responder also writes to, and answers as the test set it up.
#pragma once
#include "automation.h"
#include "test_config.h"
#include <string>
#include <vector>
#include <windows.h>

struct DoubleScript {
    bool classRegisters = true;
    INT_PTR agreement = 1;
    std::vector<std::string> folders; // one per ResolveInstallFolder call; past the end: gave up
    int extractResult = 4;
    int retriedExtractResult = 4; // what the calls after the first return
    int removeResult = 4;
    bool nt = true;
    bool windows64 = true;
    bool entryWritten = true;
    bool remembers = true;
    INT_PTR installFor = 1110; // the dialog's answer: IDC_INSTALL_FOR_USER
    unsigned long elevationError = 0; // the elevated start's: 0 when it started
    int elevatedExitCode = 0;         // and then the elevated process's exit code
    bool payloadCheckable = true; // the system's SHA-256 there
    bool payloadSized = true;   // every file of the setup there, with its size
    bool payloadDigests = true; // ... and its SHA-256
    int payloadChecking = 0;    // the waits for the check that end before it does
    bool groupMade = true;
};

extern DoubleScript Script;
extern automation::Transcript* Record;
extern HWND ProgressWindow;
extern HWND BackdropDouble;
void ResetDoubles();
