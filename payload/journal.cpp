#include "journal.h"
#include "architecture.h"
#include "code_page.h"
#include "commands.h"
#include "lines.h"
#include "names.h"
#include "payload.h"
#include "places.h"
#include "product.h"
#include "restart.h"
#include "run.h"
#include "schedule.h"
#include "text.h"
#include "waiting.h"
#include <libdeflate.h>
#include <sddl.h>
#include <string.h>

const char* JournalFlushesFailFor = "";
bool JournalDoneUncertain;
int JournalEndsAtRecord;
int JournalEndsAtStep;
bool JournalWithoutIdentities;
int JournalSettlingEndsAt;
uint64_t JournalFlushedLength;

namespace {

// Why the last settling left its journal, and the folder it names.
JournalCause Unsettled;
const char* UnsettledFolder = "";

int Unsettle(JournalCause cause, const char* folder)
{
    Unsettled = cause;
    UnsettledFolder = folder;
    return 0;
}

constexpr size_t ChecksumDigits = 8;
// A record's text: a name, or the folder record's two paths, the second in UTF-8.
constexpr size_t JournalTextSize = 4 * PathBufferSize;
// A record: the checksum, a blank, the kind, a blank, the text, CR LF.
constexpr size_t RecordSize = ChecksumDigits + 3 + JournalTextSize + 2;

bool JournalPath(char* out, size_t size)
{
    return ProductPlacePath(RunMode, JournalPlace, out, size);
}

unsigned long RecordChecksum(const char* body, size_t length)
{
    return libdeflate_adler32(1, body, length);
}

void WriteHex(char* out, unsigned long value)
{
    const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < ChecksumDigits; ++i)
        out[i] = digits[(value >> (4 * (ChecksumDigits - 1 - i))) & 0xf];
}

bool ReadHex(const char* text, unsigned long* value)
{
    *value = 0;
    for (size_t i = 0; i < ChecksumDigits; ++i) {
        char c = text[i];
        int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0)
            return false;
        *value = (*value << 4) | unsigned(digit);
    }
    return true;
}

// The next whole record whose checksum matches: its kind and text. False at the
// end, and at the first record that is cut off, too long or damaged.
bool ReadRecord(LineReader& reader, char* kind, char* text, size_t size)
{
    char line[RecordSize];
    if (!ReadLine(reader, line, sizeof line))
        return false;
    size_t length = TextLength(line);
    if (length < ChecksumDigits + 2 || line[ChecksumDigits] != ' ')
        return false;
    const char* body = line + ChecksumDigits + 1;
    unsigned long checksum;
    if (!ReadHex(line, &checksum) || checksum != RecordChecksum(body, length - ChecksumDigits - 1))
        return false;
    *kind = body[0];
    if (body[1] == '\0')
        return CopyText(text, size, "");
    return body[1] == ' ' && CopyText(text, size, body + 2);
}

// A name the packer may give a file, or the setup's own record.
bool IsJournaledName(const char* name)
{
    return TextEquals(name, InstallRecordName) || !StoredNameProblem(name);
}

// A suffix's number as a record gives it, a blank after it; "-" for none where allowed.
bool ReadSuffix(const char* text, bool noneAllowed, int* number)
{
    if (text[1] != ' ')
        return false;
    if (text[0] == '-' && noneAllowed) {
        *number = NoSuffix;
        return true;
    }
    *number = text[0] - '0';
    return text[0] >= '0' && text[0] <= '9';
}

