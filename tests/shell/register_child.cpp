// Writes the uninstall entry for a display name of the given length, so the
// test can watch its debug output as a debugger.
#include "globals.h"
#include "shell.h"
#include "test_config.h"
#include "text.h"
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    static std::string name(size_t(atoi(argv[1])), 'x');
    ProductConfig.displayName = name.c_str();
    CopyText(UninstallerPath, sizeof UninstallerPath, "C:\\Apps\\X\\pmuninst.exe");
    RegisterUninstallEntry();
    return 0;
}
