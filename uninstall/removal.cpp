#include "uninstall.h"
#include "architecture.h"
#include "code_page.h"
#include "commands.h"
#include "derived_texts.h"
#include "file_system.h"
#include "globals.h"
#include "lines.h"
#include "message.h"
#include "names.h"
#include "payload.h"
#include "places.h"
#include "product.h"
#include "profile.h"
#include "recorded.h"
#include "report.h"
#include "restart.h"
#include "run.h"
#include "schedule.h"
#include "shell.h"
#include "text.h"
#include "ui.h"
#include "waiting.h"
#include <shlobj.h>

namespace {

const EnglishText NotPossibleCaption = N_("Uninstall Not Possible");
const EnglishText NotPossibleFormat =
    N_("This program does not belong to an installation of %s in this folder. Nothing was removed.");
const EnglishText NotUndoneFormat =
    N_("An installation of %s into this folder was interrupted, and what it replaced could not all be put back. "
    "Nothing was removed. Close the programs that use its files, or reconnect its drive, and try again.");
const EnglishText QuestionCaptionFormat = N_("Remove %s");
const EnglishText QuestionFormat = N_("Do you want to remove %s and all of its components from your computer?");
const EnglishText RunningCopiesCaption = N_("Close Running Copies First!");
const EnglishText RunningCopiesFormat =
    N_("Before %s is removed, make sure it is not running. If it is running, shut it down before clicking the OK "
    "button.");
const EnglishText CompleteCaption = N_("Removal Complete");
const EnglishText CompleteFormat = N_("%s was removed from your computer.");
const EnglishText IncompleteCaption = N_("Removal Incomplete");
const EnglishText IncompleteFormat =
    N_("%s could not be removed completely. Its uninstaller and its uninstall entry stay, so that you can run it "
    "again once the cause is removed.");
const EnglishText NotRemovedHeading = N_("Could not be removed, nor left for Windows to remove when it restarts:");
const EnglishText InUseHeading = N_("In use now, and removed when Windows restarts:");
const EnglishText KeptHeading = N_("Kept, because it holds files that were not installed with the product:");
const EnglishText LinkHeading = N_("Left alone, because it is a link that leads out of the installation folder:");
const EnglishText SystemHeading = N_("Kept in the Windows system directory, shared with other programs:");
const EnglishText LeftHeading =
    N_("Left, because a program uses it now; delete it once the program has ended:");
const EnglishText EntryFormat = N_("the uninstall entry, %s\\%s");
const EnglishText ProfileFormat = N_("the remembered folder, dataDir in %s");
const EnglishText ServiceFormat = N_("the NT service of %s");

enum ListIndex { NotRemovedList, InUseList, KeptList, LinkList, SystemList, LeftList, ListCount };
// Room for every list, full, under its heading in any language, after the opening sentence.
constexpr size_t ReportSize = MessageBufferSize + ListCount * (ListSize + 512);

struct Removal {
    RecordedNames recorded;
    WCHAR folderFinal[FinalPathSize];
    PathList lists[ListCount];
    // A file of the product's, not this program, waits for the restart.
    bool restartNeeded;
};

// The whole removal's state: the lists are too large for the stack.
Removal TheRemoval;

enum EntryState { NoEntry, EntryNamesThis, EntryNamesOther };

// Whether the mode's uninstall entry's command names this very program. A
// command that is there but cannot be read (no text, empty, too long) names
// some other.
EntryState ReadUninstallEntry(InstallMode mode)
{
    char command[PathBufferSize];
    bool present = false;
    if (!ReadUninstallText(mode, L"UninstallString", command, sizeof command, &present))
        return present ? EntryNamesOther : NoEntry;
    // The command is the program's path in quotes.
    char* path = command;
    size_t end = TextLength(command);
    if (end >= 2 && command[0] == '"' && command[end - 1] == '"') {
        command[end - 1] = '\0';
        ++path;
    }
    return SamePath(path, UninstallerPath) ? EntryNamesThis : EntryNamesOther;
}

// The folder is the mode's installation of this product when the mode's
// uninstall entry names this program, or, without an entry, when the mode's
// profile names the folder.
bool BelongsTo(InstallMode mode)
{
    switch (ReadUninstallEntry(mode)) {
    case EntryNamesThis:
        return true;
    case EntryNamesOther:
        return false;
    default:
        break;
    }
    char profile[PathBufferSize];
    char remembered[PathBufferSize];
    return ProductPlacePath(mode, ProfilePlace, profile, sizeof profile)
        && ReadProfileValue(ProfileSection, ProfileKey, "", remembered, sizeof remembered, profile)
        && SamePath(remembered, InstallFolder);
}

// This program's path, and the folder it stands in, with long names; a drive
// root keeps its backslash.
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
    if (separator == 0 || !CopyText(InstallFolder, sizeof InstallFolder, UninstallerPath))
        return false;
    InstallFolder[separator == 2 && InstallFolder[1] == ':' ? separator + 1 : separator] = '\0';
    // The links of the product's group and Startup item lead to it.
    return BuildApplicationPath(ProductConfig, InstallFolder, ApplicationPath, sizeof ApplicationPath);
}