// A step's record as a step: "s name", "s a identity name", an earlier
// build's "a name" and "name"; false when its text is none of these or it
// names a file the packer may not.
bool ReadStep(char kind, const char* text, JournalStep& step)
{
    step = {kind, 0, NoSuffix, 0, text, kind == JournalAtRestart};
    unsigned long high = 0;
    unsigned long low = 0;
    switch (kind) {
    case JournalStaged:
    case JournalAtRestart:
        if (!ReadSuffix(text, false, &step.staged))
            return false;
        step.name = text + 2;
        break;
    case JournalSetAside:
        if (!ReadSuffix(text, false, &step.aside))
            return false;
        step.name = text + 2;
        break;
    case JournalCommitted:
        if (!ReadSuffix(text, false, &step.staged) || !ReadSuffix(text + 2, true, &step.aside)
            || !ReadHex(text + 4, &high) || !ReadHex(text + 4 + ChecksumDigits, &low)
            || text[4 + 2 * ChecksumDigits] != ' ')
            return false;
        step.identity = (uint64_t(high) << 32) | low;
        step.name = text + 5 + 2 * ChecksumDigits;
        break;
    case JournalCreated:
        break;
    default:
        return false;
    }
    return IsJournaledName(step.name);
}

// The next record that can be trusted: whole, of a known kind, and naming a
// file only as the packer may name one. An earlier build wrote names in the
// system's code page.
bool NextTrustedRecord(LineReader& reader, char* kind, char* text, size_t size, JournalStep& step)
{
    if (!ReadRecord(reader, kind, text, size) || !ReadStoredText(text, size))
        return false;
    return *kind == JournalDone ? text[0] == '\0' : ReadStep(*kind, text, step);
}

// Whether the open file is the one of this identity; any file when none is given.
bool IsThatFile(HANDLE file, const uint64_t* identity)
{
    uint64_t actual = 0;
    return !identity || (FileIdentity(file, &actual) && actual == *identity);
}

enum Found { FoundFile, NothingThere, CannotOpen };

// Opens a file of the run's to delete or rename it. What is absent, or leads
// out of the folder (null: anywhere), is nothing of the run's to change.
Found OpenToChange(const char* path, const WCHAR* within, HANDLE* file)
{
    switch (OpenFileWithin(path, DELETE | FILE_READ_ATTRIBUTES, within, file)) {
    case OpenedFile:
        return FoundFile;
    case AbsentFile:
    case OutsideFile:
        return NothingThere;
    default:
        return CannotOpen;
    }
}

// Deletes the file at path when it lies within the folder (null: anywhere)
// and, given an identity, is that file. One that a program runs from cannot
// be deleted: it is moved into the restart folder and goes at the next
// restart. A file that leads out of the folder is never followed, and one of
// another identity is another's. False when the file stays.
bool RemoveFile(const char* path, const WCHAR* within, const uint64_t* identity = nullptr)
{
    HANDLE file;
    Found found = OpenToChange(path, within, &file);
    if (found != FoundFile)
        return found == NothingThere;
    if (!IsThatFile(file, identity)) {
        CloseHandle(file);
        LogLine("Not the run's own, left: %s", path);
        return true;
    }
    if (DeleteOpenFile(file)) {
        CloseHandle(file);
        LogLine("Deleted: %s", path);
        return true;
    }
    bool left = LeaveRunsFileForRestart(file, path);
    CloseHandle(file);
    if (!left)
        LogLine("Not deleted: %s", path);
    return left;
}

// What a journal says of its run, read to its first record that cannot be trusted.
struct JournalSummary {
    char folder[PathBufferSize];
    WCHAR folderFinal[FinalPathSize];
    bool done;
    uint64_t size;
};

// The folder record: the folder as the run named it, and its final path then.
bool ReadFolderRecord(LineReader& reader, JournalSummary& summary)
{
    char kind = 0;
    char text[JournalTextSize];
    if (!ReadRecord(reader, &kind, text, sizeof text) || kind != JournalFolder)
        return false;
    size_t tab = 0;
    while (text[tab] && text[tab] != '\t')
        ++tab;
    if (!text[tab])
        return false;
    text[tab] = '\0';
    // The final path is UTF-8 in every build's journal; the folder as the system names it.
    return CopyText(summary.folder, sizeof summary.folder, text) && ReadStoredText(summary.folder, sizeof summary.folder)
        && MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text + tab + 1, -1, summary.folderFinal,
               int(FinalPathSize))
        > 1;
}

// The identity of the journal this process made, 0 before it makes one.
uint64_t OwnJournal;

