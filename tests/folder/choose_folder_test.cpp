// Folder resolution with the real dialog, the real profile file and real
// folders under Wine, answered by the responder as a user would.
#include "automation.h"
#include "derived.h"
#include "folder.h"
#include "globals.h"
#include "resource.h"
#include "test_config.h"
#include "text.h"
#include "test_files.h"
#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>
#include <string>

using namespace automation;
using Lines = std::vector<std::string>;

namespace {

const std::string Root = "C:\\folder-tests";

Lines Join(const Lines& a, const Lines& b)
{
    Lines all = a;
    all.insert(all.end(), b.begin(), b.end());
    return all;
}

// What the run derives from a folder: the longest payload path is the tightest.
bool UninstallerPathFits(const char* folder)
{
    char path[MAX_PATH];
    return FormatText(path, sizeof path, "%s\\pmuninst.exe", folder);
}

std::string Dialog(const std::string& parent, const std::string& name)
{
    return "Choose a Folder | This application requires a folder in which to store its data files. The location "
           "below is recommended and should work fine for most users. | Parent Folder | Application Folder | This "
           "must be an existing folder. A new folder for this application will be created within this folder, with "
           "the name you specify below under \"Application Folder.\" | {"
        + parent + "} {" + name + "} | [OK,Cancel,Browse...]";
}

const std::string ShuttingDown =
    "Shutting Down | This program cannot operate without a data folder to store its files in. The program will exit "
    "now. Please determine an appropriate folder name and start the program again later. | [OK] -> OK";
const std::string CannotCreate =
    "Can't Create Directory | That folder does not exist, and the application was not able to create it. Most "
    "likely the parent folder does not exist or you have entered a path the program does not have write access "
    "to. | [OK] -> OK";
const std::string Existing = "Write Data to Existing Folder? | That folder already exists. The application can use "
                             "it, but we do not recommend using a folder that is already being used for other "
                             "purposes. Are you sure you want to use this directory? | [Yes,No]";
const std::string NotAFolder = "Please Enter a Folder Name | That path specifies a file, and not a new or existing "
                               "folder name. Please enter a folder name, such as Pelmora for example. | [OK] -> OK";
const std::string WindowsFolder =
    "Can't Install to Windows Directory | That directory is the Windows directory. It is not safe to install "
    "applications in the Windows directory because it contains other important system files. Please choose "
    "another location. | [OK] -> OK";
const std::string TooLong = "Folder Name Too Long | That location is too long for the files of this application. "
                            "Please choose a folder with a shorter path. | [OK] -> OK";

Action Fields(const std::string& parent, const std::string& name, int press)
{
    Action action = Press(press);
    action.fields = {{IDC_CHOOSE_FOLDER_PARENT, parent}, {IDC_CHOOSE_FOLDER_NAME, name}};
    return action;
}

std::string StoredFolder()
{
    char value[PathBufferSize];
    GetPrivateProfileStringA("Options", "dataDir", "(none)", value, sizeof value, "pelmora.ini");
    return value;
}

void Store(const char* value)
{
    WritePrivateProfileStringA("Options", "dataDir", value, "pelmora.ini");
}

std::string CurrentFolder()
{
    char folder[MAX_PATH];
    GetCurrentDirectoryA(sizeof folder, folder);
    return folder;
}


// Spies in front of the folder browser and of COM's set-up, for the order of
// their calls: Wine makes every thread with windows apartment-threaded by
// itself, so the thread's state alone cannot show what the dialog did.
// Import slots carry the target's decorated names: "_" and the stack bytes of
// a 32-bit __stdcall function, and no decoration on 64-bit Windows.
#ifdef _WIN64
#define IMPORT_SLOT(name, bytes) "__imp_" #name
#else
#define IMPORT_SLOT(name, bytes) "__imp__" #name "@" #bytes
#endif
extern "C" void* BrowserImport asm(IMPORT_SLOT(SHBrowseForFolderA, 4));
extern "C" void* ComInitializeImport asm(IMPORT_SLOT(CoInitializeEx, 8));
extern "C" void* ComUninitializeImport asm(IMPORT_SLOT(CoUninitialize, 0));
typedef PIDLIST_ABSOLUTE(WINAPI* BrowserFunction)(LPBROWSEINFOA);
typedef HRESULT(WINAPI* ComInitializeFunction)(void*, DWORD);
typedef void(WINAPI* ComUninitializeFunction)();
BrowserFunction RealBrowser;
ComInitializeFunction RealComInitialize;
ComUninitializeFunction RealComUninitialize;
Lines SpiedCalls;

PIDLIST_ABSOLUTE WINAPI SpyBrowser(LPBROWSEINFOA info)
{
    SpiedCalls.push_back("SHBrowseForFolderA");
    return RealBrowser(info);
}

HRESULT WINAPI SpyComInitialize(void* reserved, DWORD model)
{
    SpiedCalls.push_back(model == COINIT_APARTMENTTHREADED ? "CoInitializeEx(apartment-threaded)"
                                                           : "CoInitializeEx(" + std::to_string(model) + ")");
    return RealComInitialize(reserved, model);
}

void WINAPI SpyComUninitialize()
{
    SpiedCalls.push_back("CoUninitialize");
    RealComUninitialize();
}

template <typename Function> void Replace(void*& import, Function& real, Function spy)
{
    DWORD protection;
    VirtualProtect(&import, sizeof import, PAGE_READWRITE, &protection);
    real = reinterpret_cast<Function>(import);
    import = reinterpret_cast<void*>(spy);
    VirtualProtect(&import, sizeof import, protection, &protection);
}

void PutSpiesInFrontOfTheBrowser()
{
    if (RealBrowser)
        return;
    Replace(BrowserImport, RealBrowser, SpyBrowser);
    Replace(ComInitializeImport, RealComInitialize, SpyComInitialize);
    Replace(ComUninitializeImport, RealComUninitialize, SpyComUninitialize);
}

bool IsFolder(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

class ChooseFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ProductConfig = ShippedConfig();
        RegisterFolderCheck(UninstallerPathFits);
        SetCurrentDirectoryA("C:\\");
        RemoveTree(Root);
        RemoveTree("C:\\Program Files\\Pelmora");
        CreateDirectoryA(Root.c_str(), nullptr);
        WritePrivateProfileStringA("Options", nullptr, nullptr, "pelmora.ini");
        RequestInstallFolder("");
        SetEnvironmentVariableA("HOMEDRIVE", "C:");
        SetEnvironmentVariableA("HOMEPATH", "\\users\\ann");
    }
    void TearDown() override
    {
        SetCurrentDirectoryA("C:\\");
        RemoveTree(Root);
        RemoveTree("C:\\Program Files\\Pelmora");
    }