// A name below a folder as a path; a root folder has its separator already.
bool JoinPath(const char* folder, const char* name, char* out, size_t size)
{
    size_t length = TextLength(folder);
    if (length && IsSeparator(folder[length - 1]))
        return FormatText(out, size, "%s%s", folder, name);
    return FormatFolderFile(out, size, folder, name);
}

bool FolderPath(const char* name, char* out, size_t size)
{
    return JoinPath(InstallFolder, name, out, size);
}

// The folder's path below the installation folder, "" for the folder itself.
const char* BelowInstallFolder(const char* path)
{
    const char* below = path + TextLength(InstallFolder);
    return below + (IsSeparator(*below) ? 1 : 0);
}

bool IsSystemFolderOf(const char* path, int folder)
{
    char system[PathBufferSize];
    return SystemFolderPath(folder, system, sizeof system) && SamePath(path, system);
}

// Folders that are never removed, even when empty: a drive's root, the
// Windows and system directories, the programs folders, the user's profile.
bool IsProtectedFolder(const char* path)
{
    char canonical[PathBufferSize];
    if (!CanonicalPath(path, canonical, sizeof canonical) || TextLength(canonical) <= 3)
        return true;
    const int folders[] = {CSIDL_WINDOWS, CSIDL_SYSTEM, CSIDL_SYSTEMX86, CSIDL_PROGRAM_FILES,
        CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_PROFILE,
        CSIDL_COMMON_APPDATA, CSIDL_APPDATA, CSIDL_LOCAL_APPDATA, CSIDL_DESKTOPDIRECTORY,
        CSIDL_PERSONAL};
    for (int folder : folders)
        if (IsSystemFolderOf(canonical, folder))
            return true;
    return false;
}

bool IsThisProgram(const char* path)
{
    return SamePathText(path, UninstallerPath);
}

// This program, or this program renamed out of the way when the undo of an
// interrupted install put back the one it replaced (name.pmdel, name.1.pmdel ...).
bool IsThisProgramOrMovedAway(const char* path)
{
    char form[PathBufferSize];
    for (int number = 0; number < SuffixNumbers; ++number)
        if (SuffixedPath(UninstallerPath, MovedAwaySuffix, number, form, sizeof form) && SamePathText(form, path))
            return true;
    return IsThisProgram(path);
}

// What stays, listed for the final message (shown as given, or as the
// path itself) and logged under the list's heading.
void Note(ListIndex list, const char* path, const char* shown = nullptr)
{
    AddPath(TheRemoval.lists[list], path, shown);
    LogLine("%s %s", TheRemoval.lists[list].heading.text, path);
    if (list == InUseList && !IsThisProgramOrMovedAway(path))
        TheRemoval.restartNeeded = true;
}

bool IsTheRecord(const char* relative)
{
    return SamePathText(relative, InstallRecordName);
}

