// The code page of the programs' texts. Both programs declare the UTF-8
// process code page in their manifests, which Windows honours from Windows 10
// version 1903: every text they carry is UTF-8, and every ANSI function takes
// and returns UTF-8, so that the file system, the registry and the shell see
// Unicode. Older Windows give the system's code page instead: there the texts
// the programs carry are converted to it once at start, and a product whose
// texts it cannot hold is refused before anything changes.
#pragma once
#include <windows.h>
#include <stddef.h>

// Whether this process's ANSI functions take UTF-8.
bool UsesUtf8();

// A UTF-8 text in a Windows code page, such that the ANSI functions of a
// process with that code page read back exactly its characters. False, out
// left empty, when a character has no place there, when a double-byte
// character would have an ASCII second byte (which a path's bytes would show
// as a backslash or a letter), or when it does not fit.
bool ConvertUtf8(const char* utf8, UINT codePage, char* out, size_t size);

// The texts as this process's ANSI functions take them: under UTF-8 the texts
// themselves; else copies in the process's code page, which last as long as
// the process. False, with no copy left, when one cannot be held, or memory
// ran out.
bool HoldTexts(const char* const* texts, int count, const char** held);
// The product's record, details and agreement, held so (see product.h).
bool HoldProductTexts();

// The code page Windows gives programs that do not choose one, in which an
// earlier build wrote its files; 0 when it is UTF-8.
UINT SystemCodePage();
// Bytes read from a file an earlier build may have written, in UTF-16 from
// the heap: as the process's code page takes them when that is not UTF-8 or
// they are valid UTF-8, else in the system's code page. Null when memory ran
// out, or when they cannot be read: where the system's code page is UTF-8
// too, bytes that are not valid UTF-8 (another program's, in a code page no
// one can tell) would only become U+FFFD.
WCHAR* StoredBytesToUtf16(const char* bytes, int length, int* wideLength);
// A text read from a file an earlier build may have written in the system's
// code page: kept when it is valid UTF-8 (or this process does not use UTF-8),
// else converted from the system's code page. False, the text left empty,
// when the converted text does not fit.
bool ReadStoredText(char* text, size_t size);
// A UTF-16 text, from a function that has no ANSI form or whose ANSI form
// takes too small a buffer, in the process's code page. False, out left
// empty, when a character has no place there or it does not fit.
bool NarrowText(const WCHAR* wide, char* out, size_t size);
// A folder the system names (CSIDL_...), so; false when it names none.
bool SystemFolderPath(int folder, char* out, size_t size);

// A text in the process's code page as UTF-8, from the heap; null when
// memory ran out.
char* CopyAsUtf8(const char* text);

// Cuts the text after its first count characters (as TextCharacters counts
// them), never inside one.
void KeepCharacters(char* text, size_t count);
