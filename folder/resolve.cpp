#include "folder.h"
#include "code_page.h"
#include "file_system.h"
#include "choose_folder.h"
#include "commands.h"
#include "globals.h"
#include "architecture.h"
#include "message.h"
#include "names.h"
#include "paths.h"
#include "places.h"
#include "product.h"
#include "profile.h"
#include "run.h"
#include "text.h"
#include <shlobj.h>
#include <knownfolders.h>

namespace {

const EnglishText WindowsFolderCaption = N_("Can't Install to Windows Directory");
const EnglishText WindowsFolderText =
    N_("That directory is the Windows directory. It is not safe to install applications in the Windows directory "
    "because it contains other important system files. Please choose another location.");
const EnglishText NoAccessCaption = N_("Couldn't Access Directory");
const EnglishText NoAccessText =
    N_("That directory does not exist and could not be created. Please enter a valid location for a directory on "
    "your system.");
const EnglishText NotFullPathCaption = N_("Folder Not a Full Path");
const EnglishText NotFullPathFormat = N_("That folder is not a full path. Please give one with its drive, such as C:\\%s.");
const EnglishText ShuttingDownCaption = N_("Shutting Down");
const EnglishText ShuttingDownText =
    N_("This program cannot operate without a data folder to store its files in. The program will exit now. "
    "Please determine an appropriate folder name and start the program again later.");

char RequestedFolder[PathBufferSize];

// An unset variable, or one too long to be a path, counts as not set.
const char* ReadEnvironment(const char* name, char* buffer, DWORD size)
{
    DWORD length = GetEnvironmentVariableA(name, buffer, size);
    return (length == 0 || length >= size) ? nullptr : buffer;
}

bool ProposeSixtyFourBitProgramsFolder(char* out, DWORD size)
{
    if (ReadSixtyFourBitProgramsFolder(out, size))
        return true;
    LogLine("The folder of 64-bit programs is not in the registry: the program's own is proposed");
    return false;
}

// The system's folder for programs of the product's kind, where only
// administrators write: the setup registers the product for every user and
// runs its programs elevated, so they must not lie where one user's programs
// can change them. 32-bit programs have their own on 64-bit Windows.
bool ProposeProgramFilesFolder()
{
    char programs[PathBufferSize];
    bool found = ProductDetails.sixtyFourBit ? ProposeSixtyFourBitProgramsFolder(programs, sizeof programs)
                                             : SystemFolderPath(CSIDL_PROGRAM_FILESX86, programs, sizeof programs);
    found = found || SystemFolderPath(CSIDL_PROGRAM_FILES, programs, sizeof programs);
    return found && FormatFolderFile(InstallFolder, sizeof InstallFolder, programs, ProductConfig.folderName);
}

// The user's own folder for programs (FOLDERID_UserProgramFiles, normally
// %LOCALAPPDATA%\Programs), where a product installed for one user goes:
// made when missing, as Windows makes it, so that the folder dialog finds
// it. A system that names none (Windows before 7; Wine 8) gets the place
// Windows gives it, below the user's local application data, made alike.
bool ProposeUserProgramsFolder()
{
    char programs[PathBufferSize];
    PWSTR known = nullptr;
    bool found = SUCCEEDED(SHGetKnownFolderPath(FOLDERID_UserProgramFiles, KF_FLAG_CREATE, nullptr, &known))
        && NarrowText(known, programs, sizeof programs);
    CoTaskMemFree(known);
    if (!found) {
        char data[PathBufferSize];
        found = SystemFolderPath(CSIDL_LOCAL_APPDATA, data, sizeof data)
            && FormatFolderFile(programs, sizeof programs, data, "Programs");
        if (found) {
            LogLine("The system names no folder for the user's programs: its place in the user's data is %s", programs);
            CreateDirectoryA(programs, nullptr); // result deliberately ignored: the folder choice tells
        }
    }
    return found && FormatFolderFile(InstallFolder, sizeof InstallFolder, programs, ProductConfig.folderName);
}

// Where the run's mode puts its products: the system's programs folder for
// everyone on the computer (an earlier installation in C:\Program Files
// as it stands), the user's own for one user.
bool ProposeModesFolder()
{
    if (RunMode == UserMode)
        return ProposeUserProgramsFolder();
    FormatText(InstallFolder, sizeof InstallFolder, "C:\\Program Files\\%s", ProductConfig.folderName);
    return EnterFolder(InstallFolder, 0) == 0 || ProposeProgramFilesFolder();
}

void ProposeDefaultFolder()
{
    if (RequestedFolder[0]) {
        CopyText(InstallFolder, sizeof InstallFolder, RequestedFolder);
        NormalizeSeparators(InstallFolder);
        // "C:\Apps\Pelmora\" names the folder "C:\Apps\Pelmora"; a drive's root keeps its backslash.
        size_t length = TextLength(InstallFolder);
        if (length > 3 && InstallFolder[length - 1] == '\\')
            InstallFolder[length - 1] = '\0';
        LogLine("Folder proposed: %s (requested)", InstallFolder);
        return;
    }
    if (!ProposeModesFolder()) {
        char drive[PathBufferSize];
        char path[PathBufferSize];
        // A variable too long for its buffer counts as unset, so the proposal falls back to the
        // default drive; only a home proposal too long for InstallFolder leaves it empty.
        BuildHomeProposal(ReadEnvironment("HOMEDRIVE", drive, sizeof drive),
            ReadEnvironment("HOMEPATH", path, sizeof path), ProductConfig.folderName, InstallFolder,
            sizeof InstallFolder);
    }
    char proposal[PathBufferSize];
    char profile[PathBufferSize] = "";
    CopyText(proposal, sizeof proposal, InstallFolder);
    bool placed = ProductPlacePath(RunMode, ProfilePlace, profile, sizeof profile);
    // Any program of the user may have written the user's profile file: a run with administrator rights
    // would install, and write its record, wherever that file names.
    if (placed && RunsForUserWithRights()) {
        LogLine("Profile: not read, since programs without administrator rights may have written it: %s", profile);
        placed = false;
    }
    DWORD remembered = placed
        ? ReadProfileValue(ProfileSection, ProfileKey, proposal, InstallFolder, sizeof InstallFolder, profile)
        : 0;
    NormalizeSeparators(InstallFolder);
    LogLine(TextEquals(InstallFolder, proposal) || remembered == 0 ? "Folder proposed: %s"
                                                                    : "Folder proposed: %s (remembered in %s)",
        InstallFolder, profile);
}

// A drive's path from its root, or a share's (\\server\share): never a
// device path (\\?\ or \\.\), which no check below would see through.
bool IsFullPath(const char* path)
{
    if (((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) && path[1] == ':'
        && path[2] == '\\')
        return true;
    if (path[0] != '\\' || path[1] != '\\' || path[2] == '?' || path[2] == '.')
        return false;
    size_t server = 2;
    while (path[server] && path[server] != '\\')
        ++server;
    return server > 2 && path[server] == '\\' && path[server + 1] && path[server + 1] != '\\';
}

// By the names the file system compares: C:\WINDOWS, C:\windows\ and
// C:\WINDOW~1 are the Windows directory too.
bool IsWindowsFolder(const char* folder)
{
    char windows[PathBufferSize];
    UINT length = GetWindowsDirectoryA(windows, sizeof windows);
    return length > 0 && length < sizeof windows && SamePath(windows, folder);
}

} // namespace

int EnterFolder(const char* path, int mayCreate)
{
    if (SetCurrentDirectoryA(path))
        return 0;
    if (!mayCreate)
        return -1;
    CreateDirectoryA(path, nullptr); // result deliberately ignored: entering it below tells
    return SetCurrentDirectoryA(path) ? 0 : -1;
}

bool MakeFolderAbsolute(char* path, size_t size)
{
    char full[PathBufferSize];
    DWORD length = GetFullPathNameA(path, sizeof full, full, nullptr);
    return length > 0 && length < sizeof full && CopyText(path, size, full);
}

bool RememberInstallFolder()
{
    char profile[PathBufferSize];
    char folder[PathBufferSize];
    bool placed = ProductPlacePath(RunMode, ProfilePlace, profile, sizeof profile);
    // The user's profile file lies in the product's own folder of the user's data.
    HANDLE held = INVALID_HANDLE_VALUE;
    if (placed && RunMode == UserMode && CopyFolderPart(profile, folder, sizeof folder)) {
        CreateDirectoryA(folder, nullptr); // result deliberately ignored: the write below tells
        // With administrator rights, a link any program of the user's put there must not lead the write.
        if (RunsForUserWithRights()) {
            held = HoldProfileFolder(profile);
            placed = held != INVALID_HANDLE_VALUE;
        }
    }
    bool written = placed && WriteProfileValue(ProfileSection, ProfileKey, InstallFolder, profile);
    if (held != INVALID_HANDLE_VALUE)
        CloseHandle(held);
    LogLine(written ? "Profile: %s=%s in %s" : "Profile: %s=%s could not be written to %s", ProfileKey, InstallFolder,
        profile);
    return written;
}

void RequestInstallFolder(const char* folder)
{
    CopyText(RequestedFolder, sizeof RequestedFolder, folder); // result deliberately ignored: the switch's buffer is as large
}

int AcceptProposedFolder()
{
    ProposeDefaultFolder();
    if (!IsFullPath(InstallFolder)) {
        ShowWarning(nullptr, NotFullPathCaption, NotFullPathFormat, ProductConfig.folderName);
        return 0;
    }
    // Unattended, every missing folder on its way is made, as deployment tools expect.
    if (!CheckChosenFolder(nullptr, true))
        return 0;
    if (IsWindowsFolder(InstallFolder)) {
        ShowWarning(nullptr, WindowsFolderCaption, WindowsFolderText);
        return 0;
    }
    if (EnterFolder(InstallFolder, 0) != 0) {
        ShowWarning(nullptr, NoAccessCaption, NoAccessText);
        return 0;
    }
    LogLine("Folder accepted: %s", InstallFolder);
    return 1;
}

int ResolveInstallFolder(HINSTANCE instance, HWND owner, int firstPass)
{
    ProposeDefaultFolder();
    bool first = true;
    bool skip = firstPass != 0;
    for (;;) {
        // The dialog hands back a full path; a proposal entered without it is made one here.
        bool entering = !skip && MakeFolderAbsolute(InstallFolder, sizeof InstallFolder);
        bool windowsFolder = IsWindowsFolder(InstallFolder);
        if (windowsFolder)
            ShowWarning(owner, WindowsFolderCaption, WindowsFolderText);
        if (entering && !windowsFolder) {
            if (EnterFolder(InstallFolder, first ? 0 : 1) == 0) {
                LogLine("Folder accepted: %s", InstallFolder);
                return 1;
            }
            if (!first)
                ShowWarning(owner, NoAccessCaption, NoAccessText);
        }
        first = false;
        // A dialog that cannot be created ends the choice like a cancel.
        if (ChooseFolderDialog(instance, owner) != 1) {
            ShowWarning(owner, ShuttingDownCaption, ShuttingDownText);
            return 0;
        }
        NormalizeSeparators(InstallFolder);
        skip = false;
    }
}
