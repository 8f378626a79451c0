// The product manifest: an INI file declaring the configuration, the agreement,
// the icon and the payload files in installation order.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct ManifestFile {
    std::string name;   // stored name, in UTF-8
    std::string source; // path on the build machine
    uint64_t size = 0;  // the source's size, once it is found
    bool hasTime = false;
    int64_t time = 0;
    int line = 0;
};

struct Manifest {
    std::string path;
    // The Windows code page the texts are meant to fit on a Windows without
    // the UTF-8 process code page (codePage, 1252 if not given).
    int codePage = 1252;
    // Fields of the configuration record, in its order; texts in UTF-8.
    std::vector<std::pair<std::string, std::string>> fields;
    // The optional fields, each with its value or what stands in for it.
    std::map<std::string, std::string> options;
    std::string agreement;     // path of the agreement text
    std::string agreementText; // the agreement, in UTF-8 with CR LF line ends
    std::string icon;
    std::vector<ManifestFile> files;
    // The languages the product ships (languages, en if not given): its
    // default texts are the first's.
    std::vector<std::string> languages;
    // The texts given for a language (displayName.de = ...): by field, then
    // language; an agreement's text as read, in UTF-8 with CR LF line ends.
    std::map<std::string, std::map<std::string, std::string>> localized;
    std::vector<std::string> localizedFiles; // the agreements' paths
    // The most bytes one file of the setup may hold (mediaSize), 0 when not
    // given, and the manifest's line that gives it.
    uint64_t mediaSize = 0;
    int mediaSizeLine = 0;
    // What the companions' names begin with: companionName, else folderName.
    std::string companionName;
    // What the manifest may mean to fix, though it packs as it is.
    std::vector<std::string> warnings;
    std::string Field(const std::string& name) const;
};

// Whether the payload's sources are looked up (and their times read). The
// uninstaller is built from the manifest before some of its sources exist.
enum class Sources { Resolve, Ignore };

// Reads and validates; on failure returns false with one message per problem.
// programsBuiltForX64: the 64-bit test build, which builds every product's
// programs for x64, where an x86 product's programs are x64 too.
// kitUninstaller: the uninstaller the packer wrote, the source of a file whose
// source pmuninst.exe is found nowhere else.
bool ReadManifest(const std::string& path, const std::vector<std::string>& searchDirs, Sources sources,
    Manifest& manifest, std::vector<std::string>& errors, bool programsBuiltForX64 = false,
    const std::string& kitUninstaller = "");
// UTF-8 to a Windows code page, with iconv. False when a character has no
// place there (or the bytes are not UTF-8): the problem names it, and `at`,
// when given, receives its offset in the UTF-8 text.
bool ToCodePage(const std::string& utf8, int codePage, std::string& out, std::string& problem, size_t* at);
// Whether a field of the configuration record holds a number (else a text).
bool IsNumberField(const std::string& name);
// Letters a to z in upper case.
std::string Upper(std::string text);
// A name as Windows compares names: letter case folded in every script, "/"
// taken for "\\". From the name as written, in UTF-8.
std::wstring FoldedName(const std::string& utf8);
// Checks a stored name as written, in UTF-8 (its length in the code page is
// the caller's); returns the problem, or an empty text.
std::string CheckStoredName(const std::string& name);
