// Small file helpers the tests share.
#pragma once
#include <string>
#include <vector>

// Deletes a folder and everything below it, a link in it as a link; a
// missing folder is fine.
void RemoveTree(const std::string& path);
// A file beside the running test program (its helper programs live there).
std::string HelperPath(const char* name);
// The lines of a text file; none when it is missing.
std::vector<std::string> ReadLines(const std::string& path);
// A link at LINK (whose folder exists) to the folder TARGET, made as Wine's
// file system makes one: a Unix symbolic link, which Windows programs see as a
// folder that is a reparse point. False when it could not be made.
bool MakeUnixLink(const std::string& link, const std::string& target);
void RemoveUnixLink(const std::string& link);
// The drive LETTER: made to show the folder FOLDER, as a drive plugged in, and
// taken away again. False when it could not be made.
bool MapDrive(char letter, const std::string& folder);
void UnmapDrive(char letter);
