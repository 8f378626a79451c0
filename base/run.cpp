#include "run.h"
#include "code_page.h"
#include "file_system.h"
#include "message.h"
#include "names.h"
#include "places.h"
#include "product.h"
#include "text.h"
#include <windows.h>
#include <sddl.h>
#include <stdarg.h>
#include <stdlib.h>

bool Unattended;

namespace {

const EnglishText AlreadyRunningCaption = N_("Setup Already Running");
const EnglishText AlreadyRunningFormat =
    N_("Another installation or removal of %s is in progress. Wait until it has finished, then try again.");
const EnglishText SwitchesCaption = N_("Switches");
const EnglishText BadSwitchCaption = N_("Unknown Switch");
const EnglishText BadSwitchFormat = N_("This switch is unknown or incomplete: %s\r\n\r\n");
const EnglishText LogFailedCaption = N_("Log Not Written");
const EnglishText LogFailedFormat = N_("The log file %s cannot be written.");
const EnglishText NotClaimedFormat = N_("The file %s could not be made. Run this program as an administrator.");
const EnglishText UserNotClaimedFormat = N_("The file %s could not be made.");
// The product's languages follow the first line.
const EnglishText LanguageSwitch = N_("/LANG=name\tshows the screens and messages in that language: %s\r\n");
const EnglishText CommonSwitches =
    N_("/LOG=file\twrites what the run does to the file\r\n/?\tshows this list\r\n\r\nExit codes:\r\n");
const EnglishText CommonExitCodes =
    N_("1618\tanother setup or uninstaller of this product is running\r\n1639\tan unknown or malformed switch\r\n");
const char LineTooLong[] = "(a line too long for the log)";
const EnglishText TextsNotHeldText =
    N_("This product needs Windows 10 version 1903 or later, or a system language that can show its name.");

HANDLE LogFile = INVALID_HANDLE_VALUE;
// The log's path, to open it again after another process of the run wrote to it.
char LogPath[PathBufferSize];
// The log's line.
char LogBuffer[MessageBufferSize];
// Why the run speaks its language, logged once the log is open.
const char* LanguageChosen = "the product's only language";

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Where the word at the text ends: its first blank, or the end of the text.
const char* EndOfWord(const char* at)
{
    while (*at && !IsBlank(*at))
        ++at;
    return at;
}

char Upper(char c)
{
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

// The length of the switch name at text, in any letter case; 0 when text does
// not begin with it. A name without "=" must end where the word ends.
size_t MatchSwitch(const char* text, const char* name)
{
    size_t length = 0;
    for (; name[length]; ++length)
        if (Upper(text[length]) != name[length])
            return 0;
    bool takesValue = name[length - 1] == '=';
    return takesValue || text[length] == '\0' || IsBlank(text[length]) ? length : 0;
}

// A value up to the next blank, or in double quotes; null when it is empty,
// its quote is not closed, or it does not fit.
const char* ReadValue(const char* at, char* out, size_t size)
{
    const char* end;
    if (*at == '"') {
        ++at;
        for (end = at; *end && *end != '"'; ++end) {
        }
        if (*end != '"' || (end[1] && !IsBlank(end[1])))
            return nullptr;
    } else {
        end = EndOfWord(at);
    }
    if (end == at || !CopyTextPrefix(out, size, at, size_t(end - at)))
        return nullptr;
    return end + (*end == '"' ? 1 : 0);
}

// The rest of the text, its surrounding quotes optional: the folder, or a
// value in a switch quoted whole.
bool ReadRest(const char* at, char* out, size_t size)
{
    size_t length = TextLength(at);
    while (length && IsBlank(at[length - 1]))
        --length;
    if (length && at[0] == '"') {
        if (length < 2 || at[length - 1] != '"')
            return false;
        ++at;
        length -= 2;
    }
    return length > 0 && CopyTextPrefix(out, size, at, length);
}

// A switch's value: up to the next blank, or, in a switch quoted whole, the
// rest of it (which ends at end); the position after it, or null.
const char* ReadSwitchValue(const char* at, const char* end, bool quotedWhole, char* out, size_t size)
{
    if (!quotedWhole)
        return ReadValue(at, out, size);
    return ReadRest(at, out, size) ? end : nullptr;
}

// The switches that only say yes, each with its flag: both programs' first,
// then the setup's own.
struct FlagSwitch {
    const char* name;
    bool RunSwitches::*flag;
};
const FlagSwitch FlagSwitches[] = {{"/S", &RunSwitches::unattended}, {"/?", &RunSwitches::help},
    {"/ELEVATED", &RunSwitches::elevated}, {"/CURRENTUSER", &RunSwitches::currentUser},
    {"/ALLUSERS", &RunSwitches::allUsers}, {"/AGREED", &RunSwitches::agreed}};
constexpr int SharedFlagSwitches = 3;

// Reads the switch at the text; the position after it, or null when it is
// unknown or malformed. /D= takes the rest of the text, and so does the
// value of a switch quoted whole.
const char* ReadSwitch(const char* at, bool takesFolder, bool quotedWhole, RunSwitches& switches)
{
    size_t length;
    const char* end = at + TextLength(at);
    int flags = takesFolder ? int(sizeof FlagSwitches / sizeof FlagSwitches[0]) : SharedFlagSwitches;
    for (int i = 0; i < flags; ++i)
        if ((length = MatchSwitch(at, FlagSwitches[i].name)) != 0) {
            switches.*FlagSwitches[i].flag = true;
            return at + length;
        }
    if ((length = MatchSwitch(at, "/LOG=")) != 0)
        return ReadSwitchValue(at + length, end, quotedWhole, switches.log, sizeof switches.log);
    if ((length = MatchSwitch(at, "/LANG=")) != 0) {
        // Started elevated, the first is the language the first process spoke, put before the switches that
        // one was given: a /LANG= among them names that language or one the first passed over, which must
        // not have this process choose again, by another account's interface language. Still read, and
        // refused where malformed, as any.
        char ignored[sizeof switches.language];
        bool kept = switches.elevated && switches.language[0];
        return ReadSwitchValue(at + length, end, quotedWhole, kept ? ignored : switches.language, sizeof ignored);
    }
    if (takesFolder && (length = MatchSwitch(at, "/D=")) != 0)
        return ReadRest(at + length, switches.folder, sizeof switches.folder) ? end : nullptr;
    return nullptr;
}

void NoteProblem(RunSwitches& switches, const char* at)
{
    size_t length = size_t(EndOfWord(at) - at);
    if (!switches.problem[0] && !CopyTextPrefix(switches.problem, sizeof switches.problem, at, length))
        CopyText(switches.problem, sizeof switches.problem, "(too long to show)");
}

void WriteBytes(const char* bytes, DWORD length)
{
    DWORD written;
    WriteFile(LogFile, bytes, length, &written, nullptr); // result deliberately ignored: a log that cannot be written does not stop the run
}

// The log is UTF-8 whatever code page the process has.
void WriteLog(const char* text)
{
    char* utf8 = UsesUtf8() ? nullptr : CopyAsUtf8(text);
    const char* bytes = utf8 ? utf8 : text;
    WriteBytes(bytes, DWORD(TextLength(bytes)));
    free(utf8);
}

void TwoDigits(char* out, int value)
{
    out[0] = char('0' + value / 10 % 10);
    out[1] = char('0' + value % 10);
    out[2] = '\0';
}

void LogStart(const RunProgram& program)
{
    LogLine("%s of %s, version %s", program.name.text, ProductConfig.displayName,
        ProductDetails.version[0] ? ProductDetails.version : "(none given)");
    const char* commandLine[] = {"Command line: ", GetCommandLineA()};
    LogParts(commandLine, 2);
    SYSTEMTIME now;
    GetLocalTime(&now);
    char month[3], day[3], hour[3], minute[3], second[3];
    TwoDigits(month, now.wMonth);
    TwoDigits(day, now.wDay);
    TwoDigits(hour, now.wHour);
    TwoDigits(minute, now.wMinute);
    TwoDigits(second, now.wSecond);
    LogLine("Started: %d-%s-%s %s:%s:%s", int(now.wYear), month, day, hour, minute, second);
    LogLine(Unattended ? "Unattended: no window is shown" : "Interactive");
    LogLine(UsesUtf8() ? "Code page: UTF-8" : "Code page: %d (no UTF-8: Windows before 10 version 1903)", int(GetACP()));
    LogLine("Language: %s, %s", RunLanguage().name, LanguageChosen);
}

// The list of a program's switches and exit codes, after an opening line, in
// English or in the run's language.
bool ComposeSwitches(const RunProgram& program, EnglishText opening, const char* problem, bool shown, char* out,
    size_t size)
{
    auto text = [shown](EnglishText english) { return shown ? Translate(english) : english.text; };
    char names[MessageBufferSize / 4] = "";
    for (int i = 0; i < ProductLanguageCount; ++i)
        if ((i == 0 || AppendText(names, sizeof names, ", ")) && !AppendText(names, sizeof names, ProductLanguages[i].name))
            return false;
    char opened[PathBufferSize + 64];
    char languages[MessageBufferSize / 2];
    return FormatText(opened, sizeof opened, text(opening), problem)
        && FormatText(languages, sizeof languages, text(LanguageSwitch), names) && CopyText(out, size, opened)
        && AppendText(out, size, text(program.switches)) && AppendText(out, size, languages)
        && AppendText(out, size, text(CommonSwitches)) && AppendText(out, size, text(program.exitCodes))
        && AppendText(out, size, text(CommonExitCodes)) && AppendText(out, size, text(program.restartCode));
}

void ShowSwitches(const RunProgram& program, EnglishText caption, EnglishText opening, const char* problem)
{
    char english[MessageBufferSize];
    char shown[MessageBufferSize];
    if (ComposeSwitches(program, opening, problem, false, english, sizeof english)
        && ComposeSwitches(program, opening, problem, true, shown, sizeof shown))
        ShowComposed(nullptr, true, caption, english, shown);
}

// The run's language, before anything is shown.
void ChooseRunLanguage(const RunSwitches& switches)
{
    char recorded[sizeof switches.language] = "";
    if (ProductLanguageCode.readRecorded)
        ProductLanguageCode.readRecorded(recorded, sizeof recorded);
    if (ProductLanguageCode.speakChosen)
        LanguageChosen = ProductLanguageCode.speakChosen(switches.language, recorded);
}

// One run of a product at a time: a run holds a file named after the
// product's profile file in the Windows directory, open to no one else, until
// it ends. A named object any user could make first, and so stop every run;
// only administrators may make a file there, and this one's security lets no
// one else open it. One left by a run cut off by a power failure opens again.
// Only a file another run holds open means that one is going: any other
// failure (a run without administrator rights) is no reason to wait. A run
// for one user holds one in that user's own folder, as the user's files are.
enum Claim { Claimed, ClaimedByAnother, NotClaimed };

Claim ClaimProduct(char* path, size_t size, DWORD* error)
{
    *error = ERROR_SUCCESS;
    if (!ProductPlacePath(RunMode, LockPlace, path, size))
        return NotClaimed;
    // Where one user's run has administrator rights, that user's data folder may be a link put in its
    // place: the lock is made only where its path says.
    char folder[PathBufferSize];
    bool guarded = RunsForUserWithRights();
    if (guarded && !(CopyFolderPart(path, folder, sizeof folder) && FolderIsAtPath(folder))) {
        *error = ERROR_CANT_ACCESS_FILE;
        return NotClaimed;
    }
    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
    if (RunMode == MachineMode
        && !ConvertStringSecurityDescriptorToSecurityDescriptorA(
            "D:P(A;;FA;;;BA)(A;;FA;;;SY)", SDDL_REVISION_1, &security.lpSecurityDescriptor, nullptr))
        return NotClaimed;
    // A link put in its place (one user's lock lies where that user's programs write) is claimed and deleted
    // itself: followed, the run would delete whatever it leads to when it ends, with the run's rights.
    HANDLE lock = CreateFileA(path, GENERIC_READ | DELETE, 0, &security, OPEN_ALWAYS,
        FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    *error = lock == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    LocalFree(security.lpSecurityDescriptor);
    // A link put on its way meanwhile: what the run made there goes as the handle closes.
    if (lock != INVALID_HANDLE_VALUE && guarded && !HandleIsAtPath(lock, path)) {
        CloseHandle(lock);
        *error = ERROR_CANT_ACCESS_FILE;
        return NotClaimed;
    }
    // Never closed: the file lasts as long as the run, and goes with it.
    if (lock != INVALID_HANDLE_VALUE)
        return Claimed;
    return *error == ERROR_SHARING_VIOLATION ? ClaimedByAnother : NotClaimed;
}

// The log is written elevated, often where users may write: a link, a junction
// on its way or a second name of another file there must not make it
// overwrite a file they may not, nor make one where they may not. The whole
// way is checked before anything is made; a file made and then refused (a
// link put in its way meanwhile) is deleted through the handle that made it.
// Appending, what the file holds stays and the log goes on after it.
HANDLE OpenLogFile(const char* path, bool append)
{
    char folder[PathBufferSize];
    DWORD length = GetFullPathNameA(path, sizeof folder, folder, nullptr);
    if (length == 0 || length >= sizeof folder)
        return INVALID_HANDLE_VALUE;
    folder[FolderPartLength(folder, length)] = '\0';
    if (!FolderIsAtPath(folder))
        return INVALID_HANDLE_VALUE;
    DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags, nullptr);
    bool made = false;
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
        file = CreateFileA(path, GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW, flags, nullptr);
        made = file != INVALID_HANDLE_VALUE;
    }
    if (file == INVALID_HANDLE_VALUE)
        return file;
    bool plain = IsPlainFileAtPath(file, path)
        && (made || (append ? SetFilePointerEx(file, LARGE_INTEGER(), nullptr, FILE_END) : SetEndOfFile(file)));
    if (plain)
        return file;
    if (made)
        DeleteOpenFile(file); // result deliberately ignored: the run ends refused either way
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
}

} // namespace

