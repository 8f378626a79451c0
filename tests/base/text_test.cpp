#include "language.h"
#include "code_page.h"
#include "profile.h"
#include "run.h"
#include "text.h"
#include <gtest/gtest.h>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <windows.h>

namespace {

// A buffer with guard bytes after its end, to see that nothing is written past it.
struct GuardedBuffer {
    char bytes[40];
    size_t size;
    explicit GuardedBuffer(size_t usable) : size(usable) { memset(bytes, '#', sizeof bytes); }
    bool GuardsIntact() const
    {
        for (size_t i = size; i < sizeof bytes; ++i)
            if (bytes[i] != '#')
                return false;
        return true;
    }
};

} // namespace

TEST(BoundedText, FormatFitsExactlyOrReportsOverflow)
{
    struct Case {
        size_t size;
        const char* format;
        const char* argument;
        bool fits;
        const char* result;
    };
    const Case cases[] = {
        {8, "%s\\x", "C:\\ab", true, "C:\\ab\\x"},     // 7 characters and the zero: exactly full
        {7, "%s\\x", "C:\\ab", false, ""},             // one over: left empty, never cut
        {1, "%s", "", true, ""},                       // empty text into the smallest buffer
        {1, "%s", "a", false, ""},
        {12, "[%s]", "Pelmora", true, "[Pelmora]"},
        {12, "100%%", "", true, "100%"},
        {12, "%x", "", false, ""},                      // unknown conversions are refused
    };
    for (const Case& c : cases) {
        GuardedBuffer buffer(c.size);
        EXPECT_EQ(FormatText(buffer.bytes, buffer.size, c.format, c.argument), c.fits) << c.format << " " << c.size;
        EXPECT_STREQ(buffer.bytes, c.result);
        EXPECT_TRUE(buffer.GuardsIntact()) << c.format << " " << c.size;
    }
}

