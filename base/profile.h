// The product's profile file. The product's own programs may read and write
// it too, in whatever code page they run; earlier builds of the setup wrote it
// in the system's code page; these programs read and write UTF-8. Reading
// never changes the file; a write that would mix encodings first makes it
// UTF-16 with its byte order mark, which every reader through the profile
// functions reads alike and which those functions keep.
#pragma once
#include <windows.h>
#include <stddef.h>

// Each function takes the file's full path (see places.h).
// Reads a value as GetPrivateProfileStringA does. A file the profile
// functions would misread (one with lines in a code page, as an earlier build
// wrote it, or a UTF-8 byte order mark) is read in memory, line by line, each
// line UTF-8 when it is valid UTF-8, else in the system's code page. A value
// too long for the buffer is never cut: the fallback is taken, and logged.
DWORD ReadProfileValue(const char* section, const char* key, const char* fallback, char* out, DWORD size,
    const char* path);
// Before the file is written (value: the text about to be written, or null):
// a file that the profile functions would misread, or that is about to get a
// character beyond ASCII, is made UTF-16 (rewritten so, line by line as
// ReadProfileValue reads it, keeping its security and attributes). A file of
// ASCII alone, or none, that gets ASCII alone is left as it is. False when it
// had to be made so and could not be.
bool PrepareProfileForWriting(const char* path, const char* value);
// Deletes the file when nothing but blanks is left in it, as the profile
// functions leave a file whose last section went; a file that cannot be read
// is left, which is harmless.
void DeleteBlankProfile(const char* path);
// Writes the value as the profile functions write it, the file prepared
// first (see above). A file that cannot be made UTF-16 without losing another
// program's line (where the system's code page is UTF-8 too, a line in some
// other code page) gets the value as a line of UTF-8 of its own instead, in
// place of the key's line or in its section, every other byte kept: in the
// system's code page every program reads it. False when it was not written.
bool WriteProfileValue(const char* section, const char* key, const char* value, const char* path);

// Opens the folder of a profile file that lies where other programs may write
// (one user's), to be held while the file is written or deleted: a folder at
// its path with no link on the way, kept from being renamed while the handle
// is open, and the file in it, when there is one, a plain file of one name.
// INVALID_HANDLE_VALUE, logged, when it is not so: the file is then left alone.
HANDLE HoldProfileFolder(const char* path);