// One user's journal lies where every program of that user may write, and
// its undo deletes and renames what it names: a process with administrator
// rights would do so with them. Such a process trusts only the journal it
// made itself, or one that no program without them could have written, as it
// makes its own (JournalSecurity); the check is of the handle that reads it.
bool TrustedByThisProcess(HANDLE journal)
{
    uint64_t identity = 0;
    return !RunsForUserWithRights()
        || (OwnJournal != 0 && FileIdentity(journal, &identity) && identity == OwnJournal)
        || OnlyAdministratorsWriteTo(journal);
}

// Owned by the Administrators, and for them and the system alone.
const char JournalSecurity[] = "O:BAD:P(A;;FA;;;BA)(A;;FA;;;SY)";

enum JournalOpening { JournalOpened, JournalNotOpened, JournalNotTrusted };

JournalOpening OpenJournal(LineReader& reader, const char* path)
{
    if (!OpenLines(reader, path))
        return JournalNotOpened;
    if (TrustedByThisProcess(reader.file))
        return JournalOpened;
    CloseLines(reader);
    return JournalNotTrusted;
}

// Reads the journal through; JournalNotOpened when it exists but cannot be read at all.
JournalOpening Summarise(const char* path, JournalSummary& summary)
{
    LineReader reader;
    JournalOpening opening = OpenJournal(reader, path);
    if (opening != JournalOpened)
        return opening;
    summary.done = false;
    bool named = ReadFolderRecord(reader, summary);
    char kind = 0;
    char text[JournalTextSize];
    JournalStep step;
    while (named && NextTrustedRecord(reader, &kind, text, sizeof text, step))
        summary.done = summary.done || kind == JournalDone;
    LARGE_INTEGER size = {};
    summary.size = GetFileSizeEx(reader.file, &size) ? uint64_t(size.QuadPart) : 0;
    CloseLines(reader);
    if (!named)
        summary.folder[0] = '\0';
    return JournalOpened;
}

bool SameFolder(const char* a, const char* b)
{
    WCHAR first[FinalPathSize];
    WCHAR second[FinalPathSize];
    if (FinalFolderPath(a, first, FinalPathSize) && FinalFolderPath(b, second, FinalPathSize))
        return SameFinalPath(first, second);
    return SamePathText(a, b);
}

// Whether the folder was deleted: the deepest of its folders that is there
// still leads where the run's folder lay. A folder whose drive or share is
// gone, or that lay behind a link whose target is out of reach, may return.
bool WasDeleted(const JournalSummary& summary)
{
    char ancestor[PathBufferSize];
    if (!CopyText(ancestor, sizeof ancestor, summary.folder))
        return false;
    for (size_t end = TextLength(ancestor); end > 0; --end) {
        end = FolderPartLength(ancestor, end);
        if (end == 0)
            return false;
        ancestor[end] = '\0';
        WCHAR final[FinalPathSize];
        if (GetFileAttributesA(ancestor) != INVALID_FILE_ATTRIBUTES)
            return FinalFolderPath(ancestor, final, FinalPathSize) && FinalPathIsWithin(summary.folderFinal, final);
        if (GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND)
            return false;
    }
    return false;
}

enum FolderState { FolderAsRecorded, FolderGone, FolderElsewhere, FolderOutOfReach };

// Whether the folder is still the one the run wrote into. One that now
// resolves elsewhere (replaced by a link) or cannot be reached is not touched.
FolderState StateOfFolder(const JournalSummary& summary)
{
    WCHAR now[FinalPathSize];
    if (FinalFolderPath(summary.folder, now, FinalPathSize))
        return SameFinalPath(now, summary.folderFinal) ? FolderAsRecorded : FolderElsewhere;
    DWORD error = GetFileAttributesA(summary.folder) == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_SUCCESS;
    bool gone = (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) && WasDeleted(summary);
    return gone ? FolderGone : FolderOutOfReach;
}

