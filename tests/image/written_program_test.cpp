// The program the image test wrote (written_program.h), read back through
// Windows' own calls: its version, icon, manifest and merged resources, its
// checksum, and the section it finds in its own image when it runs.
#include "written_program.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <imagehlp.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::wstring Wide(const char* utf8)
{
    std::wstring wide(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, &wide[0], int(wide.size()));
    wide.resize(wide.size() - 1);
    return wide;
}

const std::wstring Program = Wide(WRITTEN_PROGRAM);

// A predefined resource type (RT_ICON and the like), for the UTF-16 calls.
const wchar_t* Type(const char* predefined)
{
    return reinterpret_cast<const wchar_t*>(predefined);
}

class WrittenProgram : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        module = LoadLibraryExW(Program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    }
    static void TearDownTestSuite() { FreeLibrary(module); }

    void SetUp() override { ASSERT_NE(module, nullptr) << GetLastError(); }

    static std::string Resource(const wchar_t* name, const wchar_t* type)
    {
        HRSRC found = FindResourceW(module, name, type);
        HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
        auto* bytes = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
        return bytes ? std::string(bytes, SizeofResource(module, found)) : std::string("(none)");
    }

    static HMODULE module;
};

HMODULE WrittenProgram::module = nullptr;

TEST_F(WrittenProgram, HasItsVersion)
{
    DWORD handle = 0;
    std::vector<char> info(GetFileVersionInfoSizeW(Program.c_str(), &handle));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(GetFileVersionInfoW(Program.c_str(), 0, DWORD(info.size()), info.data()));
    const struct {
        const wchar_t* key;
        const char* value;
    } strings[] = {
        {L"ProductName", written::ProductName},
        {L"CompanyName", written::CompanyName},
        {L"ProductVersion", written::ProductVersion},
        {L"FileVersion", written::FileVersion},
        {L"FileDescription", written::FileDescription},
        {L"LegalCopyright", written::LegalCopyright},
        {L"OriginalFilename", written::OriginalFilename},
    };
    for (const auto& string : strings) {
        void* value = nullptr;
        UINT length = 0;
        std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + string.key;
        ASSERT_TRUE(VerQueryValueW(info.data(), path.c_str(), &value, &length)) << string.value;
        EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(value)), Wide(string.value));
        EXPECT_EQ(length, Wide(string.value).size() + 1) << string.value;
    }
    void* value = nullptr;
    UINT length = 0;
    EXPECT_FALSE(VerQueryValueW(info.data(), L"\\StringFileInfo\\040904B0\\InternalName", &value, &length))
        << "an empty field is not written";
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(static_cast<const WORD*>(value)[0], 0x0409);
    EXPECT_EQ(static_cast<const WORD*>(value)[1], 1200);
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", &value, &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010002u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00030004u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00020047u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0xFFFF0000u);
    EXPECT_EQ(fixed->dwFileType, DWORD(VFT_APP));
}

// Each size Windows picks from the group is the .ico's own image of that size.
TEST_F(WrittenProgram, HasEveryImageOfItsIcon)
{
    std::ifstream file(WRITTEN_ICON, std::ios::binary);
    std::string icon((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_GT(icon.size(), 6u);
    std::string group = Resource(MAKEINTRESOURCEW(110), Type(RT_GROUP_ICON));
    ASSERT_GE(group.size(), 6u);
    size_t count = *reinterpret_cast<const WORD*>(&icon[4]);
    ASSERT_EQ(*reinterpret_cast<const WORD*>(&group[4]), count);
    for (size_t k = 0; k < count; ++k) {
        auto* entry = reinterpret_cast<const unsigned char*>(&icon[6 + 16 * k]);
        int size = entry[0];
        int id = LookupIconIdFromDirectoryEx(reinterpret_cast<BYTE*>(&group[0]), TRUE, size, size, LR_DEFAULTCOLOR);
        DWORD bytes = *reinterpret_cast<const DWORD*>(entry + 8), offset = *reinterpret_cast<const DWORD*>(entry + 12);
        EXPECT_EQ(Resource(MAKEINTRESOURCEW(id), Type(RT_ICON)), icon.substr(offset, bytes)) << size;
    }
    for (int size : {16, 48}) {
        HICON loaded = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(110), IMAGE_ICON, size, size, 0));
        ASSERT_NE(loaded, nullptr) << size;
        ICONINFO info = {};
        BITMAP bitmap = {};
        ASSERT_TRUE(GetIconInfo(loaded, &info));
        GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
        EXPECT_EQ(bitmap.bmWidth, size);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(loaded);
    }
    // The prebuilt's other icon keeps its image; the replaced one's went with it.
    EXPECT_NE(LoadIconW(module, MAKEINTRESOURCEW(120)), nullptr);
    int images = 0;
    EnumResourceNamesW(module, Type(RT_ICON),
        [](HMODULE, LPCWSTR, LPWSTR, LONG_PTR counted) { return ++*reinterpret_cast<int*>(counted), TRUE; },
        LONG_PTR(&images));
    EXPECT_EQ(images, int(count) + 1);
}

TEST_F(WrittenProgram, KeepsItsResourcesWithTheManifestReplaced)
{
    EXPECT_EQ(Resource(MAKEINTRESOURCEW(1), Type(RT_MANIFEST)), written::Manifest);
    const struct {
        const wchar_t* name;
        const wchar_t* type;
        const char* content;
    } kept[] = {
        {L"alpha", Type(RT_RCDATA), "first of the named"},
        {L"Zeta", Type(RT_RCDATA), "last of the named"},
        {MAKEINTRESOURCEW(7), Type(RT_RCDATA), "numbered"},
        {L"Pelmora", L"TestData", "of a named type"},
    };
    for (const auto& resource : kept)
        EXPECT_EQ(Resource(resource.name, resource.type), resource.content);
    std::string dialog = Resource(MAKEINTRESOURCEW(100), Type(RT_DIALOG));
    ASSERT_GE(dialog.size(), 26u);
    // DLGTEMPLATEEX: version 1, signature 0xFFFF, then one control.
    EXPECT_EQ(*reinterpret_cast<const WORD*>(&dialog[0]), 1);
    EXPECT_EQ(*reinterpret_cast<const WORD*>(&dialog[2]), 0xFFFF);
    EXPECT_EQ(*reinterpret_cast<const WORD*>(&dialog[16]), 1);
}

TEST_F(WrittenProgram, HasTheChecksumWindowsComputes)
{
    DWORD header = 0, computed = 0;
    ASSERT_EQ(MapFileAndCheckSumA(WRITTEN_PROGRAM, &header, &computed), DWORD(CHECKSUM_SUCCESS));
    EXPECT_NE(header, 0u);
    EXPECT_EQ(header, computed);
}

TEST_F(WrittenProgram, RunsAndFindsItsSection)
{
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION process = {};
    std::wstring command = L"\"" + Program + L"\"";
    ASSERT_TRUE(CreateProcessW(Program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
        &process));
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(code, 0u) << "2: no section of its name; 3: other bytes";
}

} // namespace
