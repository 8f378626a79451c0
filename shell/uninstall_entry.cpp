#include "architecture.h"
#include "commands.h"
#include "file_system.h"
#include "globals.h"
#include "message.h"
#include "places.h"
#include "product.h"
#include "run.h"
#include "shell.h"
#include "text.h"

namespace {

const char KeyFailureLine[] = "Couldn't open the registry key.\r\n";
const char ValueFailureFormat[] = "Couldn't write the registry value %s.\r\n";

const char* Outcome(LONG status)
{
    return status == ERROR_SUCCESS ? "" : " (could not be written)";
}

LONG SetStringValue(HKEY key, const char* name, const char* data)
{
    LONG status = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data), DWORD(TextLength(data) + 1));
    LogLine("Registry: %s = %s%s", name, data, Outcome(status));
    return status;
}

LONG SetNumberValue(HKEY key, const char* name, DWORD data)
{
    LONG status = RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
    LogLine("Registry: %s = %d%s", name, int(data), Outcome(status));
    return status;
}

// What Programs and Features shows beside the name and the command; a failed
// write goes to the debugger output like a failed key.
void ReportFailedWrite(const char* name, LONG status)
{
    char line[MessageBufferSize];
    if (status != ERROR_SUCCESS && FormatText(line, sizeof line, ValueFailureFormat, name))
        OutputDebugStringA(line);
}

// An empty text deletes the value, so that an update to a version without it
// leaves none of the earlier version's behind; one already missing is no failure.
LONG SetOptionalValue(HKEY key, const char* name, const char* data)
{
    if (data[0])
        return SetStringValue(key, name, data);
    LONG status = RegDeleteValueA(key, name);
    status = status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
    LogLine("Registry: %s deleted%s", name, Outcome(status));
    return status;
}

void SetDetailValues(HKEY key)
{
    // As long as the quoted application path, which every accepted folder leaves room for.
    char icon[PathBufferSize];
    LONG iconStatus = ERROR_INSUFFICIENT_BUFFER;
    if (FormatIconLocation(icon, sizeof icon, ApplicationPath))
        iconStatus = SetStringValue(key, "DisplayIcon", icon);
    ReportFailedWrite("DisplayIcon", iconStatus);
    ReportFailedWrite("InstallLocation", SetStringValue(key, "InstallLocation", InstallFolder));
    ReportFailedWrite("EstimatedSize", SetNumberValue(key, "EstimatedSize", ProductDetails.estimatedSizeKilobytes));
    ReportFailedWrite("NoModify", SetNumberValue(key, "NoModify", 1));
    ReportFailedWrite("NoRepair", SetNumberValue(key, "NoRepair", 1));
    ReportFailedWrite("Publisher", SetOptionalValue(key, "Publisher", ProductDetails.publisher));
    ReportFailedWrite("DisplayVersion", SetOptionalValue(key, "DisplayVersion", ProductDetails.version));
}

// An entry of this installation in the other registry view, left by an
// earlier version built for the other architecture, would list the product
// twice: it goes. It is this installation's when it names this folder, or,
// without a folder, this folder's uninstaller; one of another folder is
// another installation's, and stays.
void RemoveOtherArchitecturesEntry(const char* keyPath, const char* uninstallString)
{
    REGSAM other = 0;
    char named[PathBufferSize];
    if (!OtherRegistryView(&other))
        return;
    bool ours = ReadRegistryText(HKEY_LOCAL_MACHINE, keyPath, other, L"InstallLocation", named, sizeof named)
        ? SamePath(named, InstallFolder)
        : ReadRegistryText(HKEY_LOCAL_MACHINE, keyPath, other, L"UninstallString", named, sizeof named)
            && SamePathText(named, uninstallString);
    if (!ours) {
        if (named[0])
            LogLine("Registry: the other view's entry is another installation's (%s): kept", named);
        return;
    }
    LONG status = RegDeleteKeyExA(HKEY_LOCAL_MACHINE, keyPath, other, 0);
    LogLine(status == ERROR_SUCCESS ? "Registry: the other view's entry of this installation, an earlier version's, removed"
                                    : "Registry: the other view's entry of this installation could not be removed (error %d)",
        int(status));
}

} // namespace

bool RegisterUninstallEntry()
{
    char keyPath[PathBufferSize];
    char uninstallString[PathBufferSize];
    char quietString[PathBufferSize];
    HKEY key;
    DWORD disposition;
    char noClass[] = "";
    LONG status = ERROR_INSUFFICIENT_BUFFER;
    if (FormatUninstallKey(keyPath, sizeof keyPath, ProductConfig.displayName)
        && FormatQuoted(uninstallString, sizeof uninstallString, UninstallerPath)
        && FormatText(quietString, sizeof quietString, "%s /S", uninstallString))
        status = RegCreateKeyExA(UninstallRoot(RunMode), keyPath, 0, noClass, REG_OPTION_NON_VOLATILE,
            KEY_ALL_ACCESS | ProductRegistryView(), nullptr, &key, &disposition);
    if (status != ERROR_SUCCESS) {
        OutputDebugStringA(KeyFailureLine);
        LogLine("Registry: the uninstall entry could not be made (error %d)", int(status));
        return false;
    }
    LogLine(ProductDetails.sixtyFourBit ? "Registry: %s\\%s (64-bit view)" : "Registry: %s\\%s (32-bit view)",
        UninstallRootName(RunMode), keyPath);
    // The name and the commands are the entry: without them the product is neither listed nor removed.
    bool written = SetStringValue(key, "DisplayName", ProductConfig.displayName) == ERROR_SUCCESS;
    written = SetStringValue(key, "UninstallString", uninstallString) == ERROR_SUCCESS && written;
    written = SetStringValue(key, "QuietUninstallString", quietString) == ERROR_SUCCESS && written;
    SetDetailValues(key);
    RegCloseKey(key);
    // A user's entry is the same in both views: the user's registry keeps one.
    if (RunMode == MachineMode)
        RemoveOtherArchitecturesEntry(keyPath, uninstallString);
    return written;
}