// Renames the set-aside file back to its place, where nothing may stand but
// what an earlier build's run created there; false when it stays aside.
bool PutBack(const char* path, const char* aside, const WCHAR* within, bool clearFirst)
{
    HANDLE earlier;
    Found found = OpenToChange(aside, within, &earlier);
    // Nothing set aside there: the run ended before it renamed the file.
    if (found != FoundFile)
        return found == NothingThere;
    bool back = (!within || ResolvesWithin(path, within)) && (!clearFirst || RemoveFile(path, within))
        && RenameOpenFile(earlier, path);
    CloseHandle(earlier);
    LogLine(back ? "Put back: %s" : "Not put back: %s", path);
    // Made durable before the journal that could put it back goes; a folder
    // that cannot be flushed leaves it put back all the same (and logged).
    if (back)
        FlushFolderOf(path); // result deliberately ignored: the file is back either way
    return back;
}

// Leaves the staged file to replace the held one at path when Windows
// restarts. A staged file no longer there was moved by a restart already.
bool ScheduleReplacementOf(const char* staged, int number, const char* path, const WCHAR* within)
{
    HANDLE file;
    Found found = OpenToChange(staged, within, &file);
    if (found != FoundFile)
        return found == NothingThere;
    return ScheduleReplacement(file, number, path, staged);
}

// Undoes one step of an unfinished run, or finishes one of a finished run;
// false when a file stays that should have gone or come back.
bool SettleStep(const JournalSummary& summary, bool folderThere, const JournalStep& step)
{
    bool system = IsSystemName(step.name);
    // A folder that was deleted took what the run did there with it.
    if (!system && !folderThere)
        return true;
    SystemFileAccess access(system);
    const WCHAR* within = system ? nullptr : summary.folderFinal;
    char path[PathBufferSize];
    char staged[PathBufferSize];
    char aside[PathBufferSize];
    bool setAside = step.aside != NoSuffix;
    if (!StoredNamePath(summary.folder, step.name, path, sizeof path)
        || !SuffixedPath(path, StagedSuffix, step.staged, staged, sizeof staged)
        || (setAside && !SuffixedPath(path, SetAsideSuffix, step.aside, aside, sizeof aside)))
        return true; // no file function could name it, so no step could have made it
    if (summary.done && step.kind == JournalAtRestart) {
        if (ScheduleReplacementOf(staged, step.staged, path, within))
            return true;
        // The earlier file stays, and the user is told so: a journal kept for it would stop every later run.
        NoteKept(path);
        if (!RemoveFile(staged, within))
            LogLine("Left for the user to delete: %s", staged);
        return true;
    }
    if (summary.done) {
        // One that can be neither deleted nor moved into the restart folder stays, logged: a
        // journal kept for it would stop every later run.
        if (setAside && !RemoveFile(aside, within))
            LogLine("Left for the user to delete: %s", aside);
        return true;
    }
    switch (step.kind) {
    case JournalStaged:
    case JournalAtRestart: // the restart finds no staged file to move, and replaces nothing
        return RemoveFile(staged, within);
    case JournalCreated:
        return RemoveFile(path, within);
    case JournalSetAside:
        return PutBack(path, aside, within, true);
    default:
        break;
    }
    // Nothing set aside yet: the earlier file still stands at the name, untouched.
    if (setAside && GetFileAttributesA(aside) == INVALID_FILE_ATTRIBUTES
        && (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND))
        return true;
    return RemoveFile(path, within, step.identity ? &step.identity : nullptr)
        && (!setAside || PutBack(path, aside, within, false));
}

const WCHAR* FolderFor(const Journal& journal, const char* name)
{
    return IsSystemName(name) ? nullptr : journal.folderFinal;
}

} // namespace

bool StoredNamePath(const char* folder, const char* name, char* out, size_t size)
{
    if (!IsSystemName(name))
        return FormatFolderFile(out, size, folder, name);
    UINT length = GetSystemDirectoryA(out, UINT(size));
    if (length == 0 || length >= size)
        return false;
    if (!IsSeparator(out[length - 1]) && !AppendText(out, size, "\\"))
        return false;
    return AppendText(out, size, name + SystemPrefixLength);
}

