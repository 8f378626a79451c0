// Extraction and rollback on real files under Wine.
#include "archive.h"
#include "inflating.h"
#include "journal.h"
#include "installed_state.h"
#include "payload.h"
#include "places.h"
#include "installed_state.h"
#include "restart.h"
#include "schedule.h"
#include "waiting.h"
#include "source.h"
#include <shlobj.h>
#include "test_files.h"
#include <sddl.h>
#include <winioctl.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include <zlib.h>

namespace {

using Calls = std::vector<std::pair<std::string, int>>;
Calls SinkCalls;

void RecordingSink(HWND, const char* text, int percent)
{
    SinkCalls.push_back({text, percent});
}

struct TestFile {
    std::string name;
    std::string content;
    int32_t time;
};

// One zlib stream, as the packer makes each slice.
std::string Compressed(const std::string& piece)
{
    uLongf length = compressBound(uLong(piece.size()));
    std::string out(length, '\0');
    compress2(reinterpret_cast<Bytef*>(&out[0]), &length, reinterpret_cast<const Bytef*>(piece.data()),
        uLong(piece.size()), Z_DEFAULT_COMPRESSION);
    out.resize(length);
    return out;
}

// What the test archive's companion is named after, as a product's are.
const char CompanionName[] = "Test Archive";

// The SHA-256 of the bytes, as the packer computes each span's.
std::array<unsigned char, 32> Sha256(const std::string& bytes)
{
    std::array<unsigned char, 32> digest{};
    BCRYPT_ALG_HANDLE provider = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    BCryptOpenAlgorithmProvider(&provider, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0);
    BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())), ULONG(bytes.size()), 0);
    BCryptFinishHash(hash, digest.data(), ULONG(digest.size()), 0);
    BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(provider, 0);
    return digest;
}

// An archive built in the test the way the packer builds one, its payload
// in a file of its own (beginning at `start`, a sparse file's hole before
// it), or split there into that file and a companion beside it, which hold
// the slices' bytes up to and from `split`.
class TestArchive {
public:
    explicit TestArchive(const std::vector<TestFile>& files, uint64_t start = 0, uint64_t split = 0)
        : start(start), split(split)
    {
        for (const TestFile& file : files) {
            names.push_back(file.name);
            times.push_back(file.time);
            std::vector<std::string> slices;
            for (size_t offset = 0; offset < file.content.size(); offset += SliceSize)
                slices.push_back(Compressed(file.content.substr(offset, SliceSize)));
            sliceBytes.push_back(slices);
        }
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        static int made = 0;
        folder = std::string(temp) + "test-archive-" + std::to_string(++made);
        CreateDirectoryA(folder.c_str(), nullptr);
        Rebuild();
    }
    ~TestArchive()
    {
        DeleteFileA((folder + "\\payload.bin").c_str());
        DeleteFileA((folder + "\\" + CompanionName + "-1.bin").c_str());
        RemoveDirectoryA(folder.c_str());
    }
    void Damage(size_t file, size_t slice)
    {
        sliceBytes[file][slice][sliceBytes[file][slice].size() / 2] ^= 0x55;
        Rebuild();
    }
    // Puts other bytes, as the table records them, in place of a slice.
    void Replace(size_t file, size_t slice, const std::string& bytes)
    {
        sliceBytes[file][slice] = bytes;
        Rebuild();
    }
    // The tables, their payload opened for the run.
    const PayloadArchiveTables& Tables()
    {
        const std::string first = folder + "\\payload.bin";
        std::wstring path(first.begin(), first.end());
        EXPECT_EQ(OpenPayload(tables, path.c_str(), start, start + sizes[0]), PayloadWhole);
        return tables;
    }
    // Writes over one byte of the payload as it lies in its files, the tables unchanged.
    void ChangeByte(uint64_t offset, unsigned char value)
    {
        bool first = offset < sizes[0];
        const std::string path = folder + (first ? "\\payload.bin" : "\\" + std::string(CompanionName) + "-1.bin");
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
            OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
        OVERLAPPED place = {};
        uint64_t at = first ? start + offset : offset - sizes[0];
        place.Offset = DWORD(at);
        place.OffsetHigh = DWORD(at >> 32);
        DWORD written = 0;
        EXPECT_TRUE(WriteFile(file, &value, 1, &written, &place) && written == 1) << path;
        CloseHandle(file);
    }
    uint64_t OffsetOf(size_t file) const { return offsets[file]; }

private:
    void Rebuild()
    {
        namePointers.clear();
        counts.clear();
        offsets.clear();
        lengths.assign(sliceBytes.size(), {});
        lengthTables.clear();
        std::string payload;
        for (size_t f = 0; f < sliceBytes.size(); ++f) {
            namePointers.push_back(names[f].c_str());
            counts.push_back(int32_t(sliceBytes[f].size()));
            offsets.push_back(payload.size());
            for (const std::string& slice : sliceBytes[f]) {
                lengths[f].push_back(uint32_t(slice.size()));
                payload += slice;
            }
            lengthTables.push_back(lengths[f].data());
        }
        size_t cut = split ? size_t(split - start) : payload.size();
        sizes = {cut, payload.size() - cut};
        WriteAt(folder + "\\payload.bin", start, payload.substr(0, cut));
        if (split)
            WriteAt(folder + "\\" + CompanionName + "-1.bin", 0, payload.substr(cut));
        partDigests = {Sha256(payload.substr(0, cut)), Sha256(payload.substr(cut))};
        spanDigests.clear();
        for (size_t at = 0; at < cut; at += PayloadSpanSize)
            spanDigests.push_back(Sha256(payload.substr(at, std::min<size_t>(PayloadSpanSize, cut - at))));
        for (size_t at = cut; at < payload.size(); at += PayloadSpanSize)
            spanDigests.push_back(Sha256(payload.substr(at, PayloadSpanSize)));
        tables = {int32_t(names.size()), namePointers.data(), counts.data(), offsets.data(), lengthTables.data(),
            times.data(), &SliceInflater, nullptr,
            {split ? 2 : 1, sizes.data(), reinterpret_cast<const unsigned char(*)[32]>(partDigests.data()),
                CompanionName},
            {int32_t(spanDigests.size()), reinterpret_cast<const unsigned char(*)[32]>(spanDigests.data())}};
    }
    // A file that holds bytes at an offset, sparse before them.
    static void WriteAt(const std::string& path, uint64_t at, const std::string& bytes)
    {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD returned = 0;
        DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
        LARGE_INTEGER place;
        place.QuadPart = LONGLONG(at);
        SetFilePointerEx(file, place, nullptr, FILE_BEGIN);
        DWORD written = 0;
        WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
        SetEndOfFile(file);
        CloseHandle(file);
    }
    uint64_t start;
    uint64_t split;
    std::string folder;
    std::vector<std::string> names;
    std::vector<int32_t> times;
    std::vector<std::vector<std::string>> sliceBytes;
    std::vector<const char*> namePointers;
    std::vector<int32_t> counts;
    std::vector<uint64_t> offsets;
    std::vector<std::vector<uint32_t>> lengths;
    std::vector<const uint32_t*> lengthTables;
    std::vector<uint64_t> sizes;
    std::vector<std::array<unsigned char, 32>> partDigests;
    std::vector<std::array<unsigned char, 32>> spanDigests;
    PayloadArchiveTables tables;
};

std::string ReadFileText(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
        0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    std::string content(GetFileSize(file, nullptr), '\0');
    DWORD read = 0;
    if (!content.empty())
        ReadFile(file, &content[0], DWORD(content.size()), &read, nullptr);
    CloseHandle(file);
    return content;
}

void WriteFileText(const std::string& path, const std::string& content)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written;
    WriteFile(file, content.data(), DWORD(content.size()), &written, nullptr);
    CloseHandle(file);
}

// Modification and access times in seconds since 1970.
std::pair<int64_t, int64_t> Times(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return {-1, -1};
    return {UnixFromFileTime(data.ftLastWriteTime), UnixFromFileTime(data.ftLastAccessTime)};
}

void SetTime(const std::string& path, int64_t seconds)
{
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME time = FileTimeFromUnix(seconds);
    SetFileTime(file, nullptr, &time, &time);
    CloseHandle(file);
}

std::string Pattern(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = char(seed >> 16);
    }
    return bytes;
}

class ExtractTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SinkCalls.clear();
        ForgetKeptFilesAfter(0);
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        folder = std::string(temp) + "extract-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        RemoveTree(folder);
        CreateDirectoryA(folder.c_str(), nullptr);
        ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str()));
    }
    void TearDown() override
    {
        SetCurrentDirectoryA("C:\\");
        RemoveTree(folder);
    }
    std::string folder;
};

} // namespace

