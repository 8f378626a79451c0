// Starting the installed program, and telling running copies to quit, with
// real processes and windows.
#include "automation.h"
#include "globals.h"
#include "shell.h"
#include "test_config.h"
#include "text.h"
#include "ui.h"
#include "test_files.h"
#include <gtest/gtest.h>
#include <fstream>
#include <string>
#include <vector>

using namespace automation;
using Lines = std::vector<std::string>;

namespace {



const std::string Notice = "Closing Running Copies | Any copies of Pelmora currently running must now be shut down. "
                           "This may take a few seconds. | [OK] -> OK";

// Windows of another process, which logs the ones that got WM_QUIT.
class OtherProcessWindows {
public:
    OtherProcessWindows(const std::string& log, const std::vector<std::string>& titles)
    {
        DeleteFileA(log.c_str());
        std::string command = "\"" + HelperPath("windows_child.exe") + "\" \"" + log + "\"";
        for (const std::string& title : titles)
            command += " \"" + title + "\"";
        STARTUPINFOA startup = {sizeof startup};
        CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process_);
        for (int i = 0; i < 500 && ReadLines(log).empty(); ++i)
            Sleep(10);
    }
    ~OtherProcessWindows()
    {
        TerminateProcess(process_.hProcess, 0);
        WaitForSingleObject(process_.hProcess, 5000);
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }

private:
    PROCESS_INFORMATION process_ = {};
};

Lines ShutDownAnsweringTheNotice()
{
    Transcript transcript;
    Responder responder(transcript, {Press(IDOK)}, GetCurrentThreadId(), 0, {}, 10000);
    ShutDownRunningCopies();
    responder.Stop();
    return transcript.Lines();
}

} // namespace

TEST(RunningCopies, WindowsWhoseTitleBeginsWithTheNameAreToldToQuit)
{
    ProductConfig = ShippedConfig();
    std::string log = "C:\\running-copies.log";
    // Another program's "Install Pelmora" is judged by the prefix rule alone, like any other title.
    OtherProcessWindows others(
        log, {"Pelmora", "hidden:Pelmora - Options", "PELMORA", "About Pelmora", "pelmora", "Install Pelmora"});
    WatchedWindow own("Pelmora");
    WatchedWindow ownBackdrop("Install Pelmora");
    DWORD start = GetTickCount();
    EXPECT_EQ(ShutDownAnsweringTheNotice(), Lines{Notice});
    EXPECT_GE(GetTickCount() - start, 8000u) << "two pauses of four seconds";
    Lines quits = ReadLines(log);
    std::sort(quits.begin() + 1, quits.end());
    EXPECT_EQ(quits, (Lines{"ready", "quit Pelmora", "quit Pelmora - Options"}));
    EXPECT_FALSE(own.Close()) << "the setup's own windows are never told to quit";
    EXPECT_FALSE(ownBackdrop.Close());
}

TEST(RunningCopies, NameLongerThanAReadableTitleMatchesNothing)
{
    ProductConfig = ShippedConfig();
    std::string name(256, 'P');
    ProductConfig.displayName = name.c_str();
    std::string log = "C:\\running-copies-long.log";
    OtherProcessWindows others(log, {name + " and more"});
    Lines lines = ShutDownAnsweringTheNotice();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(ReadLines(log), Lines{"ready"});
}

TEST(Launch, ClosesTheBackdropThenStartsTheQuotedPath)
{
    ProductConfig = ShippedConfig();
    // A planted C:\Program.exe would run first if the path went unquoted.
    ASSERT_TRUE(CopyFileA(HelperPath("recorder.exe").c_str(), "C:\\Program.exe", FALSE));
    std::string log = "C:\\launch.log";
    DeleteFileA(log.c_str());
    SetEnvironmentVariableA("SETUP_RECORD_LOG", log.c_str());
    const char folder[] = "C:\\Program Files\\Pelmora";
    CreateDirectoryA(folder, nullptr);
    ASSERT_TRUE(SetCurrentDirectoryA(folder));
    ASSERT_TRUE(CopyFileA(PELMORA_EXE, "pelmora.exe", FALSE));
    FormatText(ApplicationPath, sizeof ApplicationPath, "%s\\pelmora.exe", folder);

    FormatText(BackdropTitle, sizeof BackdropTitle, "Install Pelmora");
    BackdropFont = CreateBackdropFont(1252);
    ASSERT_TRUE(RegisterBackdropClass(GetModuleHandleA(nullptr)));
    HWND backdrop = CreateBackdropWindow(GetModuleHandleA(nullptr), BackdropTitle);
    ASSERT_NE(backdrop, nullptr);
    LaunchApplication(backdrop, BackdropFont);
    EXPECT_FALSE(IsWindow(backdrop));
    EXPECT_EQ(GetObjectType(BackdropFont), 0u) << "the font is deleted";

    HWND pelmora = WaitForWindow([] { return FindWindowA("PelmoraMain", "Pelmora"); }, 10000);
    ASSERT_NE(pelmora, nullptr) << "the installed pelmora.exe runs";
    PostMessageA(pelmora, WM_CLOSE, 0, 0);
    Sleep(500);
    EXPECT_EQ(ReadLines(log), Lines{}) << "C:\\Program.exe never ran";
    DeleteFileA("C:\\Program.exe");
    SetCurrentDirectoryA("C:\\");
    for (int i = 0; i < 100 && !DeleteFileA("C:\\Program Files\\Pelmora\\pelmora.exe"); ++i)
        Sleep(50); // until the closed program has ended
    EXPECT_TRUE(RemoveDirectoryA(folder));
}

TEST(Launch, BackdropIsGoneBeforeTheApplicationStarts)
{
    ProductConfig = ShippedConfig();
    std::string log = "C:\\launch-order.log";
    DeleteFileA(log.c_str());
    SetEnvironmentVariableA("SETUP_RECORD_LOG", log.c_str());
    FormatText(ApplicationPath, sizeof ApplicationPath, "%s", HelperPath("recorder.exe").c_str());
    HWND backdrop = CreateBackdropWindow(GetModuleHandleA(nullptr), "Install Pelmora");
    ASSERT_NE(backdrop, nullptr);
    LaunchApplication(backdrop, CreateBackdropFont(1252));
    for (int i = 0; i < 500 && ReadLines(log).empty(); ++i)
        Sleep(10);
    Lines lines = ReadLines(log);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(0, 13), "recorder.exe|");
    EXPECT_EQ(lines[0].substr(lines[0].size() - 2), "|0") << "no backdrop when it started";
}
