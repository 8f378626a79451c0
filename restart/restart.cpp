#include "restart.h"
#include "file_system.h"
#include "names.h"
#include "path_limits.h"
#include "places.h"
#include "product.h"
#include "run.h"
#include "text.h"
#include <aclapi.h>
#include <sddl.h>

const char* SecurityStandIn;

namespace {

// Full control for the Administrators and SYSTEM alone, nothing inherited from above.
const char RestartFolderSecurity[] = "O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
// How many files of one name may wait in the folder: the name, then name.1 and on.
constexpr int RestartNames = 1000;
// The rights that change a folder or what it holds.
constexpr DWORD WritingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD
    | FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
// The rights over a folder that let their holder take away what it holds, or
// give itself that right.
constexpr DWORD TakingRights = FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;

bool IsAdministration(PSID sid)
{
    return IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || IsWellKnownSid(sid, WinLocalSystemSid);
}

bool IsLetter(WCHAR c)
{
    return (c | 0x20) >= L'a' && (c | 0x20) <= L'z';
}

// The restart folder for a file of this final path ("\\?\X:\..."): the
// run's own beside its other places when the file is on that volume (the
// Windows directory's, or for one user the temporary folder's), else, for
// the machine, at the drive's root, which no one can rename or replace.
// False for a file on no drive (a share), and for one user's file elsewhere.
bool RestartFolderFor(const WCHAR* final, char* out, size_t size, bool* inRunsPlace)
{
    char beside[PathBufferSize];
    if (!ProductPlacePath(RunMode, RestartPlace, beside, sizeof beside)
        || CompareStringOrdinal(final, 4, L"\\\\?\\", 4, FALSE) != CSTR_EQUAL || !IsLetter(final[4])
        || final[5] != L':' || final[6] != L'\\')
        return false;
    *inRunsPlace = (final[4] | 0x20) == (beside[0] | 0x20);
    if (*inRunsPlace)
        return CopyText(out, size, beside);
    const char root[] = {char(final[4]), ':', '\\', '\0'};
    return RunMode == MachineMode && FormatText(out, size, "%s%s.restart", root, ProductConfig.profileFile);
}

// Whether the security grants the rights to no one but administrators, leaving out the entries of
// the flags skipped.
bool OnlyAdministratorsMay(PSECURITY_DESCRIPTOR descriptor, DWORD rights, DWORD skipped)
{
    PSID owner = nullptr;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL access = nullptr;
    // Its owner may change its access at will; without an access list, anyone may do anything.
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !owner || !IsAdministration(owner)
        || !GetSecurityDescriptorDacl(descriptor, &present, &access, &defaulted) || !present || !access)
        return false;
    for (DWORD i = 0; i < access->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* entry = nullptr;
        if (!GetAce(access, i, reinterpret_cast<void**>(&entry)))
            return false;
        // A denial grants nothing; an entry of a kind not read here counts as a grant to anyone.
        if (entry->Header.AceType == ACCESS_DENIED_ACE_TYPE || (entry->Header.AceFlags & skipped))
            continue;
        if (entry->Header.AceType != ACCESS_ALLOWED_ACE_TYPE
            || ((entry->Mask & rights) && !IsAdministration(&entry->SidStart)))
            return false;
    }
    return true;
}

// Whether the open folder's owner and access pass the judgement.
bool SecurityPasses(HANDLE folder, bool (*judge)(PSECURITY_DESCRIPTOR))
{
    PSECURITY_DESCRIPTOR security = nullptr;
    bool read = SecurityStandIn
        ? ConvertStringSecurityDescriptorToSecurityDescriptorA(SecurityStandIn, SDDL_REVISION_1, &security, nullptr)
            != 0
        : GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
              nullptr, nullptr, nullptr, &security)
            == ERROR_SUCCESS;
    bool passes = read && judge(security);
    LocalFree(security);
    return passes;
}

