// The few conversions the packer asks of iconv, where it is built for Windows,
// whose C library has none: from UTF-8 to UTF-16LE, WCHAR_T (UTF-16 there),
// UTF-32LE, or a Windows code page CPn (by the system's own tables, which the
// setup's texts meet on the users' machines). As iconv does, a conversion
// stops at the first character that is not UTF-8 (EILSEQ), incomplete (EINVAL)
// or without a place in the code page (EILSEQ), and at a full output (E2BIG).
#pragma once
#include <cstddef>

struct WindowsConverter;
using iconv_t = WindowsConverter*;

iconv_t iconv_open(const char* to, const char* from);
size_t iconv(iconv_t converter, char** in, size_t* inLeft, char** out, size_t* outLeft);
int iconv_close(iconv_t converter);