bool LongestSetAsideName(const char* name, char* out, size_t size)
{
    return SuffixedPath(name, SetAsideSuffix, SuffixNumbers - 1, out, size);
}

namespace {

bool FlushJournal(Journal& journal, char kind)
{
    const LARGE_INTEGER here = {};
    LARGE_INTEGER end = {};
    bool flushed = !strchr(JournalFlushesFailFor, kind) && FlushFileBuffers(journal.file);
    if (flushed && SetFilePointerEx(journal.file, here, &end, FILE_CURRENT))
        JournalFlushedLength = uint64_t(end.QuadPart);
    return flushed;
}

// Writes a record, not yet flushed; false when it was not written whole.
bool WriteRecord(Journal& journal, char kind, const char* text)
{
    char line[RecordSize];
    char* body = line + ChecksumDigits + 1;
    size_t bodySize = sizeof line - ChecksumDigits - 1;
    const char kindText[] = {kind, '\0'};
    bool formatted = kind == JournalDone ? FormatText(body, bodySize, "%s", kindText)
                                         : FormatText(body, bodySize, "%s %s", kindText, text);
    if (!formatted || ++journal.records == JournalEndsAtRecord)
        return false;
    size_t bodyLength = TextLength(body);
    WriteHex(line, RecordChecksum(body, bodyLength));
    line[ChecksumDigits] = ' ';
    if (!AppendText(body, bodySize, "\r\n"))
        return false;
    DWORD length = DWORD(ChecksumDigits + 1 + bodyLength + 2);
    DWORD written = 0;
    return WriteFile(journal.file, line, length, &written, nullptr) && written == length;
}

// Creates a file that no one had, within the folder (null: anywhere).
HANDLE CreateWithin(const char* path, const WCHAR* within)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE || HandleLiesWithin(file, within))
        return file;
    DeleteOpenFile(file); // result deliberately ignored: the run fails and its rollback deletes what stays
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
}

// Where a step's file goes, and its staged name beside it.
bool StagedPaths(const JournalStep& step, char* target, size_t targetSize, char* staged, size_t stagedSize)
{
    return TargetOf(step.name, target, targetSize) && SuffixedPath(target, StagedSuffix, step.staged, staged, stagedSize);
}

// Renames the file at path to newPath within the folder; with an identity,
// only when it is that file.
bool RenameWithin(const char* path, const char* newPath, const WCHAR* within, const uint64_t* identity)
{
    HANDLE file;
    if (OpenFileWithin(path, DELETE | FILE_READ_ATTRIBUTES, within, &file) != OpenedFile)
        return false;
    bool renamed = IsThatFile(file, identity) && RenameOpenFile(file, newPath);
    CloseHandle(file);
    return renamed;
}

} // namespace

bool BeginJournal(Journal& journal, const char* folder)
{
    char path[PathBufferSize];
    char text[JournalTextSize];
    char final[3 * FinalPathSize];
    if (!JournalPath(path, sizeof path) || !FinalFolderPath(folder, journal.folderFinal, FinalPathSize)
        || WideCharToMultiByte(CP_UTF8, 0, journal.folderFinal, -1, final, sizeof final, nullptr, nullptr) == 0
        || !FormatText(text, sizeof text, "%s\t%s", folder, final))
        return false;
    journal.checkedFolder[0] = '\0';
    journal.names = nullptr;
    journal.nameCount = 0;
    journal.records = 0;
    journal.steps = 0;
    JournalFlushedLength = 0;
    journal.identities = !JournalWithoutIdentities && KeepsIdentityOnRename(folder);
    journal.replacesAtRestart = RestartMayActWithin(journal.folderFinal);
    // Made as this process trusts it (see TrustedByThisProcess).
    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
    if (RunsForUserWithRights()
        && !ConvertStringSecurityDescriptorToSecurityDescriptorA(
            JournalSecurity, SDDL_REVISION_1, &security.lpSecurityDescriptor, nullptr))
        return false;
    journal.file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, &security, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
        nullptr);
    LocalFree(security.lpSecurityDescriptor);
    if (journal.file == INVALID_HANDLE_VALUE)
        return false;
    if (!FileIdentity(journal.file, &OwnJournal))
        OwnJournal = 0;
    if (WriteRecord(journal, JournalFolder, text) && FlushJournal(journal, JournalFolder))
        return true;
    CloseJournal(journal);
    DeleteFileA(path); // result deliberately ignored: a journal without its folder record undoes nothing
    return false;
}

