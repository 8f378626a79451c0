// Extraction of a large payload as a whole process, for the benchmark.
//   extract_bench.exe setup DIR       ExtractPayload into DIR, as setup.exe does
//   extract_bench.exe zlib DIR        a bare loop: zlib's uncompress and write each slice, nothing else
//   extract_bench.exe libdeflate DIR  the same loop with libdeflate's decompressor, the setup's inflater
//   extract_bench.exe inflate DIR     libdeflate's loop writing nothing (where the time goes)
// Prints the result, the memory committed before the extraction (the loaded
// image with its payload), the peak the extraction added to it, and how many
// times it asked Windows to make data durable.
#include "archive.h"
#include "payload.h"
#include <libdeflate.h>
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

namespace {

enum Inflater { Zlib, Libdeflate };

int Flushes;
BOOL(WINAPI* SystemFlush)(HANDLE);

BOOL WINAPI CountedFlush(HANDLE file)
{
    ++Flushes;
    return SystemFlush(file);
}

// Every FlushFileBuffers this program makes goes through its import table,
// whichever library of the setup makes it: the table's entry is pointed at a
// counter.
bool CountFlushes()
{
    HMODULE image = GetModuleHandleA(nullptr);
    auto* base = reinterpret_cast<unsigned char*>(image);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    FARPROC flush = GetProcAddress(GetModuleHandleA("kernel32.dll"), "FlushFileBuffers");
    for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); entry->Name;
         ++entry) {
        for (auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk); slot->u1.Function; ++slot) {
            if (reinterpret_cast<FARPROC>(slot->u1.Function) != flush)
                continue;
            DWORD protection = 0;
            if (!VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &protection))
                return false;
            SystemFlush = reinterpret_cast<BOOL(WINAPI*)(HANDLE)>(flush);
            slot->u1.Function = reinterpret_cast<ULONG_PTR>(&CountedFlush);
            return true;
        }
    }
    return false;
}

int BareLoop(Inflater inflater, bool write)
{
    unsigned char* buffer = static_cast<unsigned char*>(malloc(WorkBufferSize));
    libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
    for (int i = 0; i < PayloadArchive.fileCount; ++i) {
        HANDLE file = write ? CreateFileA(PayloadArchive.fileNames[i], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr)
                            : nullptr;
        if (file == INVALID_HANDLE_VALUE)
            return ExtractCannotCreate;
        for (int j = 0; j < PayloadArchive.sliceCounts[i]; ++j) {
            const unsigned char* slice = PayloadArchive.sliceData[i][j];
            uint32_t sliceLength = PayloadArchive.sliceLengths[i][j];
            uLongf zlibLength = WorkBufferSize;
            size_t length = WorkBufferSize;
            if (inflater == Zlib) {
                uncompress(buffer, &zlibLength, slice, sliceLength);
                length = zlibLength;
            } else {
                libdeflate_zlib_decompress(decompressor, slice, sliceLength, buffer, length, &length);
            }
            DWORD written;
            if (write)
                WriteFile(file, buffer, DWORD(length), &written, nullptr);
        }
        if (write)
            CloseHandle(file);
    }
    libdeflate_free_decompressor(decompressor);
    free(buffer);
    return ExtractDone;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    CreateDirectoryA(argv[2], nullptr);
    if (!SetCurrentDirectoryA(argv[2]))
        return 2;
    PROCESS_MEMORY_COUNTERS before = {}, after = {};
    before.cb = after.cb = sizeof before;
    GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);
    if (!CountFlushes())
        return 2;
    const char* mode = argv[1];
    int result = strcmp(mode, "setup") == 0 ? ExtractPayload(nullptr, nullptr)
        : strcmp(mode, "zlib") == 0         ? BareLoop(Zlib, true)
        : strcmp(mode, "libdeflate") == 0   ? BareLoop(Libdeflate, true)
        : strcmp(mode, "inflate") == 0      ? BareLoop(Libdeflate, false)
                                            : -1;
    if (result < 0)
        return 2;
    GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);
    printf("result %d loaded_private_kb %lu extraction_peak_private_kb %lu flushes %d files %d\n", result,
        static_cast<unsigned long>(before.PagefileUsage / 1024),
        static_cast<unsigned long>((after.PeakPagefileUsage - before.PagefileUsage) / 1024), Flushes,
        PayloadArchive.fileCount);
    return result == ExtractDone ? 0 : 1;
}
