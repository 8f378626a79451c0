#include "uninstall.h"
#include "commands.h"
#include "file_system.h"
#include "globals.h"
#include "message.h"
#include "names.h"
#include "payload.h"
#include "product.h"
#include "shell.h"
#include "text.h"
#include "ui.h"

namespace {

const char NotPossibleCaption[] = "Uninstall Not Possible";
const char NotPossibleFormat[] =
    "This program does not belong to an installation of %s in this folder. Nothing was removed.";
const char NotUndoneFormat[] =
    "An installation of %s into this folder was interrupted, and what it replaced could not all be put back. "
    "Nothing was removed. Close the programs that use its files, or reconnect its drive, and try again.";
const char QuestionCaptionFormat[] = "Remove %s";
const char QuestionFormat[] = "Do you want to remove %s and all of its components from your computer?";
const char CompleteCaption[] = "Removal Complete";
const char CompleteFormat[] = "%s was removed from your computer.";
const char InUseHeading[] = "In use now, and removed when Windows restarts:";
const char NotRemovedHeading[] = "Could not be removed:";
const char KeptHeading[] = "Kept, because it holds files that were not installed with the product:";
const char MoreFormat[] = "\r\nand %d more";
// Room for at least one path of any length, and its "and N more" line.
constexpr size_t ListSize = 2 * PathBufferSize;
constexpr size_t ReportSize = 2 * MessageBufferSize;
// Room kept at the end of a list for its "and N more" line.
constexpr size_t MoreRoom = 24;

// Paths under a heading for the final message; those that do not fit are
// counted, never cut.
struct PathList {
    const char* heading;
    char text[ListSize];
    int more;
};

void AddPath(PathList& list, const char* path)
{
    if (TextLength(list.text) + 2 + TextLength(path) + MoreRoom < sizeof list.text) {
        if (list.text[0])
            AppendText(list.text, sizeof list.text, "\r\n");
        AppendText(list.text, sizeof list.text, path);
    } else {
        ++list.more;
    }
}

bool AddList(char* report, size_t size, const PathList& list)
{
    if (!list.text[0])
        return true;
    char more[MoreRoom];
    if (!FormatText(more, sizeof more, list.more ? MoreFormat : "", list.more))
        return false;
    return AppendText(report, size, "\r\n\r\n") && AppendText(report, size, list.heading)
        && AppendText(report, size, "\r\n") && AppendText(report, size, list.text)
        && AppendText(report, size, more);
}

// "Removal Complete": the product's name, then what stays and why.
bool ComposeReport(char* report, size_t size, const PathList* lists, int count)
{
    if (!FormatText(report, size, CompleteFormat, ProductConfig.displayName))
        return false;
    for (int i = 0; i < count; ++i)
        if (!AddList(report, size, lists[i]))
            return false;
    return true;
}

bool SameText(const char* a, const char* b)
{
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a, -1, b, -1) == CSTR_EQUAL;
}

// A path as the file system names it: full, with long names, without a
// trailing backslash unless it is a root.
bool CanonicalPath(const char* path, char* out, DWORD size)
{
    char full[PathBufferSize];
    DWORD length = GetFullPathNameA(path, sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full)
        return false;
    // A path that does not exist keeps the names it was given.
    length = GetLongPathNameA(full, out, size);
    if (length >= size || (length == 0 && !CopyText(out, size, full)))
        return false;
    length = DWORD(TextLength(out));
    if (length > 3 && out[length - 1] == '\\')
        out[length - 1] = '\0';
    return true;
}

bool SamePath(const char* a, const char* b)
{
    char first[PathBufferSize];
    char second[PathBufferSize];
    return CanonicalPath(a, first, sizeof first) && CanonicalPath(b, second, sizeof second)
        && SameText(first, second);
}

enum EntryState { NoEntry, EntryNamesThis, EntryNamesOther };

