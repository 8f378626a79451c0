#include "doubles.h"
#include "folder.h"
#include "globals.h"
#include "names.h"
#include "payload.h"
#include "run.h"
#include "shell.h"
#include "text.h"
#include "ui.h"
#include <shellapi.h>

DoubleScript Script;
automation::Transcript* Record;
HWND ProgressWindow;
HWND BackdropDouble;


namespace {
size_t FoldersGiven;
int ExtractCalls;

void Add(const std::string& line)
{
    Record->Add(line);
}

HWND PlainWindow(const char* caption, HWND owner)
{
    return CreateWindowExA(0, "STATIC", caption, WS_POPUP | WS_VISIBLE, 0, 0, 200, 100, owner, nullptr,
        GetModuleHandleA(nullptr), nullptr);
}

// Windows' start of the elevated process: the rights refused as the script says, or else another process,
// which ends with the script's exit code.
BOOL WINAPI ShellExecuteExDouble(SHELLEXECUTEINFOA* start)
{
    // The answers, then the run's language and the switches this process was started with.
    std::string parameters = start->lpParameters;
    Add(std::string("ShellExecuteEx(") + start->lpVerb + ": " + parameters.substr(0, parameters.find(" /LANG="))
        + ", backdrop " + (IsWindow(BackdropDouble) ? "shown" : "gone") + ") -> "
        + (Script.elevationError ? "error " + std::to_string(Script.elevationError)
                                 : "exit code " + std::to_string(Script.elevatedExitCode)));
    PROCESS_INFORMATION process;
    if (Script.elevationError
        || !automation::StartProcess("cmd.exe /c exit " + std::to_string(Script.elevatedExitCode), &process)) {
        SetLastError(Script.elevationError);
        return FALSE;
    }
    CloseHandle(process.hThread);
    start->hProcess = process.hProcess;
    return TRUE;
}

} // namespace

void ResetDoubles()
{
    Script = DoubleScript();
    FoldersGiven = 0;
    ExtractCalls = 0;
    ProductConfig = ShippedConfig();
    ProductDetails.installFor = InstallForMachine;
    ProgressWindow = nullptr;
    BackdropDouble = nullptr;
    ElevatedStart = ShellExecuteExDouble;
}

char BackdropTitle[BackdropTitleSize];
HFONT BackdropFont;

UINT WindowDpi(HWND)
{
    return 144;
}

HFONT CreateBackdropFont(UINT codePage, UINT dpi)
{
    Add("CreateBackdropFont(" + std::to_string(codePage) + ", " + std::to_string(dpi) + ")");
    return static_cast<HFONT>(GetStockObject(ANSI_VAR_FONT));
}

bool RegisterBackdropClass(HINSTANCE)
{
    Add(std::string("RegisterBackdropClass -> ") + (Script.classRegisters ? "registered" : "failed"));
    return Script.classRegisters;
}

HWND CreateBackdropWindow(HINSTANCE, const char* caption)
{
    Add(std::string("CreateBackdropWindow(") + caption + ")");
    BackdropDouble = PlainWindow(caption, nullptr);
    return BackdropDouble;
}

INT_PTR RunAgreementDialog(HINSTANCE, HWND owner)
{
    Add("RunAgreementDialog(owner is backdrop: " + std::string(owner == BackdropDouble ? "yes" : "no")
        + ") -> " + std::to_string(Script.agreement));
    return Script.agreement;
}

HWND CreateProgressDialog(HINSTANCE, HWND owner, void (*)(HWND))
{
    Add("CreateProgressDialog");
    ProgressWindow = PlainWindow("Setup Progress", owner);
    return ProgressWindow;
}

void FitProgressDialog(HWND) {}

void ShowProgress(HWND dialog, const char* text, int percent)
{
    Add(std::string("ShowProgress(") + (dialog == ProgressWindow ? "progress" : "?") + ", " + text + ", "
        + std::to_string(percent) + ")");
}

int ResolveInstallFolder(HINSTANCE, HWND owner, int firstPass)
{
    std::string line = "ResolveInstallFolder(" + std::string(owner == BackdropDouble ? "backdrop" : "?") + ", "
        + std::to_string(firstPass) + ")";
    if (FoldersGiven >= Script.folders.size()) {
        Add(line + " -> gave up");
        return 0;
    }
    CopyText(InstallFolder, sizeof InstallFolder, Script.folders[FoldersGiven++].c_str());
    Add(line + " -> " + InstallFolder);
    return 1;
}

void RequestInstallFolder(const char* folder)
{
    if (folder[0])
        Add(std::string("RequestInstallFolder(") + folder + ")");
}

// The folder doubles above stand for every check of a folder.
void RegisterFolderTakenCheck(FolderTakenCheck) {}

