// Bounded text: the one way this program formats and copies into fixed buffers.
// Every function takes the buffer's size, never writes past it, and returns
// false when the whole text did not fit. On overflow the buffer is left empty,
// so a cut-off path can never be used by mistake.
#pragma once
#include <stddef.h>
#include <stdarg.h>
#include <stdint.h>

// Understands %s (text), %d (signed 32-bit) and %%. Any other conversion fails.
bool FormatText(char* buffer, size_t size, const char* format, ...);
bool FormatTextV(char* buffer, size_t size, const char* format, va_list args);
bool CopyText(char* buffer, size_t size, const char* source);
// The first length bytes of source (which has at least that many).
bool CopyTextPrefix(char* buffer, size_t size, const char* source, size_t length);
bool AppendText(char* buffer, size_t size, const char* source);
size_t TextLength(const char* text);
// How many characters Windows counts in the text (UTF-16 code units), in the
// code page it is in: each program defines it, the setup and the uninstaller
// for their process's code page, the packer for UTF-8.
size_t TextCharacters(const char* text);
// Byte for byte, letter case included.
bool TextEquals(const char* a, const char* b);
// The key the translations know an English text by (32-bit FNV-1a of its
// bytes): the packer orders each language's translations by it, and refuses
// two texts with the same key.
uint32_t TextKey(const char* text);
