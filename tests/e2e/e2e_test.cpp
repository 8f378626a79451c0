// The real setup.exe, started as its own process and driven like a user, in a
// fresh Wine prefix per test: the whole transcript, and what the run left on
// disk, in the profile file, in the registry and in the shell.
#include "installed_state.h"
#include "scenario.h"
#include "test_files.h"
#include <gtest/gtest.h>
#include <shlobj.h>
#include <knownfolders.h>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>

using Lines = std::vector<std::string>;

namespace {

// Where the system keeps 32-bit programs, and so where the setup proposes to
// install: "Program Files (x86)" on 64-bit Windows, "Program Files" on 32-bit.
std::string ProgramsFolder()
{
    DWORD attributes = GetFileAttributesA("C:\\Program Files (x86)");
    bool x86 = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    return x86 ? "C:\\Program Files (x86)" : "C:\\Program Files";
}
const std::string Programs = ProgramsFolder();
const std::string Home = Programs + "\\Pelmora";

// A registry text value as the snapshot shows it.
std::string TextValue(const std::string& name, const std::string& text)
{
    return name + " = " + text + " (" + std::to_string(text.size() + 1) + " bytes)";
}

std::string Box(const std::string& caption, const std::string& text, const std::string& buttons,
    const std::string& answer)
{
    return caption + " | " + text + " | [" + buttons + "] -> " + answer;
}

std::string FolderDialog(const std::string& parent, const std::string& name, const std::string& answer)
{
    return "Choose a Folder | This application requires a folder in which to store its data files. The location "
           "below is recommended and should work fine for most users. | Parent Folder | Application Folder | This "
           "must be an existing folder. A new folder for this application will be created within this folder, with "
           "the name you specify below under \"Application Folder.\" | {"
        + parent + "} {" + name + "} | [OK,Cancel,Browse...] -> " + answer;
}

const std::string Accepted = "END USER LICENSE AGREEMENT | [I Accept,I Do NOT Accept] -> I Accept";
// A damaged setup's message; the file it names follows on a line of its own.
const std::string DamagedSetup = "The setup program is damaged or incomplete. Download it again.";
const std::string NotInstalled = Box("Application Not Installed",
    "The application will not be installed at this time. If you decide to install the application later, just "
    "launch this program again to complete the installation process.",
    "OK", "OK");
const std::string ShuttingDown = Box("Shutting Down",
    "This program cannot operate without a data folder to store its files in. The program will exit now. Please "
    "determine an appropriate folder name and start the program again later.",
    "OK", "OK");
const std::string Closing = Box("Closing Running Copies",
    "Any copies of Pelmora currently running must now be shut down. This may take a few seconds.", "OK", "OK");
const std::string CutOff = Box("Interrupted Installation",
    "An earlier installation of Pelmora into " + Home
        + " was cut off before it finished. Before anything else, what it changed is now put back as it was.",
    "OK", "OK");
const std::string StartupPrompt =
    "This application is much more useful if it can receive images for you at all times. In order to do this, it "
    "must  be installed in your startup folder. Do you want Pelmora  to be installed in your startup folder?";
std::string Success(const std::string& name, const std::string& answer)
{
    return Box("Installation Successful",
        name + " has been successfully installed on your system. Would you like to start " + name + " now?",
        "Yes,No", answer);
}
const std::string Ended = "setup ended with exit code 0";
std::string SetupEnded(int code)
{
    return "setup ended with exit code " + std::to_string(code);
}

Lines ShippedFiles()
{
    return {"help.htm | 12513 | 956876368", "pelmora.exe | 282624 | 979069806", "pmuninst.exe | 59392 | 979070150"};
}

// Runs a program from its command line through the scenario.
Lines DriveCommand(const std::string& commandLine, const Lines& scenarioLines)
{
    Scenario scenario;
    std::string problem;
    EXPECT_TRUE(ParseScenario(scenarioLines, scenario, problem)) << problem;
    return RunScenario(commandLine, scenario, 30000);
}

Lines Drive(const std::string& program, const Lines& scenarioLines)
{
    return DriveCommand("\"" + program + "\"", scenarioLines);
}

Lines RunShipped(const Lines& scenarioLines)
{
    return Drive(SETUP_EXE, scenarioLines);
}

const Lines DefaultInstallation = {
    "answer END USER LICENSE AGREEMENT | I Accept",
    "answer Choose a Folder | OK",
    "answer Closing Running Copies | OK",
    "answer Add To Startup Group | Yes",
    "answer Installation Successful | No",
};

const Lines UninstallAnswers = {
    "answer Remove Pelmora | Yes",
    "answer Closing Running Copies | OK",
    "answer Removal Complete | OK",
};
const std::string Uninstalled = "pmuninst ended with exit code 0";
std::string UninstallerEnded(int code)
{
    return "pmuninst ended with exit code " + std::to_string(code);
}

// The second product asks for its running copies to be closed rather than closing them.
const Lines QuilletRemovalAnswers = {
    "answer Remove Quillet | Yes",
    "answer Close Running Copies First! | OK",
    "answer Removal Complete | OK",
};
const std::string CloseQuilletFirst = Box("Close Running Copies First!",
    "Before Quillet is removed, make sure it is not running. If it is running, shut it down before clicking the OK "
    "button.",
    "OK", "OK");

std::string RemoveQuestion(const std::string& name, const std::string& answer)
{
    return Box("Remove " + name,
        "Do you want to remove " + name + " and all of its components from your computer?", "Yes,No", answer);
}

const std::string InUseHeading = "\r\n\r\nIn use now, and removed when Windows restarts:";

std::string RemovalComplete(const std::string& text)
{
    return Box("Removal Complete", text, "OK", "OK");
}

// The command Programs and Features runs to remove the product, or its quiet
// one: the machine's entry's, or the user's.
std::string EntryCommand(const std::string& displayName, const std::string& value, REGSAM view = 0,
    HKEY root = HKEY_LOCAL_MACHINE)
{
    for (const std::string& line : UninstallEntry(displayName, view, root))
        if (line.rfind(value + " = ", 0) == 0)
            return line.substr(value.size() + 3, line.rfind(" (") - value.size() - 3);
    return "(no " + value + ")";
}

std::string UninstallCommand(const std::string& displayName, REGSAM view = 0, HKEY root = HKEY_LOCAL_MACHINE)
{
    return EntryCommand(displayName, "UninstallString", view, root);
}

std::string QuietUninstallCommand(const std::string& displayName, REGSAM view = 0, HKEY root = HKEY_LOCAL_MACHINE)
{
    return EntryCommand(displayName, "QuietUninstallString", view, root);
}

Lines Join(const Lines& a, const Lines& b)
{
    Lines all = a;
    all.insert(all.end(), b.begin(), b.end());
    return all;
}

// Lines only in the first snapshot ("- ") or only in the second ("+ ").
Lines Differences(const Lines& before, const Lines& after)
{
    Lines gone, added, differences;
    std::set_difference(before.begin(), before.end(), after.begin(), after.end(), std::back_inserter(gone));
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
    for (const std::string& line : gone)
        differences.push_back("- " + line);
    for (const std::string& line : added)
        differences.push_back("+ " + line);
    return differences;
}

// What Wine's own shell integration keeps for itself in the user's registry:
// the records of the menu files it made for links, its temporary settings, and
// the key its explorer adds when it shows a group's window.
Lines WithoutWinesOwn(const Lines& differences)
{
    Lines kept;
    for (const std::string& line : differences)
        if (line.find("\\Software\\Wine\\") == std::string::npos
            && line.find("\\Explorer\\Advanced") == std::string::npos)
            kept.push_back(line);
    return kept;
}

// Each file below a folder: its name, size and modification time, its
// attributes and a digest of its bytes.
Lines FolderImage(const std::string& folder)
{
    Lines image;
    for (const std::string& line : ListFiles(folder)) {
        std::string path = folder + "\\" + line.substr(0, line.find(" | "));
        std::ifstream in(path, std::ios::binary);
        uint64_t digest = 14695981039346656037ULL;
        for (char c; in.get(c);)
            digest = (digest ^ uint8_t(c)) * 1099511628211ULL;
        image.push_back(line + " | attributes " + std::to_string(GetFileAttributesA(path.c_str())) + " | "
            + std::to_string(digest));
    }
    return image;
}

// A file in the Windows directory, as the profile file and the journal are.
std::string WindowsFile(const std::string& name)
{
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    return std::string(windows) + "\\" + name;
}

// The journal of an unfinished extraction, which no finished run leaves.
std::string JournalPath()
{
    return WindowsFile("pelmora.ini.journal");
}

// Adds a record to that journal, or another, as the setup writes one: the
// Adler-32 checksum of the record in hexadecimal, a blank, the record, CR LF.
bool AppendJournalRecord(const std::string& record, const std::string& path = JournalPath())
{
    uint32_t low = 1;
    uint32_t high = 0;
    for (unsigned char c : record) {
        low = (low + c) % 65521;
        high = (high + low) % 65521;
    }
    char checksum[9];
    snprintf(checksum, sizeof checksum, "%08x", unsigned(high << 16 | low));
    std::ofstream journal(path, std::ios::binary | std::ios::app);
    journal << checksum << ' ' << record << "\r\n";
    return bool(journal);
}

// The product's folder of what waits for the restart, beside its journal.
std::string RestartFolder(const std::string& profileFile = "pelmora.ini")
{
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    return std::string(windows) + "\\" + profileFile + ".restart";
}

// A link's path below the user's (or every user's) Programs folder.
std::string Links(const std::string& name, int folder = CSIDL_PROGRAMS)
{
    char programs[MAX_PATH];
    SHGetSpecialFolderPathA(nullptr, programs, folder, FALSE);
    return std::string(programs) + "\\" + name;
}

// The log's lines that begin with the prefix.
Lines LogLines(const std::string& log, const std::string& prefix)
{
    Lines found;
    for (const std::string& line : ReadLines(log))
        if (line.rfind(prefix, 0) == 0)
            found.push_back(line);
    return found;
}

// Runs a command that nobody answers: what it showed, then its exit code (below).
Lines RunUnattended(const std::string& commandLine);

// A file made longer or shorter by some bytes.
void ResizeFile(const std::string& path, LONGLONG by)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    LARGE_INTEGER size = {};
    GetFileSizeEx(file, &size);
    size.QuadPart += by;
    SetFilePointerEx(file, size, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    CloseHandle(file);
}

// A file with one bit of one byte turned over.
void ChangeByte(const std::string& path, LONGLONG at)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    LARGE_INTEGER place = {};
    place.QuadPart = at;
    unsigned char byte = 0;
    DWORD done = 0;
    SetFilePointerEx(file, place, nullptr, FILE_BEGIN);
    ReadFile(file, &byte, 1, &done, nullptr);
    byte ^= 0x01;
    SetFilePointerEx(file, place, nullptr, FILE_BEGIN);
    WriteFile(file, &byte, 1, &done, nullptr);
    CloseHandle(file);
}

// A restart of the prefix, which carries out the deletions waiting for one.
void SimulateRestart()
{
    std::string commandLine = "C:\\windows\\system32\\wineboot.exe -r";
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(automation::StartProcess(commandLine, &process));
    WaitForSingleObject(process.hProcess, 60000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

// The listing without the setup's record of what it wrote, whose time is the run's.
Lines WithoutRecord(const Lines& files)
{
    Lines kept;
    for (const std::string& file : files)
        if (file.rfind("pmfiles.lst | ", 0) != 0)
            kept.push_back(file);
    return kept;
}

Lines Names(const Lines& files)
{
    Lines names;
    for (const std::string& file : files)
        names.push_back(file.substr(0, file.find(" | ")));
    return names;
}

HANDLE StartProgram(const std::string& path)
{
    std::string commandLine = "\"" + path + "\"";
    PROCESS_INFORMATION process = {};
    if (!automation::StartProcess(commandLine, &process, path.c_str()))
        return nullptr;
    CloseHandle(process.hThread);
    // Until its windows are up, however slow the machine: a window still to come would be taken for one
    // the run under test opened.
    WaitForInputIdle(process.hProcess, 30000); // result deliberately ignored: a program without windows has no idle
    return process.hProcess;
}

// The scenario tools/run drives for its demo, with its pictures going to a folder of the test's.
Lines DemoScenario(const std::string& pictures)
{
    Lines lines = ReadLines(DEMO_SCENARIO);
    for (std::string& line : lines)
        if (line.find("DEMO/") != std::string::npos)
            line.replace(line.find("DEMO/"), 5, pictures + "\\");
    return lines;
}

// Down the backdrop's right edge, beside every screen, each sampled row has a
// band's colour, and the bands grow lighter towards the bottom.
bool ShowsTheGradient(const automation::Bitmap& shot)
{
    int previous = -1;
    for (int y = shot.height / 16; y < shot.height - 16; y += shot.height / 16) {
        COLORREF colour = shot.At(shot.width - 12, y);
        int red = GetRValue(colour);
        if (GetGValue(colour) != red || GetBValue(colour) != 127 + red || red % 2 || red < previous)
            return false;
        previous = red;
    }
    return previous >= 100;
}

bool IsDark(COLORREF colour)
{
    return GetRValue(colour) < 100 && GetGValue(colour) < 100 && GetBValue(colour) < 100;
}

// The transcript's lines for the pictures, taken out of it: each picture's
// file with the place of its screen on the display.
std::map<std::string, RECT> TakeShots(Lines& transcript)
{
    std::map<std::string, RECT> shots;
    Lines rest;
    for (const std::string& line : transcript) {
        RECT area = {};
        size_t bar = line.rfind(" | ");
        if (line.compare(0, 5, "shot ") == 0 && bar != std::string::npos
            && std::sscanf(line.c_str() + bar + 3, "%ld %ld %ld %ld", &area.left, &area.top, &area.right, &area.bottom)
                == 4)
            shots[line.substr(5, bar - 5)] = area;
        else
            rest.push_back(line);
    }
    transcript = rest;
    return shots;
}

int DarkPixels(const automation::Bitmap& shot, const RECT& area)
{
    int dark = 0;
    for (int y = area.top; y <= area.bottom; ++y)
        for (int x = area.left; x <= area.right; ++x)
            dark += IsDark(shot.At(x, y));
    return dark;
}

// Single-line fields: white areas at least 120 pixels wide and 8 to 40 tall
// (the title's white strokes are narrower, a window frame's white edges are
// thinner or taller). Rows with text in them stay white at both ends.
std::vector<RECT> WhiteFields(const automation::Bitmap& shot)
{
    const COLORREF white = RGB(255, 255, 255);
    std::vector<RECT> fields;
    for (int y = 0; y < shot.height; ++y)
        for (int x = 0; x < shot.width;) {
            int end = x;
            while (end < shot.width && shot.At(end, y) == white)
                ++end;
            bool known = std::any_of(fields.begin(), fields.end(), [&](const RECT& field) {
                return x >= field.left && x <= field.right && y >= field.top && y <= field.bottom;
            });
            if (end - x >= 120 && !known) {
                RECT field = {x, y, end - 1, y};
                while (field.bottom + 1 < shot.height && shot.At(field.left, field.bottom + 1) == white
                    && shot.At(field.right, field.bottom + 1) == white)
                    ++field.bottom;
                if (field.bottom - field.top >= 8 && field.bottom - field.top < 40)
                    fields.push_back(field);
            }
            x = std::max(end, x + 1);
        }
    return fields;
}

void SetModified(const std::string& path, int64_t seconds)
{
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, 0, nullptr);
    uint64_t ticks = uint64_t(seconds + 11644473600LL) * 10000000ULL;
    FILETIME time = {DWORD(ticks), DWORD(ticks >> 32)};
    SetFileTime(file, nullptr, nullptr, &time);
    CloseHandle(file);
}

} // namespace

