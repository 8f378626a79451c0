#include <windows.h>
#include "globals.h"
#include "run.h"
#include "uninstall.h"

namespace {

const RunProgram UninstallerProgram = {"Uninstaller", false, "/S\tremoves the product without any window\r\n",
    "0\tremoved\r\n1602\tthe question was answered No\r\n1603\tnot removed completely\r\n1605\tno installation of "
    "this product in this folder\r\n",
    "3010\tremoved; a file goes when Windows restarts", HoldUninstallNames, UninstallWantsMachine};

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    RestrictDllSearch();
    RunSwitches switches;
    int exitCode;
    if (!BeginRun(UninstallerProgram, switches, &exitCode))
        return exitCode;
    return EndRun(UninstallSequence(instance));
}
