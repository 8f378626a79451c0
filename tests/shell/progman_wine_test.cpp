// The Program Manager client against Wine's own server, which answers
// "PROGMAN" in every prefix: real links, and the commands from its trace.
#include "archive.h"
#include "source.h"
#include "globals.h"
#include "installed_state.h"
#include "product.h"
#include "shell.h"
#include "text.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

using Lines = std::vector<std::string>;

namespace {

void UseFolder(const std::string& folder)
{
    CopyText(InstallFolder, sizeof InstallFolder, folder.c_str());
    FormatText(ApplicationPath, sizeof ApplicationPath, "%s\\%s", folder.c_str(), ProductConfig.mainExecutable);
    FormatText(StartupCommand, sizeof StartupCommand, "\"%s\" %s", ApplicationPath, ProductConfig.startupArguments);
    FormatText(UninstallerPath, sizeof UninstallerPath, "%s\\pmuninst.exe", folder.c_str());
}

std::string Register(bool startupItem)
{
    char link[PathBufferSize] = "(not made)";
    OpenDdeClient();
    CreateProductGroup();
    if (startupItem)
        EXPECT_TRUE(AddStartupItem(link, sizeof link));
    CloseDdeClient();
    Sleep(500);
    return link;
}

} // namespace

TEST(WineProgman, CreatesTheGroupsLinksAndReceivesEveryCommand)
{
    const std::string folder = "C:\\Apps\\Pelmora";
    CreateDirectoryA("C:\\Apps", nullptr);
    CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str()));
    ASSERT_EQ(OpenProgramPayload(PayloadArchive, SETUP_EXE), PayloadWhole);
    ASSERT_EQ(ExtractArchive(PayloadArchive, nullptr, nullptr), 4);
    UseFolder(folder);
    std::string startupLink = Register(true);

    EXPECT_EQ(GroupLinks("Pelmora"),
        (Lines{"user: Pelmora.lnk -> C:\\Apps\\Pelmora\\pelmora.exe | C:\\Apps\\Pelmora",
            "user: Uninstall.lnk -> C:\\Apps\\Pelmora\\pmuninst.exe | C:\\Apps\\Pelmora"}));
    // Wine's parser refuses the Startup item's command (an argument after the
    // closing quote): the item is written as a link where the Startup group is.
    EXPECT_EQ(GroupLinks("StartUp"), Lines{"user: Pelmora.lnk -> C:\\Apps\\Pelmora\\pelmora.exe | C:\\Apps\\Pelmora"});
    EXPECT_EQ(startupLink.substr(startupLink.size() - 20), "\\StartUp\\Pelmora.lnk");
    EXPECT_EQ(TracedProgmanCommands(), ShippedProgmanCommands(folder, true));

    // Names in other scripts: Wine's server takes Unicode data with letters
    // beyond Latin-1 for ANSI and refuses the command, so the group is
    // written as links, for every user, carrying the names.
    const std::string other = "C:\\Apps\\Ωμέγα ノート";
    CreateDirectoryA(other.c_str(), nullptr);
    for (const char* program : {"\\pelmora.exe", "\\pmuninst.exe"})
        ASSERT_TRUE(CopyFileA((folder + program).c_str(), (other + program).c_str(), FALSE));
    ProductConfig.folderName = "Ωμέγα ノート";
    ProductConfig.displayName = "Zażółć 日本語";
    UseFolder(other);
    Register(false);
    EXPECT_EQ(GroupLinks("Ωμέγα ノート"),
        (Lines{"all users: Uninstall.lnk -> " + other + "\\pmuninst.exe | " + other,
            "all users: Zażółć 日本語.lnk -> " + other + "\\pelmora.exe | " + other}));
}