namespace {

// What a folder holds, name by name, folders included.
std::vector<std::string> Entries(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        if (std::string(found.cFileName) != "." && std::string(found.cFileName) != "..")
            names.push_back(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

std::string JournalPath()
{
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    return std::string(windows) + "\\pelmora.ini.journal";
}

// Adds the done record to the journal of a run cut off just before it, as the run writes it.
bool AppendDoneRecord()
{
    char done[16];
    snprintf(done, sizeof done, "%08lx D\r\n", adler32(1, reinterpret_cast<const Bytef*>("D"), 1));
    HANDLE file = CreateFileA(JournalPath().c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD written = 0;
    bool appended = file != INVALID_HANDLE_VALUE && WriteFile(file, done, DWORD(strlen(done)), &written, nullptr)
        && written == strlen(done);
    CloseHandle(file);
    return appended;
}

} // namespace

TEST_F(ExtractTest, ShippedArchiveWritesItsThreeFilesWithTheirTimes)
{
    // Its payload follows the setup program's image, whole, with the SHA-256 the tables carry.
    ASSERT_EQ(OpenProgramPayload(PayloadArchive, SETUP_EXE), PayloadWhole);
    StartPayloadCheck();
    EXPECT_EQ(AwaitPayloadCheck(INFINITE), PayloadWhole);
    EXPECT_EQ(ExtractArchive(PayloadArchive, nullptr, RecordingSink), ExtractDone);
    EXPECT_EQ(SinkCalls, (Calls{{"pelmora.exe", 0}, {"help.htm", 33}, {"pmuninst.exe", 66}, {"", 100}}));
    const struct {
        const char* name;
        size_t size;
        int64_t time;
    } expected[] = {{"pelmora.exe", 282624, 979069806}, {"help.htm", 12513, 956876368},
        {"pmuninst.exe", 59392, 979070150}};
    for (const auto& file : expected) {
        // Times first: reading a file moves its access time.
        EXPECT_EQ(Times(file.name), std::make_pair(file.time, file.time)) << file.name;
        EXPECT_EQ(ReadFileText(file.name).size(), file.size) << file.name;
    }
    EXPECT_EQ(ReadFileText("pelmora.exe").substr(0, 2), "MZ");
    EXPECT_EQ(PayloadArchive.sliceCounts[0], 10);
    EXPECT_EQ(PayloadArchive.sliceCounts[2], 2);
    uint64_t offset = PayloadArchive.fileOffsets[0];
    for (int j = 0; j < PayloadArchive.sliceCounts[0]; ++j) {
        unsigned char start[2] = {};
        EXPECT_TRUE(ReadPayload(offset, start, sizeof start));
        EXPECT_EQ(start[0], 0x78);
        EXPECT_EQ(start[1], 0x9C);
        offset += PayloadArchive.sliceLengths[0][j];
    }
    EXPECT_EQ(offset, PayloadArchive.fileOffsets[1]) << "the slices follow one another";
}

TEST(PayloadArchive, TablesLieInReadOnlyMemoryAllTheWayDown)
{
    auto readOnly = [](const void* address) {
        MEMORY_BASIC_INFORMATION memory = {};
        return VirtualQuery(address, &memory, sizeof memory) == sizeof memory && memory.Protect == PAGE_READONLY;
    };
    EXPECT_TRUE(readOnly(&PayloadArchive));
    EXPECT_TRUE(readOnly(PayloadArchive.fileNames));
    EXPECT_TRUE(readOnly(PayloadArchive.fileNames[0]));
    EXPECT_TRUE(readOnly(PayloadArchive.sliceCounts));
    EXPECT_TRUE(readOnly(PayloadArchive.fileTimes));
    EXPECT_TRUE(readOnly(PayloadArchive.fileOffsets));
    EXPECT_TRUE(readOnly(PayloadArchive.sliceLengths)) << "the per-file table of slice lengths";
    for (int i = 0; i < PayloadArchive.fileCount; ++i)
        EXPECT_TRUE(readOnly(PayloadArchive.sliceLengths[i])) << i;
    EXPECT_TRUE(readOnly(PayloadArchive.parts.sizes));
    EXPECT_TRUE(readOnly(PayloadArchive.parts.digests)) << "what the check compares with";
}

TEST_F(ExtractTest, SlicesInflateToTheirContentAtEveryBoundaryAndEveryPlaceOfThePayload)
{
    const std::vector<TestFile> files = {{"one.bin", Pattern(1, 1), 1000}, {"full.bin", Pattern(30000, 2), 2000},
        {"over.bin", Pattern(30001, 3), 3000}, {"empty.bin", "", 4000}, {"last.bin", Pattern(90000, 4), 5000}};
    const uint64_t fourGiB = uint64_t(1) << 32;
    // The payload read at file offsets a 32-bit count cannot hold, from a sparse file, and across its two files.
    const struct {
        const char* what;
        uint64_t start;
        uint64_t split;
    } places[] = {{"at the file's start", 0, 0}, {"past 4 GiB", fourGiB + 7, 0},
        {"across 4 GiB and into a companion", fourGiB - 40000, fourGiB + 5}};
    for (const auto& place : places) {
        SinkCalls.clear();
        TestArchive archive(files, place.start, place.split);
        EXPECT_EQ(ExtractArchive(archive.Tables(), nullptr, RecordingSink), ExtractDone) << place.what;
        EXPECT_EQ(SinkCalls, (Calls{{"one.bin", 0}, {"full.bin", 20}, {"over.bin", 40}, {"empty.bin", 60},
                                 {"last.bin", 80}, {"", 100}}))
            << place.what;
        EXPECT_EQ(archive.Tables().sliceCounts[1], 1);
        EXPECT_EQ(archive.Tables().sliceCounts[2], 2);
        EXPECT_EQ(archive.Tables().sliceCounts[3], 0);
        for (const TestFile& file : files)
            EXPECT_EQ(ReadFileText(file.name), file.content) << place.what << ": " << file.name;
        EXPECT_EQ(Times("empty.bin").first, 4000);
    }
}

TEST_F(ExtractTest, EmptyArchiveOnlyReportsTheEnd)
{
    TestArchive archive({});
    EXPECT_EQ(ExtractArchive(archive.Tables(), nullptr, RecordingSink), ExtractDone);
    EXPECT_EQ(SinkCalls, (Calls{{"", 100}}));
    EXPECT_EQ(ExtractArchive(archive.Tables(), nullptr, nullptr), ExtractDone);
}

TEST_F(ExtractTest, MissingFoldersAreCreatedOuterFirst)
{
    TestArchive archive({{"a\\b/c.txt", "deep", 100}, {"SYSTEMX/d.txt", "x", 100}});
    EXPECT_EQ(ExtractArchive(archive.Tables(), nullptr, nullptr), ExtractDone);
    EXPECT_EQ(ReadFileText("a\\b\\c.txt"), "deep");
    EXPECT_EQ(ReadFileText("SYSTEMX\\d.txt"), "x");
    EXPECT_TRUE(CreateParentFolders("C:\\windows\\system32\\x.dll"));
    EXPECT_TRUE(CreateParentFolders("plain"));
    EXPECT_TRUE(CreateParentFolders(""));
}

TEST_F(ExtractTest, PlainFileInPlaceOfAFolderCannotBeCreated)
{
    WriteFileText("f", "in the way");
    TestArchive archive({{"first.txt", "1", 100}, {"f\\x.txt", "x", 100}, {"later.txt", "2", 100}});
    EXPECT_EQ(ExtractArchive(archive.Tables(), nullptr, RecordingSink), ExtractCannotCreate);
    EXPECT_EQ(SinkCalls, (Calls{{"first.txt", 0}, {"f\\x.txt", 33}}));
    EXPECT_EQ(Entries(folder), (std::vector<std::string>{"f", "first.txt.pmnew"})) << "nothing is put in place";
}

namespace {

// The restart's schedule as the registry holds it, bytes and all; empty for none.
std::string ScheduleValue()
{
    HKEY key;
    std::string value;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", 0, KEY_QUERY_VALUE,
            &key)
        != ERROR_SUCCESS)
        return value;
    DWORD size = 0;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
        value.resize(size);
        RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, reinterpret_cast<BYTE*>(&value[0]),
            &size);
    }
    RegCloseKey(key);
    return value;
}

void SetScheduleValue(const std::string& value)
{
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", 0,
                  KEY_SET_VALUE, &key),
        ERROR_SUCCESS);
    if (value.empty())
        RegDeleteValueW(key, L"PendingFileRenameOperations");
    else
        RegSetValueExW(key, L"PendingFileRenameOperations", 0, REG_MULTI_SZ,
            reinterpret_cast<const BYTE*>(value.data()), DWORD(value.size()));
    RegCloseKey(key);
}

// Where a path runs through a file, Wine says the path is not found; NTFS, where the file is the path's
// last folder, says ERROR_DIRECTORY.
DWORD WINAPI AttributesAsNtfsAnswers(const WCHAR* path)
{
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_PATH_NOT_FOUND)
        SetLastError(ERROR_DIRECTORY);
    return attributes;
}

} // namespace

