#include "choose_folder.h"
#include "code_page.h"
#include "derived.h"
#include "dialogs.h"
#include "file_system.h"
#include "folder.h"
#include "globals.h"
#include "message.h"
#include "names.h"
#include "paths.h"
#include "product.h"
#include "resource.h"
#include "run.h"
#include "text.h"
#include <objbase.h>
#include <shlobj.h>

namespace {

// What a field contributes: the characters a path may have, less its end.
constexpr size_t FieldCharacters = 259;
const EnglishText BrowseTitle = N_("Select a Folder");
const EnglishText CannotCreateCaption = N_("Can't Create Directory");
const EnglishText CannotCreateText =
    N_("That folder does not exist, and the application was not able to create it. Most likely the parent folder "
    "does not exist or you have entered a path the program does not have write access to.");
const EnglishText ExistingFolderCaption = N_("Write Data to Existing Folder?");
const EnglishText ExistingFolderText =
    N_("That folder already exists. The application can use it, but we do not recommend using a folder that is "
    "already being used for other purposes. Are you sure you want to use this directory?");
const EnglishText OtherProductCaption = N_("Folder Holds Another Product");
const EnglishText OtherProductText =
    N_("That folder holds the installation of another product. Installed there, the two would share their files, "
    "and removing one would remove files of the other. Please choose another location.");
const EnglishText OtherInstallationCaption = N_("Folder Holds Another Installation");
const EnglishText OtherInstallationText =
    N_("That folder holds this application's installation for everyone on this computer, or for one user alone. "
    "Each installation needs a folder of its own: installed there, the two would share their files, and removing "
    "one would remove files of the other. Please choose another location.");
const EnglishText NotAFolderCaption = N_("Please Enter a Folder Name");
const EnglishText NotAFolderFormat =
    N_("That path specifies a file, and not a new or existing folder name. Please enter a folder name, such as %s "
    "for example.");

FolderTakenCheck RegisteredTakenCheck;

bool IsDriveRoot(const char* path)
{
    return path[0] && path[1] == ':' && path[2] == '\\' && path[3] == '\0';
}

// \\server\share\ with nothing after the share's trailing backslash.
bool IsShareRoot(const char* path)
{
    if (path[0] != '\\' || path[1] != '\\')
        return false;
    const char* p = path + 2;
    int separators = 0;
    for (; *p; ++p)
        if (*p == '\\')
            ++separators;
    return separators == 2 && p[-1] == '\\' && path[2] != '\\';
}

enum PathStatus { PathMissing, PathFolder, PathFile };

// What the file system holds under a path; a wildcard, or a trailing backslash
// other than a root's, reports nothing there.
PathStatus QueryPathStatus(const char* path)
{
    size_t length = TextLength(path);
    for (const char* p = path; *p; ++p)
        if (*p == '?' || *p == '*')
            return PathMissing;
    if (length && path[length - 1] == '\\')
        return (IsDriveRoot(path) || IsShareRoot(path)) ? PathFolder : PathMissing;
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return PathMissing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathFolder : PathFile;
}

// Whether folders may be made in the folder that holds the path's last
// level: it is where its path says, and not in the Windows directory.
bool MayMakeFoldersIn(const char* path)
{
    char parent[PathBufferSize];
    char windows[PathBufferSize];
    WCHAR parentFinal[FinalPathSize];
    WCHAR windowsFinal[FinalPathSize];
    UINT windowsLength = GetWindowsDirectoryA(windows, sizeof windows);
    size_t length = FolderPartLength(path, TextLength(path));
    bool may = CopyTextPrefix(parent, sizeof parent, path, length) && FolderIsAtPath(parent)
        && FinalFolderPath(parent, parentFinal, FinalPathSize) && windowsLength > 0 && windowsLength < sizeof windows
        && FinalFolderPath(windows, windowsFinal, FinalPathSize) && !FinalPathIsWithin(parentFinal, windowsFinal);
    if (!may)
        LogLine("No folder is made in %s: it is a link, leads elsewhere, or lies in the Windows directory", parent);
    return may;
}

void OpenChooseFolder(HWND dialog)
{
    char parent[PathBufferSize];
    char name[PathBufferSize];
    // Both parts of InstallFolder always fit buffers as large as it is.
    SplitProposal(InstallFolder, parent, sizeof parent, name, sizeof name);
    TranslateDialog(dialog);
    FitDialog(dialog);
    SetDlgItemTextA(dialog, IDC_CHOOSE_FOLDER_PARENT, parent);
    SetDlgItemTextA(dialog, IDC_CHOOSE_FOLDER_NAME, name);
    SetFocus(GetDlgItem(dialog, IDOK));
}

// The whole run derives paths from the folder; refuse it before anything is created.
bool FolderLeavesRoom(const char* folder)
{
    char normalized[PathBufferSize];
    if (!CopyText(normalized, sizeof normalized, folder))
        return false;
    NormalizeSeparators(normalized);
    return DerivedTextsFit(normalized);
}

void AcceptChooseFolder(HWND dialog)
{
    // Room for more than a field's characters, however many bytes each takes.
    char parent[PathBufferSize];
    char name[PathBufferSize];
    GetDlgItemTextA(dialog, IDC_CHOOSE_FOLDER_PARENT, parent, sizeof parent);
    GetDlgItemTextA(dialog, IDC_CHOOSE_FOLDER_NAME, name, sizeof name);
    KeepCharacters(parent, FieldCharacters);
    KeepCharacters(name, FieldCharacters);
    if (!JoinFolderFields(parent, name, InstallFolder, sizeof InstallFolder)) {
        ShowWarning(dialog, FolderTooLongCaption, FolderTooLongText);
        return;
    }
    if (CheckChosenFolder(dialog, false))
        EndDialog(dialog, 1);
}

void BrowseForParent(HWND dialog)
{
    // The browser is documented to need an apartment-threaded COM on the calling thread.
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    BROWSEINFOA browse = {};
    browse.hwndOwner = dialog;
    browse.lpszTitle = Translate(BrowseTitle);
    browse.ulFlags = BIF_RETURNONLYFSDIRS;
    LPITEMIDLIST item = SHBrowseForFolderA(&browse);
    // The ANSI form takes MAX_PATH bytes, too few for a path of MAX_PATH characters.
    WCHAR wide[MAX_PATH];
    char path[PathBufferSize];
    // An item without a file-system path, or one this code page cannot spell, leaves the field as it was.
    if (item && SHGetPathFromIDListW(item, wide) && NarrowText(wide, path, sizeof path))
        SetDlgItemTextA(dialog, IDC_CHOOSE_FOLDER_PARENT, path);
    CoTaskMemFree(item);
    if (SUCCEEDED(com))
        CoUninitialize();
}

INT_PTR CALLBACK ChooseFolderDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        OpenChooseFolder(dialog);
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    switch (LOWORD(wParam)) {
    case IDOK:
        AcceptChooseFolder(dialog);
        return TRUE;
    case IDCANCEL:
        EndDialog(dialog, 0);
        return TRUE;
    case IDC_CHOOSE_FOLDER_BROWSE:
        BrowseForParent(dialog);
        return TRUE;
    }
    return FALSE;
}

} // namespace

