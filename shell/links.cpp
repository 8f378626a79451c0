#include "links.h"
#include "architecture.h"
#include "code_page.h"
#include "commands.h"
#include "file_system.h"
#include "names.h"
#include "places.h"
#include "product.h"
#include "run.h"
#include "text.h"
#include <objbase.h>
#include <shlobj.h>

namespace {

const int PlaceFolders[] = {CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS, CSIDL_STARTUP, CSIDL_COMMON_STARTUP};

bool GroupFolder(LinkPlace place, const char* group, char* out, size_t size)
{
    char folder[PathBufferSize];
    return SystemFolderPath(PlaceFolders[place], folder, sizeof folder)
        && (group ? FormatFolderFile(out, size, folder, group) : CopyText(out, size, folder));
}

// The shell's link object on this thread, for as long as it lives.
class LinkObject {
public:
    LinkObject() : com_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))
    {
        // The identifiers from the headers (__uuidof): libuuid's object would bring all of its own.
        if (FAILED(CoCreateInstance(__uuidof(ShellLink), nullptr, CLSCTX_INPROC_SERVER, __uuidof(IShellLinkA),
                reinterpret_cast<void**>(&link_))))
            link_ = nullptr;
        if (link_ && FAILED(link_->QueryInterface(__uuidof(IPersistFile), reinterpret_cast<void**>(&file_))))
            file_ = nullptr;
    }
    ~LinkObject()
    {
        if (file_)
            file_->Release();
        if (link_)
            link_->Release();
        if (SUCCEEDED(com_))
            CoUninitialize();
    }
    LinkObject(const LinkObject&) = delete;
    LinkObject& operator=(const LinkObject&) = delete;
    IShellLinkA* Link() const { return file_ ? link_ : nullptr; }
    IPersistFile* File() const { return file_; }

private:
    HRESULT com_;
    IShellLinkA* link_ = nullptr;
    IPersistFile* file_ = nullptr;
};

bool WidePath(const char* path, WCHAR* wide, int count)
{
    return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, wide, count) > 0;
}

// Where a path's file name begins: after its last backslash (0 when it has none).
size_t FileNameOffset(const char* path)
{
    size_t end = TextLength(path);
    while (end > 0 && path[end - 1] != '\\')
        --end;
    return end;
}

bool IsAbsent(const char* path)
{
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
        return false;
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Whether this process runs as the system itself, as a deployment service runs it.
bool RunsAsLocalSystem()
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } owner;
    DWORD size = 0;
    bool system = GetTokenInformation(token, TokenUser, &owner, sizeof owner, &size)
        && IsWellKnownSid(owner.user.User.Sid, WinLocalSystemSid);
    CloseHandle(token);
    return system;
}

} // namespace

bool GroupLinkPath(LinkPlace place, const char* group, const char* item, char* out, size_t size)
{
    char folder[PathBufferSize];
    return GroupFolder(place, group, folder, sizeof folder) && FormatText(out, size, "%s\\%s.lnk", folder, item);
}

bool WriteLink(const char* path, const ShellLink& link)
{
    char folder[PathBufferSize];
    if (CopyText(folder, sizeof folder, path)) {
        size_t end = FileNameOffset(folder);
        folder[end ? end - 1 : 0] = '\0';
        CreateDirectoryA(folder, nullptr); // result deliberately ignored: saving the link tells
    }
    LinkObject object;
    IShellLinkA* shellLink = object.Link();
    WCHAR wide[PathBufferSize];
    bool saved = shellLink && SUCCEEDED(shellLink->SetPath(link.target))
        && SUCCEEDED(shellLink->SetArguments(link.arguments))
        && SUCCEEDED(shellLink->SetWorkingDirectory(link.workingFolder))
        && SUCCEEDED(shellLink->SetShowCmd(link.showCommand)) && WidePath(path, wide, PathBufferSize)
        && SUCCEEDED(object.File()->Save(wide, TRUE));
    LogLine(saved ? "Link: %s -> %s %s" : "Link not made: %s -> %s %s", path, link.target, link.arguments);
    return saved;
}

LinkPlace GroupPlace()
{
    return RunMode == UserMode ? UserPrograms : AllUsersPrograms;
}

bool UsesProgramManager()
{
    return RunMode == UserMode || ProductDetails.installFor != InstallForAsk;
}

LinkPlace StartupPlace()
{
    return RunMode == MachineMode && (!UsesProgramManager() || RunsAsLocalSystem()) ? CommonStartup : UserStartup;
}

bool MayBeRecordedStartupLink(const char* path, const char* folderName)
{
    char name[PathBufferSize];
    char folder[PathBufferSize];
    size_t end = FileNameOffset(path);
    if (end == 0 || FullPathProblem(path) || !FormatText(name, sizeof name, "%s.lnk", folderName)
        || !SamePathText(path + end, name) || !CopyTextPrefix(folder, sizeof folder, path, end - 1))
        return false;
    // In some user's profile, whoever installed, or in every user's Startup folder.
    char common[PathBufferSize];
    char profiles[PathBufferSize];
    bool named = ReadRegistryText(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", 0,
                     L"ProfilesDirectory", profiles, sizeof profiles)
        && !FullPathProblem(profiles);
    return (named && PathIsWithin(folder, profiles) && !SamePathText(folder, profiles))
        || (GroupFolder(CommonStartup, nullptr, common, sizeof common) && SamePathText(folder, common));
}

bool DeleteLinkTo(const char* path, const char* target)
{
    if (IsAbsent(path))
        return true;
    bool loaded;
    bool ours;
    {
        LinkObject object;
        IShellLinkA* shellLink = object.Link();
        WCHAR wide[PathBufferSize];
        char linked[PathBufferSize];
        loaded = shellLink && WidePath(path, wide, PathBufferSize) && SUCCEEDED(object.File()->Load(wide, STGM_READ));
        ours = loaded && SUCCEEDED(shellLink->GetPath(linked, sizeof linked, nullptr, SLGP_RAWPATH))
            && SamePath(linked, target);
    }
    if (!ours) {
        // A file that is there but cannot even be read may be the product's link.
        HANDLE probe = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        bool readable = probe != INVALID_HANDLE_VALUE;
        if (readable)
            CloseHandle(probe);
        bool gone = readable || IsAbsent(path);
        LogLine(gone ? "Link left alone, it is no link to %s: %s" : "Link to %s not removed, it cannot be read: %s",
            target, path);
        return gone;
    }
    // Deleted through a handle with no link or junction on its way to the path read; read-only or not.
    HANDLE file = INVALID_HANDLE_VALUE;
    bool deleted = OpenFileWithin(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, nullptr, &file)
            == OpenedFile
        && HandleIsAtPath(file, path) && ClearReadOnly(file) && DeleteOpenFile(file);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    // Program Manager, told to delete the group, may have taken it meanwhile.
    bool gone = deleted || IsAbsent(path);
    LogLine(gone ? "Link removed: %s" : "Link not removed: %s", path);
    return gone;
}

bool RemoveEmptyGroup(LinkPlace place, const char* group)
{
    char folder[PathBufferSize];
    if (!GroupFolder(place, group, folder, sizeof folder))
        return true;
    bool removed = RemoveDirectoryA(folder) != 0;
    if (removed)
        LogLine("Group removed: %s", folder);
    return removed || IsAbsent(folder);
}