TEST_F(ExtractTest, FileHeldOpenIsReplacedAtTheRestartWhereNoOneElseMayLinkItsFolderAndStopsTheRunElsewhere)
{
    char programs[MAX_PATH];
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, programs, CSIDL_PROGRAM_FILES, FALSE));
    const std::string protectedFolder = std::string(programs) + "\\extract-held";
    RemoveTree(protectedFolder);
    ASSERT_TRUE(CreateDirectoryA(protectedFolder.c_str(), nullptr));
    // The Windows directory holds folders that every user may write in (its Temp, its Tasks).
    char windows[MAX_PATH];
    ASSERT_GT(GetWindowsDirectoryA(windows, sizeof windows), 0u);
    const std::string windowsFolder = std::string(windows) + "\\temp\\extract-held";
    RemoveTree(windowsFolder);
    ASSERT_TRUE(CreateDirectoryA(windowsFolder.c_str(), nullptr));
    const std::vector<std::string> pending = PendingReplacements();
    std::vector<std::string> expected = pending;
    const struct {
        const char* what;
        std::string where;
        bool replaced;
    } cases[] = {{"in a folder any user may change", folder, false},
        {"in a folder of the Windows directory's", windowsFolder, false},
        {"in the programs' folder", protectedFolder, true}};
    for (const auto& c : cases) {
        ASSERT_TRUE(SetCurrentDirectoryA(c.where.c_str())) << c.what;
        WriteFileText("held.txt", "old");
        HANDLE held = CreateFileA("held.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        const int replaced = FilesReplacedAtRestart();
        const int awaiting = FilesAwaitingRestart();
        TestArchive archive({{"later.txt", "later", 200}, {"held.txt", "new", 100}});
        if (c.replaced) {
            // Ended before its last commit, once held.txt's was taken: nothing waits for the
            // restart before the run is done, which would put held.txt in place while the
            // undo puts back every other file.
            JournalEndsAtStep = 6;
            EXPECT_EQ(ExtractArchive(archive.Tables(), nullptr, nullptr), ExtractCannotCreate);
            JournalEndsAtStep = 0;
            EXPECT_EQ(PendingReplacements(), expected);
            EXPECT_EQ(RemoveExtractedFiles(nullptr, nullptr), ExtractDone);
            EXPECT_EQ(ReadFileText("held.txt.pmnew"), "<missing>");
        }
        // Elsewhere a file kept would leave a mix of two versions: the run stops before it writes
        // anything, the file named, and its undo leaves the folder as it was.
        EXPECT_EQ(ExtractArchive(archive.Tables(), nullptr, nullptr), c.replaced ? ExtractDone : ExtractFileHeld)
            << c.what;
        if (!c.replaced)
            EXPECT_EQ(std::string(FileHeldOpen()), c.where + "\\held.txt") << c.what;
        EXPECT_EQ(RemoveExtractedFiles(nullptr, nullptr), ExtractDone) << c.what;
        CloseHandle(held);
        EXPECT_EQ(ReadFileText("held.txt"), "old") << c.what;
        EXPECT_EQ(ReadFileText("later.txt"), c.replaced ? "later" : "<missing>") << c.what;
        EXPECT_EQ(ReadFileText("held.txt.pmnew"), c.replaced ? "new" : "<missing>") << c.what;
        EXPECT_EQ(FilesReplacedAtRestart(), replaced + int(c.replaced)) << c.what;
        EXPECT_EQ(FilesAwaitingRestart(), awaiting + int(c.replaced)) << c.what;
        char kept[KeptListSize + 64];
        EXPECT_EQ(ReadOnlyFilesKept(kept, sizeof kept), 0) << c.what << ": none kept";
        if (c.replaced)
            expected.push_back(c.where + "\\held.txt.pmnew > " + c.where + "\\held.txt");
        EXPECT_EQ(PendingReplacements(), expected) << c.what;
    }

    // Where the restart's schedule cannot be written, the held file is kept and named, its
    // staged file goes, and no journal stays to stop the next run: also when the run that
    // staged it was cut off just before it settled, and the next run settles it first.
    ASSERT_TRUE(SetCurrentDirectoryA(protectedFolder.c_str()));
    WriteFileText("denied.txt", "old");
    HANDLE held = CreateFileA("denied.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    HKEY sessionManager;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", 0,
                  READ_CONTROL | WRITE_DAC, &sessionManager),
        ERROR_SUCCESS);
    std::vector<char> original(4096);
    DWORD originalSize = DWORD(original.size());
    ASSERT_EQ(RegGetKeySecurity(sessionManager, DACL_SECURITY_INFORMATION, original.data(), &originalSize),
        ERROR_SUCCESS);
    PSECURITY_DESCRIPTOR noWrites = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(D;;0x2;;;WD)(A;;KA;;;WD)", SDDL_REVISION_1,
        &noWrites, nullptr));
    ASSERT_EQ(RegSetKeySecurity(sessionManager, DACL_SECURITY_INFORMATION, noWrites), ERROR_SUCCESS);
    LocalFree(noWrites);
    TestArchive denied({{"denied.txt", "new", 100}});
    // The records: the folder; denied.txt and the record staged; denied.txt at the restart, the record
    // committed; done, which the run ends before.
    JournalEndsAtRecord = 6;
    EXPECT_EQ(ExtractArchive(denied.Tables(), nullptr, nullptr), ExtractWriteFailed);
    JournalEndsAtRecord = 0;
    ASSERT_TRUE(AppendDoneRecord());
    TestArchive other({{"other.txt", "other", 100}});
    EXPECT_EQ(ExtractArchive(other.Tables(), nullptr, nullptr), ExtractDone);
    EXPECT_EQ(RegSetKeySecurity(sessionManager, DACL_SECURITY_INFORMATION, original.data()), ERROR_SUCCESS);
    RegCloseKey(sessionManager);
    CloseHandle(held);
    EXPECT_EQ(ReadFileText("denied.txt"), "old");
    EXPECT_EQ(ReadFileText("denied.txt.pmnew"), "<missing>");
    char kept[KeptListSize + 64];
    EXPECT_EQ(ReadOnlyFilesKept(kept, sizeof kept), 1);
    EXPECT_EQ(std::string(kept), protectedFolder + "\\denied.txt\r\n");
    EXPECT_EQ(PendingReplacements(), expected);
    EXPECT_EQ(ExtractArchive(denied.Tables(), nullptr, nullptr), ExtractDone) << "no journal stays";
    EXPECT_EQ(ReadFileText("denied.txt"), "new");

    // Another version before the restart, the file no longer held: it replaces the file
    // too, after the one that waits, so that the restart leaves the later. A staged name
    // that no restart waits for holds nothing back.
    WriteFileText("later.txt.pmnew", "someone's");
    TestArchive later({{"held.txt", "later", 300}, {"later.txt", "even later", 300}});
    EXPECT_EQ(ExtractArchive(later.Tables(), nullptr, nullptr), ExtractDone);
    EXPECT_EQ(ReadFileText("held.txt"), "old");
    EXPECT_EQ(ReadFileText("held.txt.1.pmnew"), "later");
    EXPECT_EQ(ReadFileText("later.txt"), "even later");
    EXPECT_EQ(ReadFileText("later.txt.pmnew"), "someone's");
    expected.push_back(protectedFolder + "\\held.txt.1.pmnew > " + protectedFolder + "\\held.txt");
    EXPECT_EQ(PendingReplacements(), expected);

    // Removed before the restart, as the uninstaller removes it: the staged files go, and what
    // waits for them is stale. The next installation drops that before it stages anything (the
    // restart would move whatever it made under those names over the file), and puts the file
    // in place at once.
    ASSERT_TRUE(DeleteFileA("held.txt.pmnew"));
    ASSERT_TRUE(DeleteFileA("held.txt.1.pmnew"));
    TestArchive again({{"held.txt", "again", 400}});
    EXPECT_EQ(ExtractArchive(again.Tables(), nullptr, nullptr), ExtractDone);
    EXPECT_EQ(ReadFileText("held.txt"), "again");
    EXPECT_EQ(PendingReplacements(), pending) << "nothing waits for the folder's files";
    // Only a file Windows says is not there is gone: one it cannot be asked about (here a name it
    // refuses; on Windows also one the run may not see) keeps what waits for it, and so does one
    // there by the name the restart reads, which a plain path would trim of its trailing dot. A
    // path through a file is not there, however Windows says so. What is kept is stored whole: a
    // reader that stops at the list's end, its two zeros, still finds the last operation, a deletion.
    const std::string unasked = protectedFolder + "\\un<asked";
    const std::string dotted = "\\\\?\\" + protectedFolder + "\\dotted.";
    const std::string schedule = ScheduleValue();
    const DWORD atRestart = MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING;
    ASSERT_TRUE(MoveFileExA((unasked + ".pmnew").c_str(), unasked.c_str(), atRestart));
    CloseHandle(CreateFileA(dotted.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_TRUE(MoveFileExA(dotted.c_str(), (protectedFolder + "\\dotted").c_str(), atRestart));
    ASSERT_EQ(PendingReplacements().size(), pending.size() + 2);
    ASSERT_TRUE(MoveFileExA(dotted.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    const std::string stored = ScheduleValue();
    const std::string deletionAtTheEnd = std::string(".\0\0\0\0\0\0\0", 8);
    ASSERT_EQ(stored.substr(stored.size() - 8), deletionAtTheEnd) << "dotted., its empty target and the list's end";
    for (DWORD(WINAPI * answers)(const WCHAR*) : {GetFileAttributesW, AttributesAsNtfsAnswers}) {
        ScheduledFileAttributes = answers;
        ASSERT_TRUE(MoveFileExA("held.txt\\inner.pmnew", "held.txt\\inner", atRestart));
        EXPECT_EQ(ExtractArchive(again.Tables(), nullptr, nullptr), ExtractDone);
        EXPECT_EQ(ScheduleValue(), stored) << (answers == GetFileAttributesW ? "as Wine answers" : "as NTFS answers");
    }
    ScheduledFileAttributes = GetFileAttributesW;
    SetScheduleValue(schedule);
    ASSERT_TRUE(DeleteFileA(dotted.c_str()));

    // An operation left for the restart by another spelling of the folder (through a link to it): the
    // name it moves is never the new file's, whatever stands there now.
    const std::string link = folder + "-link";
    ASSERT_TRUE(MakeUnixLink(link, protectedFolder));
    ASSERT_TRUE(MoveFileExA((link + "\\fresh.txt.pmnew").c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    TestArchive fresh({{"fresh.txt", "fresh", 500}});
    JournalEndsAtStep = 3; // after both stagings
    EXPECT_EQ(ExtractArchive(fresh.Tables(), nullptr, nullptr), ExtractCannotCreate);
    JournalEndsAtStep = 0;
    EXPECT_EQ(ReadFileText("fresh.txt.pmnew"), "<missing>");
    EXPECT_EQ(ReadFileText("fresh.txt.1.pmnew"), "fresh");
    EXPECT_EQ(RemoveExtractedFiles(nullptr, nullptr), ExtractDone);
    RemoveUnixLink(link);
    ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str()));
    RemoveTree(protectedFolder);
    RemoveTree(windowsFolder);
}

TEST_F(ExtractTest, ReadOnlyFileIsSkipped)
{
    WriteFileText("locked.txt", "old");
    SetFileAttributesA("locked.txt", FILE_ATTRIBUTE_READONLY);
    TestArchive archive({{"locked.txt", "new", 100}, {"later.txt", "later", 200}});
    EXPECT_EQ(ExtractArchive(archive.Tables(), nullptr, nullptr), ExtractDone);
    EXPECT_EQ(ReadFileText("later.txt"), "later");
    char kept[KeptListSize + 64];
    EXPECT_EQ(ReadOnlyFilesKept(kept, sizeof kept), 1);
    EXPECT_STREQ(kept, "locked.txt\r\n") << "named for the user";
    // Names to the list's last byte, and one more, which is counted: 101 of ten
    // bytes with their line ends, one of thirteen, then the one that does not fit.
    std::vector<TestFile> many;
    for (int i = 0; i < 101; ++i)
        many.push_back({"r" + std::to_string(100 + i) + ".txt", "new", 100});
    many.push_back({"fill.it.txt", "new", 100});
    many.push_back({"over.txt", "new", 100});
    for (const TestFile& file : many) {
        WriteFileText(file.name, "old");
        SetFileAttributesA(file.name.c_str(), FILE_ATTRIBUTE_READONLY);
    }
    TestArchive full(many);
    ForgetKeptFilesAfter(0); // another run's process
    EXPECT_EQ(ExtractArchive(full.Tables(), nullptr, nullptr), ExtractDone);
    EXPECT_EQ(ReadOnlyFilesKept(kept, sizeof kept), 103);
    std::string listed = kept;
    EXPECT_EQ(listed.size(), KeptListSize - 1 + std::string("... and 1 more.").size());
    EXPECT_EQ(listed.substr(listed.size() - 28), "fill.it.txt\r\n... and 1 more.");
    // Root writes read-only files all the same; extract_test_unprivileged runs this as a plain user.
    if (!GetEnvironmentVariableA("SETUP_UNPRIVILEGED", nullptr, 0) && ReadFileText("locked.txt") == "new")
        GTEST_SKIP() << "running as root, which writes read-only files all the same";
    EXPECT_EQ(ReadFileText("locked.txt"), "old");
}

TEST_F(ExtractTest, SystemFilesNewerThanOursAreKept)
{
    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof system);
    // A 32-bit program on 64-bit Windows (extract_test_wow64) sees SysWOW64 as its system directory: a 32-bit
    // product's files belong there, never in 64-bit Windows' own, which it reaches as Sysnative.
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    char redirected[MAX_PATH] = "";
    GetSystemWow64DirectoryA(redirected, sizeof redirected);
    const std::string native = std::string(windows) + "\\Sysnative\\";
    const int32_t stored = 979069806;
    const struct {
        const char* name;
        int64_t existing; // -1: none there
        bool replaced;
    } cases[] = {{"SYSTEM\\pmtest-older.dll", stored - 1, true}, {"SYSTEM/pmtest-equal.dll", stored, true},
        {"SYSTEM\\pmtest-newer.dll", stored + 1, false}, {"SYSTEM\\pmtest-none.dll", -1, true}};
    for (const auto& c : cases) {
        std::string path = std::string(system) + "\\" + (c.name + 7);
        DeleteFileA(path.c_str());
        if (c.existing >= 0) {
            WriteFileText(path, "theirs");
            SetTime(path, c.existing);
        }
        TestArchive archive({{c.name, "ours", stored}});
        EXPECT_EQ(ExtractArchive(archive.Tables(), nullptr, nullptr), ExtractDone) << c.name;
        EXPECT_EQ(ReadFileText(path), c.replaced ? "ours" : "theirs") << c.name;
        EXPECT_EQ(Times(path).first, c.replaced ? stored : c.existing) << c.name;
        EXPECT_EQ(ReadFileText(std::string("SYSTEM\\") + (c.name + 7)), "<missing>");
        EXPECT_EQ(GetFileAttributesA((path + ".pmold").c_str()), INVALID_FILE_ATTRIBUTES) << c.name;
        if (wow64) {
            EXPECT_EQ(ReadFileText(std::string(redirected) + "\\" + (c.name + 7)), c.replaced ? "ours" : "theirs");
            EXPECT_EQ(GetFileAttributesA((native + (c.name + 7)).c_str()), INVALID_FILE_ATTRIBUTES) << c.name;
        }
        DeleteFileA(path.c_str());
    }
}

TEST_F(ExtractTest, DamagedSliceFailsAndIsNeverWrittenAsIfItInflated)
{
    DWORD_PTR processors = 0;
    DWORD_PTR system = 0;
    ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &processors, &system));
    const DWORD_PTR oneProcessor = processors & (~processors + 1);
    const struct {
        const char* what;
        size_t slices;
        size_t damaged;
        DWORD_PTR processors;
    } cases[] = {{"the second of two", 2, 1, processors},
        {"the first inflated into a buffer that held an earlier slice", InflatedSliceRing + 1, InflatedSliceRing,
            processors},
        {"the same on one processor, where the calling thread inflates", InflatedSliceRing + 1, InflatedSliceRing,
            oneProcessor}};
    for (const auto& c : cases) {
        SinkCalls.clear();
        const std::string content = Pattern(c.slices * SliceSize, 9);
        TestArchive archive({{"good.txt", "good", 100}, {"bad.bin", content, 200}, {"after.txt", "a", 300}});
        archive.Damage(1, c.damaged);
        ASSERT_TRUE(SetProcessAffinityMask(GetCurrentProcess(), c.processors)) << c.what;
        EXPECT_EQ(ExtractArchive(archive.Tables(), nullptr, RecordingSink), ExtractWriteFailed) << c.what;
        ASSERT_TRUE(SetProcessAffinityMask(GetCurrentProcess(), processors)) << c.what;
        EXPECT_EQ(SinkCalls, (Calls{{"good.txt", 0}, {"bad.bin", 33}})) << c.what;
        EXPECT_EQ(ReadFileText("bad.bin.pmnew"), content.substr(0, c.damaged * SliceSize))
            << c.what << ": only the sound slices are on disk";
        EXPECT_TRUE(DeleteFileA("bad.bin.pmnew")) << c.what << ": the file was closed";
        EXPECT_EQ(Entries(folder), std::vector<std::string>{"good.txt.pmnew"}) << c.what << ": nothing is put in place";
        EXPECT_EQ(RemoveExtractedFiles(nullptr, nullptr), ExtractDone) << c.what;
    }
}