// Whether the uninstall entry's command names this very program.
EntryState ReadUninstallEntry()
{
    char keyPath[PathBufferSize];
    HKEY key;
    if (!FormatUninstallKey(keyPath, sizeof keyPath, ProductConfig.displayName)
        || RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return NoEntry;
    char command[PathBufferSize] = {};
    DWORD type = 0;
    DWORD length = sizeof command - 1;
    LONG status = RegQueryValueExA(key, "UninstallString", nullptr, &type, reinterpret_cast<BYTE*>(command), &length);
    RegCloseKey(key);
    if (status == ERROR_FILE_NOT_FOUND)
        return NoEntry;
    if (status != ERROR_SUCCESS || type != REG_SZ)
        return EntryNamesOther;
    // The command is the program's path in quotes.
    char* path = command;
    size_t end = TextLength(command);
    if (end >= 2 && command[0] == '"' && command[end - 1] == '"') {
        command[end - 1] = '\0';
        ++path;
    }
    return SamePath(path, UninstallerPath) ? EntryNamesThis : EntryNamesOther;
}

// The folder is an installation of this product when the uninstall entry
// names this program, or, without an entry, when the profile names the folder.
bool BelongsHere()
{
    switch (ReadUninstallEntry()) {
    case EntryNamesThis:
        return true;
    case EntryNamesOther:
        return false;
    default:
        break;
    }
    char remembered[PathBufferSize];
    GetPrivateProfileStringA(ProfileSection, ProfileKey, "", remembered, sizeof remembered,
        ProductConfig.profileFile);
    return remembered[0] && SamePath(remembered, InstallFolder);
}

// This program's path, and the folder it stands in, with long names.
bool LocateInstallation()
{
    char module[PathBufferSize];
    DWORD length = GetModuleFileNameA(nullptr, module, sizeof module);
    if (length == 0 || length >= sizeof module || !CanonicalPath(module, UninstallerPath, sizeof UninstallerPath))
        return false;
    size_t separator = 0;
    for (size_t i = 0; UninstallerPath[i]; ++i)
        if (UninstallerPath[i] == '\\')
            separator = i;
    if (!CopyText(InstallFolder, sizeof InstallFolder, UninstallerPath))
        return false;
    InstallFolder[separator] = '\0';
    return separator > 0;
}

bool FolderPath(const char* name, char* out, size_t size)
{
    return FormatFolderFile(out, size, InstallFolder, name);
}

bool IsPayloadName(const char* relative, bool folder)
{
    const UninstallTables& payload = UninstallPayload;
    int count = folder ? payload.folderCount : payload.fileCount;
    const char* const* names = folder ? payload.folderNames : payload.fileNames;
    for (int i = 0; i < count; ++i)
        if (SameText(names[i], relative))
            return true;
    // A payload file the undo of a cut-off install moved away goes at the next restart.
    char original[PathBufferSize];
    size_t length = TextLength(relative);
    size_t suffix = TextLength(MovedAwaySuffix);
    if (folder || length <= suffix || !SamePathText(relative + length - suffix, MovedAwaySuffix)
        || !CopyText(original, sizeof original, relative))
        return false;
    original[length - suffix] = '\0';
    return IsPayloadName(original, false);
}

// Whether everything left in a folder, down to its subfolders, is the
// payload's own, which is then scheduled for removal at the next restart too.
bool HoldsOnlyPayload(const char* folder)
{
    char pattern[PathBufferSize];
    if (!FormatText(pattern, sizeof pattern, "%s\\*", folder))
        return false;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    // The folder's path below the installation folder, to which entries are relative.
    const char* below = folder + TextLength(InstallFolder);
    below += *below == '\\' ? 1 : 0;
    bool onlyPayload = true;
    do {
        if (TextEquals(found.cFileName, ".") || TextEquals(found.cFileName, ".."))
            continue;
        char relative[PathBufferSize];
        char path[PathBufferSize];
        bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        bool named = below[0] ? FormatFolderFile(relative, sizeof relative, below, found.cFileName)
                              : CopyText(relative, sizeof relative, found.cFileName);
        onlyPayload = named && IsPayloadName(relative, isFolder)
            && (!isFolder || (FolderPath(relative, path, sizeof path) && HoldsOnlyPayload(path)));
    } while (onlyPayload && FindNextFileA(search, &found));
    FindClose(search);
    return onlyPayload;
}

bool Exists(const char* path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool ScheduleRemoval(const char* path)
{
    return MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
}

// Each payload file below the folder; one that is held open goes at the next restart.
void RemoveFiles(HWND progress, PathList& inUse, PathList& notRemoved)
{
    const UninstallTables& payload = UninstallPayload;
    for (int i = 0; i < payload.fileCount; ++i) {
        ShowProgress(progress, payload.fileNames[i], int(int64_t(i) * 100 / payload.fileCount));
        char path[PathBufferSize];
        if (!FolderPath(payload.fileNames[i], path, sizeof path))
            continue; // a path no file function could name was never written
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL); // a read-only file is removed all the same
        if (DeleteFileA(path) || !Exists(path))
            continue;
        bool scheduled = ScheduleRemoval(path);
        // This program is running and goes at the next restart: nothing to tell the user.
        if (!SameText(path, UninstallerPath))
            AddPath(scheduled ? inUse : notRemoved, path);
    }
    ShowProgress(progress, "", 100);
}

// The payload's folders, innermost first, then the installation folder: each
// goes when empty, or at the next restart when only payload files are left in
// it. Anything else keeps it; the installation folder kept is named.
void RemoveFolders(PathList& kept)
{
    const UninstallTables& payload = UninstallPayload;
    for (int i = 0; i <= payload.folderCount; ++i) {
        char path[PathBufferSize];
        bool named = i < payload.folderCount ? FolderPath(payload.folderNames[i], path, sizeof path)
                                             : CopyText(path, sizeof path, InstallFolder);
        if (!named || RemoveDirectoryA(path) || !Exists(path))
            continue;
        if (HoldsOnlyPayload(path))
            ScheduleRemoval(path); // result deliberately ignored: a folder that stays is harmless
        else if (i == payload.folderCount)
            AddPath(kept, path);
    }
}

bool ProfilePath(char* out, size_t size)
{
    char windows[PathBufferSize];
    UINT length = GetWindowsDirectoryA(windows, sizeof windows);
    return length > 0 && length < sizeof windows && FormatFolderFile(out, size, windows, ProductConfig.profileFile);
}

// Nothing but blanks: what the profile functions leave of a file whose last section went.
bool HoldsOnlyBlanks(const char* path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char content[512];
    DWORD read = 0;
    bool whole = ReadFile(file, content, sizeof content, &read, nullptr) && read < sizeof content;
    CloseHandle(file);
    for (DWORD i = 0; whole && i < read; ++i)
        whole = content[i] == ' ' || content[i] == '\t' || content[i] == '\r' || content[i] == '\n';
    return whole;
}

void ForgetInstallation()
{
    char keyPath[PathBufferSize];
    if (FormatUninstallKey(keyPath, sizeof keyPath, ProductConfig.displayName))
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath); // result deliberately ignored: an absent key is fine

    const char* profile = ProductConfig.profileFile;
    WritePrivateProfileStringA(ProfileSection, ProfileKey, nullptr, profile);
    char rest[4];
    if (GetPrivateProfileSectionA(ProfileSection, rest, sizeof rest, profile) == 0)
        WritePrivateProfileStringA(ProfileSection, nullptr, nullptr, profile);
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, profile); // writes the cached file out
    char path[PathBufferSize];
    if (ProfilePath(path, sizeof path) && HoldsOnlyBlanks(path))
        DeleteFileA(path);
}