    // Runs the resolution with the answers; returns its result.
    int Resolve(std::vector<Action> answers, int firstPass = 1, HINSTANCE instance = GetModuleHandleA(nullptr))
    {
        transcript.Clear();
        Responder responder(transcript, std::move(answers), GetCurrentThreadId(), 0, {}, 5000);
        int result = ResolveInstallFolder(instance, nullptr, firstPass);
        responder.Stop();
        return result;
    }
    Transcript transcript;
};

} // namespace

// Where the system keeps 32-bit programs: "Program Files (x86)" on 64-bit
// Windows, "Program Files" on 32-bit.
std::string ProgramsFolder()
{
    return IsFolder("C:\\Program Files (x86)") ? "C:\\Program Files (x86)" : "C:\\Program Files";
}

TEST_F(ChooseFolderTest, ProposesTheProgramsFolderAndCancelling)
{
    const struct {
        Action::Kind kind;
        const char* name;
    } ways[] = {{Action::Button, "Cancel"}, {Action::Escape, "Escape"}, {Action::CloseBox, "close box"}};
    for (const auto& way : ways) {
        Action cancel = Press(IDCANCEL);
        cancel.kind = way.kind;
        EXPECT_EQ(Resolve({cancel, Press(IDOK)}), 0);
        EXPECT_EQ(transcript.Lines(), (Lines{Dialog(ProgramsFolder(), "Pelmora") + " -> " + way.name, ShuttingDown}));
        EXPECT_EQ(StoredFolder(), "(none)") << "a cancel writes no profile";
    }
    EXPECT_FALSE(IsFolder(ProgramsFolder() + "\\Pelmora")) << "made only when the user accepts it";
}

