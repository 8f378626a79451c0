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
    OtherProcessWindows(const std::string& program, const std::string& log, const std::vector<std::string>& titles)
    {
        DeleteFileA(log.c_str());
        std::string command = "\"" + program + "\" \"" + log + "\"";
        for (const std::string& title : titles)
            command += " \"" + title + "\"";
        STARTUPINFOA startup = {sizeof startup};
        started_ = CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process_)
            ? "started"
            : "not started: error " + std::to_string(GetLastError());
        for (int i = 0; i < 2000 && ReadLines(log).empty(); ++i)
            Sleep(10);
        ready_ = ReadLines(log) == Lines{"ready"};
    }
    // Whether its windows all exist; the reason when they do not.
    ::testing::AssertionResult Ready() const
    {
        return ready_ ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << "the helper " << started_;
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
    std::string started_;
    bool ready_ = false;
};

Lines ShutDownAnsweringTheNotice(const std::string& folder)
{
    Transcript transcript;
    Responder responder(transcript, {Press(IDOK)}, GetCurrentThreadId(), 0, {}, 10000);
    ShutDownRunningCopies(folder.c_str());
    responder.Stop();
    return transcript.Lines();
}

// The helper that opens windows, copied into an installation folder, below it
// and beside it; a long folder name, so that it has an 8.3 name of its own.
class RunningCopies : public ::testing::Test {
protected:
    void SetUp() override
    {
        ProductConfig = ShippedConfig();
        RemoveTree(Root);
        ASSERT_TRUE(CreateDirectoryA(Root.c_str(), nullptr));
        for (const std::string& folder : {Folder, Folder + "\\bin", Beside})
            ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
        for (const std::string& folder : {Folder, Folder + "\\bin", Beside})
            ASSERT_TRUE(CopyFileA(Child.c_str(), (folder + "\\windows_child.exe").c_str(), FALSE)) << folder;
    }
    void TearDown() override
    {
        RemoveTree(Root);
    }
    const std::string Root = "C:\\running-copies";
    const std::string Folder = Root + "\\Pelmora Program Folder";
    const std::string Beside = Folder + " Two";
    const std::string Child = HelperPath("windows_child.exe");
};

} // namespace