NTSTATUS WINAPI NoSha256Provider(BCRYPT_ALG_HANDLE*, LPCWSTR, LPCWSTR, ULONG)
{
    return NTSTATUS(0xC0000225); // STATUS_NOT_FOUND
}

// Bytes changed after the whole parts were checked, as a section mapped for writing before the run could
// change them on Windows: the extraction checks what it reads, so nothing unchecked is put in place.
TEST_F(ExtractTest, PayloadChangedAfterItsCheckIsRefusedAndNothingIsCommitted)
{
    const std::string content = Pattern(3 * SliceSize, 5);
    const struct {
        const char* what;
        size_t file;
        uint64_t split;
    } cases[] = {{"the header of a slice, which inflates the same either way", 1, 0},
        {"the same, in a companion", 1, 1}};
    PayloadPartSharing |= FILE_SHARE_WRITE;
    for (const auto& c : cases) {
        WriteFileText("manual.htm", "the earlier manual");
        TestArchive archive({{"manual.htm", content, 1000}, {"later.txt", "later", 1000}}, 0, c.split);
        const PayloadArchiveTables& tables = archive.Tables();
        StartPayloadCheck();
        ASSERT_EQ(AwaitPayloadCheck(INFINITE), PayloadWhole) << c.what;
        // 0x78 0xDA begins a zlib stream as 0x78 0x9C does: only the digests tell them apart.
        archive.ChangeByte(archive.OffsetOf(c.file) + 1, 0xDA);
        EXPECT_EQ(ExtractArchive(tables, nullptr, nullptr), ExtractPayloadDamaged) << c.what;
        EXPECT_STREQ(strrchr(DamagedPayloadFile(), '\\'), c.split ? "\\Test Archive-1.bin" : "\\payload.bin") << c.what;
        EXPECT_EQ(ReadFileText("manual.htm"), "the earlier manual") << c.what << ": nothing was put in place";
        EXPECT_EQ(ReadFileText("later.txt"), "<missing>") << c.what;
        EXPECT_EQ(RemoveExtractedFiles(nullptr, nullptr), ExtractDone) << c.what;
        EXPECT_EQ(Entries(folder), std::vector<std::string>{"manual.htm"}) << c.what << ": the staged files are gone";
    }
    PayloadPartSharing &= ~DWORD(FILE_SHARE_WRITE);
    // Without the system's SHA-256 nothing can be checked: said as such, not as a damaged file.
    OpenSha256Provider = NoSha256Provider;
    EXPECT_EQ(OpenProgramPayload(PayloadArchive, SETUP_EXE), PayloadUncheckable);
    OpenSha256Provider = BCryptOpenAlgorithmProvider;
}

TEST_F(ExtractTest, SliceBeyondTheBufferOrItsRecordedLengthIsNeverWritten)
{
    std::string stream = Compressed(Pattern(1000, 8));
    const struct {
        const char* name;
        std::string slice;
        int result;
        std::string written;
    } cases[] = {{"capacity.bin", Compressed(Pattern(WorkBufferSize, 6)), ExtractDone, Pattern(WorkBufferSize, 6)},
        {"beyond-capacity.bin", Compressed(Pattern(WorkBufferSize + 1, 7)), ExtractWriteFailed, ""},
        {"byte-after-stream.bin", stream + '\0', ExtractWriteFailed, ""},
        {"last-byte-cut.bin", stream.substr(0, stream.size() - 1), ExtractWriteFailed, ""}};
    for (const auto& c : cases) {
        TestArchive archive({{c.name, "x", 100}});
        archive.Replace(0, 0, c.slice);
        EXPECT_EQ(ExtractArchive(archive.Tables(), nullptr, nullptr), c.result) << c.name;
        const std::string staged = std::string(c.name) + ".pmnew";
        EXPECT_EQ(ReadFileText(c.result == ExtractDone ? c.name : staged), c.written) << c.name;
    }
}

