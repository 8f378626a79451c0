// The product's profile file. The product's own programs may read and write
// it too, in whatever code page they run; earlier builds of the setup wrote it
// in the system's code page; these programs read and write UTF-8. Reading
// never changes the file; a write that would mix encodings first makes it
// UTF-16 with its byte order mark, which every reader reads alike and which
// the profile functions keep.
#pragma once
#include <windows.h>

// Reads a value as GetPrivateProfileStringA does. A file an earlier build
// wrote is read line by line, each line UTF-8 when it is valid UTF-8, else in
// the system's code page.
DWORD ReadProfileValue(const char* section, const char* key, const char* fallback, char* out, DWORD size,
    const char* profileFile);
// Before the file is written (value: the text about to be written, or null):
// a file whose lines are not all ASCII, or that is about to get a character
// beyond ASCII, is made UTF-16 (or rewritten so, line by line as
// ReadProfileValue reads it). A file of ASCII alone, or none, that gets ASCII
// alone is left as it is. False when it had to be made so and could not be.
bool PrepareProfileForWriting(const char* profileFile, const char* value);
