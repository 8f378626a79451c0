// Small file helpers the tests share.
#pragma once
#include <string>
#include <vector>

// Deletes a folder and everything below it; a missing folder is fine.
void RemoveTree(const std::string& path);
// A file beside the running test program (its helper programs live there).
std::string HelperPath(const char* name);
// The lines of a text file; none when it is missing.
std::vector<std::string> ReadLines(const std::string& path);