void RemoveFromShell(HWND progress)
{
    ShowProgress(progress, ProductConfig.folderName, 0);
    OpenDdeClient();
    RemoveProductGroup();
    RemoveStartupItem();
    CloseDdeClient();
}

} // namespace

int UninstallSequence(HINSTANCE instance)
{
    char text[MessageBufferSize];
    if (!LocateInstallation() || !BelongsHere()) {
        FormatText(text, sizeof text, NotPossibleFormat, ProductConfig.displayName);
        ShowWarning(nullptr, NotPossibleCaption, text);
        return 0;
    }
    char caption[MessageBufferSize];
    FormatText(caption, sizeof caption, QuestionCaptionFormat, ProductConfig.displayName);
    FormatText(text, sizeof text, QuestionFormat, ProductConfig.displayName);
    if (!AskYesNo(nullptr, caption, text))
        return 0;

    // An install into this folder that was cut off is undone first, so that
    // what is removed below is the version that was there before it.
    if (SettleJournal(InstallFolder, nullptr, nullptr) != ExtractDone) {
        FormatText(text, sizeof text, NotUndoneFormat, ProductConfig.displayName);
        ShowWarning(nullptr, NotPossibleCaption, text);
        return 0;
    }

    // The product's own programs run in their folder, as the setup ran them.
    SetCurrentDirectoryA(InstallFolder); // result deliberately ignored: they are found by their full paths
    HWND progress = CreateProgressDialog(instance, nullptr);
    ShowProgress(progress, ShuttingDownProgressText, 0);
    ShutDownRunningCopies();
    if (ProductConfig.serviceExecutable[0]) {
        ShowProgress(progress, ProductConfig.serviceExecutable, 0);
        RemoveNtService();
    }
    RemoveFromShell(progress);

    // A folder that is some process's current directory cannot be removed.
    char system[PathBufferSize];
    if (GetSystemDirectoryA(system, sizeof system))
        SetCurrentDirectoryA(system); // result deliberately ignored: only this folder's removal could suffer
    // Set one by one: an initialiser for the lists would be a copy of them in the program's data.
    PathList lists[3] = {};
    lists[0].heading = InUseHeading;
    lists[1].heading = NotRemovedHeading;
    lists[2].heading = KeptHeading;
    RemoveFiles(progress, lists[0], lists[1]);
    RemoveFolders(lists[2]);
    ForgetInstallation();
    DestroyWindow(progress);

    char report[ReportSize];
    if (!ComposeReport(report, sizeof report, lists, 3))
        FormatText(report, sizeof report, CompleteFormat, ProductConfig.displayName);
    ShowInformation(nullptr, CompleteCaption, report);
    return 0;
}
