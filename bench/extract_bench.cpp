// Extraction of a large payload as a whole process, for the benchmark.
//   extract_bench.exe setup DIR   ExtractPayload into DIR, as setup.exe does
//   extract_bench.exe bare DIR    the machine's limit: uncompress and write each slice, nothing else
//   extract_bench.exe inflate DIR uncompress every slice and write nothing (where the time goes)
// Prints the result, the memory committed before the extraction (the loaded
// image with its payload) and the peak the extraction added to it.
#include "archive.h"
#include "payload.h"
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <zlib.h>

namespace {

int BareLoop(bool write)
{
    unsigned char* buffer = static_cast<unsigned char*>(malloc(WorkBufferSize));
    for (int i = 0; i < PayloadArchive.fileCount; ++i) {
        HANDLE file = write ? CreateFileA(PayloadArchive.fileNames[i], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr)
                            : nullptr;
        if (file == INVALID_HANDLE_VALUE)
            return ExtractCannotCreate;
        for (int j = 0; j < PayloadArchive.sliceCounts[i]; ++j) {
            uLongf length = WorkBufferSize;
            uncompress(buffer, &length, PayloadArchive.sliceData[i][j], PayloadArchive.sliceLengths[i][j]);
            DWORD written;
            if (write)
                WriteFile(file, buffer, DWORD(length), &written, nullptr);
        }
        if (write)
            CloseHandle(file);
    }
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
    char mode = argv[1][0];
    int result = mode == 's' ? ExtractPayload(nullptr, nullptr) : BareLoop(mode == 'b');
    GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);
    printf("result %d loaded_private_kb %lu extraction_peak_private_kb %lu\n", result,
        static_cast<unsigned long>(before.PagefileUsage / 1024),
        static_cast<unsigned long>((after.PeakPagefileUsage - before.PagefileUsage) / 1024));
    return result == ExtractDone ? 0 : 1;
}