TEST(EndToEnd, DecliningTheAgreementInstallsNothing)
{
    EXPECT_EQ(RunShipped({"answer END USER LICENSE AGREEMENT | I Do NOT Accept",
                  "answer Application Not Installed | OK"}),
        (Lines{"END USER LICENSE AGREEMENT | [I Accept,I Do NOT Accept] -> I Do NOT Accept", NotInstalled,
            SetupEnded(1602)}));
    EXPECT_EQ(ProfileValue("pelmora.ini"), "(none)");
    EXPECT_EQ(UninstallEntry("Pelmora"), Lines{"(no uninstall entry)"});
    EXPECT_EQ(GetFileAttributesA(Home.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(EndToEnd, DefaultInstallationWithTheStartupItem)
{
    // The demo's own scenario, which photographs every screen before answering it.
    const std::string pictures = "C:\\demo";
    CreateDirectoryA(pictures.c_str(), nullptr);
    Lines transcript = RunShipped(DemoScenario(pictures));
    std::map<std::string, RECT> shots = TakeShots(transcript);
    EXPECT_EQ(transcript,
        (Lines{Accepted, FolderDialog(Programs, "Pelmora", "OK"), Closing,
            Box("Add To Startup Group", StartupPrompt, "Yes,No", "Yes"), Success("Pelmora", "No"), Ended}));
    EXPECT_EQ(WithoutRecord(ListFiles(Home)), ShippedFiles());
    // Wine's Program Manager refuses the Startup item's command: it is a link in the user's Startup folder.
    EXPECT_EQ(ReadLines(Home + "\\pmfiles.lst"),
        (Lines{"product:Pelmora", "language:en", "pelmora.exe", "help.htm", "pmuninst.exe", "link:" + Links("StartUp\\Pelmora.lnk")}))
        << "the record of whose installation it is, what the setup wrote, and the link it made outside the folder";
    EXPECT_EQ(ProfileValue("pelmora.ini"), Home);
    EXPECT_EQ(UninstallEntry("Pelmora"),
        (Lines{TextValue("DisplayIcon", Home + "\\pelmora.exe,0"), "DisplayName = Pelmora (8 bytes)",
            "EstimatedSize = 347 (dword)", TextValue("InstallLocation", Home), "NoModify = 1 (dword)",
            "NoRepair = 1 (dword)", TextValue("QuietUninstallString", "\"" + Home + "\\pmuninst.exe\" /S"),
            TextValue("UninstallString", "\"" + Home + "\\pmuninst.exe\"")}));
    EXPECT_EQ(GroupLinks("Pelmora"),
        (Lines{"user: Pelmora.lnk -> " + Home + "\\pelmora.exe | " + Home,
            "user: Uninstall.lnk -> " + Home + "\\pmuninst.exe | " + Home}));
    EXPECT_EQ(GroupLinks("StartUp"), Lines{"user: Pelmora.lnk -> " + Home + "\\pelmora.exe | " + Home});
    EXPECT_EQ(TracedProgmanCommands(), ShippedProgmanCommands(Home, true));

    // Each picture shows its screen as the user saw it: painted, uncovered, over a painted backdrop.
    for (const char* name : {"1-agreement", "2-choose-folder", "3-closing-running-copies", "4-startup-group",
             "5-installation-successful"}) {
        const std::string path = pictures + "\\" + name + ".bmp";
        automation::Bitmap shot = automation::LoadBitmapFile(path.c_str());
        ASSERT_EQ(shot.width, GetSystemMetrics(SM_CXSCREEN)) << name;
        ASSERT_EQ(shots.count(path), 1u) << name;
        EXPECT_TRUE(ShowsTheGradient(shot)) << name << ": the backdrop behind the screen has painted";
        const RECT& area = shots[path];
        // Texts and button edges darken 2 to 7 per cent of a screen's inside; an
        // inside not yet painted has none, and one never painted may be black.
        const long inside = (area.right - area.left) * (area.bottom - area.top);
        const int dark = DarkPixels(shot, {area.left, area.top, area.right - 1, area.bottom - 1});
        EXPECT_GE(dark, inside / 60) << name << ": its texts are drawn";
        EXPECT_LE(dark, inside / 4) << name << ": its texts are drawn";
    }
    automation::Bitmap folder = automation::LoadBitmapFile((pictures + "\\2-choose-folder.bmp").c_str());
    std::vector<RECT> fields = WhiteFields(folder);
    ASSERT_EQ(fields.size(), 2u) << "the two folder fields";
    for (const RECT& field : fields)
        EXPECT_GE(DarkPixels(folder, field), 20) << "the field's text is drawn";
}

TEST(EndToEnd, SecondRunProposesTheFolderAndReplacesARunningCopy)
{
    Lines first = RunShipped(DefaultInstallation);
    ASSERT_EQ(first.back(), Ended);
    std::string program = Home + "\\pelmora.exe";
    std::string manual = Home + "\\help.htm";
    HANDLE running = StartProgram(program);
    ASSERT_NE(running, nullptr);
    Sleep(1000);
    SetModified(program, 1000000000);
    HANDLE old = CreateFileA(manual.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written;
    WriteFile(old, "old", 3, &written, nullptr);
    CloseHandle(old);

    // The uninstaller made read-only by its user: kept as it is, and named. No start is offered
    // while a file of the earlier version waits for the restart.
    const std::string uninstaller = Home + "\\pmuninst.exe";
    SetModified(uninstaller, 1000000000);
    SetFileAttributesA(uninstaller.c_str(), FILE_ATTRIBUTE_READONLY);

    EXPECT_EQ(RunShipped({"hold " + manual, "window Pelmora - Options", "window About Pelmora",
                  "answer END USER LICENSE AGREEMENT | I Accept",
                  "answer Choose a Folder | OK", "answer Closing Running Copies | OK",
                  "answer Add To Startup Group | No", "answer Restart to Complete the Installation | OK",
                  "answer Files Kept | OK"}),
        (Lines{Accepted, FolderDialog(Programs, "Pelmora", "OK"), Closing,
            Box("Add To Startup Group", StartupPrompt, "Yes,No", "No"),
            Box("Restart to Complete the Installation",
                "Some files of Pelmora were in use and could not be replaced now. Windows replaces them when it "
                "restarts, which completes the installation.",
                "OK", "OK"),
            Box("Files Kept",
                "These files of Pelmora could not be replaced, so they were kept as they were (they are read-only or "
                "protected, or in use):\r\n\r\npmuninst.exe\r\n",
                "OK", "OK"),
            SetupEnded(3010), "window \"Pelmora - Options\" was left alone",
            "window \"About Pelmora\" was left alone"}))
        << "the windows of a program outside the folder are left alone, whatever their titles";
    EXPECT_EQ(WaitForSingleObject(running, 5000), WAIT_OBJECT_0) << "the running copy was told to quit";
    CloseHandle(running);
    Lines files = WithoutRecord(ListFiles(Home));
    ASSERT_EQ(files.size(), 4u);
    EXPECT_EQ(files[0].substr(0, 14), "help.htm | 3 |") << "held open: kept until the restart";
    EXPECT_EQ(files[1], "help.htm.pmnew" + ShippedFiles()[0].substr(8)) << "staged beside it, with its stored time";
    EXPECT_EQ(files[2], ShippedFiles()[1]) << "rewritten with its stored time";
    EXPECT_EQ(files[3], "pmuninst.exe | 59392 | 1000000000") << "read-only: kept as it was";

    SimulateRestart();
    SetFileAttributesA(uninstaller.c_str(), FILE_ATTRIBUTE_NORMAL);
    files = WithoutRecord(ListFiles(Home));
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0], ShippedFiles()[0]) << "the restart put the new version in its place";
    EXPECT_EQ(files[1], ShippedFiles()[1]);

    // Held again by the next update, then removed before the restart: the file staged for the
    // restart goes with the product, and with it what waited for it in the restart's schedule (a
    // later update cut off while it writes a file under that name would otherwise have it moved
    // over the manual at the restart); the restart brings nothing of it back.
    const Lines before = PendingReplacements();
    Lines update = RunShipped({"hold " + manual, "answer END USER LICENSE AGREEMENT | I Accept",
        "answer Choose a Folder | OK", "answer Closing Running Copies | OK", "answer Add To Startup Group | No",
        "answer Restart to Complete the Installation | OK"});
    ASSERT_FALSE(update.empty());
    EXPECT_EQ(update.back(), SetupEnded(3010));
    EXPECT_NE(GetFileAttributesA((manual + ".pmnew").c_str()), INVALID_FILE_ATTRIBUTES);
    // A staged name that nothing waits to move is the user's file, and stays with its folder.
    const std::string users = program + ".pmnew";
    CloseHandle(CreateFileA(users.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    const std::string removalLog = "C:\\removal.log";
    Lines removal = DriveCommand(UninstallCommand("Pelmora") + " /LOG=" + removalLog, UninstallAnswers);
    ASSERT_FALSE(removal.empty());
    EXPECT_EQ(removal.back(), Uninstalled);
    EXPECT_EQ(PendingReplacements(), before);
    EXPECT_EQ(LogLines(removalLog, "Taken out of the restart's schedule: "),
        Lines{"Taken out of the restart's schedule: " + manual + ".pmnew > " + manual})
        << "another program's operation may go too: the log names it";
    EXPECT_EQ(Names(ListFiles(Home)), Lines{"pelmora.exe.pmnew"});
    ASSERT_TRUE(DeleteFileA(users.c_str()));
    EXPECT_EQ(RunUnattended("\"" + std::string(SETUP_EXE) + "\" /S"), Lines{"exit code 0"});
    EXPECT_EQ(DriveCommand(UninstallCommand("Pelmora"), UninstallAnswers).back(), Uninstalled);
    SimulateRestart();
    EXPECT_EQ(GetFileAttributesA(Home.c_str()), INVALID_FILE_ATTRIBUTES) << "nothing of the product came back";
}

TEST(EndToEnd, FolderDialogRefusesBadFoldersUntilTheUserGivesUp)
{
    const std::string existing = Box("Write Data to Existing Folder?",
        "That folder already exists. The application can use it, but we do not recommend using a folder that is "
        "already being used for other purposes. Are you sure you want to use this directory?",
        "Yes,No", "Yes");
    // Another product's installation, by an earlier build whose record names no product: its files, not this one's.
    const std::string other = "C:\\Quillet Notes";
    CreateDirectoryA(other.c_str(), nullptr);
    std::ofstream(other + "\\quillet.exe") << "theirs";
    std::ofstream(other + "\\pmfiles.lst") << "quillet.exe\r\npmuninst.exe\r\n";
    const Lines otherImage = FolderImage(other);
    EXPECT_EQ(RunShipped({"answer END USER LICENSE AGREEMENT | I Accept", "type 1097 C:\\windows", "type 1099 win.ini",
                  "answer Choose a Folder | OK", "answer Please Enter a Folder Name | OK", "type 1097 C:\\missing",
                  "type 1099 Pelmora", "answer Choose a Folder | OK", "answer Can't Create Directory | OK",
                  "type 1097 C:", "type 1099 Quillet Notes", "answer Choose a Folder | OK",
                  "answer Folder Holds Another Product | OK",
                  "type 1099 windows", "answer Choose a Folder | OK",
                  "answer Write Data to Existing Folder? | Yes", "answer Can't Install to Windows Directory | OK",
                  "answer Choose a Folder | Cancel", "answer Shutting Down | OK",
                  "answer Application Not Installed | OK"}),
        (Lines{Accepted, FolderDialog("C:\\windows", "win.ini", "OK"),
            Box("Please Enter a Folder Name",
                "That path specifies a file, and not a new or existing folder name. Please enter a folder name, such "
                "as Pelmora for example.",
                "OK", "OK"),
            FolderDialog("C:\\missing", "Pelmora", "OK"),
            Box("Can't Create Directory",
                "That folder does not exist, and the application was not able to create it. Most likely the parent "
                "folder does not exist or you have entered a path the program does not have write access to.",
                "OK", "OK"),
            FolderDialog("C:", "Quillet Notes", "OK"),
            Box("Folder Holds Another Product",
                "That folder holds the installation of another product. Installed there, the two would share their "
                "files, and removing one would remove files of the other. Please choose another location.",
                "OK", "OK"),
            FolderDialog("C:", "windows", "OK"), existing,
            Box("Can't Install to Windows Directory",
                "That directory is the Windows directory. It is not safe to install applications in the Windows "
                "directory because it contains other important system files. Please choose another location.",
                "OK", "OK"),
            FolderDialog("C:", "windows", "Cancel"), ShuttingDown, NotInstalled, SetupEnded(1602)}));
    EXPECT_EQ(ProfileValue("pelmora.ini"), "(none)");
    EXPECT_EQ(GetFileAttributesA("C:\\missing"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(FolderImage(other), otherImage);
    RemoveTree(other);
}

TEST(EndToEnd, AnUpdateThatRunsOutOfSpaceLeavesTheEarlierVersion)
{
    if (GetFileAttributesA("Q:\\") == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no small drive Q: (mounting a tmpfs was not permitted)";
    const std::string folder = "Q:\\Pelmora";
    RemoveTree(folder);
    const Lines failed = {Accepted, FolderDialog("Q:", "Pelmora", "OK"), Closing,
        Box("Pelmora Installation Failed",
            "The application was unable to finish writing a file to disk. Your hard drive is probably full. Check "
            "your available disk space, make additional space available, and run the setup program again.",
            "OK", "OK"),
        SetupEnded(1603)};
    const Lines updateAnswers = {"answer END USER LICENSE AGREEMENT | I Accept", "type 1097 Q:", "type 1099 Pelmora",
        "answer Choose a Folder | OK", "answer Closing Running Copies | OK", "answer Pelmora Installation Failed | OK"};

    // The newer build does not fit on the drive at all: a first install leaves nothing and registers nothing.
    EXPECT_EQ(Drive(UPDATE_SETUP_EXE, updateAnswers), failed);
    EXPECT_EQ(FolderImage(folder), Lines{});
    EXPECT_EQ(ProfileValue("pelmora.ini"), "(none)") << "a failed run remembers no folder";
    EXPECT_EQ(UninstallEntry("Pelmora"), Lines{"(no uninstall entry)"});
    EXPECT_EQ(GroupLinks("Pelmora"), Lines{});
    EXPECT_EQ(TracedProgmanCommands(), Lines{});

    // The shipped version fits, and is installed there; then the update runs out of space in its last,
    // large file, after replacing all three: the earlier version is back, byte for byte, times included.
    ASSERT_EQ(RunShipped({"answer END USER LICENSE AGREEMENT | I Accept", "type 1097 Q:", "type 1099 Pelmora",
                  "answer Choose a Folder | OK",
                  "answer Closing Running Copies | OK", "answer Add To Startup Group | No",
                  "answer Installation Successful | No"})
                  .back(),
        Ended);
    const Lines earlier = FolderImage(folder);
    ASSERT_EQ(Names(ListFiles(folder)), (Lines{"help.htm", "pelmora.exe", "pmfiles.lst", "pmuninst.exe"}));
    const Lines registered = Join(UninstallEntry("Pelmora"), GroupLinks("Pelmora"));
    EXPECT_EQ(Drive(UPDATE_SETUP_EXE, updateAnswers), failed);
    EXPECT_EQ(FolderImage(folder), earlier);
    EXPECT_EQ(Join(UninstallEntry("Pelmora"), GroupLinks("Pelmora")), registered);
    EXPECT_EQ(GetFileAttributesA(JournalPath().c_str()), INVALID_FILE_ATTRIBUTES);
    RemoveTree(folder);
}

TEST(EndToEnd, AnUpdateEndedMidwayIsUndoneByTheNextRun)
{
    ASSERT_EQ(RunShipped(DefaultInstallation).back(), Ended);
    const Lines earlier = FolderImage(Home);
    const Lines registered = Join(UninstallEntry("Pelmora"), GroupLinks("Pelmora"));
    // The last, large file, while it is written under its staged name.
    const std::string samples = Home + "\\samples.dat.pmnew";
    const Lines updateAnswers = {"answer END USER LICENSE AGREEMENT | I Accept", "answer Choose a Folder | OK",
        "answer Closing Running Copies | OK"};

    // Ended from outside the moment its last, large file is being written, twice:
    // once the next setup run undoes it, declined at once; once the uninstaller does.
    for (const char* next : {"setup", "uninstaller"}) {
        EXPECT_EQ(Drive(UPDATE_SETUP_EXE, Join({"end-when " + samples}, updateAnswers)),
            (Lines{Accepted, FolderDialog(Programs, "Pelmora", "OK"), Closing,
                "(" + samples + " appeared: the driver ended the program)", "setup ended with exit code 1"}))
            << next;
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        ASSERT_TRUE(GetFileAttributesExA(samples.c_str(), GetFileExInfoStandard, &data)) << next;
        EXPECT_LT(data.nFileSizeLow, 50331648u) << next << ": ended in the middle of the file";
        EXPECT_NE(FolderImage(Home), earlier) << next << ": the update had staged files";
        EXPECT_NE(GetFileAttributesA(JournalPath().c_str()), INVALID_FILE_ATTRIBUTES) << next;
        // As if it went on to its first commit, the new program put in place and the earlier set aside (by
        // name, as on a volume that keeps no identities), before it was cut off. The new program then runs:
        // a copy that holds the file the undo must put back, and must be told to quit first.
        const std::string program = Home + "\\pelmora.exe";
        ASSERT_TRUE(AppendJournalRecord("M 0 0 0000000000000000 pelmora.exe")) << next;
        ASSERT_TRUE(MoveFileA(program.c_str(), (program + ".pmold").c_str())) << next;
        ASSERT_TRUE(MoveFileA((program + ".pmnew").c_str(), program.c_str())) << next;

        if (std::string(next) == "setup") {
            // While the folder leads elsewhere, the journal stays and nothing is written: the message says why.
            const std::string elsewhere = Home + "-elsewhere";
            CreateDirectoryA(elsewhere.c_str(), nullptr);
            std::ofstream(elsewhere + "\\pelmora.exe") << "theirs";
            ASSERT_TRUE(MoveFileA(Home.c_str(), (Home + "-moved").c_str()));
            ASSERT_TRUE(MakeUnixLink(Home, elsewhere));
            EXPECT_EQ(Drive(UPDATE_SETUP_EXE,
                          Join({"answer Interrupted Installation | OK", "answer Closing Running Copies | OK"},
                              Join(updateAnswers, {"answer Pelmora Installation Failed | OK"}))),
                (Lines{CutOff, Closing, Accepted, FolderDialog(Programs, "Pelmora", "OK"), Closing,
                    Box("Pelmora Installation Failed",
                        "An earlier installation into " + Home
                            + " was cut off, and that folder now leads to another place. Put the folder back as it "
                              "was and run the setup program again: before anything else, it puts back what that "
                              "installation replaced.",
                        "OK", "OK"),
                    SetupEnded(1603)}));
            EXPECT_EQ(Names(ListFiles(elsewhere)), Lines{"pelmora.exe"});
            EXPECT_EQ(ReadLines(elsewhere + "\\pelmora.exe"), Lines{"theirs"});
            RemoveUnixLink(Home);
            ASSERT_TRUE(MoveFileA((Home + "-moved").c_str(), Home.c_str()));
            RemoveTree(elsewhere);
            HANDLE running = StartProgram(program);
            ASSERT_NE(running, nullptr);
            Sleep(1000);
            EXPECT_EQ(Drive(UPDATE_SETUP_EXE,
                          {"answer Interrupted Installation | OK", "answer Closing Running Copies | OK",
                              "answer END USER LICENSE AGREEMENT | I Do NOT Accept", "answer Application Not Installed | OK"}),
                (Lines{CutOff, Closing, "END USER LICENSE AGREEMENT | [I Accept,I Do NOT Accept] -> I Do NOT Accept",
                    NotInstalled, SetupEnded(1602)}))
                << "the running copy is told to quit before the undo, whatever the user then answers";
            EXPECT_EQ(WaitForSingleObject(running, 0), WAIT_OBJECT_0);
            CloseHandle(running);
            EXPECT_EQ(FolderImage(Home), earlier) << "the earlier program put back, the new one gone";
            EXPECT_EQ(Join(UninstallEntry("Pelmora"), GroupLinks("Pelmora")), registered);
            EXPECT_EQ(GetFileAttributesA(JournalPath().c_str()), INVALID_FILE_ATTRIBUTES);
        } else {
            // The uninstaller tells the running copy to quit, puts the earlier program back, deletes what
            // the cut-off run staged and removes the version. The folder that run made for the update's new
            // file stays, empty, and keeps the installation folder. Another program still maps the new
            // program, so that the undo can only move it into the restart folder: the removal then asks
            // for the restart.
            HANDLE running = StartProgram(program);
            ASSERT_NE(running, nullptr);
            Sleep(1000);
            EXPECT_EQ(DriveCommand(UninstallCommand("Pelmora"), Join({"map " + program}, UninstallAnswers)),
                (Lines{RemoveQuestion("Pelmora", "Yes"), Closing,
                    RemovalComplete("Pelmora was removed from your computer." + InUseHeading + "\r\n" + Home
                        + "\\pmuninst.exe\r\n\r\nKept, because it holds files that were not installed with the "
                          "product:\r\n"
                        + Home),
                    UninstallerEnded(3010)}));
            EXPECT_EQ(PendingDeletions(),
                (Lines{RestartFolder() + "\\pelmora.exe", RestartFolder(), RestartFolder() + "\\pmuninst.exe",
                    RestartFolder()}));
            EXPECT_EQ(WaitForSingleObject(running, 0), WAIT_OBJECT_0);
            CloseHandle(running);
            EXPECT_EQ(Names(ListFiles(Home)), Lines{}) << "the uninstaller waits for the restart in the restart folder";
            EXPECT_EQ(GetFileAttributesA(JournalPath().c_str()), INVALID_FILE_ATTRIBUTES);
            EXPECT_EQ(UninstallEntry("Pelmora"), Lines{"(no uninstall entry)"});
            SimulateRestart();
            EXPECT_EQ(ListFiles(Home), Lines{}) << "nothing of either version stays";
            RemoveTree(Home);
        }
    }
}

TEST(EndToEnd, UninstallRemovesOnlyWhatTheSetupWrote)
{
    // A user's own manual in the folder before the product came, made read-only, so both versions
    // pass it over: the newer one (with release notes in a subfolder and a sample file), then the
    // shipped one, which drops those two.
    CreateDirectoryA(Home.c_str(), nullptr);
    const std::string manual = Home + "\\help.htm";
    std::ofstream(manual) << "my own notes";
    SetFileAttributesA(manual.c_str(), FILE_ATTRIBUTE_READONLY);
    const Lines installAnswers = {"answer END USER LICENSE AGREEMENT | I Accept", "answer Choose a Folder | OK",
        "answer Closing Running Copies | OK", "answer Add To Startup Group | No", "answer Files Kept | OK",
        "answer Installation Successful | No"};
    ASSERT_EQ(Drive(UPDATE_SETUP_EXE, installAnswers).back(), Ended);
    ASSERT_EQ(RunShipped(installAnswers).back(), Ended);
    EXPECT_EQ(Names(ListFiles(Home)), (Lines{"docs\\whatsnew.txt", "help.htm", "pelmora.exe", "pmfiles.lst",
                                          "pmuninst.exe", "samples.dat"}));

    // The release notes' folder replaced by a link to a folder outside with a file of the same name.
    const std::string outside = "C:\\outside";
    CreateDirectoryA(outside.c_str(), nullptr);
    std::ofstream(outside + "\\whatsnew.txt") << "theirs";
    ASSERT_TRUE(MoveFileA((Home + "\\docs").c_str(), "C:\\docs-of-pelmora"));
    ASSERT_TRUE(MakeUnixLink(Home + "\\docs", outside));

    // A copy of the installation under a name that differs by an invisible soft hyphen removes nothing.
    const std::string lookAlike = Programs + "\\Pel\xc2\xadmora";
    CreateDirectoryA(lookAlike.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA((Home + "\\pmuninst.exe").c_str(), (lookAlike + "\\pmuninst.exe").c_str(), FALSE));
    const Lines installed = Join(UninstallEntry("Pelmora"), {ProfileValue("pelmora.ini")});
    EXPECT_EQ(Drive(lookAlike + "\\pmuninst.exe", {"answer Uninstall Not Possible | OK"}),
        (Lines{Box("Uninstall Not Possible",
                   "This program does not belong to an installation of Pelmora in this folder. Nothing was removed.",
                   "OK", "OK"),
            UninstallerEnded(1605)}));
    EXPECT_EQ(Join(UninstallEntry("Pelmora"), {ProfileValue("pelmora.ini")}), installed);

    // Another program's window whose title begins with the product's name is left alone; the file behind
    // the link, held open meanwhile, is not scheduled through it; a read-only file of the product goes.
    SetFileAttributesA((Home + "\\pelmora.exe").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(DriveCommand(UninstallCommand("Pelmora"),
                  Join({"window Pelmora ideas.txt - Notepad", "hold " + outside + "\\whatsnew.txt"}, UninstallAnswers)),
        (Lines{RemoveQuestion("Pelmora", "Yes"), Closing,
            RemovalComplete("Pelmora was removed from your computer." + InUseHeading + "\r\n" + Home
                + "\\pmuninst.exe\r\n\r\nKept, because it holds files that were not installed with the "
                  "product:\r\n"
                + Home + "\r\n\r\nLeft alone, because it is a link that leads out of the installation folder:\r\n"
                + Home + "\\docs"),
            Uninstalled, "window \"Pelmora ideas.txt - Notepad\" was left alone"}));
    EXPECT_EQ(ReadLines(manual), Lines{"my own notes"});
    EXPECT_EQ(ReadLines(outside + "\\whatsnew.txt"), Lines{"theirs"});
    EXPECT_EQ(Names(ListFiles(Home)), (Lines{"docs", "help.htm"})) << "the link and the user's manual";
    EXPECT_EQ(UninstallEntry("Pelmora"), Lines{"(no uninstall entry)"});
    const std::string restart = RestartFolder();
    EXPECT_EQ(PendingDeletions(), (Lines{restart + "\\pmuninst.exe", restart}))
        << "the running uninstaller waits in the restart folder";
    RemoveUnixLink(Home + "\\docs");
    SimulateRestart();
    EXPECT_EQ(Names(ListFiles(Home)), Lines{"help.htm"}) << "the dropped sample file went with the rest";
    EXPECT_EQ(ReadLines(outside + "\\whatsnew.txt"), Lines{"theirs"});
    RemoveTree(outside);
    RemoveTree(lookAlike);

    // Installed again, and removed while a program runs from the release notes: they wait for the restart
    // in the restart folder, and their own folder goes at once. A link put in its place before the
    // restart leads the restart nowhere: nothing outside is deleted, and the notes are gone.
    SetFileAttributesA(manual.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_EQ(Drive(UPDATE_SETUP_EXE, DefaultInstallation).back(), Ended);
    const std::string notes = Home + "\\docs\\whatsnew.txt";
    EXPECT_EQ(DriveCommand(UninstallCommand("Pelmora"), Join({"map " + notes}, UninstallAnswers)),
        (Lines{RemoveQuestion("Pelmora", "Yes"), Closing,
            RemovalComplete(
                "Pelmora was removed from your computer." + InUseHeading + "\r\n" + notes + "\r\n" + Home + "\\pmuninst.exe"),
            UninstallerEnded(3010)}));
    EXPECT_EQ(PendingDeletions(),
        (Lines{restart + "\\whatsnew.txt", restart, restart + "\\pmuninst.exe", restart}));
    const std::string protectedFolder = "C:\\protected";
    CreateDirectoryA(protectedFolder.c_str(), nullptr);
    std::ofstream(protectedFolder + "\\whatsnew.txt") << "protected";
    // Results deliberately ignored: only where the notes' folder stayed is there one to set aside, and
    // only where the installation folder went is it made again.
    MoveFileA((Home + "\\docs").c_str(), "C:\\docs-aside");
    CreateDirectoryA(Home.c_str(), nullptr);
    ASSERT_TRUE(MakeUnixLink(Home + "\\docs", protectedFolder));
    SimulateRestart();
    EXPECT_EQ(ReadLines(protectedFolder + "\\whatsnew.txt"), Lines{"protected"}) << "nothing outside is deleted";
    EXPECT_EQ(GetFileAttributesA(restart.c_str()), INVALID_FILE_ATTRIBUTES) << "the notes, then their folder, went";
    EXPECT_EQ(PendingDeletions(), Lines{});
    RemoveUnixLink(Home + "\\docs");
}

TEST(EndToEnd, UninstallFailuresAreToldAndCanBeRetried)
{
    // A key under the entry that is not the product's keeps the entry: the removal says so and stays repeatable.
    ASSERT_EQ(RunShipped(DefaultInstallation).back(), Ended);
    const std::string entryKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Pelmora";
    HKEY other;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, (entryKey + "\\Other").c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                  &other, nullptr),
        ERROR_SUCCESS);
    RegCloseKey(other);
    EXPECT_EQ(DriveCommand(UninstallCommand("Pelmora"),
                  {"answer Remove Pelmora | Yes", "answer Closing Running Copies | OK", "answer Removal Incomplete | OK"}),
        (Lines{RemoveQuestion("Pelmora", "Yes"), Closing,
            Box("Removal Incomplete",
                "Pelmora could not be removed completely. Its uninstaller and its uninstall entry stay, so that you can "
                "run it again once the cause is removed.\r\n\r\nCould not be removed, nor left for Windows to remove "
                "when it restarts:\r\nthe uninstall entry, HKEY_LOCAL_MACHINE\\"
                    + entryKey,
                "OK", "OK"),
            UninstallerEnded(1603)}));
    EXPECT_EQ(Names(ListFiles(Home)), (Lines{"pmfiles.lst", "pmuninst.exe"})) << "what the next try needs stays";
    EXPECT_EQ(UninstallCommand("Pelmora"), "\"" + Home + "\\pmuninst.exe\"");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (entryKey + "\\Other").c_str());
    EXPECT_EQ(DriveCommand(UninstallCommand("Pelmora"), UninstallAnswers),
        (Lines{RemoveQuestion("Pelmora", "Yes"), Closing,
            RemovalComplete("Pelmora was removed from your computer." + InUseHeading + "\r\n" + Home + "\\pmuninst.exe"),
            Uninstalled}));
    EXPECT_EQ(UninstallEntry("Pelmora"), Lines{"(no uninstall entry)"});
    SimulateRestart();
    EXPECT_EQ(GetFileAttributesA(Home.c_str()), INVALID_FILE_ATTRIBUTES);

    // Removed while a program holds the manual without letting it be renamed: it cannot even be moved to
    // the restart folder, so it stays and is named, and nothing is scheduled by its path.
    ASSERT_EQ(RunShipped(DefaultInstallation).back(), Ended);
    const std::string manual = Home + "\\help.htm";
    EXPECT_EQ(DriveCommand(UninstallCommand("Pelmora"),
                  Join({"hold " + manual}, {"answer Remove Pelmora | Yes", "answer Closing Running Copies | OK",
                                               "answer Removal Incomplete | OK"})),
        (Lines{RemoveQuestion("Pelmora", "Yes"), Closing,
            Box("Removal Incomplete",
                "Pelmora could not be removed completely. Its uninstaller and its uninstall entry stay, so that you can "
                "run it again once the cause is removed.\r\n\r\nCould not be removed, nor left for Windows to remove "
                "when it restarts:\r\n"
                    + manual,
                "OK", "OK"),
            UninstallerEnded(1603)}));
    EXPECT_EQ(PendingDeletions(), Lines{});
    EXPECT_EQ(Names(ListFiles(Home)), (Lines{"help.htm", "pmfiles.lst", "pmuninst.exe"}));

    // Again while a program runs from it: it waits in the restart folder, with the running uninstaller,
    // and the installation folder goes at once.
    EXPECT_EQ(DriveCommand(UninstallCommand("Pelmora"), Join({"map " + manual}, UninstallAnswers)).back(),
        UninstallerEnded(3010));
    const std::string restart = RestartFolder();
    EXPECT_EQ(PendingDeletions(), (Lines{restart + "\\help.htm", restart, restart + "\\pmuninst.exe", restart}));
    EXPECT_EQ(GetFileAttributesA(Home.c_str()), INVALID_FILE_ATTRIBUTES);

    // An earlier build's uninstaller left the same for the restart by their paths in the folder. Installed
    // again before that restart, through a link to the same folder: the restart leaves the new installation
    // whole, every file as the setup wrote it.
    for (const std::string& path : {manual, Home + "\\pmuninst.exe", Home})
        ASSERT_TRUE(MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) << path;
    CreateDirectoryA(Home.c_str(), nullptr);
    const std::string link = "C:\\Pelmora link";
    ASSERT_TRUE(MakeUnixLink(link, Home));
    EXPECT_EQ(RunUnattended("\"" + std::string(SETUP_EXE) + "\" /S /D=" + link), Lines{"exit code 0"});
    EXPECT_EQ(PendingDeletions(), (Lines{restart + "\\help.htm", restart, restart + "\\pmuninst.exe", restart}))
        << "the new installation's files are no longer scheduled";
    const Lines installed = FolderImage(Home);
    SimulateRestart();
    EXPECT_EQ(WithoutRecord(ListFiles(Home)), ShippedFiles());
    EXPECT_EQ(FolderImage(Home), installed);
    EXPECT_EQ(GetFileAttributesA(restart.c_str()), INVALID_FILE_ATTRIBUTES);
    RemoveUnixLink(link);

    // Installed there once more, and removed while a program has the folder for its current folder (this
    // test): its files go, and the folder, empty but impossible to remove now, is named, never left to the
    // restart by its path.
    ASSERT_EQ(RunUnattended("\"" + std::string(SETUP_EXE) + "\" /S /D=" + Home), Lines{"exit code 0"});
    ASSERT_TRUE(SetCurrentDirectoryA(Home.c_str()));
    EXPECT_EQ(DriveCommand(UninstallCommand("Pelmora"), UninstallAnswers),
        (Lines{RemoveQuestion("Pelmora", "Yes"), Closing,
            RemovalComplete("Pelmora was removed from your computer." + InUseHeading + "\r\n" + Home
                + "\\pmuninst.exe\r\n\r\nLeft, because a program uses it now; delete it once the program has "
                  "ended:\r\n"
                + Home),
            Uninstalled}));
    EXPECT_EQ(ListFiles(Home), Lines{});
    EXPECT_EQ(PendingDeletions(), (Lines{restart + "\\pmuninst.exe", restart}));
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
    EXPECT_TRUE(RemoveDirectoryA(Home.c_str())) << "the program gone, the user can delete it";
}

TEST(EndToEnd, AcceptingTheLaunchLeavesTheProgramRunning)
{
    const std::string log = "C:\\launch.log";
    EXPECT_EQ(DriveCommand("\"" + std::string(SETUP_EXE) + "\" /LOG=" + log,
                  {"answer END USER LICENSE AGREEMENT | I Accept", "answer Choose a Folder | OK",
                      "answer Closing Running Copies | OK", "answer Add To Startup Group | No",
                      "answer Installation Successful | Yes"}),
        (Lines{Accepted, FolderDialog(Programs, "Pelmora", "OK"), Closing,
            Box("Add To Startup Group", StartupPrompt, "Yes,No", "No"), Success("Pelmora", "Yes"), Ended}));
    // The log says which way it was started.
    Lines started = LogLines(log, "Started ");
    ASSERT_EQ(started.size(), 1u);
    EXPECT_TRUE(started[0] == "Started as the signed-in user, through the desktop shell: " + Home + "\\pelmora.exe"
        || started[0] == "Started directly, with the setup's rights (no desktop shell started it): \"" + Home
                + "\\pelmora.exe\"")
        << started[0];
    HWND program = automation::WaitForWindow([] { return FindWindowA("PelmoraMain", "Pelmora"); }, 10000);
    ASSERT_NE(program, nullptr);
    DWORD processId = 0;
    GetWindowThreadProcessId(program, &processId);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, processId);
    char path[MAX_PATH] = {};
    DWORD size = sizeof path;
    QueryFullProcessImageNameA(process, 0, path, &size);
    EXPECT_EQ(path, Home + "\\pelmora.exe");
    PostMessageA(program, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForSingleObject(process, 5000), WAIT_OBJECT_0);
    CloseHandle(process);
}

TEST(EndToEnd, SecondProductInstallsWithItsOwnConfiguration)
{
    if (GetFileAttributesA("Q:\\") == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no small drive Q: (mounting a tmpfs was not permitted)";
    RemoveTree("Q:\\Quillet");
    CreateDirectoryA("C:\\Apps", nullptr);
    std::string log = "C:\\quillet-runs.log";
    DeleteFileA(log.c_str());
    SetEnvironmentVariableA("SETUP_RECORD_LOG", log.c_str());
    SetEnvironmentVariableA("SETUP_RECORD_EXIT", "0");
    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof system);

    Lines transcript = Drive(SECOND_SETUP_EXE,
        {"answer END USER LICENSE AGREEMENT | I Accept", "type 1097 Q:", "type 1099 Quillet",
            "answer Choose a Folder | OK", "answer Not Enough Disk Space | OK", "type 1097 C:\\Apps",
            "type 1099 Quillet Notes", "answer Choose a Folder | OK", "answer Close Running Copies First! | OK",
            "answer Install NT Service | Yes", "answer Installing Service | OK",
            "answer Installation Successful | No"});
    EXPECT_EQ(transcript,
        (Lines{Accepted, FolderDialog("Q:", "Quillet", "OK"),
            Box("Not Enough Disk Space",
                "Not enough free disk space is available on the drive you have specified. 1 megabytes of free space "
                "are required for the proper operation of the program. On drive Q:\\ only 0 megabytes of free space "
                "are available.\r\n\r\nYou will be given another opportunity to choose a location for the software. "
                "You may wish to cancel the installation process, or use your Windows desktop to delete files, "
                "making more room for the program.",
                "OK", "OK"),
            FolderDialog("C:\\Apps", "Quillet Notes", "OK"),
            Box("Close Running Copies First!",
                "Do you already have an older version of Quillet?\r\n\r\nIf you do, MAKE SURE IT IS NOT RUNNING "
                "RIGHT NOW. If it is running, shut it down BEFORE clicking the OK button.\r\n\r\nIf you have not "
                "installed Quillet before, just click the OK button.",
                "OK", "OK"),
            Box("Install NT Service", "Install the Quillet service?", "Yes,No", "Yes"),
            Box("Installing Service",
                "There will be a pause of about six seconds while any older versions of this application's NT "
                "service are shut down and the new version is started up. This pause will begin when you click OK.",
                "OK", "OK"),
            Success("Quillet", "No"), Ended}));
    const std::string folder = "C:\\Apps\\Quillet Notes";
    Lines files = WithoutRecord(ListFiles(folder));
    ASSERT_EQ(files.size(), 6u);
    EXPECT_EQ(files[0], "docs\\guide.txt | 56 | 1262304001");
    HANDLE dll = CreateFileA((system + std::string("\\quillet.dll")).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
        OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(dll, INVALID_HANDLE_VALUE) << "the system-directory file";
    EXPECT_EQ(ProfileValue("quillet.ini"), folder);
    // The entry's size is the payload's, rounded up to kilobytes.
    DWORD bytes = GetFileSize(dll, nullptr);
    for (const std::string& file : files)
        bytes += std::stoul(file.substr(file.find(" | ") + 3));
    EXPECT_EQ(UninstallEntry("Quillet"),
        (Lines{"DisplayIcon = C:\\Apps\\Quillet Notes\\quillet.exe,0 (36 bytes)", "DisplayName = Quillet (8 bytes)",
            "DisplayVersion = 2.1 (4 bytes)", "EstimatedSize = " + std::to_string((bytes + 1023) / 1024) + " (dword)",
            "InstallLocation = C:\\Apps\\Quillet Notes (22 bytes)", "NoModify = 1 (dword)", "NoRepair = 1 (dword)",
            "Publisher = Quillet Works (14 bytes)",
            "QuietUninstallString = \"C:\\Apps\\Quillet Notes\\pmuninst.exe\" /S (40 bytes)",
            "UninstallString = \"C:\\Apps\\Quillet Notes\\pmuninst.exe\" (37 bytes)"}));
    EXPECT_EQ(GroupLinks("Quillet Notes"),
        (Lines{"user: Quillet.lnk -> C:\\Apps\\Quillet Notes\\quillet.exe | C:\\Apps\\Quillet Notes",
            "user: Uninstall.lnk -> C:\\Apps\\Quillet Notes\\pmuninst.exe | C:\\Apps\\Quillet Notes"}));
    EXPECT_EQ(ReadLines(log),
        (Lines{"pmagent.exe|\"C:\\Apps\\Quillet Notes\\pmagent.exe\" -install -sid=0|C:\\Apps\\Quillet Notes|1",
            "qsvc.exe|\"C:\\Apps\\Quillet Notes\\qsvc.exe\" -remove-service|C:\\Apps\\Quillet Notes|1",
            "qsvc.exe|\"C:\\Apps\\Quillet Notes\\qsvc.exe\" -install-service|C:\\Apps\\Quillet Notes|1"}));
    RemoveTree("Q:\\Quillet");

    // An update that meets a link in place of its subfolder writes nothing through it: it fails, and
    // what it had replaced is put back.
    const Lines installedImage = FolderImage(folder);
    const std::string outside = "C:\\outside";
    CreateDirectoryA(outside.c_str(), nullptr);
    std::ofstream(outside + "\\guide.txt") << "theirs";
    const Lines outsideImage = FolderImage(outside);
    ASSERT_TRUE(MoveFileA((folder + "\\docs").c_str(), (folder + "\\docs-moved").c_str()));
    ASSERT_TRUE(MakeUnixLink(folder + "\\docs", outside));
    EXPECT_EQ(Drive(SECOND_SETUP_EXE,
                  {"answer END USER LICENSE AGREEMENT | I Accept", "answer Choose a Folder | OK",
                      "answer Close Running Copies First! | OK", "answer Quillet Installation Failed | OK"}),
        (Lines{Accepted, FolderDialog("C:\\Apps", "Quillet Notes", "OK"),
            Box("Close Running Copies First!",
                "Do you already have an older version of Quillet?\r\n\r\nIf you do, MAKE SURE IT IS NOT RUNNING "
                "RIGHT NOW. If it is running, shut it down BEFORE clicking the OK button.\r\n\r\nIf you have not "
                "installed Quillet before, just click the OK button.",
                "OK", "OK"),
            Box("Quillet Installation Failed",
                "The application was not able to create one of its component files. The disk is full, or a copy of "
                "the application is already running, or you do not have write access to the directory in which you "
                "are attempting to install the application. Check your available disk space and run the setup "
                "program again.",
                "OK", "OK"),
            SetupEnded(1603)}));
    EXPECT_EQ(FolderImage(outside), outsideImage) << "nothing written where the link leads";
    RemoveUnixLink(folder + "\\docs");
    ASSERT_TRUE(MoveFileA((folder + "\\docs-moved").c_str(), (folder + "\\docs").c_str()));
    EXPECT_EQ(FolderImage(folder), installedImage) << "the earlier files are back";
    EXPECT_EQ(GetFileAttributesA(JournalPath().c_str()), INVALID_FILE_ATTRIBUTES);
    RemoveTree(outside);

    // Its removal: the service's removal run, the subfolder and all files go,
    // the system-directory file stays for the other programs that share it. The product asks
    // for running copies to be closed rather than closing them, and its agent is removed too.
    CloseHandle(dll);
    DeleteFileA(log.c_str());
    const std::string guide = folder + "\\docs\\guide.txt";
    EXPECT_EQ(DriveCommand(UninstallCommand("Quillet"),
                  Join({"map " + guide}, QuilletRemovalAnswers)),
        (Lines{RemoveQuestion("Quillet", "Yes"),
            CloseQuilletFirst,
            RemovalComplete("Quillet was removed from your computer." + InUseHeading + "\r\n" + guide + "\r\n"
                + folder + "\\pmuninst.exe\r\n\r\nKept in the Windows system directory, shared with other "
                           "programs:\r\n"
                + system + "\\quillet.dll"),
            UninstallerEnded(3010)}));
    EXPECT_EQ(ReadLines(log),
        (Lines{"qsvc.exe|\"C:\\Apps\\Quillet Notes\\qsvc.exe\" -remove-service|C:\\Apps\\Quillet Notes|0",
            "pmagent.exe|\"C:\\Apps\\Quillet Notes\\pmagent.exe\" -remove|C:\\Apps\\Quillet Notes|0"}));
    const std::string restart = RestartFolder("quillet.ini");
    EXPECT_EQ(PendingDeletions(), (Lines{restart + "\\guide.txt", restart, restart + "\\pmuninst.exe", restart}))
        << "the held guide and the running uninstaller go at the restart, from the restart folder";
    EXPECT_EQ(GetFileAttributesA(folder.c_str()), INVALID_FILE_ATTRIBUTES) << "the folders they lay in went at once";
    EXPECT_EQ(GetFileAttributesA((system + std::string("\\quillet.dll")).c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u)
        << "the system-directory file stays";
    EXPECT_EQ(UninstallEntry("Quillet"), Lines{"(no uninstall entry)"});
    EXPECT_EQ(ProfileValue("quillet.ini"), "(none)");
    EXPECT_EQ(GroupLinks("Quillet Notes"), Lines{});
    SimulateRestart();
    EXPECT_EQ(GetFileAttributesA(restart.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(EndToEnd, UninstallerDecidesByTheEntryThenTheProfileAndNamesWhatItKeeps)
{
    const std::string folder = "C:\\Apps\\Quillet Notes";
    CreateDirectoryA("C:\\Apps", nullptr);
    const Lines installation = {"answer END USER LICENSE AGREEMENT | I Accept", "type 1097 C:\\Apps",
        "type 1099 Quillet Notes", "answer Choose a Folder | OK", "answer Close Running Copies First! | OK",
        "answer Install NT Service | No", "answer Installation Successful | No"};
    // Its programs record their runs and end with the code the test gives them.
    const std::string runs = "C:\\quillet-runs.log";
    SetEnvironmentVariableA("SETUP_RECORD_LOG", runs.c_str());
    SetEnvironmentVariableA("SETUP_RECORD_EXIT", "0");
    ASSERT_EQ(Drive(SECOND_SETUP_EXE, installation).back(), Ended);
    const Lines notPossible = {Box("Uninstall Not Possible",
                                   "This program does not belong to an installation of Quillet in this folder. "
                                   "Nothing was removed.",
                                   "OK", "OK"),
        "uninstall-copy ended with exit code 1605"};

    // A service that its program cannot remove: nothing else is removed either, so that the program is there
    // for the next try, which the entry offers.
    const Lines installedImage = FolderImage(folder);
    const Lines installedEntry = UninstallEntry("Quillet");
    DeleteFileA(runs.c_str());
    SetEnvironmentVariableA("SETUP_RECORD_EXIT", "5");
    EXPECT_EQ(DriveCommand(UninstallCommand("Quillet"),
                  {"answer Remove Quillet | Yes", "answer Close Running Copies First! | OK",
                      "answer Removal Incomplete | OK"}),
        (Lines{RemoveQuestion("Quillet", "Yes"), CloseQuilletFirst,
            Box("Removal Incomplete",
                "Quillet could not be removed completely. Its uninstaller and its uninstall entry stay, so that you "
                "can run it again once the cause is removed.\r\n\r\nCould not be removed, nor left for Windows to "
                "remove when it restarts:\r\nthe NT service of qsvc.exe",
                "OK", "OK"),
            UninstallerEnded(1603)}));
    SetEnvironmentVariableA("SETUP_RECORD_EXIT", "0");
    EXPECT_EQ(ReadLines(runs),
        Lines{"qsvc.exe|\"C:\\Apps\\Quillet Notes\\qsvc.exe\" -remove-service|C:\\Apps\\Quillet Notes|0"});
    EXPECT_EQ(FolderImage(folder), installedImage);
    EXPECT_EQ(UninstallEntry("Quillet"), installedEntry);
    EXPECT_EQ(GroupLinks("Quillet Notes").size(), 2u);

    // A copy under another name in the same folder: the entry names the other program, whatever the profile says.
    const std::string copy = folder + "\\uninstall-copy.exe";
    ASSERT_TRUE(CopyFileA((folder + "\\pmuninst.exe").c_str(), copy.c_str(), FALSE));
    ASSERT_EQ(ProfileValue("quillet.ini"), folder);
    EXPECT_EQ(Drive(copy, {"answer Uninstall Not Possible | OK"}), notPossible);
    // An entry whose command is no text names no program, this one neither, whatever the profile says.
    const DWORD number = 1;
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillet",
        "UninstallString", REG_DWORD, &number, sizeof number);
    EXPECT_EQ(Drive(folder + "\\pmuninst.exe", {"answer Uninstall Not Possible | OK"}),
        (Lines{notPossible[0], UninstallerEnded(1605)}));

    // Without an entry, a profile that names the folder in other letters is this installation. A file of the
    // user's only in a payload subfolder keeps that folder and the installation folder, named and not
    // scheduled; a payload file deleted before stays out of every list; the folder below the subfolder goes
    // at once.
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillet");
    WritePrivateProfileStringA("Options", "dataDir", "c:\\apps\\QUILLET NOTES", "quillet.ini");
    ASSERT_TRUE(DeleteFileA(copy.c_str()));
    std::ofstream(folder + "\\docs\\mine.txt") << "the user's";
    ASSERT_TRUE(DeleteFileA((folder + "\\quillet.exe").c_str()));
    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof system);
    const Lines removed = {RemoveQuestion("Quillet", "Yes"), CloseQuilletFirst,
        RemovalComplete("Quillet was removed from your computer." + InUseHeading + "\r\n" + folder
            + "\\pmuninst.exe\r\n\r\nKept, because it holds files that were not installed with the product:\r\n"
            + folder + "\\docs\r\n" + folder
            + "\r\n\r\nKept in the Windows system directory, shared with other programs:\r\n" + system
            + "\\quillet.dll"),
        Uninstalled};
    EXPECT_EQ(Drive(folder + "\\pmuninst.exe", QuilletRemovalAnswers), removed);
    EXPECT_EQ(Names(ListFiles(folder)), Lines{"docs\\mine.txt"});
    EXPECT_EQ(GetFileAttributesA((folder + "\\docs\\howto").c_str()), INVALID_FILE_ATTRIBUTES);
    const std::string restart = RestartFolder("quillet.ini");
    EXPECT_EQ(PendingDeletions(), (Lines{restart + "\\pmuninst.exe", restart})) << "no kept folder is scheduled";
    EXPECT_EQ(ProfileValue("quillet.ini"), "(none)");

    // Installed again over what stayed, and removed while a program holds the emptied docs\howto open, so
    // that it can be neither removed nor listed: nothing in it is known to be the user's, and it is not named.
    ASSERT_EQ(Drive(SECOND_SETUP_EXE, installation).back(), Ended);
    const std::string howto = folder + "\\docs\\howto";
    EXPECT_EQ(DriveCommand(UninstallCommand("Quillet"), Join({"hold " + howto}, QuilletRemovalAnswers)), removed);
    EXPECT_NE(GetFileAttributesA(howto.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(Names(ListFiles(folder)), Lines{"docs\\mine.txt"});
    EXPECT_EQ(PendingDeletions(),
        (Lines{restart + "\\pmuninst.exe", restart, restart + "\\pmuninst.exe.1", restart}))
        << "the second uninstaller waits beside the first";
}

TEST(EndToEnd, UninstallThroughTheEntryLeavesTheSystemAsItWas)
{
    Lines before = SystemSnapshot();
    ASSERT_EQ(RunShipped(DefaultInstallation).back(), Ended);
    std::string command = UninstallCommand("Pelmora");
    EXPECT_EQ(command, "\"" + Home + "\\pmuninst.exe\"");
    EXPECT_EQ(DriveCommand(command, UninstallAnswers),
        (Lines{RemoveQuestion("Pelmora", "Yes"), Closing,
            RemovalComplete("Pelmora was removed from your computer." + InUseHeading + "\r\n" + Home + "\\pmuninst.exe"),
            Uninstalled}));
    Lines traced = TracedProgmanCommands();
    ASSERT_GE(traced.size(), 3u);
    EXPECT_EQ(Lines(traced.end() - 3, traced.end()),
        (Lines{"[DeleteGroup(Pelmora)]", "[CreateGroup(Startup)]", "[DeleteItem(Pelmora)]"}));
    // The running uninstaller goes at the next restart from the restart folder, its own folder at once.
    EXPECT_EQ(PendingDeletions(), (Lines{RestartFolder() + "\\pmuninst.exe", RestartFolder()}));
    EXPECT_EQ(GetFileAttributesA(Home.c_str()), INVALID_FILE_ATTRIBUTES);
    SimulateRestart();
    EXPECT_EQ(PendingDeletions(), Lines{});
    EXPECT_EQ(WithoutWinesOwn(Differences(before, SystemSnapshot())), Lines{});
}

TEST(EndToEnd, UninstallKeepsTheUsersFilesAndRemovesWhatIsInUseAtTheRestart)
{
    ASSERT_EQ(RunShipped(DefaultInstallation).back(), Ended);
    const std::string notes = Home + "\\notes.txt";
    const std::string manual = Home + "\\help.htm";
    HANDLE own = CreateFileA(notes.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(own);
    // An earlier build's run, ended between moving a running program's file away and scheduling it,
    // left this: no program runs from it now, so it goes at once.
    const std::string movedAway = Home + "\\pelmora.exe.pmdel";
    std::ofstream(movedAway) << "moved out of a program's way";
    EXPECT_EQ(DriveCommand(UninstallCommand("Pelmora"), Join({"map " + manual}, UninstallAnswers)),
        (Lines{RemoveQuestion("Pelmora", "Yes"), Closing,
            RemovalComplete("Pelmora was removed from your computer." + InUseHeading + "\r\n" + manual + "\r\n"
                + Home + "\\pmuninst.exe\r\n\r\nKept, because it holds files that were not installed with the product:\r\n" + Home),
            UninstallerEnded(3010)}));
    EXPECT_EQ(Names(ListFiles(Home)), Lines{"notes.txt"});
    const std::string restart = RestartFolder();
    EXPECT_EQ(PendingDeletions(), (Lines{restart + "\\help.htm", restart, restart + "\\pmuninst.exe", restart}))
        << "the folder is kept, and nothing in it scheduled";
    EXPECT_EQ(UninstallEntry("Pelmora"), Lines{"(no uninstall entry)"});
    EXPECT_EQ(ProfileValue("pelmora.ini"), "(none)");
    EXPECT_EQ(GroupLinks("Pelmora"), Lines{});
    SimulateRestart();
    EXPECT_EQ(Names(ListFiles(Home)), Lines{"notes.txt"});
}

TEST(EndToEnd, UninstallerFromElsewhereOrAnsweredNoChangesNothing)
{
    ASSERT_EQ(RunShipped(DefaultInstallation).back(), Ended);
    const std::string copy = "C:\\Downloads\\pmuninst.exe";
    CreateDirectoryA("C:\\Downloads", nullptr);
    ASSERT_TRUE(CopyFileA((Home + "\\pmuninst.exe").c_str(), copy.c_str(), FALSE));
    Lines installed = SystemSnapshot();
    const std::string notPossible = Box("Uninstall Not Possible",
        "This program does not belong to an installation of Pelmora in this folder. Nothing was removed.", "OK", "OK");
    EXPECT_EQ(Drive(copy, {"answer Uninstall Not Possible | OK"}), (Lines{notPossible, UninstallerEnded(1605)}));
    EXPECT_EQ(Drive(Home + "\\pmuninst.exe", {"answer Remove Pelmora | No"}),
        (Lines{RemoveQuestion("Pelmora", "No"), UninstallerEnded(1602)}));
    // Wine notes in its own key the code pages of the last process that drew text.
    EXPECT_EQ(WithoutWinesOwn(Differences(installed, SystemSnapshot())), Lines{});
    EXPECT_EQ(PendingDeletions(), Lines{});

    // Without an uninstall entry, the profile's folder decides where the product is.
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Pelmora");
    EXPECT_EQ(Drive(copy, {"answer Uninstall Not Possible | OK"}), (Lines{notPossible, UninstallerEnded(1605)}));
    EXPECT_EQ(Drive(Home + "\\pmuninst.exe", {"answer Remove Pelmora | No"}),
        (Lines{RemoveQuestion("Pelmora", "No"), UninstallerEnded(1602)}));
}

namespace {

BOOL CALLBACK CollectVisible(HWND window, LPARAM windows)
{
    if (IsWindowVisible(window))
        reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
    return TRUE;
}

std::vector<HWND> VisibleWindows()
{
    std::vector<HWND> windows;
    EnumWindows(CollectVisible, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

// Runs a command that nobody answers, watching the whole desktop: each window
// that became visible meanwhile, its own or the shell's (none, when it is
// unattended), then its exit code.
Lines RunUnattended(const std::string& commandLine)
{
    const std::vector<HWND> before = VisibleWindows();
    Lines seen;
    auto look = [&]() {
        for (HWND window : VisibleWindows()) {
            std::string shown = "(a window was shown: " + automation::ClassOf(window) + " \""
                + automation::Caption(window) + "\")";
            if (std::find(before.begin(), before.end(), window) == before.end()
                && std::find(seen.begin(), seen.end(), shown) == seen.end())
                seen.push_back(shown);
        }
    };
    PROCESS_INFORMATION process = {};
    if (!automation::StartProcess(commandLine, &process))
        return {"(could not be started, error " + std::to_string(GetLastError()) + ": " + commandLine + ")"};
    for (int waited = 0; WaitForSingleObject(process.hProcess, 5) == WAIT_TIMEOUT; waited += 5) {
        look();
        if (waited > 120000) {
            TerminateProcess(process.hProcess, 1);
            WaitForSingleObject(process.hProcess, 10000);
            seen.push_back("(still running after two minutes: ended)");
        }
    }
    // A window the shell opens on the program's behalf may come a little later.
    Sleep(1000);
    look();
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    seen.push_back("exit code " + std::to_string(exitCode));
    return seen;
}

const std::string Logs = "C:\\deploy logs";

} // namespace

TEST(EndToEnd, UnattendedInstallAndRemovalShowNothingAndLogWhatTheyDo)
{
    CreateDirectoryA(Logs.c_str(), nullptr);
    // Three levels deep on another drive, none of them there: each is made.
    const std::string drive = "C:\\drive d";
    CreateDirectoryA(drive.c_str(), nullptr);
    ASSERT_TRUE(MapDrive('D', drive));
    const std::string folder = "D:\\Deploy Test\\Vendor\\Pelmora";
    const std::string setup = std::string("\"") + SETUP_EXE + "\"";
    // In small letters, the folder without quotes.
    ASSERT_EQ(RunUnattended(setup + " /s /d=" + folder), Lines{"exit code 0"});
    const std::string program = folder + "\\pelmora.exe";
    HANDLE running = StartProgram(program);
    ASSERT_NE(running, nullptr);
    Sleep(1000);

    // Again, over the running copy, with a log and the folder in quotes, with a trailing backslash.
    const std::string log = Logs + "\\install.log";
    EXPECT_EQ(RunUnattended(setup + " /LOG=\"" + log + "\" /S /D=\"" + folder + "\\\""), Lines{"exit code 0"});
    EXPECT_EQ(WaitForSingleObject(running, 5000), WAIT_OBJECT_0) << "the running copy was told to quit";
    CloseHandle(running);
    EXPECT_EQ(WithoutRecord(ListFiles(folder)), ShippedFiles());
    EXPECT_EQ(ProfileValue("pelmora.ini"), folder);
    const std::string quiet = "\"" + folder + "\\pmuninst.exe\" /S";
    EXPECT_EQ(UninstallEntry("Pelmora"),
        (Lines{TextValue("DisplayIcon", folder + "\\pelmora.exe,0"), "DisplayName = Pelmora (8 bytes)",
            "EstimatedSize = 347 (dword)", TextValue("InstallLocation", folder), "NoModify = 1 (dword)",
            "NoRepair = 1 (dword)", TextValue("QuietUninstallString", quiet),
            TextValue("UninstallString", "\"" + folder + "\\pmuninst.exe\"")}));
    // Made as link files, its commands would open the groups' windows: the group for every user, the
    // Startup item in the user's Startup folder.
    EXPECT_EQ(GroupLinks("Pelmora"),
        (Lines{"all users: Pelmora.lnk -> " + folder + "\\pelmora.exe | " + folder,
            "all users: Uninstall.lnk -> " + folder + "\\pmuninst.exe | " + folder}));
    EXPECT_EQ(GroupLinks("StartUp"), Lines{"user: Pelmora.lnk -> " + folder + "\\pelmora.exe | " + folder});
    EXPECT_EQ(TracedProgmanCommands(), Lines{});

    // The log: the run, the folder, every file, the registry, Program Manager, the answers taken, the end.
    Lines lines = ReadLines(log);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Setup of Pelmora, version (none given)");
    EXPECT_EQ(lines[1], "Command line: " + setup + " /LOG=\"" + log + "\" /S /D=\"" + folder + "\\\"");
    EXPECT_EQ(lines[2].substr(0, 9), "Started: ");
    EXPECT_EQ(lines[3], "Unattended: no window is shown");
    EXPECT_EQ(LogLines(log, "Folder"),
        (Lines{"Folder proposed: " + folder + " (requested)", "Folder accepted: " + folder}));
    EXPECT_EQ(LogLines(log, "Free space on D:\\: ").size(), 1u);
    EXPECT_EQ(LogLines(log, "Told to quit: the window \"Pelmora").size(), 1u);
    Lines replaced = LogLines(log, "Replaced: ");
    const Lines replacedNames = {"pelmora.exe", "help.htm", "pmuninst.exe", "pmfiles.lst"};
    ASSERT_EQ(replaced.size(), replacedNames.size());
    for (size_t i = 0; i < replaced.size(); ++i)
        EXPECT_EQ(replaced[i].substr(0, replaced[i].find(" (")), "Replaced: " + replacedNames[i]);
    EXPECT_EQ(LogLines(log, "Registry: QuietUninstallString"), Lines{"Registry: QuietUninstallString = " + quiet});
    EXPECT_EQ(LogLines(log, "Link: "),
        (Lines{"Link: " + Links("Pelmora\\Pelmora.lnk", CSIDL_COMMON_PROGRAMS) + " -> " + program + " ",
            "Link: " + Links("Pelmora\\Uninstall.lnk", CSIDL_COMMON_PROGRAMS) + " -> " + folder + "\\pmuninst.exe ",
            "Link: " + Links("StartUp\\Pelmora.lnk") + " -> " + program + " -icon"}));
    EXPECT_EQ(LogLines(log, "Message: "),
        (Lines{"Message: Closing Running Copies | Any copies of Pelmora currently running must now be shut down. This "
               "may take a few seconds. | not shown, taken as OK",
            "Message: Add To Startup Group | " + StartupPrompt + " | not shown, taken as Yes",
            "Message: Installation Successful | Pelmora has been successfully installed on your system. Would you "
            "like to start Pelmora now? | not shown, taken as No"}));
    EXPECT_EQ(lines.back(), "Exit code: 0");

    // The removal through the entry's quiet command, with a log of its own.
    const std::string removalLog = Logs + "\\removal.log";
    EXPECT_EQ(RunUnattended(QuietUninstallCommand("Pelmora") + " /LOG=\"" + removalLog + "\""), Lines{"exit code 0"});
    EXPECT_EQ(UninstallEntry("Pelmora"), Lines{"(no uninstall entry)"});
    EXPECT_EQ(ProfileValue("pelmora.ini"), "(none)");
    EXPECT_EQ(GroupLinks("Pelmora"), Lines{});
    EXPECT_EQ(GroupLinks("StartUp"), Lines{});
    EXPECT_EQ(TracedProgmanCommands(), Lines{"[DeleteGroup(Pelmora)]"});
    EXPECT_EQ(LogLines(removalLog, "Warning: "), Lines{}) << "no group stays: Program Manager only refused one not there";
    Lines removed = LogLines(removalLog, "Removed: ");
    EXPECT_EQ(removed, (Lines{"Removed: " + folder + "\\help.htm", "Removed: " + folder + "\\pelmora.exe",
                           "Removed: " + folder + "\\pmfiles.lst"}));
    EXPECT_EQ(LogLines(removalLog, "Message: Remove Pelmora | ").size(), 1u);
    EXPECT_EQ(ReadLines(removalLog).back(), "Exit code: 0");
    // Another drive's restart folder lies at its root, whose security Wine does not keep, so that it cannot
    // prove that no user may take the folder away: the running uninstaller stays, named for the user to
    // delete (on Windows, a drive whose root lets only administrators do that takes it).
    const std::string left = "Left, because a program uses it now; delete it once the program has ended:";
    EXPECT_EQ(LogLines(removalLog, left + " "), Lines{left + " " + folder + "\\pmuninst.exe"});
    EXPECT_EQ(Names(ListFiles(folder)), Lines{"pmuninst.exe"});
    EXPECT_EQ(PendingDeletions(), Lines{}) << "nothing is left to the restart by its path";
    UnmapDrive('D');
}

TEST(EndToEnd, UnattendedRunsThatCannotInstallFailAndSayWhy)
{
    CreateDirectoryA(Logs.c_str(), nullptr);
    const std::string log = Logs + "\\refused.log";
    const std::string outside = "C:\\outside";
    CreateDirectoryA(outside.c_str(), nullptr);
    ASSERT_TRUE(MakeUnixLink("C:\\linked", outside));
    const std::string CannotCreate = "Message: Can't Create Directory | That folder does not exist, and the "
                                     "application was not able to create it. Most likely the parent folder does not "
                                     "exist or you have entered a path the program does not have write access to. | "
                                     "not shown, taken as OK";
    const struct {
        std::string folder;
        std::string why;
    } refused[] = {
        {"Pelmora", "Message: Folder Not a Full Path | That folder is not a full path. Please give one with its "
                    "drive, such as C:\\Pelmora. | not shown, taken as OK"},
        // No folder is made through a link that leads out, nor in the Windows directory.
        {"C:\\linked\\Pelmora", CannotCreate},
        {"C:\\linked\\Vendor\\Pelmora", CannotCreate},
        {"C:\\windows\\Vendor\\Pelmora", CannotCreate},
        {"C:\\windows", "Message: Can't Install to Windows Directory | That directory is the Windows directory. It is "
                        "not safe to install applications in the Windows directory because it contains other "
                        "important system files. Please choose another location. | not shown, taken as OK"},
        {"\\\\?\\C:\\windows", "Message: Folder Not a Full Path | That folder is not a full path. Please give one with its "
                                  "drive, such as C:\\Pelmora. | not shown, taken as OK"},
        {"\\\\server", "Message: Folder Not a Full Path | That folder is not a full path. Please give one with its "
                        "drive, such as C:\\Pelmora. | not shown, taken as OK"},
        {"C:\\WINDOWS\\", "Message: Can't Install to Windows Directory | That directory is the Windows directory. It "
                           "is not safe to install applications in the Windows directory because it contains other "
                           "important system files. Please choose another location. | not shown, taken as OK"},
        {"C:\\windows\\win.ini", "Message: Please Enter a Folder Name | That path specifies a file, and not a new or "
                                 "existing folder name. Please enter a folder name, such as Pelmora for example. | "
                                 "not shown, taken as OK"},
    };
    for (const auto& c : refused) {
        EXPECT_EQ(RunUnattended("\"" + std::string(SETUP_EXE) + "\" /S /LOG=\"" + log + "\" /D=" + c.folder),
            Lines{"exit code 1603"})
            << c.folder;
        // An existing folder's question is taken as Yes before the Windows directory is refused.
        Lines messages = LogLines(log, "Message: ");
        ASSERT_EQ(messages.size(), c.folder.rfind("C:\\WINDOWS", 0) == 0 || c.folder == "C:\\windows" ? 3u : 2u)
            << c.folder;
        EXPECT_EQ(messages[messages.size() - 2], c.why);
        EXPECT_EQ(messages.back(), "Message: " + NotInstalled.substr(0, NotInstalled.find(" | [")) + " | not shown, taken as OK");
        EXPECT_EQ(ReadLines(log).back(), "Exit code: 1603");
    }
    for (const char* made : {"C:\\outside\\Pelmora", "C:\\outside\\Vendor"})
        EXPECT_EQ(GetFileAttributesA(made), INVALID_FILE_ATTRIBUTES) << made << ": nothing made where the link leads";
    EXPECT_EQ(GetFileAttributesA("C:\\windows\\Vendor"), INVALID_FILE_ATTRIBUTES);
    RemoveUnixLink("C:\\linked");
    EXPECT_EQ(ProfileValue("pelmora.ini"), "(none)");

    // What makes the product removable and updatable cannot be written: an uninstall entry whose key lets no one
    // write it, a profile file that is a folder. The files go in and the rest is registered, but the run fails.
    const std::string entryKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Pelmora";
    const std::string profileFile = WindowsFile("pelmora.ini");
    const struct {
        bool entry;
        Lines why;
    } unregistered[] = {
        {true, {"Registry: the uninstall entry could not be made (error 5)"}},
        {false, {"Profile: dataDir=C:\\Deploy Test\\Pelmora could not be written to " + profileFile}},
    };
    CreateDirectoryA("C:\\Deploy Test", nullptr);
    for (const auto& c : unregistered) {
        if (c.entry) {
            HKEY key;
            ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, entryKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          &key, nullptr),
                ERROR_SUCCESS);
            SECURITY_DESCRIPTOR nobody;
            ACL empty;
            InitializeSecurityDescriptor(&nobody, SECURITY_DESCRIPTOR_REVISION);
            InitializeAcl(&empty, sizeof empty, ACL_REVISION);
            SetSecurityDescriptorDacl(&nobody, TRUE, &empty, FALSE);
            ASSERT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &nobody), ERROR_SUCCESS);
            RegCloseKey(key);
        } else {
            ASSERT_TRUE(CreateDirectoryA(profileFile.c_str(), nullptr));
        }
        EXPECT_EQ(RunUnattended("\"" + std::string(SETUP_EXE) + "\" /S /LOG=\"" + log + "\" /D=C:\\Deploy Test\\Pelmora"),
            Lines{"exit code 1603"})
            << c.entry;
        EXPECT_EQ(LogLines(log, c.entry ? "Registry: the uninstall entry" : "Profile: "), c.why);
        EXPECT_EQ(LogLines(log, "Failed: "),
            Lines{c.entry ? "Failed: the uninstall entry could not be written"
                          : "Failed: the folder could not be remembered in pelmora.ini"});
        EXPECT_EQ(LogLines(log, "Message: Pelmora Installation Failed | "),
            Lines{"Message: Pelmora Installation Failed | The application's files were installed, but its uninstall "
                  "entry or the record of its folder could not be written: without them it can be neither removed "
                  "nor updated. Run the setup program again. | not shown, taken as OK"});
        EXPECT_EQ(ReadLines(log).back(), "Exit code: 1603");
        EXPECT_EQ(WithoutRecord(ListFiles("C:\\Deploy Test\\Pelmora")), ShippedFiles()) << c.entry;
        if (c.entry) {
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, entryKey.c_str());
            DeleteFileA(profileFile.c_str());
        } else {
            RemoveDirectoryA(profileFile.c_str());
        }
    }
    // An update over a file another program holds, in a folder where the restart may not replace it:
    // kept, the installation would be a mix of two versions. Nothing is written, and the run fails and
    // names the file.
    const std::string deployed = "C:\\Deploy Test\\Pelmora";
    const Lines deployedImage = FolderImage(deployed);
    HANDLE held = CreateFileA((deployed + "\\help.htm").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(RunUnattended("\"" + std::string(SETUP_EXE) + "\" /S /LOG=\"" + log + "\" /D=" + deployed),
        Lines{"exit code 1603"});
    CloseHandle(held);
    EXPECT_EQ(LogLines(log, "Held: "),
        Lines{"Held: help.htm, another program holds it open, and it cannot be left for the restart to replace"});
    EXPECT_EQ(LogLines(log, "Message: Pelmora Installation Failed | "),
        Lines{"Message: Pelmora Installation Failed | The file " + deployed
            + "\\help.htm is in use by another program, so it could not be replaced. The version installed before "
              "was kept. Close the program that uses it and run the setup program again. | not shown, taken as OK"});
    EXPECT_EQ(ReadLines(log).back(), "Exit code: 1603");
    EXPECT_EQ(FolderImage(deployed), deployedImage);

    // The entry the second run wrote removes it all.
    EXPECT_EQ(RunUnattended(QuietUninstallCommand("Pelmora")), Lines{"exit code 0"});

    // The newer build's payload lies in companion files beside its setup.exe, named after the product. A copy
    // with one of them missing, cut short by a byte or longer by a byte is refused before anything is made,
    // naming that file; one with a byte changed, as its span is read for the extraction (an unattended run
    // does not read every part first), and nothing is put in place.
    const std::string built = std::string(UPDATE_SETUP_EXE).substr(0, std::string(UPDATE_SETUP_EXE).rfind('/'));
    const std::string kit = "C:\\kit";
    const std::string kitFolder = "C:\\Deploy Test\\Kit";
    const struct {
        const char* what;
        int companion;
        void (*damage)(const std::string& path);
        const char* reason;
    } companions[] = {
        {"missing", 2, [](const std::string& path) { DeleteFileA(path.c_str()); }, "is missing, or cannot be read"},
        {"cut short by a byte", 3, [](const std::string& path) { ResizeFile(path, -1); },
            "is not as large as this setup program was made with: it is incomplete"},
        {"with a byte appended", 4, [](const std::string& path) { ResizeFile(path, 1); },
            "is not as large as this setup program was made with: it is incomplete"},
        {"with a byte changed", 1, [](const std::string& path) { ChangeByte(path, 8 << 20); },
            "is not what this setup program was made with: the SHA-256 of the payload's span 128 differs"},
    };
    for (const auto& c : companions) {
        RemoveTree(kit);
        CreateDirectoryA(kit.c_str(), nullptr);
        ASSERT_TRUE(CopyFileA(UPDATE_SETUP_EXE, (kit + "\\setup.exe").c_str(), FALSE));
        int copied = 0;
        for (int n = 1; CopyFileA((built + "/Pelmora-" + std::to_string(n) + ".bin").c_str(),
                 (kit + "\\Pelmora-" + std::to_string(n) + ".bin").c_str(), FALSE);
             ++n)
            copied = n;
        ASSERT_EQ(copied, 4) << "48 MiB and more in companions of 16 MiB";
        const std::string companion = kit + "\\Pelmora-" + std::to_string(c.companion) + ".bin";
        c.damage(companion);
        EXPECT_EQ(RunUnattended("\"" + kit + "\\setup.exe\" /S /LOG=\"" + log + "\" /D=" + kitFolder),
            Lines{"exit code 1603"})
            << c.what;
        const Lines failed = LogLines(log, "Failed: ");
        ASSERT_FALSE(failed.empty()) << c.what;
        EXPECT_EQ(failed.front(), "Failed: " + companion + " " + c.reason) << c.what << ": the first reason logged";
        EXPECT_EQ(LogLines(log, "Message: ").back(), "Message: Setup | " + DamagedSetup) << c.what;
        EXPECT_EQ(ListFiles(kitFolder), Lines{}) << c.what;
        EXPECT_EQ(UninstallEntry("Pelmora"), Lines{"(no uninstall entry)"}) << c.what;
    }
    RemoveTree(kit);

    // The newer build does not fit on the small drive: it fails after its rollback, and registers nothing.
    if (GetFileAttributesA("Q:\\") == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no small drive Q: (mounting a tmpfs was not permitted)";
    RemoveTree("Q:\\Pelmora");
    EXPECT_EQ(RunUnattended("\"" + std::string(UPDATE_SETUP_EXE) + "\" /S /LOG=\"" + log + "\" /D=Q:\\Pelmora"),
        Lines{"exit code 1603"});
    EXPECT_EQ(FolderImage("Q:\\Pelmora"), Lines{});
    EXPECT_EQ(UninstallEntry("Pelmora"), Lines{"(no uninstall entry)"});
    EXPECT_EQ(GroupLinks("Pelmora"), Lines{});
    Lines failed = LogLines(log, "Failed: ");
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0], "Failed: samples.dat could not be written in full");
    EXPECT_EQ(LogLines(log, "Message: Pelmora Installation Failed | ").size(), 1u);
    EXPECT_EQ(ReadLines(log).back(), "Exit code: 1603");
    RemoveTree("Q:\\Pelmora");
}

TEST(EndToEnd, OneRunOfAProductAtATimeAndSwitchesThatAreNotKnown)
{
    // Another program holds a mutex of the name runs once claimed, and a run cut off by a power failure left
    // its claim: neither stops a run.
    HANDLE squatted = CreateMutexA(nullptr, TRUE, "Global\\Pelmora setup");
    ASSERT_NE(squatted, nullptr);
    char windows[MAX_PATH];
    ASSERT_GT(GetSystemWindowsDirectoryA(windows, sizeof windows), 0u);
    const std::string claim = std::string(windows) + "\\pelmora.ini.lock";
    std::ofstream(claim) << "";
    const std::string setup = std::string("\"") + SETUP_EXE + "\"";
    const std::string firstLog = "C:\\first run.log";
    const std::string line = setup + " \"/LOG=" + firstLog + "\"";
    PROCESS_INFORMATION first = {};
    ASSERT_TRUE(automation::StartProcess(line, &first));
    HWND shown = automation::WaitForDialog(first.dwProcessId, 30000);
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(automation::Caption(shown), "END USER LICENSE AGREEMENT") << "the first shows its agreement";

    const std::string alreadyRunning = Box("Setup Already Running",
        "Another installation or removal of Pelmora is in progress. Wait until it has finished, then try again.", "OK",
        "OK");
    // The log the first writes is left alone by the run that finds it going, even when it names the same file.
    auto readShared = [&] {
        HANDLE file = CreateFileA(firstLog.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, 0, nullptr);
        std::string bytes(file != INVALID_HANDLE_VALUE ? GetFileSize(file, nullptr) : 0, '\0');
        DWORD read = 0;
        if (!bytes.empty())
            ReadFile(file, &bytes[0], DWORD(bytes.size()), &read, nullptr);
        CloseHandle(file);
        return bytes;
    };
    const std::string firstLines = readShared();
    ASSERT_NE(firstLines.find("Command line: "), std::string::npos) << "the first has begun its log";
    EXPECT_EQ(DriveCommand(setup + " \"/LOG=" + firstLog + "\"", {"answer Setup Already Running | OK"}),
        (Lines{alreadyRunning, SetupEnded(1618)}));
    EXPECT_EQ(readShared(), firstLines);
    EXPECT_EQ(RunUnattended(setup + " /S"), Lines{"exit code 1618"});
    EXPECT_EQ(Drive(UNINSTALLER_EXE, {"answer Setup Already Running | OK"}),
        (Lines{alreadyRunning, UninstallerEnded(1618)}))
        << "the product's uninstaller waits for its setup too";

    // The first goes on: declined, it ends with its own code.
    automation::Transcript transcript;
    Scenario decline;
    std::string problem;
    ASSERT_TRUE(ParseScenario(
        {"answer END USER LICENSE AGREEMENT | I Do NOT Accept", "answer Application Not Installed | OK"}, decline,
        problem));
    {
        automation::Responder responder(transcript, decline.answers, 0, first.dwProcessId, {}, 30000);
        EXPECT_EQ(WaitForSingleObject(first.hProcess, 60000), WAIT_OBJECT_0);
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(first.hProcess, &exitCode);
    EXPECT_EQ(exitCode, 1602u);
    EXPECT_EQ(ReadLines(firstLog).back(), "Exit code: 1602") << "its log whole";
    EXPECT_EQ(transcript.Lines(),
        (Lines{"END USER LICENSE AGREEMENT | [I Accept,I Do NOT Accept] -> I Do NOT Accept", NotInstalled}));
    CloseHandle(first.hThread);
    CloseHandle(first.hProcess);
    CloseHandle(squatted);
    EXPECT_EQ(GetFileAttributesA(claim.c_str()), INVALID_FILE_ATTRIBUTES) << "a run's claim goes with it";
    // A claim that fails otherwise than by another run holding it (a folder in its place here, as a run
    // without administrator rights cannot make the file) is no run to wait for: the run fails and says why.
    ASSERT_TRUE(CreateDirectoryA(claim.c_str(), nullptr));
    const std::string claimLog = "C:\\claim.log";
    EXPECT_EQ(RunUnattended(setup + " /S /LOG=" + claimLog), Lines{"exit code 1603"});
    EXPECT_EQ(LogLines(claimLog, "Failed: "), Lines{"Failed: the run's claim " + claim + " could not be made (error 5)"});
    EXPECT_EQ(Drive(UNINSTALLER_EXE, {"answer Uninstaller | OK"}),
        (Lines{Box("Uninstaller", "The file " + claim + " could not be made. Run this program as an administrator.",
                   "OK", "OK"),
            UninstallerEnded(1603)}));
    EXPECT_TRUE(RemoveDirectoryA(claim.c_str()));
    DeleteFileA(claimLog.c_str());

    // A switch that is not known, or not complete, is named with the list; unattended, nothing is shown.
    const std::string list =
        "/S\tinstalls without any window; whoever starts it accepts the licence agreement for the users of this "
        "computer\r\n/D=folder\tthe installation folder; the last switch, the rest of the line is the folder\r\n"
        "/CURRENTUSER\tinstalls for you alone, where the product may be installed so\r\n/ALLUSERS\tinstalls for "
        "everyone on this computer (with administrator rights), where the product may be installed so\r\n"
        "/LANG=name\tshows the screens and messages in that language: en\r\n"
        "/LOG=file\twrites what the run does to the file\r\n/?\tshows this list\r\n\r\nExit codes:\r\n0\tinstalled\r\n"
        "1602\tthe agreement was declined, no folder was chosen, or administrator rights were refused\r\n"
        "1603\tthe installation failed\r\n1618\tanother "
        "setup or uninstaller of this product is running\r\n1639\tan unknown or malformed switch\r\n3010\tinstalled; "
        "a file in use is replaced, or one of the earlier version goes, when Windows restarts";
    // An unclosed quote is left to the switches' table: once, under load, Wine did not start a program
    // whose command line ended in one.
    for (const std::string& bad : {std::string("/X"), std::string("/LOG=\"C:\\x\"y"), std::string("/D=")}) {
        EXPECT_EQ(DriveCommand(setup + " " + bad, {"answer Unknown Switch | OK"}),
            (Lines{Box("Unknown Switch", "This switch is unknown or incomplete: " + bad + "\r\n\r\n" + list, "OK", "OK"),
                SetupEnded(1639)}))
            << bad;
        EXPECT_EQ(RunUnattended(setup + " /S " + bad), Lines{"exit code 1639"}) << bad;
    }
    // A log that would write through a second name of another file is refused, and that file is left as
    // it was: the log is written elevated, often where users may write.
    const std::string precious = "C:\\precious.txt";
    std::ofstream(precious) << "precious";
    ASSERT_TRUE(CreateHardLinkA("C:\\second name.log", precious.c_str(), nullptr));
    EXPECT_EQ(DriveCommand(setup + " /LOG=\"C:\\second name.log\"", {"answer Log Not Written | OK"}),
        (Lines{Box("Log Not Written", "The log file C:\\second name.log cannot be written.", "OK", "OK"),
            SetupEnded(1639)}));
    EXPECT_EQ(RunUnattended(setup + " /S /LOG=\"C:\\second name.log\""), Lines{"exit code 1639"});
    // Nor through a folder that is a link to another: the file there keeps its content.
    CreateDirectoryA("C:\\protected", nullptr);
    ASSERT_TRUE(CopyFileA(precious.c_str(), "C:\\protected\\precious.txt", FALSE));
    ASSERT_TRUE(MakeUnixLink("C:\\user logs", "C:\\protected"));
    EXPECT_EQ(RunUnattended(setup + " /S \"/LOG=C:\\user logs\\precious.txt\""), Lines{"exit code 1639"});
    // Nor is a file made there first and left.
    EXPECT_EQ(RunUnattended(setup + " /S \"/LOG=C:\\user logs\\new.log\""), Lines{"exit code 1639"});
    EXPECT_EQ(GetFileAttributesA("C:\\protected\\new.log"), INVALID_FILE_ATTRIBUTES);
    RemoveUnixLink("C:\\user logs");
    EXPECT_EQ(ReadLines(precious), Lines{"precious"});
    EXPECT_EQ(ReadLines("C:\\protected\\precious.txt"), Lines{"precious"});

    EXPECT_EQ(DriveCommand(setup + " /?", {"answer Switches | OK"}),
        (Lines{Box("Switches", list, "OK", "OK"), SetupEnded(0)}));
    EXPECT_EQ(RunUnattended(setup + " /? /S"), Lines{"exit code 0"});

    // The uninstaller's own list: no folder switch, its own exit codes.
    const std::string uninstaller = std::string("\"") + UNINSTALLER_EXE + "\"";
    EXPECT_EQ(DriveCommand(uninstaller + " /D=C:\\x", {"answer Unknown Switch | OK"}),
        (Lines{Box("Unknown Switch",
                   "This switch is unknown or incomplete: /D=C:\\x\r\n\r\n/S\tremoves the product without any "
                   "window\r\n/LANG=name\tshows the screens and messages in that language: en\r\n"
                   "/LOG=file\twrites what the run does to the file\r\n/?\tshows this list\r\n\r\nExit "
                   "codes:\r\n0\tremoved\r\n1602\tthe question was answered No\r\n1603\tnot removed completely\r\n"
                   "1605\tno installation of this product in this folder\r\n1618\tanother setup or uninstaller of "
                   "this product is running\r\n1639\tan unknown or malformed switch\r\n3010\tremoved; a file goes "
                   "when Windows restarts",
                   "OK", "OK"),
            UninstallerEnded(1639)}));
    EXPECT_EQ(ProfileValue("pelmora.ini"), "(none)");
    EXPECT_EQ(UninstallEntry("Pelmora"), Lines{"(no uninstall entry)"});
}

namespace {

const std::string Fotos = "Φωτό Zdjęcie 写真";
const std::string FotosFolderName = "Zdjęcia Φωτό 写真";
const std::string FotosPrompt = "ログオンするたびに写真を起動しますか？";
const std::string OlderWindows =
    "This product needs Windows 10 version 1903 or later, or a system language that can show its name.";

// The agreement as its dialog shows it: the file's lines, each ended by CR LF.
std::string FotosAgreement()
{
    std::string text;
    for (const std::string& line : ReadLines(FOTOS_AGREEMENT))
        text += line + "\r\n";
    return text;
}

std::string FileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}


} // namespace

TEST(EndToEnd, AProductNamedInThreeScriptsIsInstalledUpdatedAndRemovedUnderItsNames)
{
    // Every text is read back from its window in UTF-16: the manifest's, character for character.
    const std::string parent = "C:\\Программы";
    const std::string folder = parent + "\\" + FotosFolderName;
    const std::string program = folder + "\\写真.exe";
    const std::string log = parent + "\\установка.log";
    CreateDirectoryA(parent.c_str(), nullptr);
    const std::string setup = std::string("\"") + FOTOS_SETUP_EXE + "\"";
    EXPECT_EQ(DriveCommand(setup + " /LOG=\"" + log + "\"",
                  {"read 1101", "read owner", "answer END USER LICENSE AGREEMENT | I Accept", "type 1097 " + parent,
                      "answer Choose a Folder | OK", "answer Closing Running Copies | OK",
                      "answer Add To Startup Group | No", "answer Installation Successful | No"}),
        (Lines{"field 1101 | " + FotosAgreement(), "owner | Install " + Fotos, Accepted,
            FolderDialog(parent, FotosFolderName, "OK"),
            Box("Closing Running Copies",
                "Any copies of " + Fotos + " currently running must now be shut down. This may take a few seconds.",
                "OK", "OK"),
            Box("Add To Startup Group", FotosPrompt, "Yes,No", "No"), Success(Fotos, "No"), Ended}));

    // The files under their names, the record, the profile and the entry.
    const std::string startupLink = Links("StartUp\\" + FotosFolderName + ".lnk");
    const Lines files = {"pmfiles.lst", "pmuninst.exe", "Документы\\説明書.txt", "写真.exe"};
    EXPECT_EQ(Names(ListFiles(folder)), files);
    // Its payload is solid: every file, unpacked from the xz stream's block, is its source byte for byte.
    const auto sameAsSources = [&] {
        EXPECT_EQ(FileBytes(program), FileBytes(FOTOS_BUILD "/product/photo.exe"));
        EXPECT_EQ(FileBytes(folder + "\\pmuninst.exe"), FileBytes(FOTOS_BUILD "/uninstaller/pmuninst.exe"));
        EXPECT_EQ(FileBytes(folder + "\\Документы\\説明書.txt"), FileBytes(FOTOS_MANUAL));
    };
    sameAsSources();
    const Lines record = {"product:" + Fotos, "language:en", "写真.exe", "pmuninst.exe", "Документы\\説明書.txt"};
    EXPECT_EQ(ReadLines(folder + "\\pmfiles.lst"), record);
    EXPECT_EQ(ProfileValue("zdjęcia.ini"), folder);
    EXPECT_EQ(FileBytes(WindowsFile("zdjęcia.ini")).substr(0, 2), "\xff\xfe") << "in UTF-16: the product reads it too";
    Lines entry = UninstallEntry(Fotos);
    ASSERT_EQ(entry.size(), 10u);
    entry.erase(entry.begin() + 3); // the payload's size, which the program's build decides
    EXPECT_EQ(entry,
        (Lines{TextValue("DisplayIcon", program + ",0"), TextValue("DisplayName", Fotos),
            TextValue("DisplayVersion", "1.0"), TextValue("InstallLocation", folder), "NoModify = 1 (dword)",
            "NoRepair = 1 (dword)", TextValue("Publisher", "Ζωγράφος Sp. z o.o."),
            TextValue("QuietUninstallString", "\"" + folder + "\\pmuninst.exe\" /S"),
            TextValue("UninstallString", "\"" + folder + "\\pmuninst.exe\"")}));
    // Wine's Program Manager refuses these names (it takes letters beyond Latin-1 for ANSI): the group is
    // written as links for every user.
    const Lines group = {"all users: Uninstall.lnk -> " + folder + "\\pmuninst.exe | " + folder,
        "all users: " + Fotos + ".lnk -> " + program + " | " + folder};
    EXPECT_EQ(GroupLinks(FotosFolderName), group);
    // The log is UTF-8: its lines name the folder, the files and the links as they are.
    EXPECT_EQ(LogLines(log, "Folder accepted: "), Lines{"Folder accepted: " + folder});
    EXPECT_EQ(LogLines(log, "Written: "),
        (Lines{"Written: 写真.exe", "Written: pmuninst.exe", "Written: Документы\\説明書.txt", "Written: pmfiles.lst"}));
    EXPECT_EQ(LogLines(log, "Link: "),
        (Lines{"Link: " + Links(FotosFolderName + "\\" + Fotos + ".lnk", CSIDL_COMMON_PROGRAMS) + " -> " + program + " ",
            "Link: " + Links(FotosFolderName + "\\Uninstall.lnk", CSIDL_COMMON_PROGRAMS) + " -> " + folder
                + "\\pmuninst.exe "}));

    // Another product, unattended, into its folder: refused before anything is written, and the log says why.
    const Lines fotosImage = FolderImage(folder);
    const std::string refusedLog = parent + "\\pelmora.log";
    EXPECT_EQ(RunUnattended("\"" + std::string(SETUP_EXE) + "\" /S /LOG=\"" + refusedLog + "\" /D=" + folder),
        Lines{"exit code 1603"});
    EXPECT_EQ(LogLines(refusedLog, "Folder: it holds"),
        Lines{"Folder: it holds an installation of another product, " + Fotos + ", which its pmfiles.lst names"});
    EXPECT_EQ(LogLines(refusedLog, "Message: "),
        (Lines{"Message: Folder Holds Another Product | That folder holds the installation of another product. "
               "Installed there, the two would share their files, and removing one would remove files of the "
               "other. Please choose another location. | not shown, taken as OK",
            "Message: " + NotInstalled.substr(0, NotInstalled.find(" | [")) + " | not shown, taken as OK"}));
    EXPECT_EQ(ReadLines(refusedLog).back(), "Exit code: 1603");
    EXPECT_EQ(FolderImage(folder), fotosImage) << "every file of the first product as it was";
    EXPECT_EQ(ProfileValue("pelmora.ini"), "(none)");
    EXPECT_EQ(UninstallEntry("Pelmora"), Lines{"(no uninstall entry)"});

    // Its setup cut short by one byte or by one slice, longer by a byte, or with one byte of its payload
    // changed, is refused before anything changes, and names itself: before the first screen when its size or
    // a byte of its image (its dialogs, the product the packer wrote into it) or of the trailer after it
    // differs, or the product written into it does not hold together, once the agreement is answered when
    // a byte of the payload differs (its SHA-256 is checked meanwhile); unattended, a changed byte of the
    // payload as its span is read for the extraction, before anything is put in place.
    const std::string original = FileBytes(FOTOS_SETUP_EXE);
    const size_t payload = original.size() - original.rfind("PMIMAGE1") - 40;
    ASSERT_GT(payload, 30000u) << "a payload longer than a slice";
    std::string changed = original;
    changed[original.size() - payload / 2] ^= 0x01;
    std::string dialogChanged = original;
    const size_t button = original.find(std::string("I\0 \0A\0c\0c\0e\0p\0t\0", 16));
    ASSERT_NE(button, std::string::npos) << "the agreement's button in the dialog resource";
    dialogChanged[button] ^= 0x01;
    std::string trailerChanged = original;
    const size_t trailer = original.rfind("PMIMAGE1", original.size() - payload);
    ASSERT_NE(trailer, std::string::npos) << "the image's trailer, before the payload";
    trailerChanged[trailer + 2] ^= 0x01;
    const size_t section = original.find(std::string("PMPROD1\0", 8));
    ASSERT_NE(section, std::string::npos) << "the product's section";
    std::string sectionChanged = original;
    sectionChanged[section + 224] ^= 0x01;
    std::string sectionBroken = original;
    sectionBroken[section + 15] = '\x7f'; // the size it gives, far beyond the section's
    const std::string damaged = "C:\\damaged setup.exe";
    const std::string damagedLog = parent + "\\damaged.log";
    const std::string DamagedEnded = "damaged setup ended with exit code 1603";
    const struct {
        const char* what;
        std::string bytes;
        const char* reason;
        Lines answers;
        Lines transcript;
    } copies[] = {
        {"cut short by one byte", original.substr(0, original.size() - 1),
            "is not as large as this setup program was made with: it is incomplete", {"answer Setup | OK"},
            {Box("Setup", DamagedSetup + "\r\n\r\n" + damaged, "OK", "OK"), DamagedEnded}},
        {"cut short by one slice", original.substr(0, original.size() - 30000),
            "is not as large as this setup program was made with: it is incomplete", {}, {}},
        {"with one byte appended", original + std::string(1, '\0'),
            "is not as large as this setup program was made with: it is incomplete", {}, {}},
        {"with one byte changed in its image", dialogChanged,
            "is not what this setup program was made with: its SHA-256 differs", {"answer Setup | OK"},
            {Box("Setup", DamagedSetup + "\r\n\r\n" + damaged, "OK", "OK"), DamagedEnded}},
        {"with one byte changed in its product", sectionChanged,
            "is not what this setup program was made with: its SHA-256 differs", {"answer Setup | OK"},
            {Box("Setup", DamagedSetup + "\r\n\r\n" + damaged, "OK", "OK"), DamagedEnded}},
        {"with its product's size beyond its section", sectionBroken,
            "is not what it was made with: the product written into it cannot be read", {"answer Setup | OK"},
            {Box("Setup", DamagedSetup + "\r\n\r\n" + damaged, "OK", "OK"), DamagedEnded}},
        {"with one byte changed in its image's trailer", trailerChanged,
            "is not what this setup program was made with: its SHA-256 differs", {}, {}},
        {"with one byte changed in the middle of its payload", changed,
            "is not what this setup program was made with: the SHA-256 of the payload's span 0 differs",
            {"answer END USER LICENSE AGREEMENT | I Accept", "answer Setup | OK"},
            {Accepted, Box("Setup", DamagedSetup + "\r\n\r\n" + damaged, "OK", "OK"), DamagedEnded}},
    };
    for (const auto& copy : copies) {
        std::ofstream(damaged, std::ios::binary) << copy.bytes;
        EXPECT_EQ(RunUnattended("\"" + damaged + "\" /S /LOG=\"" + damagedLog + "\""), Lines{"exit code 1603"})
            << copy.what;
        // Unattended, a changed payload is found as its span is read for the extraction.
        const Lines failed = LogLines(damagedLog, "Failed: ");
        ASSERT_FALSE(failed.empty()) << copy.what;
        EXPECT_EQ(failed.front(), "Failed: " + damaged + " " + copy.reason) << copy.what << ": the first reason logged";
        EXPECT_EQ(LogLines(damagedLog, "Message: ").back(), "Message: Setup | " + DamagedSetup) << copy.what;
        EXPECT_EQ(ReadLines(damagedLog).back(), "Exit code: 1603") << copy.what;
        if (!copy.answers.empty())
            EXPECT_EQ(Drive(damaged, copy.answers), copy.transcript) << copy.what;
        EXPECT_EQ(FolderImage(folder), fotosImage) << copy.what << ": the installation as it was";
    }
    DeleteFileA(damaged.c_str());

    // Again, unattended, over it: each file set aside under its name with the suffix, and settled
    // from the journal, which names them all: nothing set aside stays, the record keeps every name once,
    // and the Startup item's link, in the installing user's Startup folder.
    EXPECT_EQ(RunUnattended(setup + " /S /LOG=\"" + log + "\""), Lines{"exit code 0"});
    EXPECT_EQ(LogLines(log, "Replaced: "),
        (Lines{"Replaced: 写真.exe (the earlier file kept as 写真.exe.pmold until the run is done)",
            "Replaced: pmuninst.exe (the earlier file kept as pmuninst.exe.pmold until the run is done)",
            "Replaced: Документы\\説明書.txt (the earlier file kept as Документы\\説明書.txt.pmold until the run is "
            "done)",
            "Replaced: pmfiles.lst (the earlier file kept as pmfiles.lst.pmold until the run is done)"}));
    EXPECT_EQ(Names(ListFiles(folder)), files);
    EXPECT_EQ(ReadLines(folder + "\\pmfiles.lst"), Join(record, {"link:" + startupLink}));
    EXPECT_EQ(GetFileAttributesA(WindowsFile("zdjęcia.ini.journal").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GroupLinks(FotosFolderName), group);
    EXPECT_EQ(GroupLinks("StartUp"), Lines{"user: " + FotosFolderName + ".lnk -> " + program + " | " + folder});
    sameAsSources();

    // Removed through the entry's quiet command: everything of it goes, the parent folder stays.
    const std::string removalLog = parent + "\\удаление.log";
    EXPECT_EQ(RunUnattended(QuietUninstallCommand(Fotos) + " /LOG=\"" + removalLog + "\""), Lines{"exit code 0"});
    EXPECT_EQ(LogLines(removalLog, "Removed: "),
        (Lines{"Removed: " + folder + "\\Документы\\説明書.txt", "Removed: " + folder + "\\写真.exe",
            "Removed: " + folder + "\\pmfiles.lst"}));
    EXPECT_EQ(UninstallEntry(Fotos), Lines{"(no uninstall entry)"});
    EXPECT_EQ(ProfileValue("zdjęcia.ini"), "(none)");
    EXPECT_EQ(GetFileAttributesA(WindowsFile("zdjęcia.ini").c_str()), INVALID_FILE_ATTRIBUTES)
        << "the profile, in UTF-16 and left blank, goes";
    EXPECT_EQ(GroupLinks(FotosFolderName), Lines{});
    EXPECT_EQ(GroupLinks("StartUp"), Lines{});
    EXPECT_EQ(GetFileAttributesA(folder.c_str()), INVALID_FILE_ATTRIBUTES);
    const std::string restart = RestartFolder("zdjęcia.ini");
    EXPECT_EQ(PendingDeletions(), (Lines{restart + "\\pmuninst.exe", restart}));
    SimulateRestart();
    EXPECT_EQ(GetFileAttributesA(folder.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesA(log.c_str()), INVALID_FILE_ATTRIBUTES) << "the parent folder is the user's";
}

TEST(EndToEnd, OlderWindowsAndEarlierBuildsAreReadInTheSystemsCodePage)
{
    // As a Windows before 10 version 1903 runs it, without the UTF-8 code page, in a prefix whose code
    // page is 1252: the product named in three scripts cannot be held there, and says so before
    // changing anything.
    const std::string log = "C:\\Logs of older Windows\\setup.log";
    CreateDirectoryA("C:\\Logs of older Windows", nullptr);
    const Lines before = SystemSnapshot();
    EXPECT_EQ(Drive(FOTOS_SETUP_WITHOUT_UTF8_EXE, {"answer Setup | OK"}),
        (Lines{Box("Setup", OlderWindows, "OK", "OK"), "setup-without-utf8 ended with exit code 1603"}));
    EXPECT_EQ(RunUnattended("\"" + std::string(FOTOS_SETUP_WITHOUT_UTF8_EXE) + "\" /S /LOG=\"" + log + "\""),
        Lines{"exit code 1603"});
    EXPECT_EQ(LogLines(log, "Message: "), Lines{"Message: Setup | " + OlderWindows + " | not shown, taken as OK"});
    EXPECT_EQ(ReadLines(log).back(), "Exit code: 1603");
    DeleteFileA(log.c_str());
    EXPECT_EQ(WithoutWinesOwn(Differences(before, SystemSnapshot())), Lines{});

    // A product the system's code page can hold installs there, into a folder with a letter of it. It
    // writes its profile in that code page, as every earlier build did.
    const std::string parent = "C:\\Café";
    const std::string folder = parent + "\\Pelmora";
    CreateDirectoryA(parent.c_str(), nullptr);
    EXPECT_EQ(Drive(SETUP_WITHOUT_UTF8_EXE,
                  {"answer END USER LICENSE AGREEMENT | I Accept", "type 1097 " + parent, "answer Choose a Folder | OK",
                      "answer Closing Running Copies | OK", "answer Add To Startup Group | No",
                      "answer Installation Successful | No"}),
        (Lines{Accepted, FolderDialog(parent, "Pelmora", "OK"), Closing,
            Box("Add To Startup Group", StartupPrompt, "Yes,No", "No"), Success("Pelmora", "No"),
            "setup-without-utf8 ended with exit code 0"}));
    EXPECT_EQ(WithoutRecord(ListFiles(folder)), ShippedFiles());
    // The product keeps a line of its own there, in the same code page.
    std::ofstream(WindowsFile("pelmora.ini"), std::ios::binary | std::ios::app) << "[Album]\r\ntitle=Caf\xe9\r\n";
    const std::string earlierProfile = FileBytes(WindowsFile("pelmora.ini"));
    EXPECT_NE(earlierProfile.find("dataDir=C:\\Caf\xe9\\Pelmora\r\n"), std::string::npos);
    // Reading it proposes the folder right and leaves the file as it is.
    EXPECT_EQ(Drive(UPDATE_SETUP_EXE,
                  {"answer END USER LICENSE AGREEMENT | I Accept", "answer Choose a Folder | Cancel",
                      "answer Shutting Down | OK", "answer Application Not Installed | OK"}),
        (Lines{Accepted, FolderDialog(parent, "Pelmora", "Cancel"), ShuttingDown, NotInstalled, SetupEnded(1602)}));
    EXPECT_EQ(FileBytes(WindowsFile("pelmora.ini")), earlierProfile);
    // An earlier version had also written a file with a letter of the code page; its record says so in it.
    std::ofstream(folder + "\\Lisez-moi été.txt") << "l'été";
    std::ofstream(folder + "\\pmfiles.lst", std::ios::binary | std::ios::app) << "Lisez-moi \xe9t\xe9.txt\r\n";

    // The update proposes the remembered folder, read right; the profile is UTF-16 from then on.
    EXPECT_EQ(Drive(UPDATE_SETUP_EXE,
                  {"answer END USER LICENSE AGREEMENT | I Accept", "answer Choose a Folder | OK",
                      "answer Closing Running Copies | OK", "answer Add To Startup Group | No",
                      "answer Installation Successful | No"}),
        (Lines{Accepted, FolderDialog(parent, "Pelmora", "OK"), Closing,
            Box("Add To Startup Group", StartupPrompt, "Yes,No", "No"), Success("Pelmora", "No"), Ended}));
    const std::string profile = FileBytes(WindowsFile("pelmora.ini"));
    ASSERT_EQ(profile.substr(0, 2), "\xff\xfe") << "UTF-16 with its byte order mark";
    auto decoded = [](const std::string& utf16) {
        return automation::Utf8(std::wstring(reinterpret_cast<const wchar_t*>(utf16.data() + 2), (utf16.size() - 2) / 2));
    };
    EXPECT_NE(decoded(profile).find("dataDir=" + folder + "\r\n"), std::string::npos);
    EXPECT_NE(decoded(profile).find("[Album]\r\ntitle=Café\r\n"), std::string::npos) << "the product's line, read right";
    EXPECT_EQ(ProfileValue("pelmora.ini"), folder);

    // The uninstaller removes what both versions wrote, the earlier one's file under its name too.
    EXPECT_EQ(DriveCommand(UninstallCommand("Pelmora"), {"answer Remove Pelmora | Yes",
                  "answer Closing Running Copies | OK", "answer Removal Complete | OK"}).back(), Uninstalled);
    EXPECT_EQ(GetFileAttributesA(folder.c_str()), INVALID_FILE_ATTRIBUTES);
    const std::string left = FileBytes(WindowsFile("pelmora.ini"));
    EXPECT_EQ(left.substr(0, 2), "\xff\xfe");
    EXPECT_EQ(decoded(left).find("dataDir"), std::string::npos);
    EXPECT_NE(decoded(left).find("[Album]\r\ntitle=Café\r\n"), std::string::npos) << "the product's line stays";
    DeleteFileA(WindowsFile("pelmora.ini").c_str());
    SimulateRestart();
    EXPECT_EQ(GetFileAttributesA(folder.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(EndToEnd, WhereProgramManagerAnswersNothingTheGroupIsWrittenAsLinksForEveryUser)
{
    // A stand-in takes every conversation and carries out no command.
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, "RefusingProgmanReady");
    std::string commandLine = "\"" + HelperPath("refusing_progman.exe") + "\" RefusingProgmanReady";
    PROCESS_INFORMATION server = {};
    ASSERT_TRUE(automation::StartProcess(commandLine, &server));
    ASSERT_EQ(WaitForSingleObject(ready, 10000), WAIT_OBJECT_0);
    const std::string log = "C:\\no program manager.log";
    EXPECT_EQ(DriveCommand("\"" + std::string(SETUP_EXE) + "\" /LOG=\"" + log + "\"", DefaultInstallation),
        (Lines{Accepted, FolderDialog(Programs, "Pelmora", "OK"), Closing,
            Box("Add To Startup Group", StartupPrompt, "Yes,No", "Yes"), Success("Pelmora", "No"), Ended}));

    // The group and its items for every user, the Startup item in the installing user's Startup folder,
    // which the record keeps; the log says which way each part was made.
    EXPECT_EQ(GroupLinks("Pelmora"),
        (Lines{"all users: Pelmora.lnk -> " + Home + "\\pelmora.exe | " + Home,
            "all users: Uninstall.lnk -> " + Home + "\\pmuninst.exe | " + Home}));
    EXPECT_EQ(GroupLinks("StartUp"), Lines{"user: Pelmora.lnk -> " + Home + "\\pelmora.exe | " + Home});
    EXPECT_EQ(ReadLines(Home + "\\pmfiles.lst").back(), "link:" + Links("StartUp\\Pelmora.lnk"));
    EXPECT_EQ(LogLines(log, "Program Manager: [CreateGroup"),
        (Lines{"Program Manager: [CreateGroup(Pelmora)]: refused, or no answer in time",
            "Program Manager: [CreateGroup(Startup)]: refused, or no answer in time"}));
    EXPECT_EQ(LogLines(log, "Program Manager did not make the group").size(), 1u);
    EXPECT_EQ(LogLines(log, "Link: ").size(), 3u);
    EXPECT_EQ(TracedProgmanCommands(), Lines{}) << "the shell's own server was never reached";

    // The uninstaller, over the same Program Manager, removes them all. A group of that name in the folder
    // where Program Manager keeps its groups, holding the user's own item, stays: logged, and no failure.
    const std::string userGroup = Links("Pelmora", CSIDL_PROGRAMS);
    ASSERT_TRUE(CreateDirectoryA(userGroup.c_str(), nullptr));
    std::ofstream(userGroup + "\\mine.url") << "the user's";
    const std::string removalLog = "C:\\no program manager removal.log";
    EXPECT_EQ(DriveCommand(UninstallCommand("Pelmora") + " /LOG=\"" + removalLog + "\"", UninstallAnswers).back(),
        Uninstalled);
    EXPECT_EQ(LogLines(removalLog, "Warning: "),
        Lines{"Warning: Program Manager did not delete the group Pelmora; it stays with items the product did not "
              "put there"});
    EXPECT_EQ(Names(ListFiles(userGroup)), Lines{"mine.url"});
    EXPECT_EQ(GroupLinks("Pelmora"), Lines{});
    EXPECT_EQ(GroupLinks("StartUp"), Lines{});
    TerminateProcess(server.hProcess, 0);
    WaitForSingleObject(server.hProcess, 10000);
    CloseHandle(server.hThread);
    CloseHandle(server.hProcess);
    CloseHandle(ready);
}

TEST(EndToEnd, A64BitProductGoesWhere64BitWindowsKeepsItsOwn)
{
    const std::string setup = std::string("\"") + KESTREL_SETUP_EXE + "\"";
    const std::string refusal = "Kestrel needs a 64-bit version of Windows.";
    SYSTEM_INFO native;
    GetNativeSystemInfo(&native);
    if (native.wProcessorArchitecture != PROCESSOR_ARCHITECTURE_AMD64) {
        // A 32-bit prefix: said before anything changes.
        const Lines before = SystemSnapshot();
        EXPECT_EQ(Drive(KESTREL_SETUP_EXE, {"answer Setup | OK"}),
            (Lines{Box("Setup", refusal, "OK", "OK"), SetupEnded(1603)}));
        EXPECT_EQ(RunUnattended(setup + " /S"), Lines{"exit code 1603"});
        EXPECT_EQ(WithoutWinesOwn(Differences(before, SystemSnapshot())), Lines{});
        return;
    }
    const std::string log = "C:\\kestrel-runs.log";
    SetEnvironmentVariableA("SETUP_RECORD_LOG", log.c_str());
    SetEnvironmentVariableA("SETUP_RECORD_EXIT", "0");
    const std::string warning = Box("Close Running Copies First!",
        "Do you already have an older version of Kestrel?\r\n\r\nIf you do, MAKE SURE IT IS NOT RUNNING RIGHT NOW. If it "
        "is running, shut it down BEFORE clicking the OK button.\r\n\r\nIf you have not installed Kestrel before, just "
        "click the OK button.",
        "OK", "OK");
    // The folder of 64-bit programs, the entry in the 64-bit registry view and not in the 32-bit one, the
    // system file in 64-bit Windows' own system directory, the agent started from the folder.
    const std::string folder = "C:\\Program Files\\Kestrel";
    char system[MAX_PATH], system32Bit[MAX_PATH];
    GetSystemDirectoryA(system, sizeof system);
    UINT length32Bit = GetSystemWow64DirectoryA(system32Bit, sizeof system32Bit);
    const std::string systemFile = system + std::string("\\kestrel.dll");
    auto expectInstalled = [&](const char* how, const char* backdrop) {
        EXPECT_EQ(Names(ListFiles(folder)), (Lines{"kestrel.exe", "pmagent.exe", "pmfiles.lst", "pmuninst.exe"})) << how;
        EXPECT_EQ(ReadLines(systemFile), Lines{"The 64-bit product's file in the system directory."}) << how;
        EXPECT_EQ(GetFileAttributesA((std::string(system32Bit, length32Bit) + "\\kestrel.dll").c_str()),
            INVALID_FILE_ATTRIBUTES) << how << ": not in SysWOW64";
        EXPECT_EQ(UninstallCommand("Kestrel", KEY_WOW64_64KEY), "\"" + folder + "\\pmuninst.exe\"") << how;
        EXPECT_EQ(UninstallEntry("Kestrel", KEY_WOW64_32KEY), Lines{"(no uninstall entry)"}) << how << ": not in Wow6432Node";
        EXPECT_EQ(ReadLines(log),
            Lines{"pmagent.exe|\"" + folder + "\\pmagent.exe\" -install -sid=0|" + folder + "|" + backdrop})
            << how;
    };
    EXPECT_EQ(Drive(KESTREL_SETUP_EXE,
                  {"answer END USER LICENSE AGREEMENT | I Accept", "answer Choose a Folder | OK",
                      "answer Close Running Copies First! | OK", "answer Installation Successful | No"}),
        (Lines{Accepted, FolderDialog("C:\\Program Files", "Kestrel", "OK"), warning, Success("Kestrel", "No"), Ended}));
    expectInstalled("interactively", "1");
    DeleteFileA(log.c_str());
    EXPECT_EQ(DriveCommand(UninstallCommand("Kestrel", KEY_WOW64_64KEY),
                  {"answer Remove Kestrel | Yes", "answer Close Running Copies First! | OK",
                      "answer Removal Complete | OK"}),
        (Lines{RemoveQuestion("Kestrel", "Yes"),
            Box("Close Running Copies First!",
                "Before Kestrel is removed, make sure it is not running. If it is running, shut it down before clicking "
                "the OK button.",
                "OK", "OK"),
            RemovalComplete("Kestrel was removed from your computer." + InUseHeading + "\r\n" + folder
                + "\\pmuninst.exe\r\n\r\nKept in the Windows system directory, shared with other programs:\r\n"
                + systemFile),
            UninstallerEnded(0)}));
    EXPECT_EQ(UninstallEntry("Kestrel", KEY_WOW64_64KEY), Lines{"(no uninstall entry)"});
    EXPECT_EQ(ReadLines(log), Lines{"pmagent.exe|\"" + folder + "\\pmagent.exe\" -remove|" + folder + "|0"});
    SimulateRestart();
    EXPECT_EQ(GetFileAttributesA(folder.c_str()), INVALID_FILE_ATTRIBUTES);

    // The same unattended, and its removal through the quiet command.
    DeleteFileA(log.c_str());
    EXPECT_EQ(RunUnattended(setup + " /S"), Lines{"exit code 0"});
    expectInstalled("unattended", "0");
    EXPECT_EQ(RunUnattended(QuietUninstallCommand("Kestrel", KEY_WOW64_64KEY)), Lines{"exit code 0"});
    EXPECT_EQ(UninstallEntry("Kestrel", KEY_WOW64_64KEY), Lines{"(no uninstall entry)"});
    DeleteFileA(systemFile.c_str());
}

namespace {

// The agreement of the test product in another language, as its dialog shows it.
std::string FotosAgreementIn(const std::string& language)
{
    std::string text;
    for (const std::string& line : ReadLines(FOTOS_SOURCES "/agreement-" + language + ".txt"))
        text += line + "\r\n";
    return text;
}

// The folder dialog in German, as the user's language gives it.
std::string GermanFolderDialog(const std::string& parent, const std::string& name, const std::string& answer)
{
    return "Ordner auswählen | Diese Anwendung benötigt einen Ordner, in dem sie ihre Datendateien speichert. Der "
           "unten angegebene Speicherort wird empfohlen und sollte für die meisten Benutzer geeignet sein. | "
           "Übergeordneter Ordner | Anwendungsordner | Dies muss ein vorhandener Ordner sein. In diesem Ordner wird "
           "ein neuer Ordner für diese Anwendung erstellt, mit dem Namen, den Sie unten unter „Anwendungsordner“ "
           "angeben. | {"
        + parent + "} {" + name + "} | [OK,Abbrechen,Durchsuchen...] -> " + answer;
}

// The product of four languages installed in German and removed again, in German whatever the user's own
// language: the setup's screens and messages, the name, prompt and agreement the manifest gives in German,
// the language kept in the record for the uninstaller; the log in English. Wine's message boxes name their
// buttons in the user's language.
void InstallAndRemoveInGerman(const std::string& switches, const std::string& why, const std::string& yes,
    const std::string& no)
{
    const std::string user = " (the user's interface language is " + std::to_string(GetUserDefaultUILanguage()) + ")";
    const std::string folder = Programs + "\\" + FotosFolderName;
    const std::string log = "C:\\fotos.log";
    const std::string setup = std::string("\"") + FOTOS_SETUP_EXE + "\" " + switches + " /LOG=" + log;
    EXPECT_EQ(DriveCommand(setup,
                  {"progress Setup-Fortschritt", "read 1101", "read owner",
                      "answer LIZENZVERTRAG FÜR ENDBENUTZER | Ich stimme zu", "answer Ordner auswählen | OK",
                      "answer Laufende Kopien werden geschlossen | OK",
                      "answer Zur Autostart-Gruppe hinzufügen | " + no, "answer Installation erfolgreich | " + no}),
        (Lines{"field 1101 | " + FotosAgreementIn("de"), "owner | Fotos installieren",
            "LIZENZVERTRAG FÜR ENDBENUTZER | [Ich stimme zu,Ich stimme NICHT zu] -> Ich stimme zu",
            GermanFolderDialog(Programs, FotosFolderName, "OK"),
            Box("Laufende Kopien werden geschlossen",
                "Alle laufenden Kopien von Fotos müssen jetzt beendet werden. Dies kann einige Sekunden dauern.",
                "OK", "OK"),
            Box("Zur Autostart-Gruppe hinzufügen", "Fotos bei jeder Anmeldung starten?", yes + "," + no, no),
            Box("Installation erfolgreich",
                "Fotos wurde erfolgreich auf Ihrem System installiert. Möchten Sie Fotos jetzt starten?",
                yes + "," + no, no),
            Ended}));
    EXPECT_EQ(ReadLines(folder + "\\pmfiles.lst"),
        (Lines{"product:" + Fotos, "language:de", "写真.exe", "pmuninst.exe", "Документы\\説明書.txt"}));
    // The entry keeps the product's own name; the log is English, for support.
    EXPECT_EQ(UninstallCommand(Fotos), "\"" + folder + "\\pmuninst.exe\"");
    EXPECT_EQ(LogLines(log, "Message: Installation Successful"),
        Lines{"Message: Installation Successful | Fotos has been successfully installed on your system. Would you "
              "like to start Fotos now? | answered No"});
    EXPECT_EQ(ReadLines(log).back(), "Exit code: 0");
    EXPECT_EQ(LogLines(log, "Language: "), Lines{"Language: de, " + why + user});

    // The uninstaller, started as Programs and Features starts it, speaks the language of the record.
    const std::string removalLog = "C:\\fotos-removal.log";
    EXPECT_EQ(DriveCommand(UninstallCommand(Fotos) + " /LOG=" + removalLog,
                  {"progress Deinstallationsfortschritt", "answer Fotos entfernen | " + yes,
                      "answer Laufende Kopien werden geschlossen | OK", "answer Entfernen abgeschlossen | OK"}),
        (Lines{Box("Fotos entfernen",
                   "Möchten Sie Fotos und alle zugehörigen Komponenten von Ihrem Computer entfernen?", yes + "," + no,
                   yes),
            Box("Laufende Kopien werden geschlossen",
                "Alle laufenden Kopien von Fotos müssen jetzt beendet werden. Dies kann einige Sekunden dauern.",
                "OK", "OK"),
            Box("Entfernen abgeschlossen",
                "Fotos wurde von Ihrem Computer entfernt.\r\n\r\nZurzeit in Verwendung, wird beim Neustart von "
                "Windows entfernt:\r\n"
                    + folder + "\\pmuninst.exe",
                "OK", "OK"),
            Uninstalled}));
    EXPECT_EQ(UninstallEntry(Fotos), Lines{"(no uninstall entry)"});
    EXPECT_EQ(LogLines(removalLog, "Language: "), Lines{"Language: de, the one the setup used" + user});
}

// The user's interface language, as Wine gives it from the locale the test runs in (LANG).
bool UserSpeaks(LANGID language)
{
    EXPECT_EQ(GetUserDefaultUILanguage(), language) << "run in the locale its CTest entry sets (tests/e2e/CMakeLists.txt)";
    return GetUserDefaultUILanguage() == language;
}

std::string KnownFolder(int folder)
{
    char path[MAX_PATH];
    return SHGetSpecialFolderPathA(nullptr, path, folder, FALSE) ? path : "(none)";
}

// The user's own folder for programs, where Windows keeps it (normally
// %LOCALAPPDATA%\Programs); Wine 8 names none, and the setup takes that place.
std::string UserProgramsFolder()
{
    PWSTR known = nullptr;
    std::string folder = KnownFolder(CSIDL_LOCAL_APPDATA) + "\\Programs";
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_UserProgramFiles, 0, nullptr, &known)))
        folder = automation::Utf8(known);
    CoTaskMemFree(known);
    return folder;
}

std::string TemporaryFolder()
{
    char path[MAX_PATH];
    DWORD length = GetTempPathA(sizeof path, path);
    return std::string(path, length ? length - 1 : 0);
}

// The execution level a program's application manifest asks for.
std::string ExecutionLevel(const std::string& program)
{
    HMODULE module = LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC found = module ? FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)) : nullptr;
    std::string manifest = found
        ? std::string(static_cast<const char*>(LockResource(LoadResource(module, found))), SizeofResource(module, found))
        : "";
    if (module)
        FreeLibrary(module);
    size_t at = manifest.find("requestedExecutionLevel level=\"");
    return at == std::string::npos ? "(none)" : manifest.substr(at + 31, manifest.find('"', at + 31) - at - 31);
}

// Runs a command with the limited half of the test's token, as a user
// without administrator rights, or an administrator where User Account
// Control is on, starts it: its exit code. Wine gives every program an
// elevated token unless it is started so.
DWORD RunLimited(const std::string& commandLine)
{
    HANDLE token = nullptr;
    HANDLE limited = nullptr;
    TOKEN_LINKED_TOKEN linked = {};
    DWORD size = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)
        || !GetTokenInformation(token, TokenLinkedToken, &linked, sizeof linked, &size)
        || !DuplicateTokenEx(linked.LinkedToken, MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary, &limited))
        return DWORD(-1);
    std::string line = commandLine;
    STARTUPINFOA startup = {sizeof startup};
    PROCESS_INFORMATION process = {};
    DWORD exitCode = DWORD(-2);
    if (CreateProcessAsUserA(limited, nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
            &process)) {
        WaitForSingleObject(process.hProcess, 120000);
        GetExitCodeProcess(process.hProcess, &exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(limited);
    CloseHandle(linked.LinkedToken);
    CloseHandle(token);
    return exitCode;
}

std::string ClosingCopiesOf(const std::string& name)
{
    return Box("Closing Running Copies",
        "Any copies of " + name + " currently running must now be shut down. This may take a few seconds.", "OK", "OK");
}

// The path as Windows spells it: backslashes.
std::string Backslashed(std::string path)
{
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// What stays of a product installed for one user once it is removed: the
// setup made the user's folder for programs and the key of the user's
// uninstall entries, both Windows' own places, and the uninstaller went,
// unscheduled, to the restart folder in the user's temporary folder.
Lines WithoutWhatStaysOfTheUsers(const Lines& differences, const std::string& profileFile)
{
    const std::string programs = "+ " + UserProgramsFolder() + "\\";
    const std::string waiting = "+ " + TemporaryFolder() + "\\" + profileFile + ".restart";
    const std::string entries = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
    const Lines windowsOwn = {programs, "+ HKCU(32)" + entries, "+ HKCU(64)" + entries};
    Lines kept;
    for (const std::string& line : WithoutWinesOwn(differences))
        if (std::find(windowsOwn.begin(), windowsOwn.end(), line) == windowsOwn.end()
            && line.compare(0, waiting.size(), waiting) != 0)
            kept.push_back(line);
    return kept;
}

// What a run changed that is not one user's: outside the user's profile folder and HKEY_CURRENT_USER.
Lines OutsideTheUsersPlaces(const Lines& differences)
{
    const std::string profile = KnownFolder(CSIDL_PROFILE) + "\\";
    Lines outside;
    for (const std::string& line : WithoutWinesOwn(differences))
        if (line.compare(2, profile.size(), profile) != 0 && line.compare(2, 5, "HKCU(") != 0)
            outside.push_back(line);
    return outside;
}

std::string ForWhom(const std::string& answer)
{
    return "Install for Whom? | The application can be installed for you alone, in your own folders, or for everyone "
           "who uses this computer. Installing it for everyone needs administrator rights. | [Install for me only,"
           "Install for everyone on this computer,Cancel] -> "
        + answer;
}

} // namespace

// A German user, of a product that ships German: every screen in German, the uninstaller too; a run asked
// for Arabic shows its dialogs mirrored, their buttons in the opposite order and their texts read from the
// right. (Its message boxes ask for the same, MB_RTLREADING and MB_RIGHT, which Wine's do not show.)
TEST(EndToEnd, AGermanUserIsAnsweredInGermanAndAnArabicRunIsMirrored)
{
    if (!UserSpeaks(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN)))
        return;
    InstallAndRemoveInGerman("", "the user's interface language", "Ja", "Nein");

    EXPECT_EQ(DriveCommand(std::string("\"") + FOTOS_SETUP_EXE + "\" /LANG=ar",
                  {"read owner", "read layout", "answer اتفاقية ترخيص المستخدم النهائي | لا أوافق",
                      "answer لم يتم تثبيت التطبيق | OK"}),
        (Lines{"owner | تثبيت صور", "layout | mirrored, texts read from the right | [لا أوافق,أوافق]",
            "اتفاقية ترخيص المستخدم النهائي | [أوافق,لا أوافق] -> لا أوافق",
            Box("لم يتم تثبيت التطبيق",
                "لن يتم تثبيت التطبيق في الوقت الحالي. إذا قررت تثبيت التطبيق لاحقاً، فما عليك سوى تشغيل هذا البرنامج "
                "مرة أخرى لإكمال عملية التثبيت.",
                "OK", "OK"),
            SetupEnded(1602)}));
}

// A Japanese user: the product's default texts, Japanese, in Japanese screens; /LANG= asks for German, which
// the uninstaller then speaks too, as the record says, although the user reads Japanese.
TEST(EndToEnd, AJapaneseUserIsAnsweredInJapaneseUnlessTheRunAsksForAnotherLanguage)
{
    if (!UserSpeaks(MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN)))
        return;
    const std::string log = "C:\\fotos.log";
    EXPECT_EQ(DriveCommand(std::string("\"") + FOTOS_SETUP_EXE + "\" /LOG=" + log,
                  {"read 1101", "read owner", "read layout", "answer 使用許諾契約書 | 同意しない",
                      "answer アプリケーションはインストールされませんでした | OK"}),
        (Lines{"field 1101 | " + FotosAgreement(), "owner | " + Fotos + " のインストール",
            "layout | not mirrored | [同意する,同意しない]", "使用許諾契約書 | [同意する,同意しない] -> 同意しない",
            Box("アプリケーションはインストールされませんでした",
                "アプリケーションは今回はインストールされません。あとでインストールする場合は、このプログラムをもう一度起動"
                "してインストールを完了してください。",
                "OK", "OK"),
            SetupEnded(1602)}));
    // Japanese is the product's first language too: the log says why it was chosen.
    EXPECT_EQ(LogLines(log, "Language: "),
        Lines{"Language: ja, the user's interface language (the user's interface language is 1041)"});

    InstallAndRemoveInGerman("/LANG=de", "asked for with /LANG=", "はい(Y)", "いいえ(N)");
}

TEST(EndToEnd, AProductForOneUserIsInstalledUpdatedAndRemovedInThatUsersPlacesAlone)
{
    const Lines before = SystemSnapshot();
    const std::string programs = UserProgramsFolder();
    const std::string folder = programs + "\\Wren";
    const std::string data = KnownFolder(CSIDL_LOCAL_APPDATA);
    const std::string profile = data + "\\Wren\\wren.ini";
    const std::string program = folder + "\\wren.exe";
    const std::string success = Success("Wren", "No");
    // Nobody is asked for whom; the proposal is the user's own folder for programs.
    EXPECT_EQ(Drive(WREN_SETUP_EXE,
                  {"answer END USER LICENSE AGREEMENT | I Accept", "answer Choose a Folder | OK",
                      "answer Closing Running Copies | OK", "answer Add To Startup Group | Yes",
                      "answer Installation Successful | No"}),
        (Lines{Accepted, FolderDialog(programs, "Wren", "OK"), ClosingCopiesOf("Wren"),
            Box("Add To Startup Group", "Start Wren whenever you log on?", "Yes,No", "Yes"), success, Ended}));
    Lines files = WithoutRecord(ListFiles(folder));
    EXPECT_EQ(Names(files), (Lines{"notes\\readme.txt", "pmuninst.exe", "wren.exe"}));
    uint64_t bytes = 0;
    for (const std::string& file : files)
        bytes += std::stoull(file.substr(file.find(" | ") + 3));
    const std::string uninstaller = "\"" + folder + "\\pmuninst.exe\"";
    EXPECT_EQ(UninstallEntry("Wren", 0, HKEY_CURRENT_USER),
        (Lines{TextValue("DisplayIcon", program + ",0"), "DisplayName = Wren (5 bytes)", "DisplayVersion = 1.0 (4 bytes)",
            "EstimatedSize = " + std::to_string((bytes + 1023) / 1024) + " (dword)", TextValue("InstallLocation", folder),
            "NoModify = 1 (dword)", "NoRepair = 1 (dword)", "Publisher = Wren Works (11 bytes)",
            TextValue("QuietUninstallString", uninstaller + " /S"), TextValue("UninstallString", uninstaller)}))
        << "every value the machine's entry has";
    EXPECT_EQ(UninstallEntry("Wren"), Lines{"(no uninstall entry)"}) << "none for the machine";
    EXPECT_EQ(ProfileValue(profile), folder) << "remembered in the product's folder of the user's data";
    EXPECT_EQ(ProfileValue("wren.ini"), "(none)") << "nothing in the Windows directory";
    EXPECT_EQ(GroupLinks("Wren"),
        (Lines{"user: Uninstall.lnk -> " + folder + "\\pmuninst.exe | " + folder, "user: Wren.lnk -> " + program + " | " + folder}));
    EXPECT_EQ(GroupLinks("StartUp"), Lines{"user: Wren.lnk -> " + program + " | " + folder});
    EXPECT_EQ(ExecutionLevel(WREN_SETUP_EXE), "asInvoker");
    EXPECT_EQ(ExecutionLevel(folder + "\\pmuninst.exe"), "asInvoker");

    // Updated over a program that runs from its file: it is replaced, its earlier version moved out of the
    // folder to the restart folder in the user's temporary folder. Nothing waits for the restart.
    const std::string readme = folder + "\\notes\\readme.txt";
    const std::string waiting = TemporaryFolder() + "\\wren.ini.restart";
    EXPECT_EQ(Drive(WREN_SETUP_EXE,
                  {"map " + program, "answer END USER LICENSE AGREEMENT | I Accept", "answer Choose a Folder | OK",
                      "answer Closing Running Copies | OK", "answer Add To Startup Group | Yes",
                      "answer Installation Successful | No"}),
        (Lines{Accepted, FolderDialog(programs, "Wren", "OK"), ClosingCopiesOf("Wren"),
            Box("Add To Startup Group", "Start Wren whenever you log on?", "Yes,No", "Yes"), success, Ended}));
    EXPECT_EQ(Names(WithoutRecord(ListFiles(folder))), (Lines{"notes\\readme.txt", "pmuninst.exe", "wren.exe"}));
    EXPECT_EQ(Names(ListFiles(waiting)), Lines{"wren.exe.pmold"}) << "the earlier version, as it was set aside";
    EXPECT_EQ(PendingDeletions(), Lines{});
    EXPECT_EQ(PendingReplacements(), Lines{});
    // Unattended, again: the run holds the user's own lock and writes the user's entry.
    const std::string log = "C:\\wren-update.log";
    EXPECT_EQ(RunUnattended(std::string("\"") + WREN_SETUP_EXE + "\" /S /LOG=" + log), Lines{"exit code 0"});
    EXPECT_EQ(LogLines(log, "For: "), Lines{"For: this user alone"});
    EXPECT_EQ(LogLines(log, "Lock: "), Lines{"Lock: " + data + "\\wren.ini.lock"});
    EXPECT_EQ(LogLines(log, "Registry: HKEY"),
        Lines{"Registry: HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Wren (32-bit view)"});
    DeleteFileA(log.c_str());

    // The user's journal, which any of the user's programs may write, naming another folder's file to
    // delete: with administrator rights (as every process under Wine has them) the run acts on none of it
    // and says so; a run without them undoes it, with the user's own rights.
    const std::string journal = data + "\\wren.ini.journal";
    const std::string theirs = "C:\\wren-theirs";
    const std::string staged = theirs + "\\theirs.txt.pmnew";
    CreateDirectoryA(theirs.c_str(), nullptr);
    std::ofstream(staged) << "theirs";
    ASSERT_TRUE(AppendJournalRecord("F " + theirs + "\t\\\\?\\" + theirs, journal));
    ASSERT_TRUE(AppendJournalRecord("S 0 theirs.txt", journal));
    EXPECT_EQ(RunUnattended(std::string("\"") + WREN_SETUP_EXE + "\" /S /LOG=" + log), Lines{"exit code 1603"});
    const Lines distrusted = LogLines(log, "Not trusted, ");
    ASSERT_FALSE(distrusted.empty());
    EXPECT_EQ(distrusted[0], "Not trusted, since programs without administrator rights may have written it: " + journal);
    EXPECT_EQ(LogLines(log, "Agreement: "), Lines{}) << "said before anything is asked";
    EXPECT_EQ(LogLines(log, "Folder proposed: "), Lines{});
    const Lines told = LogLines(log, "Message: Wren Installation Failed | ");
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find("the record it left, " + journal + ", could have been changed by any program you run"),
        std::string::npos)
        << told[0];
    EXPECT_NE(GetFileAttributesA(staged.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesA(journal.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(RunLimited(std::string("\"") + WREN_SETUP_EXE + "\" /S /LOG=" + log), 0u);
    EXPECT_EQ(GetFileAttributesA(staged.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA(journal.c_str()), INVALID_FILE_ATTRIBUTES);
    RemoveDirectoryA(theirs.c_str());
    DeleteFileA(log.c_str());

    // With administrator rights, a run for one user installs nowhere the user's profile file names (any
    // program of the user may have written it), and follows no link put in the user's places: on the
    // temporary folder's way, or at the product's data folder.
    const std::string setupQuietly = std::string("\"") + WREN_SETUP_EXE + "\" /S /LOG=" + log;
    const std::string elsewhere = "C:\\wren-elsewhere";
    CreateDirectoryA(elsewhere.c_str(), nullptr);
    WritePrivateProfileStringA("Options", "dataDir", elsewhere.c_str(), profile.c_str());
    EXPECT_EQ(RunUnattended(setupQuietly), Lines{"exit code 0"});
    EXPECT_EQ(LogLines(log, "Folder accepted: "), Lines{"Folder accepted: " + folder});
    EXPECT_EQ(ProfileValue(profile), folder);
    const std::string linked = "C:\\wren-linked";
    ASSERT_TRUE(MakeUnixLink(linked, elsewhere));
    const std::string aside = folder + "\\wren.exe.pmold";
    const std::string ownTemporary = TemporaryFolder();
    {
        // The earlier version runs from its file: it is set aside and left beside the new one, named.
        HANDLE image = CreateFileA(program.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
            OPEN_EXISTING, 0, nullptr);
        HANDLE mapping = CreateFileMappingA(image, nullptr, PAGE_READONLY, 0, 0, nullptr);
        void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
        CloseHandle(mapping);
        CloseHandle(image);
        SetEnvironmentVariableA("TMP", linked.c_str());
        EXPECT_EQ(RunUnattended(setupQuietly), Lines{"exit code 0"});
        SetEnvironmentVariableA("TMP", ownTemporary.c_str());
        UnmapViewOfFile(view);
        EXPECT_EQ(LogLines(log, "Not used, "),
            Lines{"Not used, since it may not be the product's own: " + linked + "\\wren.ini.restart"});
        EXPECT_EQ(LogLines(log, "Left for the user to delete: "), Lines{"Left for the user to delete: " + aside});
        EXPECT_TRUE(DeleteFileA(aside.c_str()));
    }
    RemoveUnixLink(linked);
    const std::string dataFolder = data + "\\Wren";
    const std::string dataAside = data + "\\Wren-aside";
    ASSERT_TRUE(MoveFileA(dataFolder.c_str(), dataAside.c_str()));
    ASSERT_TRUE(MakeUnixLink(dataFolder, elsewhere));
    EXPECT_EQ(RunUnattended(setupQuietly), Lines{"exit code 1603"}) << "the folder could not be remembered";
    EXPECT_EQ(LogLines(log, "Profile: " + profile + " left alone"),
        Lines{"Profile: " + profile + " left alone, since a link or a second name lies on its way"});
    EXPECT_EQ(ListFiles(elsewhere), Lines{}) << "nothing written, nor installed, where the links lead";
    EXPECT_EQ(GetFileAttributesA((elsewhere + "\\wren.ini.restart").c_str()), INVALID_FILE_ATTRIBUTES);
    RemoveUnixLink(dataFolder);
    ASSERT_TRUE(MoveFileA(dataAside.c_str(), dataFolder.c_str()));
    RemoveDirectoryA(elsewhere.c_str());
    DeleteFileA(log.c_str());
    EXPECT_EQ(OutsideTheUsersPlaces(Differences(before, SystemSnapshot())), Lines{})
        << "nothing of the machine's, nor the Windows directory, changed";

    // Removed through the user's entry: a file a program runs from goes to the temporary folder, one held
    // so that it cannot even be moved is kept and named, and the entry stays for the next try; then all of
    // it goes, the running uninstaller to the temporary folder too.
    const std::string removal = UninstallCommand("Wren", 0, HKEY_CURRENT_USER);
    EXPECT_EQ(DriveCommand(removal,
                  {"map " + program, "hold " + readme, "answer Remove Wren | Yes", "answer Closing Running Copies | OK",
                      "answer Removal Incomplete | OK"}),
        (Lines{RemoveQuestion("Wren", "Yes"), ClosingCopiesOf("Wren"),
            Box("Removal Incomplete",
                "Wren could not be removed completely. Its uninstaller and its uninstall entry stay, so that you can "
                "run it again once the cause is removed.\r\n\r\nCould not be removed, nor left for Windows to remove "
                "when it restarts:\r\n" + readme,
                "OK", "OK"),
            UninstallerEnded(1603)}));
    EXPECT_EQ(UninstallCommand("Wren", 0, HKEY_CURRENT_USER), uninstaller);
    // The product's data folder is now a link to another's profile file: the uninstaller leaves it alone.
    RemoveTree(dataFolder);
    CreateDirectoryA(elsewhere.c_str(), nullptr);
    ASSERT_TRUE(MakeUnixLink(dataFolder, elsewhere));
    const std::string othersProfile = elsewhere + "\\wren.ini";
    WritePrivateProfileStringA("Options", "dataDir", folder.c_str(), othersProfile.c_str());
    EXPECT_EQ(DriveCommand(removal,
                  {"answer Remove Wren | Yes", "answer Closing Running Copies | OK", "answer Removal Complete | OK"}),
        (Lines{RemoveQuestion("Wren", "Yes"), ClosingCopiesOf("Wren"), RemovalComplete("Wren was removed from your computer."),
            Uninstalled}));
    EXPECT_EQ(ProfileValue(othersProfile), folder);
    RemoveUnixLink(dataFolder);
    RemoveTree(elsewhere);
    EXPECT_EQ(PendingDeletions(), Lines{}) << "a user's run leaves nothing for the restart";
    EXPECT_EQ(Names(ListFiles(waiting)), (Lines{"pmuninst.exe", "wren.exe", "wren.exe.pmold"}));
    EXPECT_EQ(WithoutWhatStaysOfTheUsers(Differences(before, SystemSnapshot()), "wren.ini"), Lines{})
        << "the system as it was";
}

TEST(EndToEnd, AProductForEitherAsksForWhomAndEachInstallationKeepsToItsOwnPlaces)
{
    const Lines before = SystemSnapshot();
    const std::string setup = std::string("\"") + HERON_SETUP_EXE + "\"";
    const std::string userPrograms = UserProgramsFolder();
    const std::string mine = userPrograms + "\\Heron";
    const std::string everyones = Programs + "\\Heron";
    const std::string userProfile = KnownFolder(CSIDL_LOCAL_APPDATA) + "\\Heron\\heron.ini";
    const std::string success = Success("Heron", "No");

    // For me only: this process installs, in the user's places.
    EXPECT_EQ(Drive(HERON_SETUP_EXE,
                  {"answer END USER LICENSE AGREEMENT | I Accept", "answer Install for Whom? | Install for me only",
                      "answer Choose a Folder | OK", "answer Closing Running Copies | OK",
                      "answer Installation Successful | No"}),
        (Lines{Accepted, ForWhom("Install for me only"), FolderDialog(userPrograms, "Heron", "OK"),
            ClosingCopiesOf("Heron"), success, Ended}));
    EXPECT_EQ(UninstallCommand("Heron", 0, HKEY_CURRENT_USER), "\"" + mine + "\\pmuninst.exe\"");
    EXPECT_EQ(UninstallEntry("Heron"), Lines{"(no uninstall entry)"});
    EXPECT_EQ(ProfileValue(userProfile), mine);
    EXPECT_EQ(OutsideTheUsersPlaces(Differences(before, SystemSnapshot())), Lines{});

    // For everyone: a second process of the setup, started elevated with the answers so far, asks nothing
    // again, refuses the user's installation's folder, installs for the machine, and its exit code ends the
    // first.
    const std::string log = "C:\\heron.log";
    EXPECT_EQ(DriveCommand(setup + " /LOG=" + log,
                  {"children", "answer END USER LICENSE AGREEMENT | I Accept",
                      "answer Install for Whom? | Install for everyone on this computer", "type 1097 " + userPrograms,
                      "answer Choose a Folder | OK", "answer Folder Holds Another Installation | OK",
                      "type 1097 " + Programs, "answer Choose a Folder | OK", "answer Closing Running Copies | OK",
                      "answer Installation Successful | No"}),
        (Lines{Accepted, ForWhom("Install for everyone on this computer"), FolderDialog(userPrograms, "Heron", "OK"),
            Box("Folder Holds Another Installation",
                "That folder holds this application's installation for everyone on this computer, or for one user "
                "alone. Each installation needs a folder of its own: installed there, the two would share their "
                "files, and removing one would remove files of the other. Please choose another location.",
                "OK", "OK"),
            FolderDialog(Programs, "Heron", "OK"), ClosingCopiesOf("Heron"), success, Ended}));
    const Lines started = LogLines(log, "Command line: ");
    ASSERT_EQ(started.size(), 2u) << "two processes of the setup";
    const std::string program = "\"" + Backslashed(HERON_SETUP_EXE) + "\"";
    EXPECT_EQ(started[1], "Command line: " + program + " /ALLUSERS /ELEVATED /AGREED /LANG=en /LOG=" + log)
        << "the same program";
    const std::string user = " (the user's interface language is " + std::to_string(GetUserDefaultUILanguage()) + ")";
    EXPECT_EQ(LogLines(log, "Language: "),
        (Lines{"Language: en, the user's interface language" + user, "Language: en, asked for with /LANG=" + user}))
        << "the first's, whatever the other account's interface language";
    EXPECT_EQ(LogLines(log, "For: "), (Lines{"For: everyone on this computer (chosen)", "For: everyone on this computer"}));
    EXPECT_EQ(LogLines(log, "Agreement: "), (Lines{"Agreement: accepted", "Agreement: accepted before this process began"}));
    EXPECT_EQ(ReadLines(log).back(), "Exit code: 0");
    EXPECT_EQ(UninstallCommand("Heron"), "\"" + everyones + "\\pmuninst.exe\"");
    EXPECT_EQ(UninstallCommand("Heron", 0, HKEY_CURRENT_USER), "\"" + mine + "\\pmuninst.exe\"") << "the user's stays";
    EXPECT_EQ(ProfileValue("heron.ini"), everyones);
    EXPECT_EQ(ProfileValue(userProfile), mine);

    // The switches choose without asking: each run updates its own installation.
    EXPECT_EQ(RunUnattended(setup + " /S /CURRENTUSER /LOG=" + log), Lines{"exit code 0"});
    EXPECT_EQ(LogLines(log, "Folder accepted: "), Lines{"Folder accepted: " + mine});
    EXPECT_EQ(RunUnattended(setup + " /ALLUSERS /S /LOG=" + log), Lines{"exit code 0"});
    EXPECT_EQ(LogLines(log, "Folder accepted: "), Lines{"Folder accepted: " + everyones});
    // Another logged-on user's installation, whose entry is not in this process's own registry (as where the
    // rights come from another account's password), is refused for everyone's too.
    const std::string theirs = "C:\\heron-theirs";
    const std::string theirUser = "S-1-5-21-0-0-0-1001";
    const std::string theirEntry = theirUser + "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Heron";
    CreateDirectoryA(theirs.c_str(), nullptr);
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_USERS, theirEntry.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    RegSetValueExA(key, "InstallLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(theirs.c_str()), DWORD(theirs.size() + 1));
    RegCloseKey(key);
    EXPECT_EQ(RunUnattended(setup + " /ALLUSERS /S /LOG=" + log + " /D=" + theirs), Lines{"exit code 1603"});
    EXPECT_EQ(LogLines(log, "Message: Folder Holds Another Installation").size(), 1u);
    EXPECT_EQ(UninstallCommand("Heron"), "\"" + everyones + "\\pmuninst.exe\"") << "the machine's stays where it was";
    RegDeleteTreeA(HKEY_USERS, theirUser.c_str());
    RemoveDirectoryA(theirs.c_str());
    // Without administrator rights, the machine's run goes on elevated at once, and its exit code (a folder
    // that is a file: 1603) is the first process's.
    const std::string file = "C:\\heron-file";
    std::ofstream(file) << "a file";
    EXPECT_EQ(RunLimited(setup + " /S /LOG=" + log + " /D=" + file), 1603u);
    EXPECT_EQ(LogLines(log, "Command line: "), Lines{"Command line: " + program + " /ELEVATED /LANG=en /S /LOG=" + log + " /D=" + file});
    EXPECT_EQ(ReadLines(log).back(), "Exit code: 1603");
    DeleteFileA(file.c_str());

    // Each removes itself alone: the machine's from its entry, elevated from a process without the rights.
    EXPECT_EQ(RunLimited(QuietUninstallCommand("Heron") + " /LOG=" + log), 0u);
    EXPECT_EQ(LogLines(log, "Command line: "), Lines{"Command line: \"" + everyones + "\\pmuninst.exe\" /ELEVATED /LANG=en /S /LOG=" + log});
    EXPECT_EQ(LogLines(log, "Warning: "), Lines{}) << "the user's group is the user's installation's";
    EXPECT_EQ(UninstallEntry("Heron"), Lines{"(no uninstall entry)"});
    EXPECT_EQ(ProfileValue("heron.ini"), "(none)");
    EXPECT_EQ(ProfileValue(userProfile), mine);
    EXPECT_EQ(RunLimited(QuietUninstallCommand("Heron", 0, HKEY_CURRENT_USER) + " /LOG=" + log), 0u);
    EXPECT_EQ(LogLines(log, "Command line: ").size(), 1u) << "the user's removal asks for no rights";
    EXPECT_EQ(UninstallEntry("Heron", 0, HKEY_CURRENT_USER), Lines{"(no uninstall entry)"});
    DeleteFileA(log.c_str());
    SimulateRestart();
    EXPECT_EQ(WithoutWhatStaysOfTheUsers(Differences(before, SystemSnapshot()), "heron.ini"), Lines{});
}

TEST(EndToEnd, AProductPackagedFromTheReleaseArchiveInstallsAndIsRemoved)
{
    // The release archive's sample, packaged by the archive's pmpack with nothing on the PATH (release_test.sh):
    // installed for everyone, its own program as the archive carries it, and removed by its uninstaller.
    const std::string folder = "C:\\Release Sample\\Pelmora";
    ASSERT_EQ(RunUnattended(std::string("\"") + RELEASE_SETUP_EXE + "\" /S /D=" + folder), Lines{"exit code 0"});
    EXPECT_EQ(Names(WithoutRecord(ListFiles(folder))), (Lines{"help.htm", "pelmora.exe", "pmuninst.exe"}));
    EXPECT_EQ(FileBytes(folder + "\\pelmora.exe"), FileBytes(RELEASE_SAMPLE_PROGRAM));
    EXPECT_EQ(GroupLinks("Pelmora"),
        (Lines{"all users: Pelmora.lnk -> " + folder + "\\pelmora.exe | " + folder,
            "all users: Uninstall.lnk -> " + folder + "\\pmuninst.exe | " + folder}));
    EXPECT_EQ(RunUnattended(QuietUninstallCommand("Pelmora")), Lines{"exit code 0"});
    EXPECT_EQ(UninstallEntry("Pelmora"), Lines{"(no uninstall entry)"});
    EXPECT_EQ(GroupLinks("Pelmora"), Lines{});
    EXPECT_EQ(GetFileAttributesA(folder.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(PendingDeletions(), (Lines{RestartFolder() + "\\pmuninst.exe", RestartFolder()}))
        << "the running uninstaller, moved aside and gone at the restart";
}
