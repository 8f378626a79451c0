// Driving the real setup.exe as its own process, as a user would, from a
// scenario: what to prepare before it starts and how to answer each screen.
//
// Scenario lines (# starts a comment):
//   hold PATH               keep PATH (a file or a folder) open without sharing
//                           while the setup runs
//   map PATH                keep the file PATH mapped while the setup runs, as
//                           a program holds the file it runs from: it may be
//                           renamed, not deleted
//   window TITLE            show a window titled TITLE while the setup runs
//   end-when PATH           end the program from outside, as the task manager
//                           would, the moment PATH appears
//   children                answer the screens of the processes it starts too
//                           (a setup that starts itself again, elevated)
//   type ID TEXT            type TEXT into field ID of the next screen
//   shot FILE.bmp           capture the screen when the next screen is up (the
//                           transcript names FILE and the screen's inside)
//   read ID                 put field ID of the next screen in the transcript
//   read owner              put the caption of the next screen's owner in it
//   read layout             put the next screen's layout in it (automation's Layout)
//   progress CAPTION        leave a dialog of that caption alone, as a progress
//                           dialog ("Setup Progress", "Uninstall Progress" always are)
//   answer CAPTION | BUTTON the next screen must be CAPTION; press BUTTON
//                           (a button's text, or Escape, Enter, close box)
#pragma once
#include "automation.h"
#include <string>
#include <vector>

struct Scenario {
    std::vector<std::string> heldFiles;
    std::vector<std::string> mappedFiles;
    std::vector<std::string> windows;
    std::string endWhen;
    std::vector<std::string> progressCaptions;
    bool children = false;
    std::vector<automation::Action> answers;
};

// False with a message naming the line when the scenario cannot be read.
bool ParseScenario(const std::vector<std::string>& lines, Scenario& scenario, std::string& problem);

// Runs a program (the setup, or the uninstaller) from its command line through
// the scenario and returns its transcript: each screen and its answer, what
// happened to the prepared windows, and how the program ended. The program is
// never left running.
std::vector<std::string> RunScenario(const std::string& commandLine, const Scenario& scenario,
    DWORD stepTimeoutMs = 30000);
