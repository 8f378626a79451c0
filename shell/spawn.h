// Starting the product's helper programs and waiting for them.
#pragma once

// Finds the program (trying .com, .exe, .bat, .cmd when it has no extension),
// runs it with the arguments joined by blanks (argument zero first) in the
// current directory, and waits. The exit code, or -1 when nothing started.
int SpawnAndWait(const char* program, const char* const* arguments, int count);

// The program file SpawnAndWait would run; false when there is none.
bool FindProgramFile(const char* program, char* found, unsigned size);