bool RecordStep(Journal& journal, const JournalStep& step)
{
    char text[JournalTextSize];
    if (step.kind == JournalStaged || step.kind == JournalAtRestart)
        return FormatText(text, sizeof text, "%d %s", step.staged, step.name)
            && WriteRecord(journal, step.kind, text);
    char identity[2 * ChecksumDigits + 1];
    WriteHex(identity, (unsigned long)(step.identity >> 32));
    WriteHex(identity + ChecksumDigits, (unsigned long)(step.identity & 0xffffffffu));
    identity[2 * ChecksumDigits] = '\0';
    const char none[] = "-";
    char aside[2] = {char('0' + step.aside), '\0'};
    return FormatText(text, sizeof text, "%d %s %s %s", step.staged, step.aside == NoSuffix ? none : aside, identity,
               step.name)
        && WriteRecord(journal, JournalCommitted, text);
}

bool FlushSteps(Journal& journal)
{
    return FlushJournal(journal, JournalStaged);
}

bool TakeStep(Journal& journal, JournalStep& step, HANDLE* staged)
{
    if (++journal.steps == JournalEndsAtStep)
        return false;
    SystemFileAccess access(IsSystemName(step.name));
    const WCHAR* within = FolderFor(journal, step.name);
    char target[PathBufferSize];
    char stagedPath[PathBufferSize];
    char aside[PathBufferSize] = "";
    if (!StagedPaths(step, target, sizeof target, stagedPath, sizeof stagedPath))
        return false;
    if (step.kind == JournalStaged) {
        *staged = CreateWithin(stagedPath, within);
        // Where the identity cannot be had, or may not survive the commit, the
        // undo goes by the name as an earlier build did.
        bool identified = (journal.identities || !within) && FileIdentity(*staged, &step.identity);
        step.identity = identified ? step.identity : 0;
        return *staged != INVALID_HANDLE_VALUE;
    }
    // Scheduled only once the run is done: a restart before then would put
    // this file in place while the undo puts back every other.
    if (step.kind == JournalAtRestart)
        return true;
    bool setAside = step.aside != NoSuffix;
    if (setAside
        && (!SuffixedPath(target, SetAsideSuffix, step.aside, aside, sizeof aside)
            || !RenameWithin(target, aside, within, nullptr)))
        return false;
    if (!RenameWithin(stagedPath, target, within, step.identity ? &step.identity : nullptr))
        return false;
    LogLine(setAside ? "Replaced: %s (the earlier file kept as %s until the run is done)" : "Written: %s", target,
        aside);
    return true;
}

bool RecordDone(Journal& journal)
{
    const LARGE_INTEGER here = {};
    LARGE_INTEGER end = {};
    bool located = SetFilePointerEx(journal.file, here, &end, FILE_CURRENT) != 0;
    if (!WriteRecord(journal, JournalDone, ""))
        return false;
    if (FlushJournal(journal, JournalDone))
        return true;
    // Written but perhaps not durable, it must not count: it is cut off again.
    // Where even that cannot be made durable, the disk may keep either reading,
    // and both are whole (every file is written): this process then leaves the
    // journal to the next run rather than undo what that run may finish.
    if (!located || !SetFilePointerEx(journal.file, end, nullptr, FILE_BEGIN) || !SetEndOfFile(journal.file)
        || !FlushJournal(journal, JournalDoneTakenBack)) {
        JournalDoneUncertain = true;
        LogLine("The journal's done record could not be taken back: the next run settles it");
    }
    return false;
}

