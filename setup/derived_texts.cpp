#include "commands.h"
#include "derived.h"
#include "globals.h"
#include "payload.h"
#include "product.h"
#include "sequence.h"
#include "text.h"

namespace {

constexpr size_t FilePathLimit = MAX_PATH; // what the ANSI file functions take, with the zero

bool BuildFolderPath(const char* folder, char* out, size_t size)
{
    return CopyText(out, size, folder);
}

bool BuildApplicationItem(const char* folder, char* out, size_t size)
{
    char application[PathBufferSize];
    return BuildApplicationPath(folder, application, sizeof application)
        && FormatGroupItemCommand(out, size, application, ProductConfig.displayName, folder);
}

bool BuildUninstallItem(const char* folder, char* out, size_t size)
{
    char uninstaller[PathBufferSize];
    return BuildUninstallerPath(folder, uninstaller, sizeof uninstaller)
        && FormatGroupItemCommand(out, size, uninstaller, "Uninstall", folder);
}

bool BuildStartupItem(const char* folder, char* out, size_t size)
{
    char command[PathBufferSize];
    return BuildStartupCommand(folder, command, sizeof command)
        && FormatStartupItemCommand(out, size, command, ProductConfig.folderName, folder,
            ProductConfig.startupMinimized);
}

// The uninstall entry's value and the launch's command line: a path in quotes.
bool BuildQuotedUninstaller(const char* folder, char* out, size_t size)
{
    char uninstaller[PathBufferSize];
    return BuildUninstallerPath(folder, uninstaller, sizeof uninstaller) && FormatQuoted(out, size, uninstaller);
}

bool BuildQuotedApplication(const char* folder, char* out, size_t size)
{
    char application[PathBufferSize];
    return BuildApplicationPath(folder, application, sizeof application) && FormatQuoted(out, size, application);
}

// The service programs' paths and command lines, quoted path first.
bool BuildServiceCommand(const char* folder, const char* fileName, const char* longestSwitch, char* out, size_t size)
{
    char program[PathBufferSize];
    char quoted[PathBufferSize];
    const char* arguments[] = {quoted, longestSwitch};
    return FormatFolderProgram(program, quoted, PathBufferSize, folder, fileName)
        && JoinArguments(out, size, arguments, 2);
}

bool BuildAgentCommand(const char* folder, char* out, size_t size)
{
    return BuildServiceCommand(folder, AgentServiceFileName, "-install -sid=0", out, size);
}

bool BuildNtServiceCommand(const char* folder, char* out, size_t size)
{
    return BuildServiceCommand(folder, ProductConfig.serviceExecutable, "-remove-service", out, size);
}

const DerivedText SequenceTexts[] = {
    {BuildFolderPath, PathBufferSize},
    {BuildApplicationPath, PathBufferSize},
    {BuildStartupCommand, PathBufferSize},
    {BuildUninstallerPath, PathBufferSize},
    {BuildApplicationItem, PathBufferSize},
    {BuildUninstallItem, PathBufferSize},
    {BuildStartupItem, PathBufferSize},
    {BuildQuotedUninstaller, PathBufferSize},
    {BuildQuotedApplication, PathBufferSize},
    {BuildAgentCommand, PathBufferSize},
    {BuildNtServiceCommand, PathBufferSize},
    {BuildLongestPayloadPath, FilePathLimit},
};

} // namespace

void RegisterSequenceTexts()
{
    RegisterDerivedTexts(SequenceTexts, sizeof SequenceTexts / sizeof SequenceTexts[0]);
}
