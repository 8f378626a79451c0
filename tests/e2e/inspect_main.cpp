// Prints what an installation left behind (files, profile value, uninstall
// entry, links, Program Manager commands), one line each.
//   inspect.exe FOLDER GROUP DISPLAYNAME PROFILEFILE
#include "inspect.h"
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: inspect FOLDER GROUP DISPLAYNAME PROFILEFILE\n");
        return 2;
    }
    for (const std::string& line : InstallationSummary(argv[1], argv[2], argv[3], argv[4]))
        std::printf("%s\n", line.c_str());
    return 0;
}