// Deletes a file of the product's through a handle whose final path lies
// within the folder. One a program runs from is moved into the restart folder
// and goes at the next restart; one held so that it cannot even be moved
// stays, named. What a link leads to is never touched: the link's folder is
// named when the folders are removed.
// What stays that is no file, in words: the English for the log, the
// translation for the screen.
void NoteNotRemoved(EnglishText format, const char* name, const char* more = "")
{
    char english[PathBufferSize];
    char shown[PathBufferSize];
    FormatText(english, sizeof english, format.text, name, more);
    FormatText(shown, sizeof shown, Translate(format), name, more);
    Note(NotRemovedList, english, shown);
}

void RemoveFileAt(const char* path)
{
    HANDLE file;
    switch (OpenFileWithin(path, DELETE | FILE_WRITE_ATTRIBUTES, TheRemoval.folderFinal, &file)) {
    case AbsentFile:
    case OutsideFile:
        return;
    case OpenedFile:
        break;
    case DeniedFile:
        // Held so that it cannot even be moved: named when it lies within the folder.
        if (OpenFileWithin(path, FILE_READ_ATTRIBUTES, TheRemoval.folderFinal, &file) == OpenedFile) {
            CloseHandle(file);
            Note(NotRemovedList, path);
        }
        return;
    default:
        Note(NotRemovedList, path);
        return;
    }
    // A read-only file of the product's is deleted all the same.
    bool deleted = ClearReadOnly(file) && DeleteOpenFile(file);
    char moved[PathBufferSize];
    bool left = !deleted && LeaveForRestart(file, path, moved, sizeof moved);
    CloseHandle(file);
    if (deleted) {
        LogLine("Removed: %s", path);
        return;
    }
    if (left)
        LogLine("Moved: %s to %s", path, moved);
    // One user's run leaves nothing for the restart: what went to the temporary folder is gone.
    if (left && RunMode == UserMode)
        return;
    // This program's own file, where even the restart may not take it, stays for the user to delete.
    Note(left ? InUseList : IsThisProgram(path) ? LeftList : NotRemovedList, path);
}

void RemoveRecordedFile(const char* relative)
{
    char path[PathBufferSize];
    if (!FolderPath(relative, path, sizeof path))
        return; // a path no file function could name was never written
    RemoveFileAt(path);
}

// Every recorded file but the record and this program, which go last; the
// system directory's files stay, and are named.
void RemoveFiles(HWND progress)
{
    const RecordedNames& recorded = TheRemoval.recorded;
    char system[PathBufferSize];
    for (int i = 0; i < recorded.count; ++i) {
        const char* name = recorded.names[i];
        // MulDiv keeps 64-bit division, and the code it needs, out of this program of a fixed size.
        ShowProgress(progress, name, MulDiv(i, 100, recorded.count));
        char path[PathBufferSize];
        if (IsSystemName(name)) {
            UINT length = GetSystemDirectoryA(system, sizeof system);
            if (length > 0 && length < sizeof system
                && FormatFolderFile(path, sizeof path, system, name + SystemPrefixLength))
                Note(SystemList, path);
            continue;
        }
        if (IsTheRecord(name) || (FolderPath(name, path, sizeof path) && IsThisProgram(path)))
            continue;
        RemoveRecordedFile(name);
    }
    ShowProgress(progress, "", 100);
}

// A folder that a recorded file needs, or one of the folders this uninstaller
// was built to remove (an interrupted install may have made one and left it
// empty). Only files the record names are ever deleted from them.
bool IsProductFolder(const char* relative)
{
    if (IsRecordedFolder(TheRemoval.recorded, relative))
        return true;
    for (int i = 0; i < UninstallNames->folderCount; ++i)
        if (SamePathText(UninstallNames->folderNames[i], relative))
            return true;
    return false;
}

