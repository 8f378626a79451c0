#include "code_page.h"
#include "path_limits.h"
#include "product.h"
#include "run.h"
#include "text.h"
#include <shlobj.h>
#include <stdlib.h>

namespace {

// A text in UTF-16, from the heap; null when it is not valid in the code page or memory ran out.
WCHAR* Widen(const char* text, int length, UINT codePage, DWORD flags, int* wideLength)
{
    *wideLength = MultiByteToWideChar(codePage, flags, text, length, nullptr, 0);
    if (*wideLength <= 0)
        return nullptr;
    WCHAR* wide = static_cast<WCHAR*>(malloc(sizeof(WCHAR) * size_t(*wideLength)));
    if (wide && MultiByteToWideChar(codePage, flags, text, length, wide, *wideLength) != *wideLength) {
        free(wide);
        wide = nullptr;
    }
    return wide;
}

// Whether every double-byte character of the text has a second byte outside ASCII.
bool KeepsAsciiApart(const char* text, UINT codePage)
{
    for (const char* at = text; *at; ++at)
        if (IsDBCSLeadByteEx(codePage, BYTE(*at))) {
            if (BYTE(at[1]) < 0x80)
                return false;
            ++at;
        }
    return true;
}

bool IsUtf8(const char* text, int length)
{
    return length == 0 || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, length, nullptr, 0) > 0;
}

// Bytes in a code page as UTF-8, from the heap; null when memory ran out.
char* BytesToUtf8(const char* text, int length, UINT codePage, int* utf8Length)
{
    int wideLength;
    WCHAR* wide = Widen(text, length, codePage, 0, &wideLength);
    if (!wide)
        return nullptr;
    *utf8Length = WideCharToMultiByte(CP_UTF8, 0, wide, wideLength, nullptr, 0, nullptr, nullptr);
    char* utf8 = *utf8Length > 0 ? static_cast<char*>(malloc(size_t(*utf8Length))) : nullptr;
    if (utf8 && WideCharToMultiByte(CP_UTF8, 0, wide, wideLength, utf8, *utf8Length, nullptr, nullptr) != *utf8Length) {
        free(utf8);
        utf8 = nullptr;
    }
    free(wide);
    return utf8;
}

} // namespace

UINT SystemCodePage()
{
    DWORD codePage = 0;
    if (!GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
            reinterpret_cast<char*>(&codePage), sizeof codePage))
        return 0;
    return codePage == CP_UTF8 || codePage == CP_ACP ? 0 : codePage;
}

bool UsesUtf8()
{
    return GetACP() == CP_UTF8;
}

size_t TextCharacters(const char* text)
{
    int characters = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    return characters > 0 ? size_t(characters - 1) : TextLength(text);
}

void KeepCharacters(char* text, size_t count)
{
    int wideLength;
    WCHAR* wide = Widen(text, -1, CP_ACP, 0, &wideLength);
    if (!wide) {
        text[0] = '\0';
        return;
    }
    if (size_t(wideLength - 1) > count) {
        // Never between the two halves of a character beyond the first plane.
        int kept = int(count) - (count > 0 && IS_HIGH_SURROGATE(wide[count - 1]) ? 1 : 0);
        text[WideCharToMultiByte(CP_ACP, 0, wide, kept, nullptr, 0, nullptr, nullptr)] = '\0';
    }
    free(wide);
}

bool NarrowText(const WCHAR* wide, char* out, size_t size)
{
    if (size == 0)
        return false;
    BOOL lossy = FALSE;
    bool utf8 = UsesUtf8();
    // A lone surrogate, which UTF-8 cannot hold, fails rather than becoming U+FFFD.
    int length = utf8 ? WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, out, int(size), nullptr, nullptr)
                      : WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, out, int(size), nullptr, &lossy);
    if (length > 0 && !lossy)
        return true;
    out[0] = '\0';
    return false;
}

bool SystemFolderPath(int folder, char* out, size_t size)
{
    WCHAR path[MAX_PATH];
    return SHGetFolderPathW(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, path) == S_OK && path[0]
        && NarrowText(path, out, size);
}

char* CopyAsUtf8(const char* text)
{
    int length;
    return BytesToUtf8(text, -1, CP_ACP, &length);
}

bool ConvertUtf8(const char* utf8, UINT codePage, char* out, size_t size)
{
    if (size == 0)
        return false;
    out[0] = '\0';
    if (codePage == CP_UTF8)
        return CopyText(out, size, utf8);
    int wideLength;
    WCHAR* wide = Widen(utf8, -1, CP_UTF8, MB_ERR_INVALID_CHARS, &wideLength);
    if (!wide)
        return false;
    BOOL lossy = FALSE;
    int length = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide, wideLength, out, int(size), nullptr, &lossy);
    free(wide);
    if (length > 0 && !lossy && KeepsAsciiApart(out, codePage))
        return true;
    out[0] = '\0';
    return false;
}

bool HoldTexts(const char* const* texts, int count, const char** held)
{
    UINT codePage = GetACP();
    for (int i = 0; i < count; ++i) {
        held[i] = texts[i];
        if (codePage == CP_UTF8)
            continue;
        // A character takes no more bytes in a Windows code page than in UTF-8.
        size_t size = TextLength(texts[i]) + 1;
        char* copy = static_cast<char*>(malloc(size));
        if (!copy || !ConvertUtf8(texts[i], codePage, copy, size)) {
            free(copy);
            for (int j = 0; j < i; ++j)
                free(const_cast<char*>(held[j]));
            return false;
        }
        held[i] = copy;
    }
    return true;
}

bool HoldProductTexts()
{
    // In the record's order, then the details and the agreement.
    const char** texts[] = {&ProductConfig.folderName, &ProductConfig.displayName, &ProductConfig.profileFile,
        &ProductConfig.startupPrompt, &ProductConfig.mainExecutable, &ProductConfig.startupArguments,
        &ProductConfig.serviceExecutable, &ProductConfig.servicePrompt, &ProductDetails.publisher,
        &ProductDetails.version, &AgreementText};
    for (const char** text : texts)
        if (!HoldTexts(text, 1, text))
            return false;
    return true;
}

WCHAR* StoredBytesToUtf16(const char* bytes, int length, int* wideLength)
{
    UINT codePage = SystemCodePage();
    bool utf8 = !UsesUtf8() || codePage == 0 || IsUtf8(bytes, length);
    // Where the system's code page is UTF-8 too, bytes that are not UTF-8 are in a code page no one can tell.
    if (UsesUtf8() && codePage == 0 && !IsUtf8(bytes, length))
        return nullptr;
    if (length == 0) {
        *wideLength = 0;
        return static_cast<WCHAR*>(malloc(sizeof(WCHAR)));
    }
    return Widen(bytes, length, utf8 ? CP_ACP : codePage, 0, wideLength);
}

bool ReadStoredText(char* text, size_t size)
{
    int length = int(TextLength(text));
    UINT codePage = SystemCodePage();
    if (!UsesUtf8() || IsUtf8(text, length) || codePage == 0)
        return true;
    int utf8Length = 0;
    char* utf8 = BytesToUtf8(text, length, codePage, &utf8Length);
    bool fits = utf8 && CopyTextPrefix(text, size, utf8, size_t(utf8Length));
    free(utf8);
    if (!fits)
        text[0] = '\0';
    return fits;
}