INT_PTR RunInstallForDialog(HINSTANCE, HWND owner, bool machineProposed, bool shield)
{
    Add(std::string("RunInstallForDialog(owner is backdrop: ") + (owner == BackdropDouble ? "yes" : "no")
        + ", proposed: " + (machineProposed ? "everyone" : "me") + (shield ? ", shield" : "") + ") -> "
        + std::to_string(Script.installFor));
    return Script.installFor;
}

int AcceptProposedFolder()
{
    if (FoldersGiven >= Script.folders.size()) {
        Add("AcceptProposedFolder -> refused");
        return 0;
    }
    CopyText(InstallFolder, sizeof InstallFolder, Script.folders[FoldersGiven++].c_str());
    Add(std::string("AcceptProposedFolder -> ") + InstallFolder);
    return 1;
}

bool RememberInstallFolder()
{
    Add(std::string("RememberInstallFolder(") + InstallFolder + ")" + (Script.remembers ? "" : " -> failed"));
    return Script.remembers;
}

int ExtractPayload(HWND dialog, ProgressSink sink)
{
    int result = ExtractCalls++ ? Script.retriedExtractResult : Script.extractResult;
    const char* shown = !dialog ? "none" : IsWindowVisible(dialog) ? "progress" : "progress (hidden)";
    Add(std::string("ExtractPayload(") + (dialog == ProgressWindow ? shown : "?") + ", "
        + (sink == ShowProgress ? "ShowProgress" : sink ? "?" : "none") + ") -> " + std::to_string(result));
    return result;
}

const char* FileHeldOpen()
{
    return "C:\\Apps\\Pelmora\\help.htm";
}

// The checks of the setup's files are in the transcript only when they find one damaged, or when
// the whole parts' check is not begun.
int BeginPayloadCheck(bool wholeParts)
{
    if (!Script.payloadCheckable) {
        Add("BeginPayloadCheck -> no SHA-256");
        return PayloadUncheckable;
    }
    if (!wholeParts)
        Add("BeginPayloadCheck(sizes and image only)");
    if (Script.payloadSized)
        return PayloadWhole;
    Add("BeginPayloadCheck -> a file of another size");
    return PayloadDamaged;
}

int AwaitPayloadCheck(DWORD milliseconds)
{
    if (Script.payloadChecking > 0) {
        --Script.payloadChecking;
        Add("AwaitPayloadCheck(" + std::to_string(milliseconds) + ") -> still checking");
        return PayloadChecking;
    }
    if (Script.payloadDigests)
        return PayloadWhole;
    Add("AwaitPayloadCheck -> a digest differs");
    return PayloadDamaged;
}

int PayloadCheckPercent()
{
    return 40;
}

const char* DamagedPayloadFile()
{
    return "C:\\Downloads\\Pelmora-1.bin";
}

int RemoveExtractedFiles(HWND dialog, ProgressSink sink)
{
    Add(std::string("RemoveExtractedFiles(") + (dialog ? "?" : "none") + ", " + (sink ? "?" : "none") + ") -> "
        + std::to_string(Script.removeResult));
    return Script.removeResult;
}

// The shipped payload's longest name, under the real rule.
bool PayloadFitsFolder(const char* folder)
{
    return BrokenNameLimit(folder, "pmuninst.exe") == 0;
}

void ShutDownRunningCopies(const char* folder)
{
    Add(std::string("ShutDownRunningCopies(") + folder + ")");
}

void OpenDdeClient()
{
    Add("OpenDdeClient");
}

bool CreateProductGroup()
{
    Add(std::string("CreateProductGroup(") + ApplicationPath + " | " + StartupCommand + " | " + UninstallerPath + ")"
        + (Script.groupMade ? "" : " -> failed"));
    return Script.groupMade;
}

bool AddStartupItem(char* linkPath, size_t size)
{
    Add("AddStartupItem");
    return CopyText(linkPath, size, "C:\\Startup\\Pelmora.lnk");
}

bool RecordLink(const char* folder, const char* linkPath)
{
    Add(std::string("RecordLink(") + folder + " | " + linkPath + ")");
    return true;
}

void CloseDdeClient()
{
    Add("CloseDdeClient");
}

bool RegisterUninstallEntry()
{
    Add(std::string("RegisterUninstallEntry") + (Script.entryWritten ? "" : " -> failed"));
    return Script.entryWritten;
}

bool InstallAgentService()
{
    Add("InstallAgentService");
    return true;
}

bool ReplaceNtService(HWND owner)
{
    Add(std::string("ReplaceNtService(") + (owner == BackdropDouble ? "backdrop" : "?") + ")");
    return true;
}

bool HoldsAnotherProduct(const char*)
{
    return false;
}

void LaunchApplication(HWND backdrop, HFONT font)
{
    Add(std::string("LaunchApplication(") + (backdrop == BackdropDouble ? "backdrop" : "?") + ", "
        + (font == BackdropFont ? "backdrop font" : "?") + ")");
}

bool IsNtPlatform()
{
    return Script.nt;
}

bool IsWindows64Bit()
{
    return Script.windows64;
}