TEST(BoundedText, LonePercentAtTheEndIsRefusedWithoutReadingPastIt)
{
    // The format ends right before a page that may not be read: a byte read past its end faults.
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    char* pages = static_cast<char*>(VirtualAlloc(nullptr, 2 * system.dwPageSize, MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(pages, nullptr);
    DWORD old;
    ASSERT_TRUE(VirtualProtect(pages + system.dwPageSize, system.dwPageSize, PAGE_NOACCESS, &old));
    char* format = pages + system.dwPageSize - 4;
    memcpy(format, "50%", 4);
    char buffer[16];
    EXPECT_FALSE(FormatText(buffer, sizeof buffer, format));
    EXPECT_STREQ(buffer, "");
    VirtualFree(pages, 0, MEM_RELEASE);
}

TEST(BoundedText, FormatsSignedDecimals)
{
    const struct {
        int value;
        const char* text;
    } cases[] = {{0, "0"}, {7, "7"}, {-1, "-1"}, {100, "100"}, {2147483647, "2147483647"},
        {-2147483647 - 1, "-2147483648"}};
    for (const auto& c : cases) {
        char buffer[16];
        EXPECT_TRUE(FormatText(buffer, sizeof buffer, "%d", c.value));
        EXPECT_STREQ(buffer, c.text);
    }
    char tight[3];
    EXPECT_FALSE(FormatText(tight, sizeof tight, "%d", 100));
    EXPECT_STREQ(tight, "");
}

TEST(BoundedText, CopyAndAppendNeverWritePastTheBuffer)
{
    GuardedBuffer exact(6);
    EXPECT_TRUE(CopyText(exact.bytes, exact.size, "abcde"));
    EXPECT_STREQ(exact.bytes, "abcde");
    EXPECT_TRUE(exact.GuardsIntact());

    GuardedBuffer over(5);
    EXPECT_FALSE(CopyText(over.bytes, over.size, "abcde"));
    EXPECT_STREQ(over.bytes, "");
    EXPECT_TRUE(over.GuardsIntact());

    GuardedBuffer append(6);
    EXPECT_TRUE(CopyText(append.bytes, append.size, "abc"));
    EXPECT_TRUE(AppendText(append.bytes, append.size, "de"));
    EXPECT_STREQ(append.bytes, "abcde");
    EXPECT_FALSE(AppendText(append.bytes, append.size, "f"));
    EXPECT_STREQ(append.bytes, "");
    EXPECT_TRUE(append.GuardsIntact());

    EXPECT_FALSE(CopyText(exact.bytes, 0, "a"));
    EXPECT_TRUE(exact.GuardsIntact());

    // A part of a longer text: as many bytes as asked, or nothing.
    GuardedBuffer part(6);
    EXPECT_TRUE(CopyTextPrefix(part.bytes, part.size, "abcdefgh", 5));
    EXPECT_STREQ(part.bytes, "abcde");
    EXPECT_FALSE(CopyTextPrefix(part.bytes, part.size, "abcdefgh", 6));
    EXPECT_STREQ(part.bytes, "");
    EXPECT_TRUE(part.GuardsIntact());
}

TEST(BoundedText, EqualityIsByteForByte)
{
    EXPECT_TRUE(TextEquals("C:\\windows", "C:\\windows"));
    EXPECT_FALSE(TextEquals("C:\\windows", "C:\\WINDOWS"));
    EXPECT_FALSE(TextEquals("C:\\windows", "C:\\windows\\"));
    EXPECT_TRUE(TextEquals("", ""));
}

TEST(Switches, ReadInAnyCaseWithTheFolderLastAndQuotesOptional)
{
    const std::string longest(PathBufferSize - 1, 'f');
    const struct {
        std::string arguments;
        bool takesFolder;
        bool read;
        bool unattended;
        bool help;
        std::string folder;
        std::string log;
        std::string problem;
    } cases[] = {
        {"", true, true, false, false, "", "", ""},
        {"/S", true, true, true, false, "", "", ""},
        {" \t/s  /?", true, true, true, true, "", "", ""},
        {"/LOG=C:\\l.txt /D=C:\\Program Files\\P m", true, true, false, false, "C:\\Program Files\\P m",
            "C:\\l.txt", ""},
        {"/log=\"C:\\my logs\\l.txt\" /d=\"C:\\Apps\\P\"  ", true, true, false, false, "C:\\Apps\\P",
            "C:\\my logs\\l.txt", ""},
        // The folder takes the rest of the line, switches and all.
        {"/D=C:\\x /S", true, true, false, false, "C:\\x /S", "", ""},
        {"/D=" + longest, true, true, false, false, longest, "", ""},
        {"/D=" + longest + "f", true, false, false, false, "", "", "/D=" + longest + "f"},
        {"/D=", true, false, false, false, "", "", "/D="},
        {"/D=\"C:\\x", true, false, false, false, "", "", "/D=\"C:\\x"},
        {"/D=C:\\x", false, false, false, false, "", "", "/D=C:\\x"},
        {"/LOG=", true, false, false, false, "", "", "/LOG="},
        {"/LOG=\"C:\\x /S", true, false, true, false, "", "", "/LOG=\"C:\\x"},
        {"/LOG=\"C:\\x\"y", true, false, false, false, "", "", "/LOG=\"C:\\x\"y"},
        // A switch quoted whole, as tools quote an argument with a blank: its value is the rest of it.
        {"\"/LOG=C:\\my logs\\l.txt\" \"/S\" \"/D=C:\\Program Files\\P\"", true, true, true, false,
            "C:\\Program Files\\P", "C:\\my logs\\l.txt", ""},
        {"\"/X\" /S", true, false, true, false, "", "", "\"/X\""},
        {"\"/S\"x", true, false, true, false, "", "", "\"/S\"x"},
        {"\"/S", true, false, false, false, "", "", "\"/S"},
        // An unknown switch is named, and a /S after it still counts.
        {"/Silent /S", true, false, true, false, "", "", "/Silent"},
        {"/S/? -S", true, false, false, false, "", "", "/S/?"},
        {"S", true, false, false, false, "", "", "S"},
        // For whom: the setup's switches, one of the two at a time.
        {"/S /currentuser /AllUsers", true, false, true, false, "", "", "/ALLUSERS"},
        {"/CURRENTUSER", false, false, false, false, "", "", "/CURRENTUSER"},
    };
    for (const auto& c : cases) {
        RunSwitches switches;
        EXPECT_EQ(ReadSwitches(c.arguments.c_str(), c.takesFolder, switches), c.read) << c.arguments;
        EXPECT_EQ(switches.unattended, c.unattended) << c.arguments;
        EXPECT_EQ(switches.help, c.help) << c.arguments;
        EXPECT_EQ(switches.folder, c.folder) << c.arguments;
        EXPECT_EQ(switches.log, c.log) << c.arguments;
        EXPECT_EQ(switches.problem, c.problem.size() < PathBufferSize ? c.problem : "(too long to show)")
            << c.arguments;
    }
}

TEST(Switches, TheProgramsOwnAnswersToThemselves)
{
    RunSwitches switches;
    EXPECT_TRUE(ReadSwitches("/allusers /Elevated /AGREED /D=C:\\x", true, switches));
    EXPECT_TRUE(switches.allUsers && switches.elevated && switches.agreed && !switches.currentUser);
    EXPECT_STREQ(switches.folder, "C:\\x");
    EXPECT_TRUE(ReadSwitches("/ELEVATED /S", false, switches)) << "the uninstaller's too";
    EXPECT_TRUE(switches.elevated && switches.unattended);
    EXPECT_FALSE(ReadSwitches("/AGREED", false, switches)) << "the setup's alone";

    // The language: the last given, but in a process started elevated the first, its first process's.
    const struct {
        const char* arguments;
        bool takesFolder;
        bool read;
        const char* language;
    } languages[] = {
        {"/LANG=de /S /lang=fr", true, true, "fr"},
        {"/ALLUSERS /ELEVATED /AGREED /LANG=de /S /LANG=fr /D=C:\\x", true, true, "de"},
        {"/ELEVATED /LANG=de /S /LANG=fr", false, true, "de"},
        {"/ELEVATED /LANG=de /LANG=abcdefghijklmno", false, true, "de"},
        {"/ELEVATED /S /LANG=fr", false, true, "fr"},
        {"/ELEVATED /LANG=de \"/LANG=fr\"", false, true, "de"},
        {"/ELEVATED /LANG=de /LANG=abcdefghijklmnop", false, false, "de"},
    };
    for (const auto& c : languages) {
        EXPECT_EQ(ReadSwitches(c.arguments, c.takesFolder, switches), c.read) << c.arguments;
        EXPECT_STREQ(switches.language, c.language) << c.arguments;
    }
}

TEST(Switches, FollowTheProgramNameQuotedOrNot)
{
    const struct {
        const char* commandLine;
        const char* arguments;
    } cases[] = {
        {"setup.exe /S", "/S"},
        {"\"C:\\Program Files\\setup.exe\"  /S /D=x", "/S /D=x"},
        {"\"C:\\a b\\setup.exe\"", ""},
        {"setup.exe", ""},
        {"\"unclosed /S", ""},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(SkipProgramName(c.commandLine), c.arguments) << c.commandLine;
}

// The run's language: the one /LANG= names, else the one the install record
// names, among the product's; else the user's interface language exactly,
// then the first of its family (Chinese by its script), else the product's
// first. /LANG= is read as the other switches are.
TEST(Languages, AskedThenRecordedThenTheUsersThenItsFamilyThenTheFirst)
{
    const LanguageRecord product[] = {
        {"ja", MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN), 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
            nullptr},
        {"en", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
            nullptr},
        {"pt_PT", MAKELANGID(LANG_PORTUGUESE, SUBLANG_PORTUGUESE), 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
            nullptr},
        {"pt_BR", MAKELANGID(LANG_PORTUGUESE, SUBLANG_PORTUGUESE_BRAZILIAN), 0, 0, nullptr, nullptr, nullptr, nullptr,
            nullptr, nullptr},
        {"zh_CN", MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED), 0, 0, nullptr, nullptr, nullptr, nullptr,
            nullptr, nullptr},
        {"zh_TW", MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL), 0, 0, nullptr, nullptr, nullptr, nullptr,
            nullptr, nullptr},
    };
    const struct {
        const char* asked;
        const char* recorded;
        LANGID user;
        const char* chosen;
        LanguageReason reason;
    } cases[] = {
        {"", "", MAKELANGID(LANG_PORTUGUESE, SUBLANG_PORTUGUESE_BRAZILIAN), "pt_BR", LanguageOfUser},
        {"", "", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_UK), "en", LanguageOfUsersFamily},
        {"", "", MAKELANGID(LANG_PORTUGUESE, SUBLANG_NEUTRAL), "pt_PT", LanguageOfUsersFamily},
        {"", "", MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), "ja", LanguageFirst},
        {"", "", MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_HONGKONG), "zh_TW", LanguageOfUser},
        {"", "", MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_MACAU), "zh_TW", LanguageOfUser},
        {"", "", MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SINGAPORE), "zh_CN", LanguageOfUser},
        {"", "en", MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN), "en", LanguageRecorded},
        {"pt-br", "en", MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN), "pt_BR", LanguageAsked},
        {"EN", "ja", MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN), "en", LanguageAsked},
        // A language the product does not ship counts as not named.
        {"de", "fr", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), "en", LanguageOfUser},
        {"p", "", MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), "ja", LanguageFirst},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.asked) + " / " + c.recorded + " / " + std::to_string(c.user));
        LanguageReason reason;
        const LanguageRecord* chosen = ChooseLanguage(product, 6, c.asked, c.recorded, c.user, &reason);
        ASSERT_NE(chosen, nullptr);
        EXPECT_STREQ(chosen->name, c.chosen);
        EXPECT_EQ(reason, c.reason);
    }

    const struct {
        const char* arguments;
        const char* language;
        const char* problem;
    } switches[] = {
        {"/LANG=de /S", "de", ""},
        {"/S /lang=pt_BR", "pt_BR", ""},
        {"\"/LANG=zh-TW\"", "zh-TW", ""},
        {"/LANG= /S", "", "/LANG="},
        {"/LANG=abcdefghijklmnopqrstuvwxyz", "", "/LANG=abcdefghijklmnopqrstuvwxyz"},
    };
    for (const auto& c : switches) {
        RunSwitches read;
        EXPECT_EQ(ReadSwitches(c.arguments, true, read), c.problem[0] == '\0') << c.arguments;
        EXPECT_STREQ(read.language, c.language) << c.arguments;
        EXPECT_STREQ(read.problem, c.problem) << c.arguments;
    }
}

