#include "code_page.h"
#include "commands.h"
#include "globals.h"
#include "links.h"
#include "places.h"
#include "product.h"
#include "run.h"
#include "shell.h"
#include "text.h"
#include <ddeml.h>

namespace {

constexpr DWORD ExecuteTimeoutMs = 2000;
constexpr int CallbackNameSize = 256;

// The conversation is in UTF-16: ANSI data would reach Program Manager
// converted in its own process's code page, not in this one's.
DWORD DdeInstance;

HDDEDATA CALLBACK DdeCallback(UINT type, UINT, HCONV, HSZ, HSZ service, HDDEDATA, ULONG_PTR, ULONG_PTR)
{
    if (type != XTYP_CONNECT)
        return 0;
    WCHAR wide[CallbackNameSize];
    char name[PathBufferSize];
    if (!DdeQueryStringW(DdeInstance, service, wide, CallbackNameSize, CP_WINUNICODE)
        || !NarrowText(wide, name, sizeof name))
        return 0;
    return reinterpret_cast<HDDEDATA>(TextEquals(name, ProductConfig.folderName) ? 1 : 0);
}

// One conversation per command; the command goes with its terminating zero.
// True when Program Manager carried it out.
bool ProgmanExecute(const char* command)
{
    WCHAR serviceName[CallbackNameSize];
    WCHAR wide[PathBufferSize];
    int length = MultiByteToWideChar(CP_ACP, 0, command, -1, wide, PathBufferSize);
    MultiByteToWideChar(CP_ACP, 0, ProgmanServiceName, -1, serviceName, CallbackNameSize); // result deliberately ignored: the name is a constant of a few letters
    HSZ service = DdeCreateStringHandleW(DdeInstance, serviceName, CP_WINUNICODE);
    HSZ topic = DdeCreateStringHandleW(DdeInstance, serviceName, CP_WINUNICODE);
    HCONV conversation = length > 0 ? DdeConnect(DdeInstance, service, topic, nullptr) : nullptr;
    const char* answer = length > 0 ? "no answer, Program Manager is not running" : "not sent, it cannot be spelt";
    bool done = conversation
        && DdeClientTransaction(reinterpret_cast<BYTE*>(wide), DWORD(length) * sizeof(WCHAR), conversation, nullptr,
            CF_UNICODETEXT, XTYP_EXECUTE, ExecuteTimeoutMs, nullptr);
    if (conversation)
        answer = done ? "done" : "refused, or no answer in time";
    LogLine("Program Manager: %s: %s", command, answer);
    DdeFreeStringHandle(DdeInstance, service);
    DdeFreeStringHandle(DdeInstance, topic);
    if (conversation)
        DdeDisconnect(conversation);
    return done;
}

bool SendFormatted(const char* format, const char* argument)
{
    char command[PathBufferSize];
    return FormatText(command, sizeof command, format, argument) && ProgmanExecute(command);
}

// Showing a group opens the shell's window on it, which an unattended run must not.
void ShowGroup(const char* group)
{
    if (!Unattended)
        SendFormatted("[ShowGroup(%s,5)]", group); // result deliberately ignored: a group not shown is still there
}

// An item Program Manager did not make, written as a link in the place; false when it was not.
bool WriteItemLink(LinkPlace place, const char* group, const char* item, const ShellLink& link)
{
    char path[PathBufferSize];
    if (GroupLinkPath(place, group, item, path, sizeof path))
        return WriteLink(path, link);
    LogLine("Link not made, its folder cannot be named: %s", item);
    return false;
}

// An item of the product's group over Program Manager; where it is not made,
// as a link beside the others, in the folder where Program Manager keeps its
// groups.
bool AddGroupItem(const char* itemName, const char* program)
{
    char command[PathBufferSize];
    SendFormatted("[ReplaceItem(%s)]", itemName); // result deliberately ignored: there may be no such item
    if (FormatGroupItemCommand(command, sizeof command, program, itemName, InstallFolder) && ProgmanExecute(command))
        return true;
    const ShellLink link = {program, "", InstallFolder, SW_SHOWNORMAL};
    return WriteItemLink(UserPrograms, ProductConfig.folderName, itemName, link);
}

} // namespace

void OpenDdeClient()
{
    DdeInstance = 0;
    DdeInitializeW(&DdeInstance, DdeCallback, CBF_FAIL_EXECUTES, 0);
}

