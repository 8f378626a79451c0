#include "installed_state.h"
#include <windows.h>
#include <algorithm>
#include <fstream>
#include <objbase.h>
#include <shlobj.h>

namespace {

const char UninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char SessionManagerKey[] = "System\\CurrentControlSet\\Control\\Session Manager";

int64_t UnixTime(const FILETIME& time)
{
    uint64_t ticks = (uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return int64_t(ticks / 10000000ULL) - 11644473600LL;
}

void ListInto(const std::string& folder, const std::string& prefix, bool withFolders, std::vector<std::string>& lines)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        // Wine links some of the user's folders to the home folder outside the prefix: not followed.
        if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            lines.push_back(prefix + name + " | link");
        else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (withFolders)
                lines.push_back(prefix + name + "\\");
            ListInto(folder + "\\" + name, prefix + name + "\\", withFolders, lines);
        }
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

// Every value of a key: "Name = text (N bytes)" for texts, "Name = N (dword)"
// for numbers, the type and size for anything else.
std::vector<std::string> KeyValues(HKEY key)
{
    DWORD longestName = 0, longestData = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &longestName, &longestData,
        nullptr, nullptr);
    std::vector<std::string> lines;
    std::vector<char> name(longestName + 2);
    std::vector<BYTE> data(longestData + 2);
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = DWORD(name.size()), dataLength = DWORD(data.size()), type = 0;
        std::fill(data.begin(), data.end(), 0);
        if (RegEnumValueA(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &dataLength) != ERROR_SUCCESS)
            break;
        std::string line = std::string(name.data(), nameLength) + " = ";
        if (type == REG_SZ || type == REG_EXPAND_SZ)
            line += std::string(reinterpret_cast<char*>(data.data())) + " (" + std::to_string(dataLength) + " bytes)";
        else if (type == REG_DWORD)
            line += std::to_string(*reinterpret_cast<DWORD*>(data.data())) + " (dword)";
        else
            line += "type " + std::to_string(type) + ", " + std::to_string(dataLength) + " bytes";
        lines.push_back(line);
    }
    return lines;
}

void ListKey(HKEY root, const std::string& path, REGSAM view, const std::string& label, std::vector<std::string>& lines)
{
    // Wine's own settings, which Wine rewrites freely: its font set-up records
    // the code pages of the last program that drew text (1252, or 65001 for
    // the programs' UTF-8).
    if (path == "Software\\Wine")
        return;
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return;
    lines.push_back(label + path);
    for (const std::string& value : KeyValues(key))
        lines.push_back(label + path + " : " + value);
    std::vector<std::string> children;
    char child[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof child;
        if (RegEnumKeyExA(key, i, child, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        children.push_back(child);
    }
    RegCloseKey(key);
    for (const std::string& name : children)
        ListKey(root, path + "\\" + name, view, label, lines);
}

// A listed file without its time, which the platform's own programs change freely.
std::string WithoutTime(const std::string& listed)
{
    size_t last = listed.rfind(" | ");
    return listed.find(" | ") == last ? listed : listed.substr(0, last);
}

} // namespace

std::vector<std::string> ListFiles(const std::string& folder)
{
    std::vector<std::string> lines;
    ListInto(folder, "", false, lines);
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::string ProfileValue(const std::string& profileFile)
{
    char value[1024];
    GetPrivateProfileStringA("Options", "dataDir", "(none)", value, sizeof value, profileFile.c_str());
    return value;
}

std::vector<std::string> UninstallEntry(const std::string& displayName, REGSAM view, HKEY root)
{
    HKEY key;
    if (RegOpenKeyExA(root, (UninstallKey + displayName).c_str(), 0, KEY_READ | view, &key)
        != ERROR_SUCCESS)
        return {"(no uninstall entry)"};
    std::vector<std::string> lines = KeyValues(key);
    RegCloseKey(key);
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::vector<std::string> SystemSnapshot()
{
    std::vector<std::string> entries;
    ListInto("C:", "", true, entries);
    std::sort(entries.begin(), entries.end());
    std::vector<std::string> lines;
    for (const std::string& entry : entries)
        lines.push_back("C:\\" + WithoutTime(entry));
    const struct {
        HKEY root;
        const char* name;
    } roots[] = {{HKEY_LOCAL_MACHINE, "HKLM"}, {HKEY_CURRENT_USER, "HKCU"}};
    for (const auto& root : roots)
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
            ListKey(root.root, "Software", view,
                std::string(root.name) + (view == KEY_WOW64_32KEY ? "(32)\\" : "(64)\\"), lines);
    return lines;
}

namespace {

// The restart's schedule: pairs of a source and its new name, or nothing for a deletion.
std::vector<std::string> PendingOperations()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManagerKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return {};
    std::vector<char> data(65536);
    DWORD length = DWORD(data.size()), type = 0;
    LONG status = RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type,
        reinterpret_cast<BYTE*>(data.data()), &length);
    RegCloseKey(key);
    std::vector<std::string> texts;
    if (status != ERROR_SUCCESS)
        return texts;
    for (size_t at = 0; at < length && data[at];) {
        std::string text(&data[at]);
        texts.push_back(text);
        at += text.size() + 1;
        if (at < length && !data[at]) {
            texts.push_back("");
            ++at;
        }
    }
    return texts;
}

std::string WithoutNtPrefix(const std::string& path)
{
    return path.substr(path.rfind("\\??\\", 0) == 0 ? 4 : 0);
}

} // namespace

std::vector<std::string> PendingDeletions()
{
    std::vector<std::string> texts = PendingOperations();
    std::vector<std::string> deletions;
    for (size_t i = 0; i + 1 < texts.size(); i += 2)
        if (texts[i + 1].empty())
            deletions.push_back(WithoutNtPrefix(texts[i]));
    return deletions;
}

std::vector<std::string> PendingReplacements()
{
    std::vector<std::string> texts = PendingOperations();
    std::vector<std::string> replacements;
    for (size_t i = 0; i + 1 < texts.size(); i += 2)
        if (texts[i + 1].rfind("!", 0) == 0)
            replacements.push_back(WithoutNtPrefix(texts[i]) + " > " + WithoutNtPrefix(texts[i + 1].substr(1)));
    return replacements;
}

std::vector<std::string> GroupLinks(const std::string& group)
{
    bool initialised = SUCCEEDED(CoInitialize(nullptr));
    std::vector<std::string> lines;
    const struct {
        int folder;
        const char* whose;
    } places[] = {{CSIDL_COMMON_PROGRAMS, "all users: "}, {CSIDL_PROGRAMS, "user: "}};
    for (const auto& place : places) {
        char programs[MAX_PATH];
        if (!SHGetSpecialFolderPathA(nullptr, programs, place.folder, FALSE))
            continue;
        std::string folder = std::string(programs) + "\\" + group;
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((folder + "\\*.lnk").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            continue;
        do {
            std::string target, working;
            if (ReadLink(folder + "\\" + found.cFileName, target, working))
                lines.push_back(place.whose + std::string(found.cFileName) + " -> " + target + " | " + working);
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
