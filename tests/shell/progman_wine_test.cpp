// The Program Manager client against Wine's own server, which answers
// "PROGMAN" in every prefix: real links, and the commands from its trace.
#include "archive.h"
#include "globals.h"
#include "shell.h"
#include "installed_state.h"
#include "text.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

const char AppFolder[] = "C:\\Apps\\Pelmora";

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

    EXPECT_EQ(GroupLinks("Pelmora"),
        (std::vector<std::string>{"Pelmora.lnk -> C:\\Apps\\Pelmora\\pelmora.exe | C:\\Apps\\Pelmora",
            "Uninstall.lnk -> C:\\Apps\\Pelmora\\pmuninst.exe | C:\\Apps\\Pelmora"}));
    // Wine's parser refuses the Startup item's command (an argument after the closing quote).
    EXPECT_EQ(GroupLinks("Startup"), std::vector<std::string>{});

    EXPECT_EQ(TracedProgmanCommands(), ShippedProgmanCommands(AppFolder, true));
}