TEST_F(ExtractTest, FullDiskFailsAtTheWriteOfItsSlice)
{
    if (GetFileAttributesA("Q:\\") == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no small drive Q: (mounting a tmpfs was not permitted)";
    ASSERT_TRUE(SetCurrentDirectoryA("Q:\\"));
    TestArchive archive({{"fits.bin", Pattern(1000, 4), 100}, {"big.bin", Pattern(2000000, 5), 200}});
    EXPECT_EQ(ExtractArchive(archive.Tables(), nullptr, RecordingSink), ExtractWriteFailed);
    EXPECT_EQ(SinkCalls, (Calls{{"fits.bin", 0}, {"big.bin", 50}}));
    EXPECT_EQ(ReadFileText("fits.bin.pmnew"), Pattern(1000, 4));
    EXPECT_EQ(RemoveExtractedFiles(nullptr, nullptr), ExtractDone);
    EXPECT_EQ(Entries("Q:"), std::vector<std::string>{});
}

namespace {

struct FileState {
    std::string content;
    int64_t modified;
    DWORD attributes;
    bool operator==(const FileState& other) const
    {
        return content == other.content && modified == other.modified && attributes == other.attributes;
    }
};

FileState StateOf(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return {"<missing>", 0, 0};
    return {ReadFileText(path), UnixFromFileTime(data.ftLastWriteTime), data.dwFileAttributes};
}

std::ostream& operator<<(std::ostream& out, const FileState& state)
{
    return out << state.content.substr(0, 20) << " @" << state.modified << " attributes " << state.attributes;
}

// An earlier version in the folder: a file the update replaces (hidden, with
// its own times), one it skips because its user protected it, and the user's own.
void PlaceEarlierVersion()
{
    WriteFileText("manual.htm", "the earlier manual");
    SetTime("manual.htm", 900000000);
    SetFileAttributesA("manual.htm", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
    WriteFileText("kept.txt", "protected by its user");
    SetFileAttributesA("kept.txt", FILE_ATTRIBUTE_READONLY);
    WriteFileText("notes.txt", "the user's");
}

} // namespace

TEST_F(ExtractTest, FailedUpdatePutsBackExactlyWhatItReplaced)
{
    PlaceEarlierVersion();
    const std::vector<std::string> names = {"kept.txt", "manual.htm", "notes.txt"};
    std::vector<FileState> before;
    for (const std::string& name : names)
        before.push_back(StateOf(folder + "\\" + name));
    WriteFileText("f", "in the way");
    TestArchive archive({{"manual.htm", "the new manual", 1000}, {"kept.txt", "new", 1000},
        {"docs\\new.txt", "new", 1000}, {"f\\x.txt", "x", 1000}});
    EXPECT_EQ(ExtractArchive(archive.Tables(), nullptr, nullptr), ExtractCannotCreate);
    EXPECT_EQ(ReadFileText("manual.htm"), "the earlier manual") << "nothing is put in place before all is written";
    EXPECT_NE(GetFileAttributesA(JournalPath().c_str()), INVALID_FILE_ATTRIBUTES) << "the journal is there";
    EXPECT_EQ(RemoveExtractedFiles(nullptr, RecordingSink), ExtractDone);
    EXPECT_EQ(SinkCalls.back(), std::make_pair(std::string(), 100));
    for (size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(StateOf(folder + "\\" + names[i]), before[i]) << names[i];
    EXPECT_EQ(Entries(folder), (std::vector<std::string>{"docs", "f", "kept.txt", "manual.htm", "notes.txt"}))
        << "only the folder the run made stays";
    EXPECT_EQ(GetFileAttributesA(JournalPath().c_str()), INVALID_FILE_ATTRIBUTES);

    // Every file written, but the record that says so cannot be made durable: the run fails and
    // takes the record back. Where that works, its own rollback puts back the earlier version;
    // where even that cannot be made durable, it leaves the journal, whole, to the next run.
    DeleteFileA("f");
    for (const char* failing : {"D", "Dd"}) {
        const bool takenBack = std::string(failing) == "D";
        JournalFlushesFailFor = failing;
        EXPECT_EQ(ExtractArchive(archive.Tables(), nullptr, nullptr), ExtractWriteFailed) << failing;
        JournalFlushesFailFor = "";
        const std::string journal = ReadFileText(JournalPath());
        EXPECT_NE(journal, "<missing>") << failing;
        EXPECT_EQ(journal.find(" D\r\n"), std::string::npos) << failing << ": no done record stays";
        EXPECT_EQ(JournalDoneUncertain, !takenBack) << failing;
        if (!takenBack) {
            EXPECT_EQ(RemoveExtractedFiles(nullptr, nullptr), 0) << "this process leaves it alone";
            EXPECT_EQ(ReadFileText("manual.htm"), "the new manual");
            EXPECT_EQ(ReadFileText("manual.htm.pmold"), "the earlier manual");
            JournalDoneUncertain = false; // the next run's process
        }
        EXPECT_EQ(RemoveExtractedFiles(nullptr, nullptr), ExtractDone) << failing;
        for (size_t i = 0; i < names.size(); ++i)
            EXPECT_EQ(StateOf(folder + "\\" + names[i]), before[i]) << names[i] << " after " << failing;
        EXPECT_EQ(GetFileAttributesA(JournalPath().c_str()), INVALID_FILE_ATTRIBUTES) << failing;
    }

    // The same update without the obstacle: what it replaced goes with the journal.
    SetFileAttributesA("manual.htm", FILE_ATTRIBUTE_NORMAL);
    SetFileAttributesA("kept.txt", FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ExtractArchive(archive.Tables(), nullptr, nullptr), ExtractDone);
    EXPECT_EQ(ReadFileText("manual.htm"), "the new manual");
    EXPECT_EQ(Entries(folder),
        (std::vector<std::string>{"docs", "f", "kept.txt", "manual.htm", "notes.txt", "pmfiles.lst"}));
    EXPECT_EQ(GetFileAttributesA(JournalPath().c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ReadFileText("pmfiles.lst"), "product:Pelmora\r\nlanguage:en\r\nmanual.htm\r\nkept.txt\r\ndocs\\new.txt\r\nf\\x.txt\r\n")
        << "the record names the product and what the run wrote, and never the user's notes";

    // A later version drops a file and finds another protected: the record still names both. Lines that
    // name no file the packer could have given (the folder may be writable by users) are not carried on.
    std::string forged;
    for (const char* line : {"..\\outside.txt", "docs\\..\\..\\outside.txt", "C:\\outside.txt", "\\outside.txt",
             "\\\\server\\share\\outside.txt", "docs\\NUL.txt", "manual.htm.pmold", "pmfiles.lst", "product:Other", ""})
        forged += std::string(line) + "\r\n";
    WriteFileText("pmfiles.lst", ReadFileText("pmfiles.lst") + forged);
    SetFileAttributesA("kept.txt", FILE_ATTRIBUTE_READONLY);
    TestArchive later({{"manual.htm", "the later manual", 2000}, {"kept.txt", "later", 2000}});
    EXPECT_EQ(ExtractArchive(later.Tables(), nullptr, nullptr), ExtractDone);
    EXPECT_EQ(ReadFileText("pmfiles.lst"), "product:Pelmora\r\nlanguage:en\r\nkept.txt\r\ndocs\\new.txt\r\nf\\x.txt\r\nmanual.htm\r\n");
}

TEST_F(ExtractTest, ARunEndedAtAnyRecordOrStepLeavesTheEarlierVersionToTheNextRun)
{
    // The records: the folder; manual.htm, docs\new.txt, extra.txt and the
    // install record staged, then the four committed; done. The steps: the
    // four stagings, then the four commits. The run ends before each record is
    // written, and before each step is taken with every record before it on
    // disk; the next run's undo finds the earlier version whole, and nothing of
    // the run's beside it but the folder it made.
    const std::vector<std::string> names = {"manual.htm", "notes.txt"};
    auto placeEarlierVersion = [&] {
        RemoveTree(folder + "\\docs");
        for (const std::string& name : Entries(folder))
            DeleteFileA(name.c_str());
        WriteFileText("manual.htm", "the earlier manual");
        SetTime("manual.htm", 900000000);
        WriteFileText("notes.txt", "the user's");
        SetTime("notes.txt", 900000000);
    };
    placeEarlierVersion();
    std::vector<FileState> before;
    for (const std::string& name : names)
        before.push_back(StateOf(folder + "\\" + name));
    TestArchive archive({{"manual.htm", Pattern((InflatedSliceRing + 2) * SliceSize, 4), 1000},
        {"docs\\new.txt", "new", 1000}, {"extra.txt", Pattern((InflatedSliceRing + 2) * SliceSize, 3), 1000}});
    int ends = 0;
    // Also as on a FAT volume, where a commit records no identity and the undo goes by the names.
    for (bool identities : {true, false})
    for (int* hook : {&JournalEndsAtRecord, &JournalEndsAtStep}) {
        JournalWithoutIdentities = !identities;
        const std::string kind = std::string(identities ? "" : "without identities, ")
            + (hook == &JournalEndsAtRecord ? "record " : "step ");
        bool finished = false;
        for (int at = 1; at < 20 && !finished; ++at) {
            *hook = at;
            finished = ExtractArchive(archive.Tables(), nullptr, nullptr) == ExtractDone;
            *hook = 0;
            if (finished)
                break;
            ++ends;
            const std::string where = "ended at " + kind + std::to_string(at);
            EXPECT_EQ(RemoveExtractedFiles(nullptr, nullptr), ExtractDone) << where;
            for (size_t i = 0; i < names.size(); ++i)
                EXPECT_EQ(StateOf(folder + "\\" + names[i]), before[i]) << names[i] << ", " << where;
            std::vector<std::string> left = Entries(folder);
            left.erase(std::remove(left.begin(), left.end(), "docs"), left.end());
            EXPECT_EQ(left, names) << where;
            EXPECT_EQ(Entries(folder + "\\docs"), std::vector<std::string>{}) << where;
            EXPECT_EQ(GetFileAttributesA(JournalPath().c_str()), INVALID_FILE_ATTRIBUTES) << where;
        }
        EXPECT_TRUE(finished) << kind;
        placeEarlierVersion();
    }
    JournalWithoutIdentities = false;
    EXPECT_EQ(ends, 2 * (10 + 8)) << "ten records and eight steps, with identities and without";

    // Ended at docs\new.txt's staging while the worker, given time, has
    // filled the ring with extra.txt's slices and waits for buffers: the run
    // still ends, and its undo is as above.
    JournalEndsAtStep = 2;
    EXPECT_EQ(ExtractArchive(archive.Tables(), nullptr,
                  [](HWND, const char* name, int) {
                      if (std::string(name) == "docs\\new.txt")
                          Sleep(200);
                  }),
        ExtractCannotCreate);
    JournalEndsAtStep = 0;
    EXPECT_EQ(RemoveExtractedFiles(nullptr, nullptr), ExtractDone);
    EXPECT_EQ(StateOf(folder + "\\manual.htm"), before[0]);
    EXPECT_EQ(Entries(folder), (std::vector<std::string>{"docs", "manual.htm", "notes.txt"}));

    // Ended before extra.txt's commit, and another program makes a file of
    // that name meanwhile: the undo deletes only what it proves the run's own.
    JournalEndsAtStep = 7;
    EXPECT_EQ(ExtractArchive(archive.Tables(), nullptr, nullptr), ExtractCannotCreate);
    JournalEndsAtStep = 0;
    WriteFileText("extra.txt", "another program's");
    EXPECT_EQ(RemoveExtractedFiles(nullptr, nullptr), ExtractDone);
    EXPECT_EQ(ReadFileText("extra.txt"), "another program's");
    EXPECT_EQ(StateOf(folder + "\\manual.htm"), before[0]);
    EXPECT_EQ(Entries(folder), (std::vector<std::string>{"docs", "extra.txt", "manual.htm", "notes.txt"}));
}

namespace {

// What a power cut leaves: of the journal what its last flush made durable, and of the restart's
// schedule what it was when last flushed (here: before the run, unless the run flushed it since).
void CutThePower(int flushes, const std::string& schedule)
{
    const std::string journal = ReadFileText(JournalPath());
    if (journal != "<missing>")
        WriteFileText(JournalPath(), journal.substr(0, size_t(JournalFlushedLength)));
    if (RestartScheduleFlushes == flushes)
        SetScheduleValue(schedule);
}

} // namespace

TEST_F(ExtractTest, APowerCutAtAnyRecordOrStepOfARunOrOfItsUndoLeavesOneVersionWholeAndItsRestart)
{
    // In the programs' folder, where a held file is replaced at the restart: an update of a manual,
    // a held file and a new file, ended at each of its records and steps, and at each step of its
    // settling, as a power cut ends it: what was not yet flushed is lost. The next run's undo then
    // leaves one version whole, never a mix, and the restart's schedule replaces the held file
    // exactly when the new version is the one in place.
    char programs[MAX_PATH];
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, programs, CSIDL_PROGRAM_FILES, FALSE));
    const std::string place = std::string(programs) + "\\extract-power";
    const std::string schedule = ScheduleValue();
    const std::vector<std::string> pending = PendingReplacements();
    TestArchive archive({{"manual.htm", "new manual", 1000}, {"held.txt", "new held", 1000}, {"new.txt", "new", 1000}});
    auto placeEarlierVersion = [&] {
        SetCurrentDirectoryA(folder.c_str());
        RemoveTree(place);
        CreateDirectoryA(place.c_str(), nullptr);
        SetCurrentDirectoryA(place.c_str());
        WriteFileText("manual.htm", "earlier manual");
        WriteFileText("held.txt", "earlier held");
    };
    auto expectOneVersion = [&](const std::string& where) {
        const bool updated = ReadFileText("manual.htm") == "new manual";
        EXPECT_EQ(ReadFileText("manual.htm"), updated ? "new manual" : "earlier manual") << where;
        EXPECT_EQ(ReadFileText("new.txt"), updated ? "new" : "<missing>") << where;
        EXPECT_EQ(ReadFileText("held.txt"), "earlier held") << where;
        EXPECT_EQ(ReadFileText("held.txt.pmnew"), updated ? "new held" : "<missing>") << where;
        EXPECT_EQ(ReadFileText("manual.htm.pmold"), "<missing>") << where;
        std::vector<std::string> expected = pending;
        if (updated)
            expected.push_back(place + "\\held.txt.pmnew > " + place + "\\held.txt");
        // A settling cut off after it made its schedule durable schedules it again: the second finds nothing to move.
        std::vector<std::string> scheduled = PendingReplacements();
        scheduled.erase(std::unique(scheduled.begin(), scheduled.end()), scheduled.end());
        EXPECT_EQ(scheduled, expected) << where;
        EXPECT_EQ(GetFileAttributesA(JournalPath().c_str()), INVALID_FILE_ATTRIBUTES) << where;
        SetScheduleValue(schedule);
    };
    int cuts = 0;
    for (int* hook : {&JournalEndsAtRecord, &JournalEndsAtStep, &JournalSettlingEndsAt}) {
        const std::string kind = hook == &JournalEndsAtRecord ? "record " : hook == &JournalEndsAtStep ? "step " : "settling step ";
        bool cut = true;
        for (int at = 1; cut; ++at) {
            placeEarlierVersion();
            HANDLE held = CreateFileA("held.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            const int flushes = RestartScheduleFlushes;
            *hook = at;
            const int result = ExtractArchive(archive.Tables(), nullptr, nullptr);
            cut = hook == &JournalSettlingEndsAt ? *hook == 0 : result != ExtractDone;
            *hook = 0;
            CloseHandle(held);
            if (!cut) {
                SetScheduleValue(schedule);
                break;
            }
            ++cuts;
            CutThePower(flushes, schedule);
            EXPECT_EQ(RemoveExtractedFiles(nullptr, nullptr), ExtractDone) << kind << at;
            expectOneVersion("the run ended at " + kind + std::to_string(at));
        }
    }
    // Ten records (the folder, four stagings, the held file's replacement, three commits, done), eight
    // steps (four stagings, four commits), and the settling's eight steps, the journal's deletion and the
    // moment after it.
    EXPECT_EQ(cuts, 10 + 8 + 10);

    // The undo of a run ended before its last commit, itself ended at each of its steps.
    bool cut = true;
    for (int at = 1; cut; ++at) {
        placeEarlierVersion();
        JournalEndsAtStep = 7;
        ASSERT_EQ(ExtractArchive(archive.Tables(), nullptr, nullptr), ExtractCannotCreate);
        JournalEndsAtStep = 0;
        const int flushes = RestartScheduleFlushes;
        JournalSettlingEndsAt = at;
        RemoveExtractedFiles(nullptr, nullptr); // result deliberately ignored: it may end anywhere
        cut = JournalSettlingEndsAt == 0;
        JournalSettlingEndsAt = 0;
        CutThePower(flushes, schedule);
        EXPECT_EQ(RemoveExtractedFiles(nullptr, nullptr), ExtractDone) << at;
        expectOneVersion("the undo ended at its step " + std::to_string(at));
        EXPECT_EQ(ReadFileText("manual.htm"), "earlier manual") << at;
    }
    SetCurrentDirectoryA(folder.c_str());
    RemoveTree(place);
}

TEST_F(ExtractTest, JournalIsTrustedOnlyAsFarAsItCanBeRead)
{
    // The run ends before its last step, the record's commit: its records are
    // F; S manual.htm, second.txt, third.txt, pmfiles.lst; M the same four,
    // the first three taken. Cut: how many bytes of the eighth record (third.txt's
    // commit) are lost, with all after it; Changed: which byte of the seventh (second.txt's
    // commit, "checksum M 0 - identity second.txt") is changed, to another the record's
    // form allows where it is a name's letter or an identity's digit: only its checksum tells.
    const struct {
        const char* what;
        int cut;
        int changed;
        const char* manual;
        const char* second;
        const char* third;
    } cases[] = {
        {"whole", -1, -1, "the earlier manual", "<missing>", "<missing>"},
        {"ending after the eighth record", 0, -1, "the earlier manual", "<missing>", "<missing>"},
        {"last record without its line feed", 1, -1, "the earlier manual", "<missing>", "3"},
        {"last record half written", 9, -1, "the earlier manual", "<missing>", "3"},
        {"a damaged record", 0, 12, "the earlier manual", "2", "3"},
        {"a letter of its name damaged", 0, 32, "the earlier manual", "2", "3"},
        {"a digit of its identity damaged", 0, 30, "the earlier manual", "2", "3"},
    };
    for (const auto& c : cases) {
        RemoveTree(folder);
        CreateDirectoryA(folder.c_str(), nullptr);
        ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str()));
        PlaceEarlierVersion();
        SetFileAttributesA("manual.htm", FILE_ATTRIBUTE_NORMAL);
        TestArchive archive({{"manual.htm", "new", 1000}, {"second.txt", "2", 1000}, {"third.txt", "3", 1000}});
        JournalEndsAtStep = 8;
        ASSERT_EQ(ExtractArchive(archive.Tables(), nullptr, nullptr), ExtractCannotCreate) << c.what;
        JournalEndsAtStep = 0;
        ASSERT_EQ(ReadFileText("third.txt"), "3") << c.what;
        std::string journal = ReadFileText(JournalPath());
        std::vector<size_t> ends;
        for (size_t at = journal.find('\n'); at != std::string::npos; at = journal.find('\n', at + 1))
            ends.push_back(at + 1);
        ASSERT_EQ(ends.size(), 9u) << journal;
        if (c.cut >= 0)
            journal.resize(ends[7] - c.cut);
        if (c.changed >= 0) {
            char& byte = journal[ends[5] + size_t(c.changed)];
            byte = byte == '9' ? '8' : byte == 'f' ? 'e' : char(byte + 1);
        }
        WriteFileText(JournalPath(), journal);
        EXPECT_EQ(RemoveExtractedFiles(nullptr, nullptr), ExtractDone) << c.what;
        EXPECT_EQ(ReadFileText("manual.htm"), c.manual) << c.what;
        EXPECT_EQ(ReadFileText("second.txt"), c.second) << c.what;
        EXPECT_EQ(ReadFileText("third.txt"), c.third) << c.what;
        EXPECT_EQ(GetFileAttributesA(JournalPath().c_str()), INVALID_FILE_ATTRIBUTES) << c.what;
        EXPECT_EQ(GetFileAttributesA("manual.htm.pmold"), INVALID_FILE_ATTRIBUTES) << c.what;
        EXPECT_EQ(GetFileAttributesA("pmfiles.lst.pmnew"), INVALID_FILE_ATTRIBUTES) << c.what;
    }
}

TEST_F(ExtractTest, OneUsersJournalIsUndoneWithTheRightsOnlyWhereNoOneWithoutThemCouldHaveWrittenIt)
{
    // Under Wine this process has administrator rights, as one user's run started elevated has them. The
    // journal is one another process made (not this one's own): its security alone decides, and Wine keeps
    // none, so a stand-in gives it.
    RunMode = UserMode;
    char path[MAX_PATH];
    ASSERT_TRUE(ProductPlacePath(UserMode, JournalPlace, path, sizeof path));
    const std::string journal = path;
    PlaceEarlierVersion();
    SetFileAttributesA("manual.htm", FILE_ATTRIBUTE_NORMAL);
    TestArchive archive({{"manual.htm", "new", 1000}});
    JournalEndsAtStep = 4;
    EXPECT_EQ(ExtractArchive(archive.Tables(), nullptr, nullptr), ExtractCannotCreate);
    JournalEndsAtStep = 0;
    // Another file of the same records, made while this run's own still stands (a file made after it
    // went may be given its number).
    WriteFileText(journal + ".theirs", ReadFileText(journal));
    ASSERT_TRUE(DeleteFileA(journal.c_str()));
    ASSERT_TRUE(MoveFileA((journal + ".theirs").c_str(), journal.c_str()));
    const std::string cutOff = ReadFileText("manual.htm") + " | " + ReadFileText("manual.htm.pmold");
    ASSERT_NE(cutOff, "the earlier manual | <missing>") << "the run ended after it set the earlier manual aside";
    const struct {
        const char* security;
        bool undone;
    } cases[] = {
        {"O:BAD:(A;;FA;;;BA)(A;;FA;;;S-1-5-21-1-2-3-1001)", false}, // the user's programs may write it
        {"O:BAD:P(A;;FA;;;BA)(A;;FA;;;SY)", true},                  // as a run with the rights makes it
    };
    for (const auto& c : cases) {
        SecurityStandIn = c.security;
        EXPECT_EQ(RemoveExtractedFiles(nullptr, nullptr) == ExtractDone, c.undone) << c.security;
        SecurityStandIn = nullptr;
        EXPECT_EQ(GetFileAttributesA(journal.c_str()) == INVALID_FILE_ATTRIBUTES, c.undone) << c.security;
        EXPECT_EQ(ReadFileText("manual.htm") + " | " + ReadFileText("manual.htm.pmold"),
            c.undone ? "the earlier manual | <missing>" : cutOff)
            << c.security;
    }
    RunMode = MachineMode;
}

TEST_F(ExtractTest, RollbackThatCannotDeleteKeepsItsJournalForTheNextTry)
{
    // Ended before its last step, the record's commit: first.txt is in place.
    TestArchive archive({{"first.txt", "1", 100}, {"second.txt", "2", 100}});
    JournalEndsAtStep = 6;
    EXPECT_EQ(ExtractArchive(archive.Tables(), nullptr, nullptr), ExtractCannotCreate);
    JournalEndsAtStep = 0;
    HANDLE held = CreateFileA("first.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(RemoveExtractedFiles(nullptr, nullptr), 0);
    EXPECT_NE(GetFileAttributesA(JournalPath().c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ExtractArchive(archive.Tables(), nullptr, nullptr), ExtractCannotCreate)
        << "never starts over a journal it could not settle";
    CloseHandle(held);
    EXPECT_EQ(RemoveExtractedFiles(nullptr, nullptr), ExtractDone);
    EXPECT_EQ(ReadFileText("first.txt"), "<missing>");
    EXPECT_EQ(GetFileAttributesA(JournalPath().c_str()), INVALID_FILE_ATTRIBUTES);
}

namespace {

// A UTF-8 text as an earlier build wrote it: in the system's code page, 1252 in the test prefix.
std::string InCodePage1252(const std::string& utf8)
{
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(size_t(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &wide[0], int(wide.size()))));
    std::string bytes(wide.size(), '\0');
    bytes.resize(size_t(WideCharToMultiByte(1252, 0, wide.data(), int(wide.size()), &bytes[0], int(bytes.size()),
        nullptr, nullptr)));
    return bytes;
}

// A journal's records with their texts in code page 1252 and their checksums
// made anew; the final path of its folder record stays UTF-8, as every build wrote it.
std::string EarlierBuildsJournal(const std::string& journal)
{
    std::string out;
    for (size_t at = 0; at < journal.size();) {
        size_t end = journal.find("\r\n", at);
        std::string body = journal.substr(at + 9, end - at - 9);
        size_t tab = body[0] == 'F' ? body.find('\t') : body.size();
        body = InCodePage1252(body.substr(0, tab)) + body.substr(tab);
        char checksum[16];
        snprintf(checksum, sizeof checksum, "%08lx ",
            adler32(1, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size())));
        out += checksum + body + "\r\n";
        at = end + 2;
    }
    return out;
}

} // namespace

TEST_F(ExtractTest, AnEarlierBuildsJournalAndRecordAreReadInTheSystemsCodePage)
{
    // An update by an earlier build, into a folder and over a file whose names
    // have a letter beyond ASCII, was cut off: its journal holds them in 1252.
    SetCurrentDirectoryA("C:\\");
    RemoveTree(folder);
    folder += " café";
    CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str()));
    WriteFileText("été.htm", "the earlier summer");
    WriteFileText("f", "in the way");
    TestArchive archive({{"été.htm", "the new summer", 1000}, {"hiver.txt", "winter", 1000}, {"f\\x.txt", "x", 1000}});
    ASSERT_EQ(ExtractArchive(archive.Tables(), nullptr, nullptr), ExtractCannotCreate);
    WriteFileText(JournalPath(), EarlierBuildsJournal(ReadFileText(JournalPath())));
    ASSERT_NE(ReadFileText(JournalPath()).find("caf\xe9"), std::string::npos);
    EXPECT_EQ(RemoveExtractedFiles(nullptr, nullptr), ExtractDone);
    EXPECT_EQ(ReadFileText("été.htm"), "the earlier summer");
    EXPECT_EQ(Entries(folder), (std::vector<std::string>{"f", "été.htm"}));
    EXPECT_EQ(GetFileAttributesA(JournalPath().c_str()), INVALID_FILE_ATTRIBUTES);

    // Its record named what it wrote in 1252 too: an update keeps those names, each once, in UTF-8.
    DeleteFileA("f");
    WriteFileText("pmfiles.lst", InCodePage1252("été.htm\r\nautomne.txt\r\nhôtel.txt\r\n"));
    EXPECT_EQ(ExtractArchive(archive.Tables(), nullptr, nullptr), ExtractDone);
    EXPECT_EQ(ReadFileText("pmfiles.lst"), "product:Pelmora\r\nlanguage:en\r\nautomne.txt\r\nhôtel.txt\r\nété.htm\r\nhiver.txt\r\nf\\x.txt\r\n");
}