TEST_F(ChooseFolderTest, WithoutAProgramsFolderTheHomeFolderIsProposed)
{
    // The system names no programs folder when its settings are empty.
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0,
                  KEY_QUERY_VALUE | KEY_SET_VALUE, &key),
        ERROR_SUCCESS);
    const char* const values[] = {"ProgramFilesDir", "ProgramFilesDir (x86)"};
    std::string saved[2];
    bool present[2];
    for (int i = 0; i < 2; ++i) {
        char value[MAX_PATH] = {};
        DWORD size = sizeof value - 1;
        present[i] = RegQueryValueExA(key, values[i], nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size)
            == ERROR_SUCCESS;
        saved[i] = value;
        RegSetValueExA(key, values[i], 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
    }
    EXPECT_EQ(Resolve({Press(IDCANCEL), Press(IDOK)}), 0);
    for (int i = 0; i < 2; ++i) {
        if (present[i])
            RegSetValueExA(key, values[i], 0, REG_SZ, reinterpret_cast<const BYTE*>(saved[i].c_str()),
                DWORD(saved[i].size() + 1));
        else
            RegDeleteValueA(key, values[i]);
    }
    RegCloseKey(key);
    EXPECT_EQ(transcript.Lines(), (Lines{Dialog("C:\\users\\ann", "Pelmora") + " -> Cancel", ShuttingDown}));
}

TEST_F(ChooseFolderTest, ExistingProgramFilesFolderIsProposedAndEntered)
{
    ASSERT_TRUE(CreateDirectoryA("C:\\Program Files\\Pelmora", nullptr));
    EXPECT_EQ(Resolve({Press(IDCANCEL), Press(IDOK)}), 0);
    EXPECT_EQ(transcript.Lines(), (Lines{Dialog("C:\\Program Files", "Pelmora") + " -> Cancel", ShuttingDown}));
    EXPECT_EQ(CurrentFolder(), "C:\\Program Files\\Pelmora");
}

TEST_F(ChooseFolderTest, StoredValueReplacesEveryDefault)
{
    ASSERT_TRUE(CreateDirectoryA("C:\\Program Files\\Pelmora", nullptr));
    const struct {
        const char* stored;
        const char* parent;
        const char* name;
    } cases[] = {{"D:\\Stored\\Pelmora", "D:\\Stored", "Pelmora"}, {"", "", ""}, {"C:/Data//x", "C:\\Data", "x"},
        {"\\\\server\\share", "\\\\server", "share"}, {"Pelmora", "Pelmora", ""}};
    for (const auto& c : cases) {
        Store(c.stored);
        EXPECT_EQ(Resolve({Press(IDCANCEL), Press(IDOK)}), 0);
        EXPECT_EQ(transcript.Lines(), (Lines{Dialog(c.parent, c.name) + " -> Cancel", ShuttingDown})) << c.stored;
        EXPECT_EQ(StoredFolder(), c.stored);
    }
}

TEST_F(ChooseFolderTest, MissingFolderIsCreatedEnteredAndProposedAgain)
{
    std::string folder = Root + "\\Pelmora";
    EXPECT_EQ(Resolve({Fields(Root, "Pelmora", IDOK)}), 1);
    EXPECT_EQ(transcript.Lines(), (Lines{Dialog(Root, "Pelmora") + " -> OK"}));
    EXPECT_TRUE(IsFolder(folder));
    EXPECT_EQ(CurrentFolder(), folder);
    EXPECT_STREQ(InstallFolder, folder.c_str());
    EXPECT_EQ(StoredFolder(), "(none)") << "remembered only once the installation succeeded";

    // The sequence asks again after too little space, proposing the accepted folder.
    RequestInstallFolder(InstallFolder);
    EXPECT_EQ(Resolve({Press(IDCANCEL), Press(IDOK)}), 0);
    EXPECT_EQ(transcript.Lines(), (Lines{Dialog(Root, "Pelmora") + " -> Cancel", ShuttingDown}));
    RememberInstallFolder();
    EXPECT_EQ(StoredFolder(), folder);
}

TEST_F(ChooseFolderTest, MissingParentCannotBeCreated)
{
    EXPECT_EQ(Resolve({Fields(Root + "\\missing", "Pelmora", IDOK), Press(IDOK), Press(IDCANCEL), Press(IDOK)}), 0);
    EXPECT_EQ(transcript.Lines(),
        (Lines{Dialog(Root + "\\missing", "Pelmora") + " -> OK", CannotCreate,
            Dialog(Root + "\\missing", "Pelmora") + " -> Cancel", ShuttingDown}));
    EXPECT_FALSE(IsFolder(Root + "\\missing"));
}

