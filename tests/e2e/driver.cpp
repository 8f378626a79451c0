// The end-to-end driver: runs a program (the setup, or an uninstaller) through
// a scenario file and writes the transcript.
//   driver.exe PROGRAM.exe SCENARIO.txt TRANSCRIPT.txt [ARGUMENT...]
// (the arguments go to the program's command line as they are).
// Exits 0 when every answer was given and the program ended by itself.
#include "scenario.h"
#include "test_files.h"
#include <cstdio>
#include <fstream>

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: driver PROGRAM.exe SCENARIO.txt TRANSCRIPT.txt [ARGUMENT...]\n");
        return 2;
    }
    Scenario scenario;
    std::string problem;
    if (!ParseScenario(ReadLines(argv[2]), scenario, problem)) {
        std::fprintf(stderr, "%s: %s\n", argv[2], problem.c_str());
        return 2;
    }
    std::string command = "\"" + std::string(argv[1]) + "\"";
    for (int i = 4; i < argc; ++i)
        command += " " + std::string(argv[i]);
    std::vector<std::string> transcript = RunScenario(command, scenario);
    std::ofstream out(argv[3]);
    bool clean = true;
    for (const std::string& line : transcript) {
        out << line << "\n";
        clean = clean && line[0] != '(' && line.find("-> closed (") == std::string::npos;
    }
    return clean ? 0 : 1;
}
