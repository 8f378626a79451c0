#include "derived_texts.h"
#include "commands.h"
#include "path_limits.h"
#include "product.h"
#include "text.h"

namespace {

bool BuildFolderPath(const ProductConfigRecord&, const char* folder, char* out, size_t size)
{
    return CopyText(out, size, folder);
}

bool BuildApplicationItem(const ProductConfigRecord& product, const char* folder, char* out, size_t size)
{
    char application[PathBufferSize];
    return BuildApplicationPath(product, folder, application, sizeof application)
        && FormatGroupItemCommand(out, size, application, product.displayName, folder);
}

bool BuildUninstallItem(const ProductConfigRecord& product, const char* folder, char* out, size_t size)
{
    char uninstaller[PathBufferSize];
    return BuildUninstallerPath(product, folder, uninstaller, sizeof uninstaller)
        && FormatGroupItemCommand(out, size, uninstaller, UninstallItemName, folder);
}

bool BuildStartupItem(const ProductConfigRecord& product, const char* folder, char* out, size_t size)
{
    char command[PathBufferSize];
    return BuildStartupCommand(product, folder, command, sizeof command)
        && FormatStartupItemCommand(out, size, command, product.folderName, folder, product.startupMinimized);
}

// The uninstall entry's value and the launch's command line: a path in quotes.
bool BuildQuotedUninstaller(const ProductConfigRecord& product, const char* folder, char* out, size_t size)
{
    char uninstaller[PathBufferSize];
    return BuildUninstallerPath(product, folder, uninstaller, sizeof uninstaller)
        && FormatQuoted(out, size, uninstaller);
}

bool BuildQuotedApplication(const ProductConfigRecord& product, const char* folder, char* out, size_t size)
{
    char application[PathBufferSize];
    return BuildApplicationPath(product, folder, application, sizeof application)
        && FormatQuoted(out, size, application);
}

// The service programs' command lines, quoted path first, with their longest switches.
bool BuildServiceCommand(const char* folder, const char* fileName, const char* longestSwitch, char* out, size_t size)
{
    char program[PathBufferSize];
    char quoted[PathBufferSize];
    const char* arguments[] = {quoted, longestSwitch};
    return FormatFolderProgram(program, quoted, PathBufferSize, folder, fileName)
        && JoinArguments(out, size, arguments, 2);
}

bool BuildAgentCommand(const ProductConfigRecord&, const char* folder, char* out, size_t size)
{
    return BuildServiceCommand(folder, AgentServiceFileName, "-install -sid=0", out, size);
}

bool BuildNtServiceCommand(const ProductConfigRecord& product, const char* folder, char* out, size_t size)
{
    return BuildServiceCommand(folder, product.serviceExecutable, "-install-service", out, size);
}

// The texts that grow with one field come first, so that a refusal names it.
const DerivedTextRule Rules[] = {
    {"folderName", "the installation folder's path", PathBufferSize, BuildFolderPath},
    {"folderName", "the uninstaller's path", PathBufferSize, BuildUninstallerPath},
    {"folderName", "the uninstall entry's command", PathBufferSize, BuildQuotedUninstaller},
    {"folderName", "the agent service's command line", PathBufferSize, BuildAgentCommand},
    {"folderName", "the Uninstall item's Program Manager command", PathBufferSize, BuildUninstallItem},
    {"mainExecutable", "the application's path", PathBufferSize, BuildApplicationPath},
    {"mainExecutable", "the application's command line", PathBufferSize, BuildQuotedApplication},
    {"serviceExecutable", "the NT service's command line", PathBufferSize, BuildNtServiceCommand},
    {"displayName, mainExecutable", "the application item's Program Manager command", PathBufferSize,
        BuildApplicationItem},
    {"startupArguments, mainExecutable", "the Startup item's command line", PathBufferSize, BuildStartupCommand},
    {"startupArguments, mainExecutable", "the Startup item's Program Manager command", PathBufferSize,
        BuildStartupItem},
};

} // namespace

const DerivedTextRule* BrokenDerivedText(const ProductConfigRecord& product, const char* folder)
{
    char scratch[PathBufferSize];
    for (const DerivedTextRule& rule : Rules)
        if (rule.size > sizeof scratch || !rule.build(product, folder, scratch, rule.size))
            return &rule;
    return nullptr;
}

bool BuildApplicationPath(const ProductConfigRecord& product, const char* folder, char* out, size_t size)
{
    return FormatText(out, size, "%s\\%s", folder, product.mainExecutable);
}

bool BuildStartupCommand(const ProductConfigRecord& product, const char* folder, char* out, size_t size)
{
    return FormatText(out, size, "\"%s\\%s\" %s", folder, product.mainExecutable, product.startupArguments);
}

bool BuildUninstallerPath(const ProductConfigRecord&, const char* folder, char* out, size_t size)
{
    return FormatText(out, size, "%s\\%s", folder, UninstallerFileName);
}