void CloseJournal(Journal& journal)
{
    CloseHandle(journal.file);
    journal.file = INVALID_HANDLE_VALUE;
}

bool MayWrite(Journal& journal, const char* name, const char* target)
{
    if (IsSystemName(name))
        return true;
    // Files come folder by folder: a folder once found within is not resolved again.
    char parent[PathBufferSize];
    if (!CopyText(parent, sizeof parent, target))
        return false;
    size_t end = FolderPartLength(parent, TextLength(parent));
    parent[end ? end - 1 : 0] = '\0';
    if (journal.checkedFolder[0] && TextEquals(parent, journal.checkedFolder))
        return true;
    if (!ResolvesWithin(target, journal.folderFinal))
        return false;
    // Only a folder that exists now stays checked; one made for this file is checked with the next.
    DWORD attributes = GetFileAttributesA(parent[0] ? parent : ".");
    bool there = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    if (!there || !CopyText(journal.checkedFolder, sizeof journal.checkedFolder, parent[0] ? parent : "."))
        journal.checkedFolder[0] = '\0';
    return true;
}

namespace {

// Whether an existing file may be replaced: a read-only or protected one is
// skipped and never touched, one held open is replaced at the restart where
// that is safe, a folder refused.
Preparation PrepareOverExisting(const Journal& journal, const char* name, const char* target, DWORD attributes)
{
    // A folder is no file the payload could replace.
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return Refused;
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        LogLine("Skipped: %s, it is read-only", target);
        NoteKept(target);
        return Skipped;
    }
    // Opened for writing as the file would be rewritten, without cutting it: a
    // file some program holds is passed over.
    HANDLE existing;
    switch (OpenFileWithin(target, GENERIC_WRITE | DELETE, FolderFor(journal, name), &existing)) {
    case DeniedFile: {
        DWORD error = GetLastError();
        bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
        if (held && journal.replacesAtRestart && !IsSystemName(name))
            return Deferred;
        // Kept, the installation would be a mix of two versions.
        if (held) {
            LogLine("Held: %s, another program holds it open, and it cannot be left for the restart to replace", target);
            return Held;
        }
        LogLine("Skipped: %s, it may not be changed", target);
        NoteKept(target);
        return Skipped;
    }
    case OpenedFile:
        CloseHandle(existing);
        return Prepared;
    default:
        return Refused;
    }
}

// The first suffixed name of the stored name's target that no file has and
// no other file of the run takes: "x.1" with the plain suffix is "x.1"'s
// first choice, which "x" leaves to it. A staged name is never one that an
// operation left for the restart moves: the restart would move the new file.
bool FreeSuffixedPath(const Journal& journal, const char* name, const char* target, const char* suffix, bool staged,
    int* number, char* out, size_t size)
{
    char stem[PathBufferSize];
    for (*number = 0; *number < SuffixNumbers; ++*number) {
        if (!SuffixedPath(target, suffix, *number, out, size) || GetFileAttributesA(out) != INVALID_FILE_ATTRIBUTES)
            continue;
        bool anothers = *number > 0
            && (!SuffixedPath(name, "", *number, stem, sizeof stem) || HoldsPath(journal.names, journal.nameCount, stem));
        if (!anothers && !(staged && WasScheduledSource(out)))
            return true;
    }
    return false;
}

} // namespace

Preparation PrepareStep(const Journal& journal, const char* name, const char* target, int* staged)
{
    SystemFileAccess access(IsSystemName(name));
    char path[PathBufferSize];
    DWORD attributes = GetFileAttributesA(target);
    Preparation existing = attributes == INVALID_FILE_ATTRIBUTES
        ? Prepared
        : PrepareOverExisting(journal, name, target, attributes);
    if (existing == Skipped || existing == Held || existing == Refused)
        return existing;
    if (!FreeSuffixedPath(journal, name, target, StagedSuffix, true, staged, path, sizeof path))
        return Refused;
    return existing == Prepared && *staged > 0 && ReplacementWaits(journal.folderFinal, name) ? Deferred : existing;
}