bool IsLink(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// A recorded file's name with the suffix added (name.pmdel, name.1.pmdel ...).
bool IsSuffixedRecordedFile(const char* relative, const char* suffixText)
{
    char original[PathBufferSize];
    size_t length = TextLength(relative);
    size_t suffix = TextLength(suffixText);
    if (length <= suffix || !SamePathText(relative + length - suffix, suffixText)
        || !CopyText(original, sizeof original, relative))
        return false;
    length -= suffix;
    original[length] = '\0';
    if (IsRecordedFile(TheRemoval.recorded, original))
        return true;
    // The numbered forms: a dot and one digit before the suffix.
    if (length <= 2 || original[length - 2] != '.' || original[length - 1] < '1' || original[length - 1] > '9')
        return false;
    original[length - 2] = '\0';
    return IsRecordedFile(TheRemoval.recorded, original);
}

// A recorded file that the undo of an interrupted install renamed out of a
// program's way, or the staged file of an update that waits to replace a
// held one at the restart: both go now, so that the restart brings nothing
// of the product's back into the folder it was removed from. A staged name
// that the restart does not move is no file of the product's: the undo left
// none, so it is the user's (the setup staged beside it under another name).
bool IsMovedAway(const char* relative, const char* path)
{
    return IsSuffixedRecordedFile(relative, MovedAwaySuffix)
        || (IsSuffixedRecordedFile(relative, StagedSuffix) && WasScheduledSource(path));
}

// Whether everything left in a folder is the product's own (files that stay,
// named, or this program and the record, which go at the end). A file an
// earlier build moved out of a program's way goes now, or from the restart
// folder at the next restart.
bool HoldsOnlyLeftovers(const char* folder, bool* empty, int depth = 0)
{
    char pattern[PathBufferSize];
    WIN32_FIND_DATAA found;
    *empty = true;
    if (!JoinPath(folder, "*", pattern, sizeof pattern))
        return false;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    bool leftovers = true;
    do {
        if (TextEquals(found.cFileName, ".") || TextEquals(found.cFileName, ".."))
            continue;
        *empty = false;
        char path[PathBufferSize];
        bool named = JoinPath(folder, found.cFileName, path, sizeof path);
        const char* relative = named ? BelowInstallFolder(path) : "";
        // A link or a folder of that name is nothing the setup moved away.
        bool movedAway = named && !(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
            && IsMovedAway(relative, path);
        // Removed here: an earlier build's run ended between moving it and scheduling it left it unscheduled.
        if (movedAway)
            RemoveFileAt(path);
        bool subfolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        bool subEmpty;
        // A product folder below that holds only leftovers is a leftover too.
        // Every entry is looked at, so that every file moved away goes.
        leftovers = named
            && (subfolder ? !IsLink(GetFileAttributesA(path)) && IsProductFolder(relative)
                        && depth < int(PathBufferSize / 2) && HoldsOnlyLeftovers(path, &subEmpty, depth + 1)
                          : movedAway || IsRecordedFile(TheRemoval.recorded, relative) || IsThisProgram(path)
                        || IsTheRecord(relative))
            && leftovers;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return leftovers;
}

bool RemoveEmptyFolder(const char* folder)
{
    bool removed = RemoveDirectoryA(folder) != 0;
    if (removed)
        LogLine("Removed the folder: %s", folder);
    return removed;
}

// A folder of the product's goes when it is empty, once the files moved out
// of a program's way are gone; one that holds anything else is kept. Nothing
// is left to the restart by a path inside the installation folder.
void RemoveProductFolder(const char* folder)
{
    if (IsProtectedFolder(folder) || RemoveEmptyFolder(folder) || GetFileAttributesA(folder) == INVALID_FILE_ATTRIBUTES)
        return;
    bool empty;
    if (HoldsOnlyLeftovers(folder, &empty)) {
        if (RemoveEmptyFolder(folder))
            return;
        // Empty and there still: some program's current folder. It is named and left to the user rather than
        // to the restart, which would delete it by its path, whatever stands there then.
        if (HoldsOnlyLeftovers(folder, &empty) && empty)
            Note(LeftList, folder);
        else
            LogLine("Stays until it is empty: %s", folder);
    } else if (!empty || folder == InstallFolder) {
        Note(KeptList, folder);
    }
}

// The product's folders below this one, deepest first, then this one: each
// goes when empty. A link in its place is removed as a link or left and named, never
// followed; a folder that holds the user's files is kept and named.
void RemoveFolders(const char* folder, int depth)
{
    char pattern[PathBufferSize];
    WIN32_FIND_DATAA found;
    HANDLE search = JoinPath(folder, "*", pattern, sizeof pattern) ? FindFirstFileA(pattern, &found)
                                                                   : INVALID_HANDLE_VALUE;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            char path[PathBufferSize];
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || TextEquals(found.cFileName, ".")
                || TextEquals(found.cFileName, "..") || !JoinPath(folder, found.cFileName, path, sizeof path)
                || !IsProductFolder(BelowInstallFolder(path)))
                continue;
            DWORD attributes = GetFileAttributesA(path);
            WCHAR final[FinalPathSize];
            bool resolved = FinalFolderPath(path, final, FinalPathSize);
            if (attributes != INVALID_FILE_ATTRIBUTES
                && (IsLink(attributes) || (resolved && !FinalPathIsWithin(final, TheRemoval.folderFinal)))) {
                if (IsProtectedFolder(path) || !RemoveDirectoryA(path))
                    Note(LinkList, path);
                else
                    LogLine("Removed the link: %s", path);
                continue;
            }
            if (!resolved) {
                Note(KeptList, path);
                continue;
            }
            // Folders nest no deeper than a path can reach; the depth only guards against a loop.
            if (depth < int(PathBufferSize / 2))
                RemoveFolders(path, depth + 1);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    if (depth != 0)
        RemoveProductFolder(folder);
}

// The remembered folder, then the uninstall entry; false, with what stays
// named, when either could not be removed. While the entry stays, the
// uninstaller can be run again from it.
bool ForgetInstallation()
{
    char profile[PathBufferSize] = "";
    char value[PathBufferSize];
    // The profile's place always has a path: the run could not have begun without its other places.
    ProductPlacePath(RunMode, ProfilePlace, profile, sizeof profile);
    // One user's profile file lies where that user's programs write: with administrator rights, one that
    // a link or a second name leads to is not the product's, and is left alone (logged), as is the folder.
    // A folder missing now is left alone too: a link put there later must not lead the reads and writes.
    char folder[PathBufferSize];
    bool guarded = RunsForUserWithRights();
    bool present = !guarded
        || (CopyFolderPart(profile, folder, sizeof folder) && GetFileAttributesA(folder) != INVALID_FILE_ATTRIBUTES);
    HANDLE held = guarded && present ? HoldProfileFolder(profile) : INVALID_HANDLE_VALUE;
    bool ours = !guarded || held != INVALID_HANDLE_VALUE;
    bool wasThere = ours && ReadProfileValue(ProfileSection, ProfileKey, "", value, sizeof value, profile) > 0;
    // Its other lines may be an earlier build's or the product's own, in a code page: a write of the
    // profile functions would garble them unless the file is made UTF-16 first.
    bool removed = !wasThere || PrepareProfileForWriting(profile, nullptr);
    if (wasThere && removed) {
        WritePrivateProfileStringA(ProfileSection, ProfileKey, nullptr, profile);
        char rest[4];
        if (GetPrivateProfileSectionA(ProfileSection, rest, sizeof rest, profile) == 0)
            WritePrivateProfileStringA(ProfileSection, nullptr, nullptr, profile);
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, profile); // writes the cached file out
        removed = ReadProfileValue(ProfileSection, ProfileKey, "", value, sizeof value, profile) == 0;
    }
    if (ours && removed)
        DeleteBlankProfile(profile);
    if (held != INVALID_HANDLE_VALUE)
        CloseHandle(held);
    if (!removed) {
        NoteNotRemoved(ProfileFormat, profile);
        return false;
    }
    if (wasThere)
        LogLine("Profile: %s removed from %s", ProfileKey, profile);
    // One user's profile file lies in the product's folder of the user's data, which goes when empty.
    if (RunMode == UserMode && ours) {
        profile[FolderPartLength(profile, TextLength(profile))] = '\0';
        RemoveDirectoryA(profile); // result deliberately ignored: one that holds the product's own data stays
    }
    char keyPath[PathBufferSize];
    const char* root = UninstallRootName(RunMode);
    if (FormatUninstallKey(keyPath, sizeof keyPath, ProductConfig.displayName)) {
        LONG status = RegDeleteKeyExA(UninstallRoot(RunMode), keyPath, ProductRegistryView(), 0);
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
            NoteNotRemoved(EntryFormat, root, keyPath);
            return false;
        }
        if (status == ERROR_SUCCESS)
            LogLine("Registry: %s\\%s removed", root, keyPath);
    }
    return true;
}