TEST_F(ChooseFolderTest, ExistingFolderEndingInTheFolderNameIsTakenWithoutAQuestion)
{
    for (const char* name : {"PELMORA", "OldPelmora", "pelmora"}) {
        CreateDirectoryA((Root + "\\" + name).c_str(), nullptr);
        EXPECT_EQ(Resolve({Fields(Root, name, IDOK)}), 1) << name;
        EXPECT_EQ(transcript.Lines(), (Lines{Dialog(Root, name) + " -> OK"}));
    }
}

TEST_F(ChooseFolderTest, OtherExistingFolderNeedsAYes)
{
    CreateDirectoryA((Root + "\\Other").c_str(), nullptr);
    EXPECT_EQ(Resolve({Fields(Root, "Other", IDOK), Press(IDNO), Press(IDOK), Press(IDYES)}), 1);
    EXPECT_EQ(transcript.Lines(), (Lines{Dialog(Root, "Other") + " -> OK", Existing + " -> No",
                                      Dialog(Root, "Other") + " -> OK", Existing + " -> Yes"}));
    RememberInstallFolder();
    EXPECT_EQ(StoredFolder(), Root + "\\Other");
}

TEST_F(ChooseFolderTest, AFileIsNoFolder)
{
    HANDLE file = CreateFileA((Root + "\\data.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(file);
    EXPECT_EQ(Resolve({Fields(Root, "data.txt", IDOK), Press(IDOK), Press(IDCANCEL), Press(IDOK)}), 0);
    EXPECT_EQ(transcript.Lines(), (Lines{Dialog(Root, "data.txt") + " -> OK", NotAFolder,
                                      Dialog(Root, "data.txt") + " -> Cancel", ShuttingDown}));
}

TEST_F(ChooseFolderTest, EmptyApplicationFolderEndsInABackslash)
{
    // The parent exists: a path ending in a backslash reports nothing there, and making it fails.
    EXPECT_EQ(Resolve({Fields(Root, "", IDOK), Press(IDOK), Press(IDCANCEL), Press(IDOK)}), 0);
    EXPECT_EQ(transcript.Lines()[1], CannotCreate);

    // The parent is missing but its own parent exists: it is made, and kept with its backslash.
    EXPECT_EQ(Resolve({Fields(Root + "\\fresh", "", IDOK)}), 1);
    EXPECT_TRUE(IsFolder(Root + "\\fresh"));
    RememberInstallFolder();
    EXPECT_EQ(StoredFolder(), Root + "\\fresh\\");

    // A drive's root exists: the question comes.
    EXPECT_EQ(Resolve({Fields("C:", "", IDOK), Press(IDYES)}), 1);
    EXPECT_EQ(transcript.Lines(), (Lines{Dialog("C:", "") + " -> OK", Existing + " -> Yes"}));
    EXPECT_STREQ(InstallFolder, "C:\\");
}

TEST_F(ChooseFolderTest, WindowsFolderIsRefusedBeforeAndAfterTheDialog)
{
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    ASSERT_STREQ(windows, "C:\\windows");
    Store(windows);
    EXPECT_EQ(Resolve({Press(IDOK), Press(IDOK), Press(IDYES), Press(IDOK), Press(IDCANCEL), Press(IDOK)}), 0);
    EXPECT_EQ(transcript.Lines(), (Lines{WindowsFolder, Dialog("C:", "windows") + " -> OK", Existing + " -> Yes",
                                      WindowsFolder, Dialog("C:", "windows") + " -> Cancel", ShuttingDown}));

    // Compared as the file system compares names: another letter case, a trailing backslash or the
    // short name is the Windows directory all the same; a folder below it is not.
    char shortName[MAX_PATH];
    ASSERT_GT(GetShortPathNameA("C:\\windows", shortName, sizeof shortName), 0u);
    for (std::string stored : {std::string("C:\\WINDOWS"), std::string("C:\\windows\\"), std::string(shortName),
             std::string("C:\\windows\\system32")}) {
        Store(stored.c_str());
        bool refused = stored != "C:\\windows\\system32";
        std::vector<Action> answers = {Press(IDCANCEL), Press(IDOK)};
        if (refused)
            answers.insert(answers.begin(), Press(IDOK));
        EXPECT_EQ(Resolve(answers), 0);
        ASSERT_EQ(transcript.Lines().size(), refused ? 3u : 2u) << stored;
        EXPECT_EQ(transcript.Lines()[0], refused ? WindowsFolder : Dialog("C:\\windows", "system32") + " -> Cancel")
            << stored;
        EXPECT_EQ(transcript.Lines().back(), ShuttingDown) << stored;
    }
}

TEST_F(ChooseFolderTest, FolderTooLongForTheFilesIsRefusedBeforeAnythingIsMade)
{
    std::string parent = Root + "\\" + std::string(200, 'p');
    ASSERT_TRUE(CreateDirectoryA(parent.c_str(), nullptr));
    std::string longest = std::string(259 - parent.size() - 1 - 13, 'n'); // parent\name\pmuninst.exe: 259
    EXPECT_EQ(Resolve({Fields(parent, longest + "x", IDOK), Press(IDOK), Fields(parent, longest, IDOK)}), 1);
    EXPECT_EQ(transcript.Lines(), (Lines{Dialog(parent, longest + "x") + " -> OK", TooLong,
                                      Dialog(parent, longest) + " -> OK"}));
    EXPECT_FALSE(IsFolder(parent + "\\" + longest + "x"));
    EXPECT_TRUE(IsFolder(parent + "\\" + longest));
}

TEST_F(ChooseFolderTest, FieldsContributeAtMost259Characters)
{
    EXPECT_EQ(Resolve({Fields("C:", std::string(300, 'a'), IDOK), Press(IDOK), Press(IDCANCEL), Press(IDOK)}), 0);
    EXPECT_EQ(transcript.Lines()[1], TooLong);
    EXPECT_EQ(std::string(InstallFolder), "C:\\" + std::string(259, 'a'));
}

TEST_F(ChooseFolderTest, WithoutFirstPassAnEnterableProposalNeedsNoDialog)
{
    CreateDirectoryA((Root + "\\Pelmora").c_str(), nullptr);
    Store((Root + "\\Pelmora").c_str());
    EXPECT_EQ(Resolve({}, 0), 1);
    EXPECT_TRUE(transcript.Lines().empty());
    EXPECT_EQ(CurrentFolder(), Root + "\\Pelmora");

    // A proposal that cannot be entered opens the dialog without a message, and is not made before OK.
    Store((Root + "\\Later").c_str());
    EXPECT_EQ(Resolve({Press(IDOK)}, 0), 1);
    EXPECT_EQ(transcript.Lines(), (Lines{Dialog(Root, "Later") + " -> OK"}));
}

TEST_F(ChooseFolderTest, DialogThatCannotBeCreatedEndsLikeACancel)
{
    EXPECT_EQ(Resolve({Press(IDOK)}, 1, GetModuleHandleA("kernel32.dll")), 0);
    EXPECT_EQ(transcript.Lines(), (Lines{ShuttingDown}));
}

TEST_F(ChooseFolderTest, BrowsingReplacesOnlyTheParentFolder)
{
    Store((Root + "\\Pelmora").c_str());
    PutSpiesInFrontOfTheBrowser();
    SpiedCalls.clear();
    Action browse = Press(IDC_CHOOSE_FOLDER_BROWSE);
    std::vector<Action> answers = {browse, Press(IDCANCEL), browse, Press(IDOK), Press(IDCANCEL), Press(IDOK)};
    EXPECT_EQ(Resolve(answers), 0);
    const Lines calls = {"CoInitializeEx(apartment-threaded)", "SHBrowseForFolderA", "CoUninitialize"};
    EXPECT_EQ(SpiedCalls, Join(calls, calls)) << "COM is set up for each browse and taken down after it";
    Lines lines = transcript.Lines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], Dialog(Root, "Pelmora") + " -> button 1098");
    EXPECT_EQ(lines[1].substr(0, lines[1].find(" |")), "Browse for Folder");
    EXPECT_EQ(lines[2], Dialog(Root, "Pelmora") + " -> button 1098") << "a cancelled browser changes nothing";
    char desktop[MAX_PATH];
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, desktop, CSIDL_DESKTOPDIRECTORY, FALSE));
    EXPECT_EQ(lines[4], Dialog(desktop, "Pelmora") + " -> Cancel");
}