TEST_F(ExtractTest, AFinishedRunsSetAsideFileThatIsHeldStaysAndKeepsNoJournal)
{
    // Cut off just before its done record (the folder, two stagings, two commits), which is then added: a
    // finished run whose set-aside file a program holds without sharing its deletion.
    WriteFileText("manual.htm", "the earlier manual");
    TestArchive archive({{"manual.htm", "the new manual", 1000}});
    JournalEndsAtRecord = 6;
    ASSERT_EQ(ExtractArchive(archive.Tables(), nullptr, nullptr), ExtractWriteFailed);
    JournalEndsAtRecord = 0;
    ASSERT_TRUE(AppendDoneRecord());
    const std::string aside = folder + "\\manual.htm.pmold";
    HANDLE held = CreateFileA(aside.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    int before = FilesAwaitingRestart();
    EXPECT_EQ(RemoveExtractedFiles(nullptr, nullptr), ExtractDone);
    CloseHandle(held);
    EXPECT_EQ(GetFileAttributesA(JournalPath().c_str()), INVALID_FILE_ATTRIBUTES) << "no journal stops the next run";
    EXPECT_EQ(ReadFileText("manual.htm"), "the new manual");
    EXPECT_EQ(FilesAwaitingRestart(), before) << "held so that it cannot be moved: it stays";
    EXPECT_EQ(ReadFileText(aside), "the earlier manual");
    const std::vector<std::string> pending = PendingDeletions();
    EXPECT_EQ(std::find(pending.begin(), pending.end(), aside), pending.end()) << "never left to the restart by its path";
    EXPECT_EQ(ExtractArchive(archive.Tables(), nullptr, nullptr), ExtractDone) << "the next run goes ahead";
}

TEST_F(ExtractTest, ARecordOfAnotherProductIsToldFromThisProductsAndAnEarlierBuildsOfIt)
{
    // The shipped product is Pelmora, whose main program is pelmora.exe.
    const struct {
        const char* record; // null: none
        bool another;
    } cases[] = {
        {nullptr, false},
        {"product:Pelmora\r\npelmora.exe\r\n", false},
        {"product:PELMORA\r\nquillet.exe\r\n", false},
        {"product:Quillet\r\npelmora.exe\r\n", true},
        {"product:Pelmor\r\n", true},
        {"product:Pelmora2\r\n", true},
        // An earlier build's, which names no product: this one's when it names its main program.
        {"help.htm\r\nPELMORA.EXE\r\n", false},
        {"quillet.exe\r\npmuninst.exe\r\n", true},
        {"product:\r\npelmora.exe\r\n", false},
    };
    for (const auto& c : cases) {
        DeleteFileA("pmfiles.lst");
        if (c.record)
            WriteFileText("pmfiles.lst", c.record);
        EXPECT_EQ(HoldsAnotherProduct(folder.c_str()), c.another) << (c.record ? c.record : "no record");
    }
}

namespace {

// Ends a run once it put prog.exe in place, and starts a program from that file, hidden, so that no
// other test's screens meet its window.
PROCESS_INFORMATION RunFromAnEndedRun(const PayloadArchiveTables& tables)
{
    JournalEndsAtStep = 4;
    EXPECT_EQ(ExtractArchive(tables, nullptr, nullptr), ExtractCannotCreate);
    JournalEndsAtStep = 0;
    std::string commandLine = "prog.exe";
    STARTUPINFOA startup = {sizeof startup};
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION program = {};
    EXPECT_TRUE(CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
        &program));
    WaitForInputIdle(program.hProcess, 10000);
    return program;
}

void EndProgram(PROCESS_INFORMATION& program)
{
    TerminateProcess(program.hProcess, 0);
    WaitForSingleObject(program.hProcess, 10000);
    CloseHandle(program.hThread);
    CloseHandle(program.hProcess);
}

} // namespace

