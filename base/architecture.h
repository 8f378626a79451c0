// Where a product lives on 64-bit Windows. The programs are 32-bit, and so
// are their registry view and system directory, where a 32-bit product's keys
// and files belong. A 64-bit product's are 64-bit Windows' own, which a 32-bit
// program reaches only through the 64-bit registry view, and in the system
// directory with the file system's redirection off.
#pragma once
#include <windows.h>
#include <stddef.h>

// Whether Windows itself is 64-bit (x64, or Arm64, which runs x64 programs).
bool IsWindows64Bit();
// The registry view of the product's keys below HKEY_LOCAL_MACHINE\Software:
// the 64-bit one for a 64-bit product, else the program's own.
REGSAM ProductRegistryView();
// The other view, where a version of the product built for the other
// architecture kept its keys; false on 32-bit Windows, which has one view.
bool OtherRegistryView(REGSAM* view);
// A text value of a key below the root (HKEY_LOCAL_MACHINE, or the user's
// HKEY_CURRENT_USER), in the view given, in the process's code page. False,
// out left empty, when there is none, it is empty, or it does not fit or
// cannot be held there; present, when given, tells whether the value is
// there at all, as text or not.
bool ReadRegistryText(HKEY root, const char* keyPath, REGSAM view, const WCHAR* name, char* out, DWORD size,
    bool* present = nullptr);
// The folder of 64-bit programs, which the shell tells a 32-bit program only
// as its own: read where Windows keeps it, in the 64-bit registry view, not
// from an environment the user may have set. False where it is not there.
bool ReadSixtyFourBitProgramsFolder(char* out, DWORD size);

// Turns the file system's redirection off, for a 64-bit product's system
// files, around exactly the operations on them: from construction to
// destruction, in this thread. Nothing happens for a file of the folder, a
// 32-bit product, or a 64-bit program, which sees no redirection.
class SystemFileAccess {
public:
    explicit SystemFileAccess(bool systemFile);
    ~SystemFileAccess();
    SystemFileAccess(const SystemFileAccess&) = delete;
    SystemFileAccess& operator=(const SystemFileAccess&) = delete;

private:
    void* redirection_ = nullptr;
    bool off_ = false;
};
