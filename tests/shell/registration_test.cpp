// The uninstall entry in the real registry, its debug line, the service runs
// and the search for their programs, with real child processes.
#include "automation.h"
#include "globals.h"
#include "installed_state.h"
#include "shell.h"
#include "spawn.h"
#include "test_config.h"
#include "text.h"
#include "test_files.h"
#include <gtest/gtest.h>
#include <fstream>
#include <string>
#include <vector>

using namespace automation;
using Lines = std::vector<std::string>;

namespace {

const char UninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const std::string Folder = "C:\\services-test\\Pelmora";


// A 64-bit product's entry is in the 64-bit registry view, a 32-bit one's in the program's own.
REGSAM View(bool sixtyFourBit)
{
    return sixtyFourBit ? KEY_WOW64_64KEY : 0;
}

bool ReadValue(const std::string& key, const char* name, std::string& data, DWORD& length, REGSAM view = 0)
{
    HKEY handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | view, &handle) != ERROR_SUCCESS)
        return false;
    char buffer[2048] = {};
    DWORD type = 0;
    length = sizeof buffer;
    LONG status = RegQueryValueExA(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &length);
    RegCloseKey(handle);
    data.assign(buffer, length);
    return status == ERROR_SUCCESS && type == REG_SZ;
}

// Runs a program as its debugger and returns what it wrote to the debug output.
Lines DebugOutputOf(const std::string& commandLine)
{
    STARTUPINFOA startup = {sizeof startup};
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    Lines output;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS, nullptr, nullptr,
            &startup, &process))
        return {"(not started)"};
    for (;;) {
        DEBUG_EVENT event;
        if (!WaitForDebugEvent(&event, 20000))
            break;
        if (event.dwDebugEventCode == OUTPUT_DEBUG_STRING_EVENT) {
            std::string text(event.u.DebugString.nDebugStringLength, '\0');
            SIZE_T read = 0;
            ReadProcessMemory(process.hProcess, event.u.DebugString.lpDebugStringData, &text[0], text.size(), &read);
            output.push_back(text.substr(0, text.find('\0')));
        }
        DWORD code = event.dwDebugEventCode;
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId,
            code == EXCEPTION_DEBUG_EVENT ? DBG_EXCEPTION_NOT_HANDLED : DBG_CONTINUE);
        if (code == EXIT_PROCESS_DEBUG_EVENT)
            break;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return output;
}



class ServicesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ProductConfig = ShippedConfig();
        SetCurrentDirectoryA("C:\\");
        RemoveTree("C:\\services-test");
        CreateDirectoryA("C:\\services-test", nullptr);
        CreateDirectoryA(Folder.c_str(), nullptr);
        ASSERT_TRUE(SetCurrentDirectoryA(Folder.c_str()));
        CopyText(InstallFolder, sizeof InstallFolder, Folder.c_str());
        log = "C:\\services-test\\runs.log";
        SetEnvironmentVariableA("SETUP_RECORD_LOG", log.c_str());
        SetEnvironmentVariableA("SETUP_RECORD_EXIT", "0");
    }
    void TearDown() override
    {
        SetCurrentDirectoryA("C:\\");
        RemoveTree("C:\\services-test");
    }
    void Plant(const char* name)
    {
        ASSERT_TRUE(CopyFileA(HelperPath("recorder.exe").c_str(), (Folder + "\\" + name).c_str(), FALSE)) << name;
    }
    std::string log;
};

} // namespace