TEST_F(ExtractTest, ProgramRunningFromAFileOfTheRunIsMovedAwayAndCountedForTheRestart)
{
    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof system);
    TestArchive archive({{"prog.exe", ReadFileText(std::string(system) + "\\notepad.exe"), 100}});
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    const std::string restart = std::string(windows) + "\\pelmora.ini.restart";
    const bool otherVolume = GetFileAttributesA("Q:\\") != INVALID_FILE_ATTRIBUTES;
    const std::string otherRestart = "Q:\\pelmora.ini.restart";

    // A link at the restart folder's name, to a folder every user may write in, on the Windows
    // directory's volume and on another: nothing is moved or scheduled through it, and the file
    // stays where it is, and the journal with it, until it can be deleted.
    const std::string open = "C:\\users\\Public\\restart-elsewhere";
    RemoveTree(open);
    ASSERT_TRUE(CreateDirectoryA(open.c_str(), nullptr));
    for (const std::string& where : {folder, std::string("Q:\\")}) {
        if (where != folder && !otherVolume)
            continue;
        const std::string link = where == folder ? restart : otherRestart;
        RemoveTree(link);
        ASSERT_TRUE(MakeUnixLink(link, open)) << link;
        ASSERT_TRUE(SetCurrentDirectoryA(where.c_str()));
        const std::vector<std::string> pendingBefore = PendingDeletions();
        PROCESS_INFORMATION program = RunFromAnEndedRun(archive.Tables());
        EXPECT_EQ(RemoveExtractedFiles(nullptr, nullptr), 0) << link;
        EXPECT_NE(GetFileAttributesA("prog.exe"), INVALID_FILE_ATTRIBUTES) << link;
        EXPECT_EQ(Entries(open), std::vector<std::string>{}) << link;
        EXPECT_EQ(PendingDeletions(), pendingBefore) << link;
        EndProgram(program);
        EXPECT_EQ(RemoveExtractedFiles(nullptr, nullptr), ExtractDone) << link;
        RemoveUnixLink(link);
    }
    RemoveTree(open);
    ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str()));

    // On the Windows directory's volume: into the restart folder beside the journal, and scheduled there,
    // the folder after it.
    PROCESS_INFORMATION program = RunFromAnEndedRun(archive.Tables());
    int before = FilesAwaitingRestart();
    EXPECT_EQ(RemoveExtractedFiles(nullptr, nullptr), ExtractDone);
    EXPECT_EQ(FilesAwaitingRestart(), before + 1);
    EXPECT_EQ(Entries(folder), std::vector<std::string>{}) << "nothing waits in the folder";
    std::vector<std::string> pending = PendingDeletions();
    ASSERT_GE(pending.size(), 2u);
    const std::string moved = pending[pending.size() - 2];
    EXPECT_EQ(moved.rfind(restart + "\\prog.exe", 0), 0u) << moved;
    EXPECT_EQ(pending.back(), restart);
    EXPECT_EQ(ReadFileText(moved), ReadFileText(std::string(system) + "\\notepad.exe")) << "the program's file, whole";
    EndProgram(program);
    DeleteFileA(moved.c_str());

    // On another volume the restart folder lies at its root, whose security must let no one but
    // administrators take away what it holds (and put a link in its place before the restart). Wine
    // keeps no security (every file is its user's): the folder the run makes there is not used, and
    // the file stays where it is, and the journal with it, until it can be deleted.
    if (!otherVolume)
        GTEST_SKIP() << "no small drive Q: (mounting a tmpfs was not permitted)";
    RemoveTree(otherRestart);
    ASSERT_TRUE(SetCurrentDirectoryA("Q:\\"));
    program = RunFromAnEndedRun(archive.Tables());
    EXPECT_EQ(RemoveExtractedFiles(nullptr, nullptr), 0);
    EXPECT_NE(GetFileAttributesA("Q:\\prog.exe"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(Entries(otherRestart), std::vector<std::string>{});
    EndProgram(program);
    EXPECT_EQ(RemoveExtractedFiles(nullptr, nullptr), ExtractDone);
    EXPECT_EQ(GetFileAttributesA("Q:\\prog.exe"), INVALID_FILE_ATTRIBUTES);
    RemoveTree(otherRestart);
}

TEST(RestartFolder, OnlyAFolderThatNoOneButAdministratorsMayChangeIsTakenForTheProducts)
{
    const struct {
        const char* security;
        bool taken;
    } rows[] = {
        {"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", true},      // as the run makes it
        {"O:SYD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)", true}, // owned by SYSTEM, users may only read
        {"O:BAD:(D;;FA;;;WD)(A;;FA;;;BA)", true},                // a denial grants nothing
        {"O:BUD:P(A;;FA;;;BA)(A;;FA;;;SY)", false},               // its owner may change its access
        {"D:P(A;;FA;;;BA)", false},                               // no owner to judge
        {"O:BA", false},                                          // no access list: anyone may do anything
        {"O:BAD:(A;;FA;;;BA)(A;;0x2;;;AU)", false},               // users may add files
        {"O:BAD:(A;;FA;;;BA)(A;;0x4;;;AU)", false},               // users may add folders
        {"O:BAD:(A;;FA;;;BA)(A;;0x40;;;BU)", false},              // users may delete what it holds
        {"O:BAD:(A;;FA;;;BA)(A;;WD;;;BU)", false},                // users may change its access
        {"O:BAD:(A;;FA;;;BA)(A;;GW;;;WD)", false},                // everyone may write
        {"O:BAD:(A;;FA;;;BA)(A;;FA;;;S-1-5-21-1-2-3-1001)", false}, // one user may do anything
    };
    // The judgement of a descriptor given in SDDL; false for one that cannot be read.
    auto judged = [](const char* security, bool (*judge)(PSECURITY_DESCRIPTOR)) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        bool read = ConvertStringSecurityDescriptorToSecurityDescriptorA(security, SDDL_REVISION_1, &descriptor,
            nullptr);
        EXPECT_TRUE(read) << security;
        bool passes = read && judge(descriptor);
        LocalFree(descriptor);
        return passes;
    };
    for (const auto& row : rows)
        EXPECT_EQ(judged(row.security, OnlyAdministratorsWrite), row.taken) << row.security;

    // The root of another drive, where the folder lies: no one but administrators may delete what it
    // holds, nor give themselves that right. Entries that only its children inherit do not apply to it.
    const struct {
        const char* security;
        bool keeps;
    } roots[] = {
        {"O:BAD:(A;;FA;;;BA)(A;;FA;;;SY)(A;;0x1200a9;;;BU)(A;;0x4;;;AU)(A;OICIIO;0x1301bf;;;AU)(A;OICIIO;FA;;;CO)",
            true},                                          // as Windows makes a drive's root
        {"O:BAD:(A;;FA;;;BA)(A;;0x1301bf;;;AU)", true},     // users may change it, but take nothing away
        {"O:BAD:(A;;FA;;;WD)", false},                      // everyone may do anything: a drive shared so
        {"O:BAD:(A;;FA;;;BA)(A;;0x40;;;AU)", false},        // users may delete what it holds
        {"O:BAD:(A;;FA;;;BA)(A;;WD;;;AU)", false},          // users may change its access
        {"O:BAD:(A;;FA;;;BA)(A;;WO;;;AU)", false},          // users may take it over
        {"O:BAD:(A;;FA;;;BA)(A;;GA;;;AU)", false},          // users may do anything
        {"O:AUD:(A;;FA;;;BA)", false},                      // owned by users, who may change its access
    };
    for (const auto& root : roots)
        EXPECT_EQ(judged(root.security, RootKeepsWhatItHolds), root.keeps) << root.security;

    // Owned by the Administrators, without an access list, which grants everyone everything (Wine's
    // reading of "D:NO_ACCESS_CONTROL" gives an empty one instead).
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size));
    SECURITY_DESCRIPTOR descriptor;
    ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorOwner(&descriptor, administrators, FALSE));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE));
    EXPECT_FALSE(OnlyAdministratorsWrite(&descriptor)) << "no access list";
    // A conditional grant, laid out by hand (Wine's functions make no such entry): its condition is never read.
    alignas(DWORD) BYTE entry[sizeof(ACCESS_ALLOWED_CALLBACK_ACE) + SECURITY_MAX_SID_SIZE] = {};
    ACCESS_ALLOWED_CALLBACK_ACE* conditional = reinterpret_cast<ACCESS_ALLOWED_CALLBACK_ACE*>(entry);
    conditional->Header.AceType = ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
    conditional->Header.AceSize = WORD(sizeof(ACCESS_ALLOWED_CALLBACK_ACE) - sizeof(DWORD) + GetLengthSid(administrators));
    conditional->Mask = FILE_ALL_ACCESS;
    ASSERT_TRUE(CopySid(SECURITY_MAX_SID_SIZE, &conditional->SidStart, administrators));
    alignas(DWORD) BYTE list[256];
    PACL access = reinterpret_cast<PACL>(list);
    ASSERT_TRUE(InitializeAcl(access, sizeof list, ACL_REVISION));
    ASSERT_TRUE(AddAce(access, ACL_REVISION, MAXDWORD, conditional, conditional->Header.AceSize));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, access, FALSE));
    EXPECT_FALSE(OnlyAdministratorsWrite(&descriptor)) << "an entry of a kind not read";
}

