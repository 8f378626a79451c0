#include "scenario.h"

using namespace automation;

namespace {

constexpr DWORD EndTimeoutMs = 60000;
const char ProgressCaption[] = "Setup Progress";

std::string Trim(const std::string& text)
{
    size_t begin = text.find_first_not_of(" \t\r");
    size_t end = text.find_last_not_of(" \t\r");
    return begin == std::string::npos ? "" : text.substr(begin, end - begin + 1);
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
        } else if (verb == "window") {
            scenario.windows.push_back(rest);
        } else if (verb == "type") {
            size_t gap = rest.find(' ');
            next.fields.push_back({atoi(rest.substr(0, gap).c_str()), gap == std::string::npos ? "" : rest.substr(gap + 1)});
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

std::vector<std::string> RunScenario(const std::string& setup, const Scenario& scenario, DWORD stepTimeoutMs)
{
    Transcript transcript;
    std::vector<HANDLE> held;
    for (const std::string& path : scenario.heldFiles)
        held.push_back(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    std::vector<WatchedWindow*> windows;
    for (const std::string& title : scenario.windows)
        windows.push_back(new WatchedWindow(title));

    std::string commandLine = "\"" + setup + "\"";
    STARTUPINFOA startup = {sizeof startup};
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(setup.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
            &process)) {
        transcript.Add("(the setup program could not be started: " + setup + ")");
    } else {
        Responder responder(transcript, scenario.answers, 0, process.dwProcessId, {ProgressCaption}, stepTimeoutMs);
        DWORD waited = 0;
        while (WaitForSingleObject(process.hProcess, 100) == WAIT_TIMEOUT && !responder.GaveUp()) {
            if (responder.Done() && (waited += 100) > EndTimeoutMs)
                break;
        }
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process.hProcess, 1);
            WaitForSingleObject(process.hProcess, 10000);
            transcript.Add("(the setup was still running: the driver ended it)");
        }
        responder.Stop();
        DWORD exitCode = 0;
        GetExitCodeProcess(process.hProcess, &exitCode);
        transcript.Add("setup ended with exit code " + std::to_string(exitCode));
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
    return transcript.Lines();
}
