// What an installation left behind, read back as lines a test can compare:
// files, the profile value, the uninstall entry, links and Program Manager trace.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

// Every file below the folder: "relative path | size | modified (seconds since 1970)".
std::vector<std::string> ListFiles(const std::string& folder);
// The remembered folder: the profile's Options/dataDir, or "(none)".
std::string ProfileValue(const std::string& profileFile);
// Every value of the uninstall entry, in name order: "Name = text (N bytes)" or
// "Name = N (dword)"; or "(no uninstall entry)". In this program's registry
// view, or the one given; the machine's, or the user's.
std::vector<std::string> UninstallEntry(const std::string& displayName, REGSAM view = 0,
    HKEY root = HKEY_LOCAL_MACHINE);
// What a run may change, one line each: every file (with its size) and folder
// of drive C:, and every key and value below Software of HKEY_LOCAL_MACHINE and
// HKEY_CURRENT_USER in both the 32-bit and the 64-bit registry view.
std::vector<std::string> SystemSnapshot();
// The files and folders whose deletion waits for the next restart.
std::vector<std::string> PendingDeletions();
// The files that replace others at the next restart: "source > target".
std::vector<std::string> PendingReplacements();
// Each link of a Start menu group, for all users and for this one:
// "all users: name.lnk -> target | working folder" or "user: ...".
std::vector<std::string> GroupLinks(const std::string& group);
// The commands Wine's Program Manager server executed, from the desktop process's trace.
std::vector<std::string> TracedProgmanCommands();
// The commands that register the shipped product in a folder, with the
// Startup item's four last when it is asked for.
std::vector<std::string> ShippedProgmanCommands(const std::string& folder, bool startupItem);
// All of the above for one product, headed by section names.
std::vector<std::string> InstallationSummary(const std::string& folder, const std::string& folderName,
    const std::string& displayName, const std::string& profileFile);
