// Stored payload names and what they need below a folder. Plain C++, shared
// with the packer, which refuses a name that no folder could hold.
#pragma once
#include <stddef.h>

// A name whose first seven characters are exactly "SYSTEM\" or "SYSTEM/"
// denotes a file in the Windows system directory.
constexpr size_t SystemPrefixLength = 7;
bool IsSystemName(const char* name);
// Names separate their components with "\\" or "/", mixed as they come.
bool IsSeparator(char c);
// How much of the path's first `length` characters is its folder: up to and
// with the last separator among them, 0 when there is none.
size_t FolderPartLength(const char* path, size_t length);
// The folder a path lies in, without the separator after it; false when the
// path names none (or only a root's separator) or it does not fit.
bool CopyFolderPart(const char* path, char* out, size_t size);
// Control characters and what Windows refuses in any name: < > : " | ? *
bool IsRefusedInNames(char c);
// The limit a name below the folder breaks: 0 when it fits, FilePathLimit
// when the file's path is too long, FolderPathLimit when the folder that
// must be created for it is.
size_t BrokenNameLimit(const char* folder, const char* name);
// What the setup adds to a file's name while it writes the file's new version,
// while it sets the file aside during an update, and to one it moves out of
// the way because a program runs from it.
extern const char StagedSuffix[];
extern const char SetAsideSuffix[];
extern const char MovedAwaySuffix[];
// How many names a staged, set-aside or moved-away file may try: the plain suffix, then .1 to .9.
constexpr int SuffixNumbers = 10;
// A path with a suffix added: number 0 adds the suffix alone, 1 to 9 ".n" and the suffix.
bool SuffixedPath(const char* path, const char* suffix, int number, char* out, size_t size);
// The setup's record of what it wrote, in the installation folder.
extern const char InstallRecordName[];
// What begins a line of the record that names a link the setup made outside
// the folder (the Startup item), its full path after it: no stored name has
// a colon, so no earlier reader takes it for a file of the folder.
extern const char RecordedLinkPrefix[];
// The link's path a record line names; null when the line names no link.
const char* RecordedLinkPath(const char* line);
// What begins the record's first line, the product's displayName after it:
// whose installation the folder holds. An earlier build wrote no such line.
extern const char RecordedProductPrefix[];
// The product a record line names; null when the line names none.
const char* RecordedProductName(const char* line);
// What begins the record's second line, the name of the language the setup
// spoke after it, which the uninstaller speaks too. An earlier build wrote none.
extern const char RecordedLanguagePrefix[];
const char* RecordedLanguageName(const char* line);

// Why a stored name cannot name a file below the folder (or the system
// directory): it must be relative, without a drive, empty components, "." or
// "..", characters Windows refuses, a component ending in a dot or space or
// naming a device (CON, NUL, COM1 ...),
// and must not end in either suffix above nor be the record's name.
// Null when it can. The packer refuses such names; the programs trust no name
// they read from disk that breaks this rule.
const char* StoredNameProblem(const char* name);
// The problem StoredNameProblem gives the first of a path's components that
// may not be one; null when each may.
const char* ComponentsProblem(const char* path);
// Why a path read from disk or the registry cannot be taken for a full path:
// it must be on a drive (no share, no device), its components as a stored
// name's. Null when it can.
const char* FullPathProblem(const char* path);
// The problem StoredNameProblem gives a component that is a device's name.
extern const char ReservedDeviceProblem[];