bool PrepareCommit(const Journal& journal, JournalStep& step)
{
    SystemFileAccess access(IsSystemName(step.name));
    char target[PathBufferSize];
    char aside[PathBufferSize];
    step.kind = step.held ? JournalAtRestart : JournalCommitted;
    step.aside = NoSuffix;
    if (!TargetOf(step.name, target, sizeof target))
        return false;
    if (step.held)
        return true;
    return GetFileAttributesA(target) == INVALID_FILE_ATTRIBUTES
        || FreeSuffixedPath(journal, step.name, target, SetAsideSuffix, false, &step.aside, aside, sizeof aside);
}

bool TargetOf(const char* name, char* out, size_t size)
{
    return IsSystemName(name) ? StoredNamePath("", name, out, size) : CopyText(out, size, name);
}

namespace {

int SettlingSteps;

// Whether the power goes before this step of the settling, as a test asks.
bool PowerGoes()
{
    if (++SettlingSteps != JournalSettlingEndsAt)
        return false;
    JournalSettlingEndsAt = 0;
    return true;
}

} // namespace

int SettleJournal(const char* onlyFor, HWND dialog, ProgressSink sink)
{
    Unsettle(JournalSettled, "");
    char path[PathBufferSize];
    if (JournalDoneUncertain)
        return Unsettle(JournalFilesStay, "");
    if (!JournalPath(path, sizeof path))
        return Unsettle(JournalUnreadable, "");
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
        return ExtractDone;
    // Kept past the call: it names the folder of a journal that stays.
    static JournalSummary summary;
    switch (Summarise(path, summary)) {
    case JournalNotOpened:
        return Unsettle(JournalUnreadable, "");
    case JournalNotTrusted:
        LogLine("Not trusted, since programs without administrator rights may have written it: %s", path);
        return Unsettle(JournalUntrusted, "");
    default:
        break;
    }
    if (onlyFor && summary.folder[0] && !SameFolder(summary.folder, onlyFor))
        return ExtractDone;
    // Without its folder record the run did nothing.
    FolderState state = summary.folder[0] ? StateOfFolder(summary) : FolderGone;
    if (state == FolderElsewhere)
        return Unsettle(JournalFolderElsewhere, summary.folder);
    if (state == FolderOutOfReach)
        return Unsettle(JournalFolderOutOfReach, summary.folder);

    LineReader reader;
    if (OpenJournal(reader, path) != JournalOpened)
        return Unsettle(JournalUnreadable, summary.folder);
    SettlingSteps = 0;
    bool settled = true;
    char kind = 0;
    char text[JournalTextSize];
    if (ReadFolderRecord(reader, summary)) {
        JournalStep step;
        while (NextTrustedRecord(reader, &kind, text, sizeof text, step)) {
            if (kind == JournalDone)
                continue;
            if (PowerGoes()) {
                CloseLines(reader);
                return Unsettle(JournalFilesStay, summary.folder);
            }
            if (sink)
                sink(dialog, step.name, summary.size ? int(reader.consumed * 100 / summary.size) : 0);
            settled = SettleStep(summary, state == FolderAsRecorded, step) && settled;
        }
    }
    CloseLines(reader);
    // The restart's schedule is on disk before the journal that would make it again goes.
    settled = MakeReplacementsDurable() && settled;
    if (!settled || PowerGoes() || !DeleteFileA(path) || PowerGoes())
        return Unsettle(summary.done || settled ? JournalLeftoversStay : JournalFilesStay, summary.folder);
    if (sink)
        sink(dialog, "", 100);
    return ExtractDone;
}

bool UnsettledJournalFolder(char* folder, size_t size)
{
    char path[PathBufferSize];
    JournalSummary summary;
    return JournalPath(path, sizeof path) && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES
        && Summarise(path, summary) == JournalOpened && summary.folder[0] && CopyText(folder, size, summary.folder);
}

JournalCause UnsettledJournal(const char** folder)
{
    *folder = UnsettledFolder;
    return Unsettled;
}
