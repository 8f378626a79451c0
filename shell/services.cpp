#include "code_page.h"
#include "commands.h"
#include "globals.h"
#include "message.h"
#include "product.h"
#include "run.h"
#include "shell.h"
#include "spawn.h"
#include "text.h"

namespace {

const EnglishText ServiceNoticeCaption = N_("Installing Service");
const EnglishText ServiceNoticeText =
    N_("There will be a pause of about six seconds while any older versions of this application's NT service are "
    "shut down and the new version is started up. This pause will begin when you click OK.");
const EnglishText ServiceFailedCaption = N_("Service Installation Failed");
const EnglishText ServiceFailedText =
    N_("The installation of the service did not succeed. The software can still be run manually.");
constexpr DWORD ServicePauseMs = 6000;

// Runs a program in the installation folder with its quoted path as argument
// zero and one or two switches.
int RunFromFolder(const char* fileName, const char* firstSwitch, const char* secondSwitch = nullptr)
{
    char program[PathBufferSize];
    char quoted[PathBufferSize];
    if (!FormatFolderProgram(program, quoted, PathBufferSize, InstallFolder, fileName))
        return -1;
    const char* arguments[] = {quoted, firstSwitch, secondSwitch};
    return SpawnAndWait(program, arguments, secondSwitch ? 3 : 2);
}

} // namespace

bool InstallAgentService()
{
    return RunFromFolder(AgentServiceFileName, "-install", "-sid=0") == 0;
}

bool RemoveAgentService()
{
    return RunFromFolder(AgentServiceFileName, "-remove") == 0;
}

bool RemoveNtService()
{
    return RunFromFolder(ProductConfig.serviceExecutable, "-remove-service") == 0;
}

bool ReplaceNtService(HWND owner)
{
    ShowNotice(owner, ServiceNoticeCaption, ServiceNoticeText);
    RemoveNtService(); // result deliberately ignored: there may be no earlier service to remove
    Sleep(ServicePauseMs);
    if (RunFromFolder(ProductConfig.serviceExecutable, "-install-service") == 0)
        return true;
    ShowWarning(owner, ServiceFailedCaption, ServiceFailedText);
    return false;
}
