// The product manifest: an INI file declaring the configuration, the agreement,
// the icon and the payload files in installation order.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct ManifestFile {
    std::string name;   // stored name, Windows-1252
    std::string source; // path on the build machine
    bool hasTime = false;
    int64_t time = 0;
    int line = 0;
};

struct Manifest {
    std::string path;
    // Fields of the configuration record, in its order; texts in Windows-1252.
    std::vector<std::pair<std::string, std::string>> fields;
    // The optional fields, each with its value or what stands in for it.
    std::map<std::string, std::string> options;
    std::string agreement; // path of the agreement text
    std::string icon;
    std::vector<ManifestFile> files;
    std::string Field(const std::string& name) const;
};

// Whether the payload's sources are looked up (and their times read). The
// uninstaller is built from the manifest before some of its sources exist.
enum class Sources { Resolve, Ignore };

// Reads and validates; on failure returns false with one message per problem.
bool ReadManifest(const std::string& path, const std::vector<std::string>& searchDirs, Sources sources,
    Manifest& manifest, std::vector<std::string>& errors);
// UTF-8 to Windows-1252; false when a character has no place there.
bool ToWindows1252(const std::string& utf8, std::string& out);
// Letters a to z in upper case, for comparing names as Windows does.
std::string Upper(std::string text);
// Checks a stored name; returns the problem, or an empty text.
std::string CheckStoredName(const std::string& name);