// The record and this program go last, and only when all else went: with them
// the user can run the removal again.
void RemoveLast()
{
    RemoveRecordedFile(InstallRecordName);
    // This program, when it runs from here, goes at the next restart.
    RemoveRecordedFile(BelowInstallFolder(UninstallerPath));
}

void NoteLinkNotRemoved(const char* path)
{
    Note(NotRemovedList, path);
}

void RemoveFromShell(HWND progress)
{
    ShowProgress(progress, ProductConfig.folderName, 0);
    OpenDdeClient();
    // Only logged: the group's links to the product are deleted as files all the same, and one that stays
    // is named and makes the removal incomplete; what else the group holds is not the product's.
    if (!RemoveProductGroup(NoteLinkNotRemoved))
        LogLine("Warning: Program Manager did not delete the group %s; it stays with items the product did not "
                "put there", ProductConfig.folderName);
    RemoveStartupItem(TheRemoval.recorded.links, TheRemoval.recorded.linkCount, NoteLinkNotRemoved);
    CloseDdeClient();
}

void StopRunningCopies(HWND progress)
{
    if (ProductConfig.warnOfRunningCopies) {
        ShowWarning(nullptr, RunningCopiesCaption, RunningCopiesFormat, ShownProductName());
    } else {
        ShowProgress(progress, Translate(ShuttingDownProgressText), 0);
        ShutDownRunningCopies(InstallFolder);
    }
}

