#include "code_page.h"
#include "commands.h"
#include "globals.h"
#include "links.h"
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
void ProgmanExecute(const char* command)
{
    WCHAR serviceName[CallbackNameSize];
    WCHAR wide[PathBufferSize];
    int length = MultiByteToWideChar(CP_ACP, 0, command, -1, wide, PathBufferSize);
    MultiByteToWideChar(CP_ACP, 0, ProgmanServiceName, -1, serviceName, CallbackNameSize); // result deliberately ignored: the name is a constant of a few letters
    HSZ service = DdeCreateStringHandleW(DdeInstance, serviceName, CP_WINUNICODE);
    HSZ topic = DdeCreateStringHandleW(DdeInstance, serviceName, CP_WINUNICODE);
    HCONV conversation = length > 0 ? DdeConnect(DdeInstance, service, topic, nullptr) : nullptr;
    const char* answer = length > 0 ? "no answer, Program Manager is not running" : "not sent, it cannot be spelt";
    if (conversation) {
        // Program Manager's answer changes nothing; it is only logged.
        answer = DdeClientTransaction(reinterpret_cast<BYTE*>(wide), DWORD(length) * sizeof(WCHAR), conversation,
                     nullptr, CF_UNICODETEXT, XTYP_EXECUTE, ExecuteTimeoutMs, nullptr)
            ? "done"
            : "refused, or no answer in time";
    }
    LogLine("Program Manager: %s: %s", command, answer);
    DdeFreeStringHandle(DdeInstance, service);
    DdeFreeStringHandle(DdeInstance, topic);
    if (conversation)
        DdeDisconnect(conversation);
}

void SendFormatted(const char* format, const char* argument)
{
    char command[PathBufferSize];
    if (FormatText(command, sizeof command, format, argument))
        ProgmanExecute(command);
}

// Showing a group opens the shell's window on it, which an unattended run must not.
void ShowGroup(const char* group)
{
    if (!Unattended)
        SendFormatted("[ShowGroup(%s,5)]", group);
}

} // namespace

void OpenDdeClient()
{
    DdeInstance = 0;
    DdeInitializeW(&DdeInstance, DdeCallback, CBF_FAIL_EXECUTES, 0);
}

void CreateProductGroup()
{
    if (Unattended) {
        const ShellLink application = {ApplicationPath, "", InstallFolder, SW_SHOWNORMAL};
        const ShellLink uninstaller = {UninstallerPath, "", InstallFolder, SW_SHOWNORMAL};
        WriteGroupLink(ProductConfig.folderName, ProductConfig.displayName, application); // result deliberately ignored: logged, as a refused command is
        WriteGroupLink(ProductConfig.folderName, "Uninstall", uninstaller); // result deliberately ignored: logged
        return;
    }
    char command[PathBufferSize];
    SendFormatted("[CreateGroup(%s)]", ProductConfig.folderName);
    ShowGroup(ProductConfig.folderName);
    SendFormatted("[ReplaceItem(%s)]", ProductConfig.displayName);
    if (FormatGroupItemCommand(command, sizeof command, ApplicationPath, ProductConfig.displayName, InstallFolder))
        ProgmanExecute(command);
    ProgmanExecute("[ReplaceItem(Uninstall)]");
    if (FormatGroupItemCommand(command, sizeof command, UninstallerPath, "Uninstall", InstallFolder))
        ProgmanExecute(command);
}

void AddStartupItem()
{
    if (Unattended) {
        const ShellLink item = {ApplicationPath, ProductConfig.startupArguments, InstallFolder,
            ProductConfig.startupMinimized ? SW_SHOWMINNOACTIVE : SW_SHOWNORMAL};
        WriteGroupLink(nullptr, ProductConfig.folderName, item); // result deliberately ignored: logged
        return;
    }
    char command[PathBufferSize];
    ProgmanExecute("[CreateGroup(Startup)]");
    ShowGroup("Startup");
    SendFormatted("[ReplaceItem(%s)]", ProductConfig.folderName);
    if (FormatStartupItemCommand(command, sizeof command, StartupCommand, ProductConfig.folderName, InstallFolder,
            ProductConfig.startupMinimized))
        ProgmanExecute(command);
}

void RemoveProductGroup()
{
    SendFormatted("[DeleteGroup(%s)]", ProductConfig.folderName);
}

void RemoveStartupItem()
{
    if (Unattended) {
        DeleteGroupLink(nullptr, ProductConfig.folderName); // result deliberately ignored: logged
        return;
    }
    // An item is deleted in the current group, which naming the group makes.
    ProgmanExecute("[CreateGroup(Startup)]");
    SendFormatted("[DeleteItem(%s)]", ProductConfig.folderName);
}

void CloseDdeClient()
{
    DdeUninitialize(DdeInstance);
    DdeInstance = 0;
}
