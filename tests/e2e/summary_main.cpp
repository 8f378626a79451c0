// Prints what an installation left behind (files, profile value, uninstall
// entry, links, Program Manager commands), one line each.
//   summary.exe FOLDER GROUP DISPLAYNAME PROFILEFILE
#include "installed_state.h"
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: summary FOLDER GROUP DISPLAYNAME PROFILEFILE\n");
        return 2;
    }
    for (const std::string& line : InstallationSummary(argv[1], argv[2], argv[3], argv[4]))
        std::printf("%s\n", line.c_str());
    return 0;
}