// Removes the product's services. False, with the NT service named, when that
// could not be removed: then nothing else is, so that its program stays to
// remove it on the next try.
bool RemoveServices(HWND progress)
{
    if (ProductConfig.serviceExecutable[0]) {
        ShowProgress(progress, ProductConfig.serviceExecutable, 0);
        if (!RemoveNtService()) {
            NoteNotRemoved(ServiceFormat, ProductConfig.serviceExecutable);
            return false;
        }
    }
    if (ProductConfig.useAgentService) {
        ShowProgress(progress, AgentServiceFileName, 0);
        if (!RemoveAgentService())
            LogLine("Warning: the agent service program did not end with 0; it is deleted all the same");
    }
    return true;
}

} // namespace

void ReadRecordedLanguage(char* name, size_t size)
{
    name[0] = '\0';
    char record[PathBufferSize];
    WCHAR folderFinal[FinalPathSize];
    LineReader reader;
    if (!LocateInstallation() || !FolderPath(InstallRecordName, record, sizeof record)
        || !FinalFolderPath(InstallFolder, folderFinal, FinalPathSize) || !OpenLines(reader, record, folderFinal))
        return;
    // The product's line, then the language's.
    char line[PathBufferSize];
    for (int lines = 0; lines < 2 && NextLine(reader, line, sizeof line) == LineRead; ++lines)
        if (const char* language = RecordedLanguageName(line)) {
            CopyText(name, size, language); // result deliberately ignored: a name too long is no language of the product's
            break;
        }
    CloseLines(reader);
}

