// The Program Manager client against Wine's own server, which answers
// "PROGMAN" in every prefix: real links, and the commands from its trace.
#include "archive.h"
#include "globals.h"
#include "shell.h"
#include "text.h"
#include <gtest/gtest.h>
#include <fstream>
#include <objbase.h>
#include <shlobj.h>
#include <string>
#include <vector>

namespace {

const char AppFolder[] = "C:\\Apps\\Pelmora";

struct Link {
    std::string target;
    std::string workingFolder;
};

bool ReadLink(const std::string& path, Link& link)
{
    IShellLinkA* shellLink = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
            reinterpret_cast<void**>(&shellLink))))
        return false;
    IPersistFile* file = nullptr;
    bool read = false;
    if (SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        wchar_t widePath[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, widePath, MAX_PATH);
        if (SUCCEEDED(file->Load(widePath, STGM_READ))) {
            char target[MAX_PATH] = {}, working[MAX_PATH] = {};
            shellLink->GetPath(target, MAX_PATH, nullptr, 0);
            shellLink->GetWorkingDirectory(working, MAX_PATH);
            link = {target, working};
            read = true;
        }
        file->Release();
    }
    shellLink->Release();
    return read;
}

// The commands Wine's server executed, from the desktop process's trace.
std::vector<std::string> TracedCommands()
{
    char log[MAX_PATH];
    if (!GetEnvironmentVariableA("SETUP_DESKTOP_LOG", log, sizeof log))
        return {};
    std::ifstream in(std::string("Z:") + log);
    std::vector<std::string> commands;
    const std::string marker = "data=L\"";
    for (std::string line; std::getline(in, line);) {
        size_t at = line.find("Dde_OnExecute");
        size_t data = line.find(marker, at == std::string::npos ? line.size() : at);
        if (data == std::string::npos)
            continue;
        std::string text = line.substr(data + marker.size());
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

} // namespace

TEST(WineProgman, CreatesTheGroupsLinksAndReceivesEveryCommand)
{
    CreateDirectoryA("C:\\Apps", nullptr);
    CreateDirectoryA(AppFolder, nullptr);
    ASSERT_TRUE(SetCurrentDirectoryA(AppFolder));
    ASSERT_EQ(ExtractArchive(PayloadArchive, nullptr, nullptr), 4);
    CopyText(InstallFolder, sizeof InstallFolder, AppFolder);
    CopyText(ApplicationPath, sizeof ApplicationPath, "C:\\Apps\\Pelmora\\pelmora.exe");
    CopyText(StartupCommand, sizeof StartupCommand, "\"C:\\Apps\\Pelmora\\pelmora.exe\" -icon");
    CopyText(UninstallerPath, sizeof UninstallerPath, "C:\\Apps\\Pelmora\\pmuninst.exe");

    OpenDdeClient();
    CreateProductGroup();
    AddStartupItem();
    CloseDdeClient();
    Sleep(500);

    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    char programs[MAX_PATH];
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, programs, CSIDL_PROGRAMS, FALSE));
    const struct {
        const char* link;
        const char* target;
    } links[] = {{"\\Pelmora\\Pelmora.lnk", "C:\\Apps\\Pelmora\\pelmora.exe"},
        {"\\Pelmora\\Uninstall.lnk", "C:\\Apps\\Pelmora\\pmuninst.exe"}};
    for (const auto& expected : links) {
        Link link;
        ASSERT_TRUE(ReadLink(programs + std::string(expected.link), link)) << expected.link;
        EXPECT_STREQ(link.target.c_str(), expected.target);
        EXPECT_STREQ(link.workingFolder.c_str(), AppFolder);
    }
    // Wine's parser refuses the Startup item's command (an argument after the closing quote).
    EXPECT_EQ(GetFileAttributesA((programs + std::string("\\Startup\\Pelmora.lnk")).c_str()),
        INVALID_FILE_ATTRIBUTES);
    CoUninitialize();

    EXPECT_EQ(TracedCommands(),
        (std::vector<std::string>{"[CreateGroup(Pelmora)]", "[ShowGroup(Pelmora,5)]", "[ReplaceItem(Pelmora)]",
            "[AddItem(\"C:\\Apps\\Pelmora\\pelmora.exe\",Pelmora,,,,,\"C:\\Apps\\Pelmora\")]",
            "[ReplaceItem(Uninstall)]",
            "[AddItem(\"C:\\Apps\\Pelmora\\pmuninst.exe\",Uninstall,,,,,\"C:\\Apps\\Pelmora\")]",
            "[CreateGroup(Startup)]", "[ShowGroup(Startup,5)]", "[ReplaceItem(Pelmora)]",
            "[AddItem(\"C:\\Apps\\Pelmora\\pelmora.exe\" -icon,Pelmora,,,,,\"C:\\Apps\\Pelmora\",,1)]"}));
}