HANDLE OpenFolderSecurity(const char* folder)
{
    return CreateFileA(folder, READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Makes the folder, the product's from its creation, or finds it there, and
// opens it: a folder, no link, kept from being renamed while it is open.
// Outside the run's own place (the Windows directory, where only
// administrators create anything, or one user's temporary folder, which is
// that user's as the files it takes are) it is neither made nor used unless
// its drive's root lets no one else take it away, to put a link in its place
// before the restart, and one found is used only when its security proves it
// the product's. For the machine, and for one user's run with administrator
// rights (whose temporary folder any program of the user may have made a
// link, or have a link on its way), no link may lie on its way either.
// INVALID_HANDLE_VALUE when it is not used.
HANDLE OpenRestartFolder(const char* folder, bool inRunsPlace)
{
    // Nothing is made at a root that does not keep what it holds.
    const char root[] = {folder[0], ':', '\\', '\0'};
    HANDLE drive = inRunsPlace ? INVALID_HANDLE_VALUE : OpenFolderSecurity(root);
    bool rootKeeps = inRunsPlace || (drive != INVALID_HANDLE_VALUE && SecurityPasses(drive, RootKeepsWhatItHolds));
    CloseHandle(drive); // result deliberately ignored: a handle not opened is invalid, and closes nothing
    if (!rootKeeps) {
        LogLine("Not used, since its drive's root lets others take it away: %s", folder);
        return INVALID_HANDLE_VALUE;
    }
    bool usersMayChange = RunsForUserWithRights();
    // Nothing is made through a link on the way either.
    char parent[PathBufferSize];
    if (usersMayChange && !(CopyFolderPart(folder, parent, sizeof parent) && FolderIsAtPath(parent))) {
        LogLine("Not used, since it may not be the product's own: %s", folder);
        return INVALID_HANDLE_VALUE;
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(RestartFolderSecurity, SDDL_REVISION_1, &descriptor,
            nullptr))
        return INVALID_HANDLE_VALUE;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, RunMode == MachineMode ? descriptor : nullptr, FALSE};
    bool made = CreateDirectoryA(folder, &attributes) != 0;
    DWORD error = GetLastError();
    LocalFree(descriptor);
    if (!made && error != ERROR_ALREADY_EXISTS)
        return INVALID_HANDLE_VALUE;
    HANDLE found = OpenPlainFolder(folder, READ_CONTROL | FILE_ADD_FILE | FILE_TRAVERSE);
    bool usable = found != INVALID_HANDLE_VALUE
        && (RunMode == UserMode ? !usersMayChange || HandleIsAtPath(found, folder)
                                : HandleIsAtPath(found, folder)
                && (inRunsPlace || made || SecurityPasses(found, OnlyAdministratorsWrite)));
    if (usable)
        return found;
    if (found != INVALID_HANDLE_VALUE)
        CloseHandle(found);
    LogLine("Not used, since it may not be the product's own: %s", folder);
    return INVALID_HANDLE_VALUE;
}

// Schedules the deletion of a free name in the folder, and the folder's after
// it, then moves the file to that name, through the folder's handle: a link
// put in the folder's place meanwhile leads nowhere. One user's run schedules
// nothing.
bool MoveInto(HANDLE file, HANDLE opened, const char* folder, const char* name, char* movedTo, size_t size)
{
    for (int number = 0; number < RestartNames; ++number) {
        if (!(number ? FormatText(movedTo, size, "%s\\%s.%d", folder, name, number)
                     : FormatText(movedTo, size, "%s\\%s", folder, name)))
            return false;
        if (GetFileAttributesA(movedTo) != INVALID_FILE_ATTRIBUTES)
            continue;
        // Scheduled first, where Windows takes a name not yet there: no
        // instant leaves the file moved and not scheduled.
        return (RunMode == UserMode
                   || (MoveFileExA(movedTo, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)
                       && MoveFileExA(folder, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)))
            && RenameOpenFileInto(file, opened, movedTo + TextLength(folder) + 1);
    }
    return false;
}

} // namespace

bool OnlyAdministratorsWrite(PSECURITY_DESCRIPTOR descriptor)
{
    return OnlyAdministratorsMay(descriptor, WritingRights, 0);
}

bool OnlyAdministratorsWriteTo(HANDLE file)
{
    return SecurityPasses(file, OnlyAdministratorsWrite);
}

bool RootKeepsWhatItHolds(PSECURITY_DESCRIPTOR descriptor)
{
    return OnlyAdministratorsMay(descriptor, TakingRights, INHERIT_ONLY_ACE);
}

bool LeaveForRestart(HANDLE file, const char* path, char* movedTo, size_t size)
{
    WCHAR final[FinalPathSize];
    char folder[PathBufferSize];
    bool inRunsPlace = false;
    const char* name = path + FolderPartLength(path, TextLength(path));
    if (!FinalPathOf(file, final, FinalPathSize) || !RestartFolderFor(final, folder, sizeof folder, &inRunsPlace))
        return false;
    HANDLE opened = OpenRestartFolder(folder, inRunsPlace);
    if (opened == INVALID_HANDLE_VALUE)
        return false;
    bool moved = MoveInto(file, opened, folder, name, movedTo, size);
    CloseHandle(opened);
    return moved;
}