bool CreateProductGroup()
{
    // Unattended, Program Manager would open the group's window. Where it
    // does not make the group, the items sent it would land in whatever group
    // it last made: the whole group is written as links, for every user (for
    // one user's installation, in the user's own folder).
    bool programManager = !Unattended && UsesProgramManager();
    if (!programManager || !SendFormatted("[CreateGroup(%s)]", ProductConfig.folderName)) {
        if (programManager)
            LogLine("Program Manager did not make the group: it is written as links");
        const ShellLink application = {ApplicationPath, "", InstallFolder, SW_SHOWNORMAL};
        const ShellLink uninstaller = {UninstallerPath, "", InstallFolder, SW_SHOWNORMAL};
        bool made = WriteItemLink(GroupPlace(), ProductConfig.folderName, ProductConfig.displayName, application);
        return WriteItemLink(GroupPlace(), ProductConfig.folderName, UninstallItemName, uninstaller) && made;
    }
    ShowGroup(ProductConfig.folderName);
    bool made = AddGroupItem(ProductConfig.displayName, ApplicationPath);
    return AddGroupItem(UninstallItemName, UninstallerPath) && made;
}

bool AddStartupItem(char* linkPath, size_t size)
{
    // Where Program Manager keeps the Startup group: the installing user's Startup folder. For every
    // user's, the system's own run writes the link itself.
    LinkPlace place = StartupPlace();
    if (!GroupLinkPath(place, nullptr, ProductConfig.folderName, linkPath, size))
        linkPath[0] = '\0';
    char command[PathBufferSize];
    bool made = !Unattended && place == UserStartup && ProgmanExecute("[CreateGroup(Startup)]");
    if (made) {
        ShowGroup("Startup");
        SendFormatted("[ReplaceItem(%s)]", ProductConfig.folderName); // result deliberately ignored: there may be no such item
        made = FormatStartupItemCommand(command, sizeof command, StartupCommand, ProductConfig.folderName,
                   InstallFolder, ProductConfig.startupMinimized)
            && ProgmanExecute(command);
    }
    if (made)
        return linkPath[0] != '\0';
    const ShellLink item = {ApplicationPath, ProductConfig.startupArguments, InstallFolder,
        ProductConfig.startupMinimized ? SW_SHOWMINNOACTIVE : SW_SHOWNORMAL};
    return linkPath[0] && WriteLink(linkPath, item);
}

bool RemoveProductGroup(void (*stays)(const char* path))
{
    // What Program Manager made goes through it; links go wherever they are, if they lead to the product.
    // Its answer does not tell whether the group is gone: it refuses to delete a group that is not there,
    // as where the setup wrote the links itself. The folder it keeps its groups in tells.
    if (UsesProgramManager())
        SendFormatted("[DeleteGroup(%s)]", ProductConfig.folderName); // result deliberately ignored: the folder tells
    bool deleted = true;
    const char* const items[] = {ProductConfig.displayName, UninstallItemName};
    const char* const targets[] = {ApplicationPath, UninstallerPath};
    const LinkPlace places[] = {AllUsersPrograms, UserPrograms};
    // One user's removal looks in that user's own folder alone; the machine's of a product for either, which
    // never asks Program Manager, in every user's alone: the user's own folder holds the user's installation's.
    int past = RunMode == MachineMode && !UsesProgramManager() ? 1 : 2;
    for (int at = RunMode == UserMode ? 1 : 0; at < past; ++at) {
        LinkPlace place = places[at];
        for (int i = 0; i < 2; ++i) {
            char path[PathBufferSize];
            if (GroupLinkPath(place, ProductConfig.folderName, items[i], path, sizeof path)
                && !DeleteLinkTo(path, targets[i]))
                stays(path);
        }
        if (!RemoveEmptyGroup(place, ProductConfig.folderName) && place == UserPrograms)
            deleted = false;
    }
    return deleted;
}

void RemoveStartupItem(const char* const* recordedLinks, int count, void (*stays)(const char* path))
{
    // An item is deleted in the current group, which naming the group makes;
    // unattended, naming it would open its window. A product that never
    // offered the item has none there.
    LinkPlace place = StartupPlace();
    if (ProductConfig.offerStartupGroup && !Unattended && place == UserStartup
        && ProgmanExecute("[CreateGroup(Startup)]"))
        SendFormatted("[DeleteItem(%s)]", ProductConfig.folderName); // result deliberately ignored: the links below tell
    char path[PathBufferSize];
    if (GroupLinkPath(place, nullptr, ProductConfig.folderName, path, sizeof path)
        && !DeleteLinkTo(path, ApplicationPath))
        stays(path);
    // One user's Startup item is that user's own, deleted above: a path recorded elsewhere is none of it.
    for (int i = 0; RunMode == MachineMode && i < count; ++i) {
        if (!MayBeRecordedStartupLink(recordedLinks[i], ProductConfig.folderName))
            LogLine("Recorded link left alone, no Startup item of the product's: %s", recordedLinks[i]);
        else if (!DeleteLinkTo(recordedLinks[i], ApplicationPath))
            stays(recordedLinks[i]);
    }
}

void CloseDdeClient()
{
    DdeUninitialize(DdeInstance);
    DdeInstance = 0;
}
