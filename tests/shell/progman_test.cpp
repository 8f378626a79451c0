// The Program Manager client against a recording DDE server of the test's own,
// on a service name only this test serves.
#include "commands.h"
#include "globals.h"
#include "installed_state.h"
#include "shell.h"
#include "test_config.h"
#include "test_files.h"
#include "text.h"
#include <dde.h>
#include <ddeml.h>
#include <shlobj.h>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

const char ProgmanServiceName[] = "PMRECORD";

namespace {

struct Received {
    std::string command; // in UTF-8
    size_t units;        // its UTF-16 code units
    DWORD length;        // the bytes sent
};

std::string Utf8(const WCHAR* wide, int units)
{
    std::string text(size_t(units) * 3, '\0');
    text.resize(size_t(WideCharToMultiByte(CP_UTF8, 0, wide, units, &text[0], int(text.size()), nullptr, nullptr)));
    return text;
}

std::mutex ReceivedLock;
std::vector<Received> ReceivedCommands;
DWORD ServerInstance;

HDDEDATA CALLBACK RecordingServer(UINT type, UINT, HCONV, HSZ topic, HSZ, HDDEDATA data, ULONG_PTR, ULONG_PTR)
{
    if (type == XTYP_CONNECT) {
        WCHAR name[64] = {};
        DdeQueryStringW(ServerInstance, topic, name, 64, CP_WINUNICODE);
        return reinterpret_cast<HDDEDATA>(Utf8(name, lstrlenW(name)) == ProgmanServiceName ? TRUE : FALSE);
    }
    if (type == XTYP_EXECUTE) {
        DWORD length = DdeGetData(data, nullptr, 0, 0);
        std::vector<WCHAR> wide(length / sizeof(WCHAR) + 1, L'\0');
        DdeGetData(data, reinterpret_cast<BYTE*>(wide.data()), length, 0);
        int units = lstrlenW(wide.data());
        std::lock_guard<std::mutex> lock(ReceivedLock);
        ReceivedCommands.push_back({Utf8(wide.data(), units), size_t(units), length});
        return reinterpret_cast<HDDEDATA>(DDE_FACK);
    }
    return nullptr;
}

// A DDE server on a thread of its own, answering until it is stopped: in
// UTF-16, as the shell's Program Manager does.
class RecordingProgman {
public:
    RecordingProgman()
    {
        thread_ = std::thread([this] {
            threadId_ = GetCurrentThreadId();
            ServerInstance = 0;
            DdeInitializeW(&ServerInstance, RecordingServer, APPCLASS_STANDARD | CBF_SKIP_ALLNOTIFICATIONS, 0);
            HSZ service = DdeCreateStringHandleW(ServerInstance, L"PMRECORD", CP_WINUNICODE);
            DdeNameService(ServerInstance, service, nullptr, DNS_REGISTER);
            ready_ = true;
            MSG message;
            while (GetMessageA(&message, nullptr, 0, 0) > 0)
                DispatchMessageA(&message);
            DdeNameService(ServerInstance, service, nullptr, DNS_UNREGISTER);
            DdeFreeStringHandle(ServerInstance, service);
            DdeUninitialize(ServerInstance);
        });
        while (!ready_)
            Sleep(10);
    }
    ~RecordingProgman()
    {
        PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
        thread_.join();
    }

private:
    std::thread thread_;
    volatile DWORD threadId_ = 0;
    volatile bool ready_ = false;
};

// A top-level window on a thread of its own that counts the requests to open
// a conversation with the test's service (each connection attempt broadcasts
// one to every top-level window) and answers none.
class ConnectionCounter {
public:
    ConnectionCounter()
    {
        thread_ = std::thread([this] {
            threadId_ = GetCurrentThreadId();
            WNDCLASSA windowClass = {};
            windowClass.lpfnWndProc = Count;
            windowClass.hInstance = GetModuleHandleA(nullptr);
            windowClass.lpszClassName = "ConnectionCounter";
            RegisterClassA(&windowClass);
            HWND window = CreateWindowExA(0, "ConnectionCounter", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                windowClass.hInstance, nullptr);
            ready_ = true;
            MSG message;
            while (GetMessageA(&message, nullptr, 0, 0) > 0)
                DispatchMessageA(&message);
            DestroyWindow(window);
        });
        while (!ready_)
            Sleep(10);
    }
    ~ConnectionCounter()
    {
        PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
        thread_.join();
    }
    static LONG Attempts() { return attempts_; }

private:
    static LRESULT CALLBACK Count(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_DDE_INITIATE) {
            char service[64] = {};
            if (LOWORD(lParam) && GlobalGetAtomNameA(LOWORD(lParam), service, sizeof service)
                && lstrcmpiA(service, ProgmanServiceName) == 0)
                InterlockedIncrement(&attempts_);
            return 0;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
    static inline volatile LONG attempts_ = 0;
    std::thread thread_;
    volatile DWORD threadId_ = 0;
    volatile bool ready_ = false;
};

void UseFolder(const char* folder)
{
    CopyText(InstallFolder, sizeof InstallFolder, folder);
    FormatText(ApplicationPath, sizeof ApplicationPath, "%s\\%s", folder, ProductConfig.mainExecutable);
    FormatText(StartupCommand, sizeof StartupCommand, "\"%s\\%s\" %s", folder, ProductConfig.mainExecutable,
        ProductConfig.startupArguments);
    FormatText(UninstallerPath, sizeof UninstallerPath, "%s\\pmuninst.exe", folder);
}

std::vector<Received> RunClient(bool startupItem, std::string* startupLink = nullptr)
{
    ReceivedCommands.clear();
    OpenDdeClient();
    CreateProductGroup();
    char link[PathBufferSize] = "(not made)";
    if (startupItem)
        EXPECT_TRUE(AddStartupItem(link, sizeof link));
    if (startupLink)
        *startupLink = link;
    CloseDdeClient();
    std::lock_guard<std::mutex> lock(ReceivedLock);
    return ReceivedCommands;
}

std::vector<std::string> StayedLinks;

void NoteStayed(const char* path)
{
    StayedLinks.push_back(path);
}

// The uninstaller's removal of the group and the Startup item; the links to the product that stayed.
std::vector<std::string> RemoveLinks(const std::vector<std::string>& recorded)
{
    std::vector<const char*> paths;
    for (const std::string& path : recorded)
        paths.push_back(path.c_str());
    StayedLinks.clear();
    OpenDdeClient();
    EXPECT_TRUE(RemoveProductGroup(NoteStayed)) << "no group stays where Program Manager keeps them";
    RemoveStartupItem(paths.data(), int(paths.size()), NoteStayed);
    CloseDdeClient();
    return StayedLinks;
}

std::vector<std::string> Texts(const std::vector<Received>& received)
{
    std::vector<std::string> texts;
    for (const Received& r : received) {
        texts.push_back(r.command);
        EXPECT_EQ(r.length, (r.units + 1) * sizeof(WCHAR)) << "sent with its terminating zero: " << r.command;
    }
    return texts;
}

} // namespace

TEST(ProgmanClient, SendsTheTenCommandsOfAFullRegistration)
{
    ProductConfig = ShippedConfig();
    RecordingProgman server;
    UseFolder("C:\\Apps\\Pelmora");
    std::vector<Received> received = RunClient(true);
    EXPECT_EQ(Texts(received), ShippedProgmanCommands("C:\\Apps\\Pelmora", true));
    ASSERT_EQ(received.size(), 10u);
    EXPECT_EQ(received[4].length, 50u);
}

TEST(ProgmanClient, NoToTheStartupItemSendsNothingOfIt)
{
    ProductConfig = ShippedConfig();
    RecordingProgman server;
    UseFolder("C:\\Apps\\Pelmora");
    EXPECT_EQ(RunClient(false).size(), 6u);
    // The instance was released: a second run opens a new one and works the same.
    EXPECT_EQ(RunClient(false).size(), 6u);
}

TEST(ProgmanClient, NamesAndArgumentsAreWrittenUnchanged)
{
    ProductConfig = ShippedConfig();
    ProductConfig.folderName = "Pel, (Group)";
    ProductConfig.displayName = "Pelmora (Viewer), 2";
    ProductConfig.startupArguments = "";
    ProductConfig.startupMinimized = -3;
    RecordingProgman server;
    UseFolder("D:\\Other Place");
    EXPECT_EQ(Texts(RunClient(true)),
        (std::vector<std::string>{"[CreateGroup(Pel, (Group))]", "[ShowGroup(Pel, (Group),5)]",
            "[ReplaceItem(Pelmora (Viewer), 2)]",
            "[AddItem(\"D:\\Other Place\\pelmora.exe\",Pelmora (Viewer), 2,,,,,\"D:\\Other Place\")]",
            "[ReplaceItem(Uninstall)]",
            "[AddItem(\"D:\\Other Place\\pmuninst.exe\",Uninstall,,,,,\"D:\\Other Place\")]",
            "[CreateGroup(Startup)]", "[ShowGroup(Startup,5)]", "[ReplaceItem(Pel, (Group))]",
            "[AddItem(\"D:\\Other Place\\pelmora.exe\" ,Pel, (Group),,,,,\"D:\\Other Place\",,-3)]"}));

}

TEST(ProgmanClient, WhereNobodyAnswersTheGroupIsWrittenAsLinksAndRemovedSo)
{
    ProductConfig = ShippedConfig();
    ProductConfig.folderName = "Pelmora Without Program Manager";
    const std::string folder = "C:\\Apps\\Pelmora Without Program Manager";
    CreateDirectoryA("C:\\Apps", nullptr);
    CreateDirectoryA(folder.c_str(), nullptr);
    for (const char* program : {"\\pelmora.exe", "\\pmuninst.exe"})
        ASSERT_TRUE(CopyFileA(HelperPath("progman_test.exe").c_str(), (folder + program).c_str(), FALSE));
    UseFolder(folder.c_str());
    std::string startupLink;
    {
        ConnectionCounter counter;
        EXPECT_TRUE(RunClient(true, &startupLink).empty());
        // One attempt for the group and one for the Startup item, not one per command: each would wait
        // for the server's answer.
        EXPECT_EQ(ConnectionCounter::Attempts(), 2);
    }
    // The group for every user, the Startup item the installing user's.
    const std::string group = "Pelmora Without Program Manager";
    EXPECT_EQ(GroupLinks(group),
        (std::vector<std::string>{"all users: Pelmora.lnk -> " + folder + "\\pelmora.exe | " + folder,
            "all users: Uninstall.lnk -> " + folder + "\\pmuninst.exe | " + folder}));
    EXPECT_EQ(GroupLinks("StartUp"),
        std::vector<std::string>{"user: " + group + ".lnk -> " + folder + "\\pelmora.exe | " + folder});
    EXPECT_EQ(startupLink.substr(startupLink.rfind('\\')), "\\" + group + ".lnk");

    // A link to another program is not the product's: it stays, and is not reported as staying.
    std::vector<std::string> recorded = {startupLink};
    ProductConfig.mainExecutable = "other.exe";
    UseFolder(folder.c_str());
    EXPECT_EQ(RemoveLinks(recorded), std::vector<std::string>{});
    EXPECT_EQ(GroupLinks("StartUp").size(), 1u) << "it does not lead to other.exe";

    // Recorded paths where the setup writes no Startup item stay, though they lead to the product: another
    // name, a folder outside the profiles, the profiles' folder itself, one that climbs out of them, one on
    // no drive.
    const std::string startup = startupLink.substr(0, startupLink.rfind('\\'));
    const std::string elsewhere = startup + "\\Elsewhere.lnk";
    const std::string outside = "C:\\Apps\\" + group + ".lnk";
    for (const std::string& copy : {elsewhere, outside})
        ASSERT_TRUE(CopyFileA(startupLink.c_str(), copy.c_str(), FALSE)) << copy;
    char profiles[MAX_PATH];
    ASSERT_TRUE(GetEnvironmentVariableA("PUBLIC", profiles, sizeof profiles)); // C:\users\Public
    const std::string users = std::string(profiles).substr(0, std::string(profiles).rfind('\\'));
    const std::string inProfiles = users + "\\" + group + ".lnk";
    ASSERT_TRUE(CopyFileA(startupLink.c_str(), inProfiles.c_str(), FALSE));
    recorded = {elsewhere, outside, inProfiles, users + "\\..\\Apps\\" + group + ".lnk", "\\\\?\\" + outside,
        startupLink};
    // The item itself is read-only; the group's link to the program is held open, so that it cannot go.
    ASSERT_TRUE(SetFileAttributesA(startupLink.c_str(), FILE_ATTRIBUTE_READONLY));
    char programs[MAX_PATH];
    SHGetFolderPathA(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT, programs);
    const std::string held = std::string(programs) + "\\" + group + "\\Pelmora.lnk";
    HANDLE holder = CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    // A product that no longer offers the Startup item still removes the one it made.
    ProductConfig.mainExecutable = "pelmora.exe";
    ProductConfig.offerStartupGroup = 0;
    UseFolder(folder.c_str());
    EXPECT_EQ(RemoveLinks(recorded), std::vector<std::string>{held}) << "what stays is reported";
    CloseHandle(holder);
    EXPECT_EQ(GroupLinks(group),
        std::vector<std::string>{"all users: Pelmora.lnk -> " + folder + "\\pelmora.exe | " + folder});
    EXPECT_EQ(GroupLinks("StartUp"),
        std::vector<std::string>{"user: Elsewhere.lnk -> " + folder + "\\pelmora.exe | " + folder});
    EXPECT_NE(GetFileAttributesA(outside.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesA(inProfiles.c_str()), INVALID_FILE_ATTRIBUTES);

    EXPECT_EQ(RemoveLinks({}), std::vector<std::string>{});
    EXPECT_EQ(GroupLinks(group), std::vector<std::string>{});
    EXPECT_EQ(GetFileAttributesA((std::string(programs) + "\\" + group).c_str()), INVALID_FILE_ATTRIBUTES)
        << "the empty group's folder goes";
    DeleteFileA(elsewhere.c_str());
    DeleteFileA(outside.c_str());
    DeleteFileA(inProfiles.c_str());
    RemoveTree(folder);
}