namespace {

std::string WindowsFileBytes(const char* name)
{
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    std::ifstream in(std::string(windows) + "\\" + name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteWindowsFile(const char* name, const std::string& bytes)
{
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    std::ofstream(std::string(windows) + "\\" + name, std::ios::binary) << bytes;
}

} // namespace

// Run twice: where the system's code page is 1252, and (text_test_utf8_system) where it is UTF-8, in
// which no one can tell what code page another program's line is in.
TEST(Profile, AValueIsWrittenWithoutLosingAnotherProgramsLine)
{
    const bool utf8System = SystemCodePage() == 0;
    // A file of each run's own: the two runs share one Windows folder, and may run at the same time.
    const char* const name = utf8System ? "pmtest-profile-utf8.ini" : "pmtest-profile.ini";
    const std::string theirs = "[Album]\r\ntitle=Caf\xe9\r\n"; // another program's, in code page 1252
    const std::string large(1024 * 1024, ';');
    const struct {
        const char* what;
        std::string before;
        const char* value;
        bool written;
        bool utf16; // the file made UTF-16, every line read right
    } rows[] = {
        {"ASCII, a plain value", "[Options]\r\ndataDir=C:\\Old\r\n[Album]\r\ntitle=Cafe\r\n", "C:\\New", true, false},
        {"a line in 1252, a value beyond ASCII", theirs, "C:\\Zdj\xc4\x99" "cia", true, !utf8System},
        {"a line in 1252, a plain value", "[Options]\r\ndataDir=C:\\Old\r\n" + theirs, "C:\\New", true, !utf8System},
        {"too large to convert, ASCII, a plain value", large + "\r\n" + "[Album]\r\ntitle=Cafe\r\n", "C:\\New", true,
            false},
        {"too large to convert, a line in 1252", large + "\r\n" + theirs, "C:\\New", false, false},
    };
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    const std::string path = std::string(windows) + "\\" + name;
    for (const auto& row : rows) {
        WriteWindowsFile(name, row.before);
        EXPECT_EQ(WriteProfileValue("Options", "dataDir", row.value, path.c_str()), row.written) << row.what;
        char read[MAX_PATH] = "";
        ReadProfileValue("Options", "dataDir", "(none)", read, sizeof read, path.c_str());
        const std::string after = WindowsFileBytes(name);
        if (!row.written) {
            EXPECT_EQ(after, row.before) << row.what << ": left as it was";
            continue;
        }
        EXPECT_STREQ(read, row.value) << row.what;
        EXPECT_EQ(after.compare(0, 2, "\xff\xfe") == 0, row.utf16) << row.what;
        const std::string line = row.before.substr(row.before.find("[Album]"));
        if (row.utf16) {
            std::wstring wide(reinterpret_cast<const wchar_t*>(after.data() + 2), (after.size() - 2) / 2);
            EXPECT_NE(wide.find(L"[Album]\r\ntitle=Caf\u00e9\r\n"), std::wstring::npos) << row.what;
        } else {
            EXPECT_NE(after.find(line), std::string::npos) << row.what << ": the other lines byte for byte";
        }
    }
    DeleteFileA(path.c_str());
}
