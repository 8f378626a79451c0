#include "test_files.h"
#include <windows.h>
#include <fstream>

void RemoveTree(const std::string& path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string child = path + "\\" + name;
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            // A link goes as a link: what it leads to is not the tree's.
            DWORD attributes = GetFileAttributesA(child.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
                RemoveUnixLink(child);
            else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

std::string HelperPath(const char* name)
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path);
    return folder.substr(0, folder.rfind('\\') + 1) + name;
}

std::vector<std::string> ReadLines(const std::string& path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

namespace {

std::string UnixPath(const std::string& path)
{
    using ToUnix = char*(CDECL*)(const WCHAR*);
    auto toUnix = reinterpret_cast<ToUnix>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name"));
    WCHAR wide[MAX_PATH];
    if (!toUnix || !MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH))
        return "";
    char* unix = toUnix(wide);
    std::string result = unix ? unix : "";
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

// Runs a program of the machine Wine runs on, with its own paths.
bool RunUnix(std::string commandLine)
{
    STARTUPINFOA startup = {sizeof startup};
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

// The link's own Unix path: its folder's, and its name, which Wine would resolve.
std::string UnixLinkPath(const std::string& link)
{
    size_t separator = link.rfind('\\');
    return UnixPath(link.substr(0, separator)) + "/" + link.substr(separator + 1);
}

} // namespace

bool MakeUnixLink(const std::string& link, const std::string& target)
{
    RunUnix("Z:\\bin\\ln -s \"" + UnixPath(target) + "\" \"" + UnixLinkPath(link) + "\"");
    // Wine does not wait for a Unix program's end: the link is awaited.
    for (int wait = 0; wait < 100; ++wait, Sleep(50)) {
        DWORD attributes = GetFileAttributesA(link.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return true;
    }
    return false;
}

void RemoveUnixLink(const std::string& link)
{
    // Wine's DeleteFile and RemoveDirectory both refuse a link to a folder.
    RunUnix("Z:\\bin\\rm -f \"" + UnixLinkPath(link) + "\"");
    for (int wait = 0; wait < 100 && GetFileAttributesA(link.c_str()) != INVALID_FILE_ATTRIBUTES; ++wait)
        Sleep(50);
}

namespace {

// The Unix path of the link that is the drive: Wine's drives are the links in
// the prefix's dosdevices folder, beside C:'s.
std::string DriveLink(char letter)
{
    std::string drives = UnixPath("C:\\");
    size_t c = drives.rfind("/c:");
    return c == std::string::npos ? "" : drives.substr(0, c + 1) + char(letter | 0x20) + ":";
}

} // namespace

bool MapDrive(char letter, const std::string& folder)
{
    const std::string link = DriveLink(letter);
    const std::string root = std::string(1, letter) + ":\\";
    if (link.empty() || !RunUnix("Z:\\bin\\ln -sfn \"" + UnixPath(folder) + "\" \"" + link + "\""))
        return false;
    for (int wait = 0; wait < 100; ++wait, Sleep(50))
        if (GetFileAttributesA(root.c_str()) != INVALID_FILE_ATTRIBUTES)
            return true;
    return false;
}

void UnmapDrive(char letter)
{
    const std::string link = DriveLink(letter);
    const std::string root = std::string(1, letter) + ":\\";
    if (!link.empty())
        RunUnix("Z:\\bin\\rm -f \"" + link + "\"");
    for (int wait = 0; wait < 100 && GetFileAttributesA(root.c_str()) != INVALID_FILE_ATTRIBUTES; ++wait)
        Sleep(50);
    // Wine keeps the drives it found for about a second when it names the
    // drive of a final path: until then the folder's path may still come back
    // through the letter that is gone.
    Sleep(1500);
}