TEST(UninstallEntry, WritesBothValuesWithTheirZeroBytesAndOverwritesInTheProductsView)
{
    ProductConfig = ShippedConfig();
    std::string key = std::string(UninstallKey) + "Pelmora";
    for (bool sixtyFourBit : {false, true}) {
        ProductDetails.sixtyFourBit = sixtyFourBit;
        for (const char* folder : {"C:\\Program Files\\Pelmora", "D:\\Other"}) {
            FormatText(UninstallerPath, sizeof UninstallerPath, "%s\\pmuninst.exe", folder);
            EXPECT_TRUE(RegisterUninstallEntry());
            std::string data;
            DWORD length = 0;
            ASSERT_TRUE(ReadValue(key, "DisplayName", data, length, View(sixtyFourBit)));
            EXPECT_EQ(length, 8u) << "7 characters and the zero byte";
            EXPECT_EQ(data, std::string("Pelmora", 8));
            ASSERT_TRUE(ReadValue(key, "UninstallString", data, length, View(sixtyFourBit)));
            std::string quoted = std::string("\"") + folder + "\\pmuninst.exe\"";
            EXPECT_EQ(data, quoted + '\0');
            EXPECT_EQ(length, quoted.size() + 1);
        }
        // On 64-bit Windows, a 64-bit product's entry is not where 32-bit programs' are.
        SYSTEM_INFO native;
        GetNativeSystemInfo(&native);
        std::string other;
        DWORD otherLength = 0;
        if (sixtyFourBit && native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64)
            EXPECT_FALSE(ReadValue(key, "DisplayName", other, otherLength, KEY_WOW64_32KEY));
        RegDeleteKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), View(sixtyFourBit), 0);
    }
    ProductDetails.sixtyFourBit = 0;
}

TEST(UninstallEntry, DetailsNameTheFirstIconAndAnUpdateWithoutPublisherOrVersionDeletesThem)
{
    ProductConfig = ShippedConfig();
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, (std::string(UninstallKey) + "Pelmora").c_str(), View(false), 0);
    // A comma in the folder, which only the icon index after the last one keeps from being read as an index.
    const char folder[] = "C:\\Apps, Tools\\Pelmora";
    CopyText(InstallFolder, sizeof InstallFolder, folder);
    FormatText(ApplicationPath, sizeof ApplicationPath, "%s\\pelmora.exe", folder);
    FormatText(UninstallerPath, sizeof UninstallerPath, "%s\\pmuninst.exe", folder);
    const Lines common = {"DisplayIcon = C:\\Apps, Tools\\Pelmora\\pelmora.exe,0 (37 bytes)",
        "DisplayName = Pelmora (8 bytes)", "EstimatedSize = 347 (dword)",
        "InstallLocation = C:\\Apps, Tools\\Pelmora (23 bytes)", "NoModify = 1 (dword)", "NoRepair = 1 (dword)",
        "QuietUninstallString = \"C:\\Apps, Tools\\Pelmora\\pmuninst.exe\" /S (41 bytes)",
        "UninstallString = \"C:\\Apps, Tools\\Pelmora\\pmuninst.exe\" (38 bytes)"};
    const std::string publisher = "Publisher = Pelmora Works (14 bytes)";
    const std::string version = "DisplayVersion = 2.0 (4 bytes)";
    // In order, each registration over the one before, as updates write it.
    const struct {
        const char* publisher;
        const char* version;
        bool hasPublisher;
        bool hasVersion;
    } cases[] = {
        {"Pelmora Works", "2.0", true, true},
        {"", "", false, false},
        {"", "", false, false},
        {"Pelmora Works", "", true, false},
        {"", "2.0", false, true},
    };
    int row = 0;
    for (const auto& c : cases) {
        ProductDetails = {c.publisher, c.version, 347, 0};
        RegisterUninstallEntry();
        Lines expected = common;
        if (c.hasVersion)
            expected.push_back(version);
        if (c.hasPublisher)
            expected.push_back(publisher);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(UninstallEntry("Pelmora"), expected) << "row " << row++;
    }
    ProductDetails = {"", "", 0, 0};
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, (std::string(UninstallKey) + "Pelmora").c_str(), View(false), 0);
}