const char* SkipProgramName(const char* commandLine)
{
    const char* at = commandLine;
    if (*at == '"') {
        for (++at; *at && *at != '"'; ++at) {
        }
        at += *at == '"' ? 1 : 0;
    }
    at = EndOfWord(at);
    while (IsBlank(*at))
        ++at;
    return at;
}

bool ReadSwitches(const char* arguments, bool takesFolder, RunSwitches& switches)
{
    switches = RunSwitches();
    const char* at = arguments;
    for (;;) {
        while (IsBlank(*at))
            ++at;
        if (!*at)
            break;
        const char* next;
        if (*at == '"') {
            // A switch quoted whole, as tools quote an argument with a blank in it: "/LOG=C:\my logs\l.txt".
            const char* close = at + 1;
            while (*close && *close != '"')
                ++close;
            char quoted[PathBufferSize + 8];
            const char* end = *close == '"' && CopyTextPrefix(quoted, sizeof quoted, at + 1, size_t(close - at - 1))
                ? ReadSwitch(quoted, takesFolder, true, switches)
                : nullptr;
            next = end && !*end && (!close[1] || IsBlank(close[1])) ? close + 1 : nullptr;
            if (!next) {
                NoteProblem(switches, at);
                next = *close ? close + 1 : close;
            }
        } else {
            next = ReadSwitch(at, takesFolder, false, switches);
            if (!next) {
                NoteProblem(switches, at);
                next = EndOfWord(at);
            }
        }
        at = next;
    }
    // For one user or for everyone: not both.
    if (switches.currentUser && switches.allUsers)
        NoteProblem(switches, "/ALLUSERS");
    return !switches.problem[0];
}

