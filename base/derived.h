// Texts derived from the installation folder (paths, command lines, messages)
// each go into a fixed buffer. Before a folder is accepted, the run's check
// tries every one of them on it, so no step later finds its text too long.
#pragma once

typedef bool (*FolderCheck)(const char* folder);

// The program registers its check before any folder is chosen.
void RegisterFolderCheck(FolderCheck check);
// True when every text derived from the folder fits; true when nothing is registered.
bool DerivedTextsFit(const char* folder);
