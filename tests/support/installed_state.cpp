#include "installed_state.h"
#include <windows.h>
#include <algorithm>
#include <fstream>
#include <objbase.h>
#include <shlobj.h>

namespace {

const char UninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

int64_t UnixTime(const FILETIME& time)
{
    uint64_t ticks = (uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return int64_t(ticks / 10000000ULL) - 11644473600LL;
}

void ListInto(const std::string& folder, const std::string& prefix, std::vector<std::string>& lines)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ListInto(folder + "\\" + name, prefix + name + "\\", lines);
        else
            lines.push_back(prefix + name + " | " + std::to_string(found.nFileSizeLow) + " | "
                + std::to_string(UnixTime(found.ftLastWriteTime)));
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

bool ReadLink(const std::string& path, std::string& target, std::string& working)
{
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
            reinterpret_cast<void**>(&link))))
        return false;
    IPersistFile* file = nullptr;
    bool read = false;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        wchar_t wide[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
        if (SUCCEEDED(file->Load(wide, STGM_READ))) {
            char targetPath[MAX_PATH] = {}, workingFolder[MAX_PATH] = {};
            link->GetPath(targetPath, MAX_PATH, nullptr, 0);
            link->GetWorkingDirectory(workingFolder, MAX_PATH);
            target = targetPath;
            working = workingFolder;
            read = true;
        }
        file->Release();
    }
    link->Release();
    return read;
}

} // namespace

std::vector<std::string> ListFiles(const std::string& folder)
{
    std::vector<std::string> lines;
    ListInto(folder, "", lines);
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::string ProfileValue(const std::string& profileFile)
{
    char value[1024];
    GetPrivateProfileStringA("Options", "dataDir", "(none)", value, sizeof value, profileFile.c_str());
    return value;
}

std::vector<std::string> UninstallEntry(const std::string& displayName)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, (UninstallKey + displayName).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return {"(no uninstall entry)"};
    std::vector<std::string> lines;
    for (const char* name : {"DisplayName", "UninstallString"}) {
        char data[2048] = {};
        DWORD length = sizeof data, type = 0;
        if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &length) == ERROR_SUCCESS)
            lines.push_back(std::string(name) + " = " + data + " (" + std::to_string(length) + " bytes)");
    }
    RegCloseKey(key);
    return lines;
}

std::vector<std::string> GroupLinks(const std::string& group)
{
    char programs[MAX_PATH];
    if (!SHGetSpecialFolderPathA(nullptr, programs, CSIDL_PROGRAMS, FALSE))
        return {};
    bool initialised = SUCCEEDED(CoInitialize(nullptr));
    std::vector<std::string> lines;
    std::string folder = std::string(programs) + "\\" + group;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*.lnk").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string target, working;
            if (ReadLink(folder + "\\" + found.cFileName, target, working))
                lines.push_back(std::string(found.cFileName) + " -> " + target + " | " + working);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    if (initialised)
        CoUninitialize();
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::vector<std::string> TracedProgmanCommands()
{
    char log[MAX_PATH];
    if (!GetEnvironmentVariableA("SETUP_DESKTOP_LOG", log, sizeof log))
        return {"(no desktop log)"};
    std::ifstream in(std::string("Z:") + log);
    std::vector<std::string> commands;
    const std::string marker = "data=L\"";
    for (std::string line; std::getline(in, line);) {
        size_t at = line.find("Dde_OnExecute");
        if (at == std::string::npos || line.find(marker, at) == std::string::npos)
            continue;
        std::string text = line.substr(line.find(marker, at) + marker.size());
        text = text.substr(0, text.rfind('"'));
        std::string unescaped;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\\' && i + 1 < text.size())
                ++i;
            unescaped += text[i];
        }
        commands.push_back(unescaped);
    }
    return commands;
}

std::vector<std::string> ShippedProgmanCommands(const std::string& folder, bool startupItem)
{
    std::vector<std::string> commands = {"[CreateGroup(Pelmora)]", "[ShowGroup(Pelmora,5)]", "[ReplaceItem(Pelmora)]",
        "[AddItem(\"" + folder + "\\pelmora.exe\",Pelmora,,,,,\"" + folder + "\")]", "[ReplaceItem(Uninstall)]",
        "[AddItem(\"" + folder + "\\pmuninst.exe\",Uninstall,,,,,\"" + folder + "\")]"};
    if (startupItem)
        commands.insert(commands.end(), {"[CreateGroup(Startup)]", "[ShowGroup(Startup,5)]", "[ReplaceItem(Pelmora)]",
                                            "[AddItem(\"" + folder + "\\pelmora.exe\" -icon,Pelmora,,,,,\"" + folder
                                                + "\",,1)]"});
    return commands;
}

std::vector<std::string> InstallationSummary(const std::string& folder, const std::string& folderName,
    const std::string& displayName, const std::string& profileFile)
{
    std::vector<std::string> summary = {"[files in " + folder + "]"};
    for (const std::string& line : ListFiles(folder))
        summary.push_back(line);
    summary.push_back("[profile " + profileFile + "]");
    summary.push_back("dataDir = " + ProfileValue(profileFile));
    summary.push_back("[uninstall entry]");
    for (const std::string& line : UninstallEntry(displayName))
        summary.push_back(line);
    summary.push_back("[links of group " + folderName + "]");
    for (const std::string& line : GroupLinks(folderName))
        summary.push_back(line);
    summary.push_back("[Program Manager commands received]");
    for (const std::string& line : TracedProgmanCommands())
        summary.push_back(line);
    return summary;
}