TEST_F(ExtractTest, WhatStandsInTheWayIsNeitherTakenForTheFileNorLost)
{
    // A folder of the user's where the payload has a file: refused, not passed over.
    CreateDirectoryA("manual.htm", nullptr);
    WriteFileText("manual.htm\\mine.txt", "mine");
    TestArchive archive({{"program.exe", "new", 100}, {"manual.htm", "new", 100}});
    WriteFileText("program.exe", "earlier");
    EXPECT_EQ(ExtractArchive(archive.Tables(), nullptr, nullptr), ExtractCannotCreate);
    EXPECT_EQ(RemoveExtractedFiles(nullptr, nullptr), ExtractDone);
    EXPECT_EQ(ReadFileText("program.exe"), "earlier");
    EXPECT_EQ(ReadFileText("manual.htm\\mine.txt"), "mine");

    // The user's own files under the names an update sets aside with: the next free name is taken.
    RemoveTree(folder + "\\manual.htm");
    WriteFileText("program.exe.pmold", "the user's");
    WriteFileText("program.exe.1.pmold", "the user's too");
    EXPECT_EQ(ExtractArchive(archive.Tables(), nullptr, nullptr), ExtractDone);
    EXPECT_EQ(ReadFileText("program.exe"), "new");
    EXPECT_EQ(ReadFileText("program.exe.pmold"), "the user's");
    EXPECT_EQ(ReadFileText("program.exe.1.pmold"), "the user's too");
    EXPECT_EQ(Entries(folder), (std::vector<std::string>{"manual.htm", "pmfiles.lst", "program.exe",
                                   "program.exe.1.pmold", "program.exe.pmold"}));

    // Stored names x and x.1, where what an earlier run left takes x's first names: the names the run
    // picks are its own, whatever the suffixes, and the next update goes the same way.
    RemoveTree(folder + "\\manual.htm");
    for (const char* leftover : {"guide.pmnew", "guide.pmold"})
        WriteFileText(leftover, "left over");
    TestArchive pair({{"guide", "one", 100}, {"guide.1", "two", 100}});
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(ExtractArchive(pair.Tables(), nullptr, nullptr), ExtractDone) << run;
        EXPECT_EQ(ReadFileText("guide"), "one") << run;
        EXPECT_EQ(ReadFileText("guide.1"), "two") << run;
        EXPECT_EQ(ReadFileText("guide.pmnew"), "left over") << run;
        EXPECT_EQ(ReadFileText("guide.pmold"), "left over") << run;
    }
}

TEST_F(ExtractTest, RollbackTouchesNothingWhenItsFolderIsElsewhereOrOutOfReach)
{
    // The run's folder lies one level down, so that its parent can go away, or be a drive that goes away.
    const std::string parent = folder + "\\parent";
    const std::string outside = folder + "-outside";
    RemoveTree(outside);
    CreateDirectoryA(outside.c_str(), nullptr);
    const std::string target = folder + "-target";
    enum Change { Linked, DriveGone, ParentGone, TargetGone };
    const struct {
        const char* what;
        Change change;
        JournalCause cause; // JournalSettled: the journal goes with the folder
    } cases[] = {{"the folder replaced by a link", Linked, JournalFolderElsewhere},
        {"the folder's drive gone", DriveGone, JournalFolderOutOfReach},
        {"the folder's parent deleted, its drive there", ParentGone, JournalSettled},
        {"the parent a link whose target is gone", TargetGone, JournalFolderOutOfReach}};
    for (const auto& c : cases) {
        RemoveTree(parent);
        RemoveTree(target);
        if (c.change == TargetGone) {
            CreateDirectoryA(target.c_str(), nullptr);
            ASSERT_TRUE(MakeUnixLink(parent, target));
        } else {
            CreateDirectoryA(parent.c_str(), nullptr);
        }
        ASSERT_TRUE(c.change != DriveGone || MapDrive('R', parent)) << c.what;
        const std::string installed = (c.change == DriveGone ? std::string("R:") : parent) + "\\Product";
        CreateDirectoryA(installed.c_str(), nullptr);
        ASSERT_TRUE(SetCurrentDirectoryA(installed.c_str()));
        WriteFileText("kept.txt", "earlier");
        WriteFileText("f", "in the way");
        TestArchive archive({{"kept.txt", "new", 100}, {"made.txt", "new", 100}, {"f\\x.txt", "x", 100}});
        ASSERT_EQ(ExtractArchive(archive.Tables(), nullptr, nullptr), ExtractCannotCreate) << c.what;
        ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str()));
        const std::string away = parent + "-away";
        if (c.change == Linked) {
            WriteFileText(outside + "\\made.txt", "theirs");
            WriteFileText(outside + "\\kept.txt", "theirs");
            ASSERT_TRUE(MoveFileA(installed.c_str(), (installed + "-moved").c_str()));
            ASSERT_TRUE(MakeUnixLink(installed, outside));
        } else if (c.change == DriveGone) {
            UnmapDrive('R');
        } else if (c.change == TargetGone) {
            ASSERT_TRUE(MoveFileA(target.c_str(), (target + "-away").c_str()));
        } else {
            ASSERT_TRUE(MoveFileA(parent.c_str(), away.c_str()));
        }
        const char* named = "";
        if (c.cause == JournalSettled) {
            // A folder deleted with its parent took what the run did there with it.
            EXPECT_EQ(RemoveExtractedFiles(nullptr, nullptr), ExtractDone) << c.what;
            EXPECT_EQ(UnsettledJournal(&named), JournalSettled) << c.what;
            EXPECT_EQ(GetFileAttributesA(JournalPath().c_str()), INVALID_FILE_ATTRIBUTES) << c.what << ": dropped";
            RemoveTree(away);
            continue;
        }
        EXPECT_EQ(RemoveExtractedFiles(nullptr, nullptr), 0) << c.what;
        EXPECT_EQ(UnsettledJournal(&named), c.cause) << c.what;
        EXPECT_EQ(std::string(named), installed) << c.what << ": the folder is named";
        EXPECT_NE(GetFileAttributesA(JournalPath().c_str()), INVALID_FILE_ATTRIBUTES) << c.what << ": kept";
        if (c.change == Linked) {
            EXPECT_EQ(ReadFileText(outside + "\\made.txt"), "theirs");
            EXPECT_EQ(ReadFileText(outside + "\\kept.txt"), "theirs");
            RemoveUnixLink(installed);
            ASSERT_TRUE(MoveFileA((installed + "-moved").c_str(), installed.c_str()));
        } else if (c.change == TargetGone) {
            ASSERT_TRUE(MoveFileA((target + "-away").c_str(), target.c_str()));
        } else {
            ASSERT_TRUE(MapDrive('R', parent));
        }
        // Back as it was, the folder gets its earlier version back.
        EXPECT_EQ(RemoveExtractedFiles(nullptr, nullptr), ExtractDone) << c.what;
        EXPECT_EQ(ReadFileText(installed + "\\kept.txt"), "earlier") << c.what;
        EXPECT_EQ(ReadFileText(installed + "\\made.txt"), "<missing>") << c.what;
        EXPECT_EQ(GetFileAttributesA(JournalPath().c_str()), INVALID_FILE_ATTRIBUTES) << c.what;
        UnmapDrive('R');
        if (c.change == TargetGone)
            RemoveUnixLink(parent);
    }
    RemoveTree(target);
    RemoveTree(outside);
}

TEST_F(ExtractTest, NothingIsWrittenThroughALinkOutOfTheFolder)
{
    const std::string outside = folder + "-outside";
    RemoveTree(outside);
    CreateDirectoryA(outside.c_str(), nullptr);
    WriteFileText(outside + "\\guide.txt", "theirs");
    ASSERT_TRUE(MakeUnixLink(folder + "\\docs", outside));
    WriteFileText("quillet.exe", "earlier");
    TestArchive archive({{"quillet.exe", "new", 100}, {"docs\\guide.txt", "ours", 100},
        {"docs\\deeper\\more.txt", "ours", 100}});
    EXPECT_EQ(ExtractArchive(archive.Tables(), nullptr, nullptr), ExtractCannotCreate);
    EXPECT_EQ(RemoveExtractedFiles(nullptr, nullptr), ExtractDone);
    EXPECT_EQ(Entries(outside), std::vector<std::string>{"guide.txt"});
    EXPECT_EQ(ReadFileText(outside + "\\guide.txt"), "theirs");
    EXPECT_EQ(ReadFileText("quillet.exe"), "earlier");
    RemoveUnixLink(folder + "\\docs");
    RemoveTree(outside);
}