TEST(UninstallEntry, TheOtherViewsEntryOfThisInstallationGoesAnotherOnesStays)
{
    // An earlier version built for the other architecture registered in the other view: the same folder,
    // however spelt, or without a folder the same uninstaller, is this installation.
    SYSTEM_INFO native;
    GetNativeSystemInfo(&native);
    if (native.wProcessorArchitecture != PROCESSOR_ARCHITECTURE_AMD64)
        GTEST_SKIP() << "32-bit Windows has one registry view";
    ProductConfig = ShippedConfig();
    CopyText(InstallFolder, sizeof InstallFolder, "C:\\Program Files\\Pelmora");
    FormatText(ApplicationPath, sizeof ApplicationPath, "%s\\pelmora.exe", InstallFolder);
    FormatText(UninstallerPath, sizeof UninstallerPath, "%s\\pmuninst.exe", InstallFolder);
    const std::string key = std::string(UninstallKey) + "Pelmora";
    const struct {
        bool sixtyFourBit;
        const char* name;
        const char* value;
        bool stays;
    } cases[] = {
        {true, "InstallLocation", "c:\\PROGRAM FILES\\pelmora\\", false},
        {true, "InstallLocation", "C:\\Program Files (x86)\\Pelmora", true},
        {false, "UninstallString", "\"C:\\Program Files\\Pelmora\\pmuninst.exe\"", false},
        {false, "UninstallString", "\"C:\\Program Files (x86)\\Pelmora\\pmuninst.exe\"", true},
    };
    for (const auto& c : cases) {
        ProductDetails = {"", "", 0, c.sixtyFourBit ? 1 : 0};
        // The product's view is the 64-bit one for a 64-bit product or program, else the 32-bit one.
        bool own64 = c.sixtyFourBit || sizeof(void*) == 8;
        REGSAM own = own64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
        REGSAM other = own64 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
        HKEY earlier;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | other, nullptr,
                      &earlier, nullptr),
            ERROR_SUCCESS);
        RegSetValueExA(earlier, c.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(c.value), DWORD(strlen(c.value) + 1));
        RegCloseKey(earlier);
        RegisterUninstallEntry();
        std::string data;
        DWORD length = 0;
        EXPECT_EQ(ReadValue(key, c.name, data, length, other), c.stays) << c.value;
        EXPECT_TRUE(ReadValue(key, "DisplayName", data, length, own)) << "this version's entry";
        RegDeleteKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), KEY_WOW64_32KEY, 0);
        RegDeleteKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), KEY_WOW64_64KEY, 0);
    }
    ProductDetails = {"", "", 0, 0};
}

// The child's configuration has no publisher or version: deleting the values it
// never had is no failure and draws no line.
TEST(UninstallEntry, KeyThatCannotBeMadeIsReportedOnTheDebugOutputOnly)
{
    std::string child = HelperPath("register_child.exe");
    EXPECT_EQ(DebugOutputOf("\"" + child + "\" 7"), Lines{});
    // A key name longer than the registry allows, and a path longer than its buffer.
    for (const char* length : {"300", "1010"})
        EXPECT_EQ(DebugOutputOf("\"" + child + "\" " + length), Lines{"Couldn't open the registry key.\r\n"})
            << length;
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, (std::string(UninstallKey) + "xxxxxxx").c_str(), View(false), 0);
}

TEST_F(ServicesTest, AgentAndServiceAreRunWithTheirSwitchesInTheInstallationFolderAndTellHowItWent)
{
    ProductConfig.serviceExecutable = "svc.exe";
    const struct {
        bool (*run)();
        const char* program;
        const char* switches;
    } cases[] = {{InstallAgentService, "pmagent.exe", "-install -sid=0"}, {RemoveAgentService, "pmagent.exe", "-remove"},
        {RemoveNtService, "svc.exe", "-remove-service"}};
    for (const auto& c : cases) {
        const std::string path = Folder + "\\" + c.program;
        DeleteFileA(path.c_str());
        DeleteFileA(log.c_str());
        EXPECT_FALSE(c.run()) << "no program there: nothing starts, nothing is shown";
        EXPECT_TRUE(ReadLines(log).empty()) << c.switches;
        Plant(c.program);
        // A program that fails draws no message either: nothing here would answer one.
        for (const char* exitCode : {"3", "0"}) {
            SetEnvironmentVariableA("SETUP_RECORD_EXIT", exitCode);
            EXPECT_EQ(c.run(), exitCode[0] == '0') << c.switches << " ending with " << exitCode;
        }
        const std::string ran = std::string(c.program) + "|\"" + path + "\" " + c.switches + "|" + Folder + "|0";
        EXPECT_EQ(ReadLines(log), (Lines{ran, ran}));
    }
}