TEST_F(ChooseFolderTest, AcceptedFolderThatCannotBeEnteredIsOfferedAgain)
{
    // A share's root counts as an existing folder; after Yes it can be neither entered nor made.
    const std::string noAccess = "Couldn't Access Directory | That directory does not exist and could not be "
                                 "created. Please enter a valid location for a directory on your system. | [OK] -> OK";
    EXPECT_EQ(Resolve({Fields("\\\\nosuchserver\\share", "", IDOK), Press(IDYES), Press(IDOK), Press(IDCANCEL),
                  Press(IDOK)}),
        0);
    EXPECT_EQ(transcript.Lines(),
        (Lines{Dialog("\\\\nosuchserver\\share", "") + " -> OK", Existing + " -> Yes", noAccess,
            Dialog("\\\\nosuchserver\\share", "") + " -> Cancel", ShuttingDown}));
}

TEST_F(ChooseFolderTest, NetworkFolderKeepsItsLeadingPairFromTheFieldToTheProfile)
{
    const std::string share = "\\\\testserver\\share";
    if (!IsFolder(share))
        GTEST_SKIP() << "no test share \\\\testserver\\share (tools/test maps one)";
    const std::string folder = share + "\\Pelmora";
    RemoveTree(folder);
    EXPECT_EQ(Resolve({Fields("//testserver/share", "Pelmora", IDOK)}), 1);
    EXPECT_EQ(transcript.Lines(), (Lines{Dialog("//testserver/share", "Pelmora") + " -> OK"}));
    EXPECT_STREQ(InstallFolder, folder.c_str());
    EXPECT_EQ(CurrentFolder(), folder);
    RememberInstallFolder();
    EXPECT_EQ(StoredFolder(), folder);
    SetCurrentDirectoryA("C:\\");
    RemoveTree(folder);
}

