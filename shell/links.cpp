#include "links.h"
#include "code_page.h"
#include "commands.h"
#include "file_system.h"
#include "run.h"
#include "text.h"
#include <objbase.h>
#include <shlobj.h>

namespace {

const int PlaceFolders[] = {CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS, CSIDL_STARTUP};

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
        if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                reinterpret_cast<void**>(&link_))))
            link_ = nullptr;
        if (link_ && FAILED(link_->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file_))))
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
        size_t end = TextLength(folder);
        while (end > 0 && folder[end - 1] != '\\')
            --end;
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

bool DeleteLinkTo(const char* path, const char* target)
{
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
        return true;
    bool ours;
    {
        LinkObject object;
        IShellLinkA* shellLink = object.Link();
        WCHAR wide[PathBufferSize];
        char linked[PathBufferSize];
        ours = shellLink && WidePath(path, wide, PathBufferSize) && SUCCEEDED(object.File()->Load(wide, STGM_READ))
            && SUCCEEDED(shellLink->GetPath(linked, sizeof linked, nullptr, SLGP_RAWPATH)) && SamePath(linked, target);
    }
    // Deleted through a handle with no link or junction on its way to the path read.
    HANDLE file = INVALID_HANDLE_VALUE;
    bool deleted = ours && OpenFileWithin(path, DELETE, nullptr, &file) == OpenedFile && HandleIsAtPath(file, path)
        && DeleteOpenFile(file);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (!ours)
        LogLine("Link left alone, it does not lead to %s: %s", target, path);
    else
        LogLine(deleted ? "Link removed: %s" : "Link not removed: %s", path);
    return deleted;
}

void RemoveEmptyGroup(LinkPlace place, const char* group)
{
    char folder[PathBufferSize];
    if (GroupFolder(place, group, folder, sizeof folder) && RemoveDirectoryA(folder))
        LogLine("Group removed: %s", folder);
}