TEST_F(ServicesTest, NtServiceIsRemovedThenAfterAPauseInstalled)
{
    Plant("svc.exe");
    ProductConfig.serviceExecutable = "svc";
    const std::string notice =
        "Installing Service | There will be a pause of about six seconds while any older versions of this "
        "application's NT service are shut down and the new version is started up. This pause will begin when "
        "you click OK. | [OK] -> OK";
    const std::string failed = "Service Installation Failed | The installation of the service did not succeed. The "
                               "software can still be run manually. | [OK] -> OK";
    const struct {
        const char* exitCode;
        bool warns;
    } cases[] = {{"0", false}, {"3", true}};
    for (const auto& c : cases) {
        DeleteFileA(log.c_str());
        SetEnvironmentVariableA("SETUP_RECORD_EXIT", c.exitCode);
        Transcript transcript;
        std::vector<Action> answers = {Press(IDOK)};
        if (c.warns)
            answers.push_back(Press(IDOK));
        Responder responder(transcript, answers, GetCurrentThreadId(), 0, {}, 15000);
        DWORD start = GetTickCount();
        EXPECT_EQ(ReplaceNtService(nullptr), !c.warns) << c.exitCode;
        DWORD elapsed = GetTickCount() - start;
        responder.Stop();
        Lines expected = {notice};
        if (c.warns)
            expected.push_back(failed);
        EXPECT_EQ(transcript.Lines(), expected) << c.exitCode;
        EXPECT_EQ(ReadLines(log),
            (Lines{"svc.exe|\"C:\\services-test\\Pelmora\\svc\" -remove-service|C:\\services-test\\Pelmora|0",
                "svc.exe|\"C:\\services-test\\Pelmora\\svc\" -install-service|C:\\services-test\\Pelmora|0"}));
        EXPECT_GE(elapsed, 6000u) << "the pause lies between the two runs";
    }
}

TEST_F(ServicesTest, MissingServiceProgramDrawsTheWarning)
{
    ProductConfig.serviceExecutable = "absent.exe";
    Transcript transcript;
    Responder responder(transcript, {Press(IDOK), Press(IDOK)}, GetCurrentThreadId(), 0, {}, 15000);
    EXPECT_FALSE(ReplaceNtService(nullptr));
    responder.Stop();
    ASSERT_EQ(transcript.Lines().size(), 2u);
    EXPECT_EQ(transcript.Lines()[1].substr(0, 30), "Service Installation Failed | ");
}

TEST_F(ServicesTest, ProgramIsFoundWithTheFirstSuffixThatExists)
{
    const struct {
        std::vector<const char*> files;
        const char* program;
        const char* found; // nullptr: not found
    } cases[] = {
        {{"svc.exe", "svc.com"}, "svc", "svc.com"},
        {{"svc.bat", "svc.exe"}, "svc", "svc.exe"},
        {{"svc.cmd", "svc.bat"}, "svc", "svc.bat"},
        {{"svc.cmd"}, "svc", "svc.cmd"},
        {{"svc.exe"}, "svc.dat", nullptr},
        {{"svc.dat"}, "svc.dat", "svc.dat"},
        {{}, "svc", nullptr},
    };
    for (const auto& c : cases) {
        RemoveTree(Folder);
        CreateDirectoryA(Folder.c_str(), nullptr);
        SetCurrentDirectoryA(Folder.c_str());
        for (const char* file : c.files)
            Plant(file);
        char found[MAX_PATH];
        bool exists = FindProgramFile((Folder + "\\" + c.program).c_str(), found, sizeof found);
        EXPECT_EQ(exists, c.found != nullptr) << c.program;
        if (c.found)
            EXPECT_EQ(std::string(found), Folder + "\\" + c.found);
        // A bare name is looked for in the current folder.
        exists = FindProgramFile(c.program, found, sizeof found);
        EXPECT_EQ(exists, c.found != nullptr) << c.program;
        if (c.found)
            EXPECT_EQ(std::string(found), std::string(".\\") + c.found);
    }
}

TEST_F(ServicesTest, SpawnRunsTheArgumentsAsGivenAndReturnsTheExitCode)
{
    Plant("tool.exe");
    SetEnvironmentVariableA("SETUP_RECORD_EXIT", "42");
    const char* arguments[] = {"\"anything\"", "a b", "-c"};
    EXPECT_EQ(SpawnAndWait("tool", arguments, 3), 42);
    EXPECT_EQ(SpawnAndWait("missing", arguments, 3), -1);
    EXPECT_EQ(ReadLines(log), Lines{"tool.exe|\"anything\" a b -c|C:\\services-test\\Pelmora|0"});
}