TEST_F(ChooseFolderTest, RelativeFolderShortAsTypedButTooLongInFullIsRefused)
{
    // In a current folder of 246 characters, ".\X" is short; in full it leaves the files no room.
    std::string deep = Root;
    while (deep.size() < 200) {
        deep += "\\" + std::string(40, 'd');
        ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
    }
    deep += "\\" + std::string(246 - deep.size() - 1, 'e');
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
    ASSERT_TRUE(SetCurrentDirectoryA(deep.c_str()));
    EXPECT_EQ(Resolve({Fields(".", "X", IDOK), Press(IDOK), Press(IDCANCEL), Press(IDOK)}), 0);
    EXPECT_EQ(transcript.Lines(),
        (Lines{Dialog(".", "X") + " -> OK", TooLong, Dialog(".", "X") + " -> Cancel", ShuttingDown}));
    EXPECT_FALSE(IsFolder(deep + "\\X"));
    SetCurrentDirectoryA("C:\\");
}

TEST_F(ChooseFolderTest, RelativeFolderIsMadeFullBeforeItIsCreatedEnteredAndRemembered)
{
    const std::string tools = Root + "\\tools";
    ASSERT_TRUE(CreateDirectoryA(tools.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((tools + "\\sub").c_str(), nullptr));
    const struct {
        const char* parent;
        const char* name;
        std::string folder;
    } cases[] = {{".", "A", tools + "\\A"}, {"..", "B", Root + "\\B"}, {"sub", "C", tools + "\\sub\\C"},
        {"", "folder-tests-D", "C:\\folder-tests-D"}};
    for (const auto& c : cases) {
        ASSERT_TRUE(SetCurrentDirectoryA(tools.c_str()));
        EXPECT_EQ(Resolve({Fields(c.parent, c.name, IDOK)}), 1) << c.parent;
        EXPECT_STREQ(InstallFolder, c.folder.c_str()) << c.parent;
        EXPECT_EQ(CurrentFolder(), c.folder) << c.parent;
        RememberInstallFolder();
        EXPECT_EQ(StoredFolder(), c.folder) << c.parent;
    }
    SetCurrentDirectoryA("C:\\");
    RemoveDirectoryA("C:\\folder-tests-D");
}