bool BeginRun(const RunProgram& program, RunSwitches& switches, int* exitCode)
{
    bool read = ReadSwitches(SkipProgramName(GetCommandLineA()), program.takesFolder, switches);
    Unattended = switches.unattended;
    if (!program.readProduct()) {
        char path[PathBufferSize];
        DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
        const char* shown = length && length < sizeof path ? path : "";
        // What /LOG= names is written to without the product's names, which cannot be read.
        if (switches.log[0] && CopyText(LogPath, sizeof LogPath, switches.log)
            && (LogFile = OpenLogFile(LogPath, switches.agreed)) != INVALID_HANDLE_VALUE)
            LogLine("Failed: %s is not what it was made with: the product written into it cannot be read", shown);
        ShowWarning(nullptr, program.name, program.damaged, shown);
        *exitCode = EndRun(ExitFailed);
        return false;
    }
    ChooseRunLanguage(switches);
    if (!read) {
        *exitCode = ExitBadSwitch;
        if (!Unattended)
            ShowSwitches(program, BadSwitchCaption, BadSwitchFormat, switches.problem);
        return false;
    }
    if (switches.help) {
        *exitCode = ExitDone;
        if (!Unattended)
            ShowSwitches(program, SwitchesCaption, EnglishText{""}, "");
        return false;
    }
    // Before the product's names are used: the claim of the run and the log take them.
    bool held = HoldProductTexts() && program.holdTexts();
    bool forMachine = ProductDetails.installFor == InstallForMachine;
    if (held && !forMachine && program.wantsMachine(switches)) {
        // Started elevated, or elevated already; else an elevated process takes the run over.
        forMachine = switches.elevated || RunsElevated();
        if (!forMachine) {
            StartElevated("/ELEVATED", exitCode); // result deliberately ignored: the exit code tells
            return false;
        }
    }
    RunMode = forMachine ? MachineMode : UserMode;
    // Before the log: a run of the product that is going may be writing to the same file.
    char claimPath[PathBufferSize] = "";
    DWORD claimError;
    Claim claim = ClaimProduct(claimPath, sizeof claimPath, &claimError);
    if (claim == ClaimedByAnother) {
        *exitCode = ExitAlreadyRunning;
        ShowWarning(nullptr, AlreadyRunningCaption, AlreadyRunningFormat, ShownProductName());
        return false;
    }
    if (switches.log[0]) {
        CopyText(LogPath, sizeof LogPath, switches.log); // result deliberately ignored: the switch's buffer is as large
        LogFile = OpenLogFile(LogPath, switches.agreed);
        if (LogFile == INVALID_HANDLE_VALUE) {
            *exitCode = ExitBadSwitch;
            ShowWarning(nullptr, LogFailedCaption, LogFailedFormat, switches.log);
            return false;
        }
    }
    LogStart(program);
    if (claim == Claimed)
        LogLine("Lock: %s", claimPath);
    if (claim == NotClaimed) {
        LogLine("Failed: the run's claim %s could not be made (error %d)", claimPath, int(claimError));
        ShowWarning(nullptr, program.name, RunMode == MachineMode ? NotClaimedFormat : UserNotClaimedFormat, claimPath);
        *exitCode = EndRun(ExitFailed);
        return false;
    }
    if (!held) {
        LogLine("The product's texts cannot be held in this code page");
        ShowWarning(nullptr, program.name, TextsNotHeldText);
        *exitCode = EndRun(ExitFailed);
        return false;
    }
    return true;
}

void SuspendLog()
{
    if (LogFile != INVALID_HANDLE_VALUE)
        CloseHandle(LogFile);
    LogFile = INVALID_HANDLE_VALUE;
}

void ResumeLog()
{
    if (LogPath[0])
        LogFile = OpenLogFile(LogPath, true);
}

int EndRun(int exitCode)
{
    LogLine("Exit code: %d", exitCode);
    if (LogFile != INVALID_HANDLE_VALUE)
        CloseHandle(LogFile);
    LogFile = INVALID_HANDLE_VALUE;
    return exitCode;
}

void LogLine(const char* format, ...)
{
    if (LogFile == INVALID_HANDLE_VALUE)
        return;
    va_list args;
    va_start(args, format);
    bool fits = FormatTextV(LogBuffer, sizeof LogBuffer, format, args);
    va_end(args);
    WriteLog(fits ? LogBuffer : LineTooLong);
    WriteLog("\r\n");
}

void LogParts(const char* const* parts, int count)
{
    if (LogFile == INVALID_HANDLE_VALUE)
        return;
    for (int i = 0; i < count; ++i)
        WriteLog(parts[i]);
    WriteLog("\r\n");
}
