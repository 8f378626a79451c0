#include "links.h"
#include "code_page.h"
#include "commands.h"
#include "run.h"
#include "text.h"
#include <objbase.h>
#include <shlobj.h>

namespace {

// A group's folder, as Program Manager keeps it: below the user's Programs
// folder, or for the Startup group (null) the Startup folder itself.
bool GroupFolder(const char* group, char* out, size_t size)
{
    char folder[PathBufferSize];
    return SystemFolderPath(group ? CSIDL_PROGRAMS : CSIDL_STARTUP, folder, sizeof folder)
        && (group ? FormatFolderFile(out, size, folder, group) : CopyText(out, size, folder));
}

bool GroupLinkPath(const char* folder, const char* item, char* out, size_t size)
{
    return FormatText(out, size, "%s\\%s.lnk", folder, item);
}

bool SaveLink(const char* path, const ShellLink& link)
{
    IShellLinkA* shellLink = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
            reinterpret_cast<void**>(&shellLink))))
        return false;
    WCHAR wide[PathBufferSize];
    IPersistFile* file = nullptr;
    bool saved = SUCCEEDED(shellLink->SetPath(link.target)) && SUCCEEDED(shellLink->SetArguments(link.arguments))
        && SUCCEEDED(shellLink->SetWorkingDirectory(link.workingFolder))
        && SUCCEEDED(shellLink->SetShowCmd(link.showCommand))
        && MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, wide, PathBufferSize) > 0
        && SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))
        && SUCCEEDED(file->Save(wide, TRUE));
    if (file)
        file->Release();
    shellLink->Release();
    return saved;
}

} // namespace

bool WriteGroupLink(const char* group, const char* item, const ShellLink& link)
{
    char folder[PathBufferSize];
    char path[PathBufferSize];
    if (!GroupFolder(group, folder, sizeof folder) || !GroupLinkPath(folder, item, path, sizeof path)) {
        LogLine("Link not made, its path does not fit: %s", item);
        return false;
    }
    CreateDirectoryA(folder, nullptr); // result deliberately ignored: saving the link tells
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bool saved = SaveLink(path, link);
    if (SUCCEEDED(com))
        CoUninitialize();
    LogLine(saved ? "Link: %s -> %s %s" : "Link not made: %s -> %s %s", path, link.target, link.arguments);
    return saved;
}

bool DeleteGroupLink(const char* group, const char* item)
{
    char folder[PathBufferSize];
    char path[PathBufferSize];
    if (!GroupFolder(group, folder, sizeof folder) || !GroupLinkPath(folder, item, path, sizeof path))
        return false;
    bool deleted = DeleteFileA(path) || GetLastError() == ERROR_FILE_NOT_FOUND;
    LogLine(deleted ? "Link removed: %s" : "Link not removed: %s", path);
    return deleted;
}
