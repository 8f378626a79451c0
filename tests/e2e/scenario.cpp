#include "scenario.h"

using namespace automation;

namespace {

constexpr DWORD EndTimeoutMs = 60000;
// The programs' modeless progress dialogs, which nobody answers.
const std::vector<std::string> ProgressCaptions = {"Setup Progress", "Uninstall Progress"};

std::string Trim(const std::string& text)
{
    size_t begin = text.find_first_not_of(" \t\r");
    size_t end = text.find_last_not_of(" \t\r");
    return begin == std::string::npos ? "" : text.substr(begin, end - begin + 1);
}

// "setup" for "C:\x\setup.exe" and "\"C:\x\setup.exe\" -a", for the transcript's last line.
std::string ProgramName(const std::string& commandLine)
{
    size_t end = commandLine[0] == '"' ? commandLine.find('"', 1) : commandLine.find(' ');
    std::string path = commandLine.substr(0, end);
    std::string name = path.substr(path.find_last_of("\\/") + 1);
    return name.substr(0, name.rfind('.'));
}

} // namespace

bool ParseScenario(const std::vector<std::string>& lines, Scenario& scenario, std::string& problem)
{
    scenario = Scenario();
    Action next;
    for (size_t number = 1; number <= lines.size(); ++number) {
        std::string line = Trim(lines[number - 1]);
        if (line.empty() || line[0] == '#')
            continue;
        size_t space = line.find(' ');
        std::string verb = line.substr(0, space);
        std::string rest = space == std::string::npos ? "" : Trim(line.substr(space + 1));
        if (verb == "hold") {
            scenario.heldFiles.push_back(rest);
        } else if (verb == "map") {
            scenario.mappedFiles.push_back(rest);
        } else if (verb == "end-when") {
            scenario.endWhen = rest;
        } else if (verb == "progress") {
            scenario.progressCaptions.push_back(rest);
        } else if (verb == "children") {
            scenario.children = true;
        } else if (verb == "window") {
            scenario.windows.push_back(rest);
        } else if (verb == "type") {
            size_t gap = rest.find(' ');
            next.fields.push_back({atoi(rest.substr(0, gap).c_str()), gap == std::string::npos ? "" : rest.substr(gap + 1)});
        } else if (verb == "read") {
            if (rest == "owner")
                next.readOwner = true;
            else if (rest == "layout")
                next.readLayout = true;
            else
                next.readFields.push_back(atoi(rest.c_str()));
        } else if (verb == "shot") {
            next.screenshot = rest;
        } else if (verb == "answer" && rest.find('|') != std::string::npos) {
            next.expectCaption = Trim(rest.substr(0, rest.find('|')));
            std::string button = Trim(rest.substr(rest.find('|') + 1));
            if (button == "Escape")
                next.kind = Action::Escape;
            else if (button == "Enter")
                next.kind = Action::Enter;
            else if (button == "close box")
                next.kind = Action::CloseBox;
            else
                next.buttonText = button;
            scenario.answers.push_back(next);
            next = Action();
        } else {
            problem = "line " + std::to_string(number) + ": cannot read \"" + line + "\"";
            return false;
        }
    }
    return true;
}

std::vector<std::string> RunScenario(const std::string& commandLine, const Scenario& scenario, DWORD stepTimeoutMs)
{
    Transcript transcript;
    std::vector<HANDLE> held;
    for (const std::string& path : scenario.heldFiles)
        held.push_back(
            CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    // Only the view holds the file, as a program's image holds its own.
    std::vector<void*> views;
    for (const std::string& path : scenario.mappedFiles) {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
            OPEN_EXISTING, 0, nullptr);
        HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
        views.push_back(mapping ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr);
        if (mapping)
            CloseHandle(mapping);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
    std::vector<WatchedWindow*> windows;
    for (const std::string& title : scenario.windows)
        windows.push_back(new WatchedWindow(title));

    PROCESS_INFORMATION process = {};
    if (!StartProcess(commandLine, &process)) {
        transcript.Add("(the program could not be started, error " + std::to_string(GetLastError()) + ": " + commandLine
            + ")");
    } else {
        std::vector<std::string> progress = ProgressCaptions;
        progress.insert(progress.end(), scenario.progressCaptions.begin(), scenario.progressCaptions.end());
        Responder responder(
            transcript, scenario.answers, 0, process.dwProcessId, progress, stepTimeoutMs, scenario.children);
        DWORD waited = 0;
        // Watching for a file, the program is looked at every millisecond.
        DWORD pause = scenario.endWhen.empty() ? 100 : 1;
        while (WaitForSingleObject(process.hProcess, pause) == WAIT_TIMEOUT && !responder.GaveUp()) {
            if (!scenario.endWhen.empty() && GetFileAttributesA(scenario.endWhen.c_str()) != INVALID_FILE_ATTRIBUTES) {
                TerminateProcess(process.hProcess, 1);
                WaitForSingleObject(process.hProcess, 10000);
                transcript.Add("(" + scenario.endWhen + " appeared: the driver ended the program)");
                break;
            }
            if (responder.Done() && (waited += pause) > EndTimeoutMs)
                break;
        }
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process.hProcess, 1);
            WaitForSingleObject(process.hProcess, 10000);
            transcript.Add("(the program was still running: the driver ended it)");
        }
        responder.Stop();
        DWORD exitCode = 0;
        GetExitCodeProcess(process.hProcess, &exitCode);
        transcript.Add(ProgramName(commandLine) + " ended with exit code " + std::to_string(exitCode));
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    for (size_t i = 0; i < windows.size(); ++i) {
        transcript.Add("window \"" + scenario.windows[i] + "\" "
            + (windows[i]->Close() ? "was told to quit" : "was left alone"));
        delete windows[i];
    }
    for (HANDLE file : held)
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    for (void* view : views)
        if (view)
            UnmapViewOfFile(view);
    return transcript.Lines();
}