bool MakeMissingFolders(const char* folder)
{
    char level[PathBufferSize];
    if (!CopyText(level, sizeof level, folder))
        return false;
    // Below the root: a drive's (C:\) or a share's (\\server\share\).
    size_t at = 3;
    if (level[1] != ':')
        for (int separators = 0; level[at] && separators < 2; ++at)
            separators += level[at] == '\\' ? 1 : 0;
    bool checked = false;
    for (size_t end = TextLength(level); at <= end; ++at) {
        if (level[at] != '\\' && level[at] != '\0')
            continue;
        char separator = level[at];
        level[at] = '\0';
        if (GetFileAttributesA(level) == INVALID_FILE_ATTRIBUTES) {
            // The deepest folder that is there, checked once: every folder made below it is checked as it is made.
            if (!checked && !MayMakeFoldersIn(level))
                return false;
            checked = true;
            if (!CreateDirectoryA(level, nullptr) || !FolderIsAtPath(level)) {
                LogLine("Folder not made, or not where its path says: %s", level);
                return false;
            }
            LogLine("Folder made: %s", level);
        }
        level[at] = separator;
    }
    return true;
}

bool CheckChosenFolder(HWND owner, bool makeParents)
{
    // Everything later names the folder from elsewhere, so a relative one is made full first.
    if (!MakeFolderAbsolute(InstallFolder, sizeof InstallFolder) || !FolderLeavesRoom(InstallFolder)) {
        ShowWarning(owner, FolderTooLongCaption, FolderTooLongText);
        return false;
    }
    switch (QueryPathStatus(InstallFolder)) {
    case PathMissing:
        if (makeParents ? MakeMissingFolders(InstallFolder) : CreateDirectoryA(InstallFolder, nullptr) != 0)
            return true;
        ShowWarning(owner, CannotCreateCaption, CannotCreateText);
        return false;
    case PathFolder:
        switch (RegisteredTakenCheck ? RegisteredTakenCheck(InstallFolder) : FolderFree) {
        case FolderOfAnotherProduct:
            ShowWarning(owner, OtherProductCaption, OtherProductText);
            return false;
        case FolderOfOtherInstallation:
            ShowWarning(owner, OtherInstallationCaption, OtherInstallationText);
            return false;
        default:
            break;
        }
        // Whoever names a folder for an unattended run means that folder.
        return EndsWithFolderName(InstallFolder, ProductConfig.folderName)
            || AskYesNo(owner, true, ExistingFolderCaption, ExistingFolderText);
    default:
        ShowWarning(owner, NotAFolderCaption, NotAFolderFormat, ProductConfig.folderName);
        return false;
    }
}

void RegisterFolderTakenCheck(FolderTakenCheck check)
{
    RegisteredTakenCheck = check;
}

INT_PTR ChooseFolderDialog(HINSTANCE instance, HWND owner)
{
    return RunDialog(instance, IDD_CHOOSE_FOLDER, owner, ChooseFolderDialogProc);
}