TEST(RunningCopyWindow, ATitleBeginningWithTheNameOfAProgramWithinTheFolderMarksACopy)
{
    const struct {
        const char* title;
        const char* displayName;
        const char* image;
        const char* folder;
        bool copy;
    } cases[] = {
        {"Pelmora", "Pelmora", "C:\\Program Files\\Pelmora\\pelmora.exe", "C:\\Program Files\\Pelmora", true},
        {"Pelmora - Options", "Pelmora", "C:\\Program Files\\Pelmora\\bin\\tool.exe", "C:\\Program Files\\Pelmora",
            true},
        {"Pelmora", "Pelmora", "c:\\PROGRAM FILES\\pelmora\\PELMORA.EXE", "C:\\Program Files\\Pelmora", true},
        {"Pelmora", "Pelmora", "C:\\Program Files\\Pelmora\\pelmora.exe", "C:\\Program Files\\Pelmora\\", true},
        {"Pelmora", "Pelmora", "C:\\pelmora.exe", "C:\\", true},
        {"Pelmora", "Pelmora", "D:\\pelmora.exe", "C:\\", false},
        {"Pelmora", "Pelmora", "C:\\Program Files\\Pelmora2\\pelmora.exe", "C:\\Program Files\\Pelmora", false},
        {"Pelmora", "Pelmora", "C:\\Program Files\\Pelmora2\\pelmora.exe", "C:\\Program Files\\Pelmora\\", false},
        {"Pelmora ideas.txt - Notepad", "Pelmora", "C:\\Windows\\notepad.exe", "C:\\Program Files\\Pelmora", false},
        {"About Pelmora", "Pelmora", "C:\\Program Files\\Pelmora\\pelmora.exe", "C:\\Program Files\\Pelmora", false},
        {"PELMORA", "Pelmora", "C:\\Program Files\\Pelmora\\pelmora.exe", "C:\\Program Files\\Pelmora", false},
        {"Pelmora", "", "C:\\Program Files\\Pelmora\\pelmora.exe", "C:\\Program Files\\Pelmora", false},
        // An image path that could not be read, and a folder that is not known.
        {"Pelmora", "Pelmora", "", "C:\\Program Files\\Pelmora", false},
        {"Pelmora", "Pelmora", "C:\\Program Files\\Pelmora\\pelmora.exe", "", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsRunningCopyWindow(c.title, c.displayName, c.image, c.folder), c.copy)
            << c.title << " | " << c.image << " | " << c.folder;
}

TEST_F(RunningCopies, OnlyTheProductsProgramsWhoseTitleBeginsWithTheNameAreToldToQuit)
{
    char shortFolder[MAX_PATH];
    ASSERT_GT(GetShortPathNameA(Folder.c_str(), shortFolder, sizeof shortFolder), 0u);
    ASSERT_NE(std::string(shortFolder), Folder) << "the folder has an 8.3 name";
    const Lines quitInside = {"ready", "quit Pelmora", "quit Pelmora - Options"};
    const Lines quitPelmora = {"ready", "quit Pelmora"};
    const Lines leftAlone = {"ready"};
    const struct {
        std::string installFolder;
        Lines beside; // what the program in the folder beside, whose name begins alike, gets
    } cases[] = {
        {Folder, leftAlone},
        {Folder + "\\", leftAlone},
        {std::string(shortFolder), leftAlone},
        {std::string(shortFolder) + "\\", leftAlone},
        {"C:\\", quitPelmora},
    };
    for (const auto& c : cases) {
        const std::string log = Root + "\\inside.log";
        // Another program's "Install Pelmora" is judged by the prefix rule alone, like any other title.
        OtherProcessWindows inside(Folder + "\\windows_child.exe", log,
            {"Pelmora", "hidden:Pelmora - Options", "PELMORA", "About Pelmora", "pelmora", "Install Pelmora"});
        OtherProcessWindows below(std::string(shortFolder) + "\\bin\\windows_child.exe", Root + "\\below.log",
            {"Pelmora"});
        OtherProcessWindows beside(Beside + "\\windows_child.exe", Root + "\\beside.log", {"Pelmora"});
        OtherProcessWindows outside(Child, Root + "\\outside.log", {"Pelmora", "Pelmora - Download"});
        for (const OtherProcessWindows* helper : {&inside, &below, &beside, &outside})
            ASSERT_TRUE(helper->Ready()) << c.installFolder;
        WatchedWindow own("Pelmora");
        WatchedWindow ownBackdrop("Install Pelmora");
        DWORD start = GetTickCount();
        EXPECT_EQ(ShutDownAnsweringTheNotice(c.installFolder), Lines{Notice}) << c.installFolder;
        EXPECT_GE(GetTickCount() - start, 8000u) << "two pauses of four seconds";
        Lines quits = ReadLines(log);
        std::sort(quits.begin() + (quits.empty() ? 0 : 1), quits.end());
        EXPECT_EQ(quits, quitInside) << c.installFolder;
        EXPECT_EQ(ReadLines(Root + "\\below.log"), quitPelmora)
            << c.installFolder << ": a program below the folder, started by its 8.3 path";
        EXPECT_EQ(ReadLines(Root + "\\beside.log"), c.beside) << c.installFolder;
        EXPECT_EQ(ReadLines(Root + "\\outside.log"), leftAlone) << c.installFolder << ": a program elsewhere";
        EXPECT_FALSE(own.Close()) << "the setup's own windows are never told to quit";
        EXPECT_FALSE(ownBackdrop.Close());
    }
}

TEST_F(RunningCopies, ANameAsLongAsAReadableTitleIsTheLongestThatMatches)
{
    const struct {
        size_t nameLength;
        Lines quits;
    } cases[] = {{255, {"ready", "quit " + std::string(255, 'P')}}, {256, {"ready"}}};
    for (const auto& c : cases) {
        std::string name(c.nameLength, 'P');
        ProductConfig.displayName = name.c_str();
        std::string log = Root + "\\long.log";
        OtherProcessWindows others(Folder + "\\windows_child.exe", log, {name});
        ASSERT_TRUE(others.Ready()) << c.nameLength;
        Lines lines = ShutDownAnsweringTheNotice(Folder);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(ReadLines(log), c.quits) << c.nameLength;
    }
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
    BackdropFont = CreateBackdropFont(1252, WindowDpi(nullptr));
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
    // Started as the signed-in user, the program has the desktop shell's environment, not this one's.
    std::string log = HelperPath("recorder.exe.log");
    ASSERT_TRUE(std::ofstream(log, std::ios::trunc)) << "the recorder logs beside itself only into a made file";
    SetEnvironmentVariableA("SETUP_RECORD_LOG", nullptr);
    FormatText(ApplicationPath, sizeof ApplicationPath, "%s", HelperPath("recorder.exe").c_str());
    HWND backdrop = CreateBackdropWindow(GetModuleHandleA(nullptr), "Install Pelmora");
    ASSERT_NE(backdrop, nullptr);
    LaunchApplication(backdrop, CreateBackdropFont(1252, WindowDpi(nullptr)));
    for (int i = 0; i < 500 && ReadLines(log).empty(); ++i)
        Sleep(10);
    Lines lines = ReadLines(log);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(0, 13), "recorder.exe|");
    EXPECT_EQ(lines[0].substr(lines[0].size() - 2), "|0") << "no backdrop when it started";
}