namespace {

// What the setup wrote, as its record names it; false, with the folder
// named, when the record cannot be read.
bool ReadInstallation()
{
    Removal& removal = TheRemoval;
    const EnglishText headings[ListCount] = {
        NotRemovedHeading, InUseHeading, KeptHeading, LinkHeading, SystemHeading, LeftHeading};
    for (int i = 0; i < ListCount; ++i)
        removal.lists[i].heading = headings[i];
    char record[PathBufferSize];
    if (!FolderPath(InstallRecordName, record, sizeof record)
        || !FinalFolderPath(InstallFolder, removal.folderFinal, FinalPathSize)
        || !LoadRecordedNames(removal.recorded, record, removal.folderFinal)) {
        Note(NotRemovedList, InstallFolder);
        return false;
    }
    return true;
}

// Removes what the setup installed, as ReadInstallation read it; true when
// nothing of it stays but what the restart removes.
bool RemoveInstallation(HWND progress)
{
    Removal& removal = TheRemoval;
    // Which staged files the restart waits to move, before any goes.
    if (!RememberScheduledSources())
        LogLine("Not enough memory to read the restart's schedule: the staged files stay");
    RemoveFiles(progress);
    RemoveFolders(InstallFolder, 0);
    bool complete = !removal.lists[NotRemovedList].text[0] && ForgetInstallation();
    if (complete) {
        RemoveLast();
        RemoveProductFolder(InstallFolder);
        complete = !removal.lists[NotRemovedList].text[0];
    }
    // The staged files that waited for the restart went above: their replacements go from its schedule, or a
    // file made under such a name before the restart would be moved over whatever stands in the folder then.
    if (!DropStaleScheduledFor(removal.folderFinal))
        LogLine("The restart's schedule could not be cleared of what no longer waits in the folder");
    return complete;
}

// What was removed, and what stays and why, in English for the log and in
// the run's language on the screen.
void ShowReport(bool complete)
{
    EnglishText opening = complete ? CompleteFormat : IncompleteFormat;
    char reports[2][ReportSize];
    for (int shown = 0; shown < 2; ++shown) {
        char sentence[MessageBufferSize];
        FormatText(sentence, sizeof sentence, shown ? Translate(opening) : opening.text, ShownProductName());
        if (!ComposeReport(reports[shown], ReportSize, sentence, TheRemoval.lists, ListCount, shown))
            CopyText(reports[shown], ReportSize, sentence);
    }
    ShowComposed(nullptr, !complete, complete ? CompleteCaption : IncompleteCaption, reports[0], reports[1]);
}

} // namespace

bool UninstallWantsMachine(const RunSwitches&)
{
    // The two installations never share a folder: one that is the machine's is not the user's.
    return ProductDetails.installFor == InstallForAsk && LocateInstallation() && BelongsTo(MachineMode);
}

int UninstallSequence(HINSTANCE instance)
{
    if (!LocateInstallation() || !BelongsTo(RunMode)) {
        ShowWarning(nullptr, NotPossibleCaption, NotPossibleFormat, ShownProductName());
        return ExitNotInstalledHere;
    }
    LogLine("Folder: %s", InstallFolder);
    if (!AskYesNo(nullptr, true, QuestionCaptionFormat, QuestionFormat, ShownProductName()))
        return ExitDeclined;
    // Its template is laid out for its texts in every language: the uninstaller carries no layout code.
    HWND progress = Unattended ? nullptr : CreateProgressDialog(instance, nullptr, nullptr);
    // Running copies are told to quit before anything is changed: an install
    // into this folder that was cut off is undone first, so that what is
    // removed below is the version that was there before it, and what a
    // running copy holds could not be put back.
    StopRunningCopies(progress);
    if (SettleJournal(InstallFolder, nullptr, nullptr) != ExtractDone) {
        ShowWarning(nullptr, NotPossibleCaption, NotUndoneFormat, ShownProductName());
        return ExitFailed;
    }
    // What the undo could only move into the restart folder goes at the restart.
    TheRemoval.restartNeeded = FilesAwaitingRestart() > 0;

    // The product's own programs run in their folder, as the setup ran them.
    SetCurrentDirectoryA(InstallFolder); // result deliberately ignored: they are found by their full paths
    // Before the shell: the record names the Startup item's links.
    bool read = ReadInstallation();
    bool stopped = RemoveServices(progress);
    if (stopped)
        RemoveFromShell(progress);

    // A folder that is some process's current directory cannot be removed.
    char system[PathBufferSize];
    if (GetSystemDirectoryA(system, sizeof system))
        SetCurrentDirectoryA(system); // result deliberately ignored: only this folder's removal could suffer
    bool complete = read && stopped && RemoveInstallation(progress);
    FreeRecordedNames(TheRemoval.recorded);
    if (progress)
        DestroyWindow(progress);

    ShowReport(complete);
    if (!complete)
        return ExitFailed;
    return TheRemoval.restartNeeded ? ExitRestartNeeded : ExitDone;
}
