// Prints what an installation left behind (files, profile value, uninstall
// entry, links, Program Manager commands), one line each. The files are those
// of the folder the profile remembers, wherever the run installed.
//   summary.exe GROUP DISPLAYNAME PROFILEFILE
#include "installed_state.h"
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: summary GROUP DISPLAYNAME PROFILEFILE\n");
        return 2;
    }
    for (const std::string& line : InstallationSummary(ProfileValue(argv[3]), argv[1], argv[2], argv[3]))
        std::printf("%s\n", line.c_str());
    return 0;
}
