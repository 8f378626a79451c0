// Extraction of a large payload as a whole process, for the benchmark. The
// payload is the one the setup.exe given carries (packed by pmpack into the
// kit's program of this build's architecture): its records read from the
// section the packer wrote into it, mapped as an image, and its payload from
// it and its companions, as that setup reads its own.
//   extract_bench.exe setup DIR SETUP       what an unattended setup.exe does: checks the parts' sizes
//                                           and the image's SHA-256, then ExtractPayload into DIR, which
//                                           checks each span of the payload as it reads it
//   extract_bench.exe extract DIR SETUP     the same (every mode checks the sizes and the image first)
//   extract_bench.exe check DIR SETUP       the check of every part's SHA-256 alone, which an
//                                           interactive setup makes while the agreement is read
//   extract_bench.exe zlib DIR SETUP        a bare loop: read, zlib's uncompress and write each slice,
//                                           nothing else
//   extract_bench.exe libdeflate DIR SETUP  the same loop with libdeflate's decompressor, the setup's
//   extract_bench.exe inflate DIR SETUP     libdeflate's loop writing nothing (where the time goes)
//   extract_bench.exe lzma DIR SETUP        a bare loop over a solid payload: liblzma decodes each block
//                                           on this thread alone and its content is written as it comes
// The bare zlib and libdeflate loops take a payload of slices, the lzma loop a
// solid one; given the other kind they refuse (exit code 2).
// Prints the result, the memory committed before the extraction (the loaded
// image with its payload), the peak the extraction added to it, and how many
// times it asked Windows to make data durable.
// Wine reports as a process's peak commit its commit of the moment, so the
// peak is also sampled while the extraction runs: every 10 ms, far shorter
// than a buffer of the extraction lives.
#include "archive.h"
#include "payload.h"
#include "product_data.h"
#include "source.h"
#include <libdeflate.h>
#include <lzma.h>
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

namespace {

// What the bare loops read a slice, or a block's compressed bytes, into.
constexpr size_t SliceInputSize = 32 * 1024;
constexpr size_t BlockInputSize = 64 * 1024;

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
    if (PayloadArchive.solid)
        return -1;
    unsigned char* buffer = static_cast<unsigned char*>(malloc(WorkBufferSize));
    unsigned char* input = static_cast<unsigned char*>(malloc(SliceInputSize));
    libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
    for (int i = 0; i < PayloadArchive.fileCount; ++i) {
        HANDLE file = write ? CreateFileA(PayloadArchive.fileNames[i], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr)
                            : nullptr;
        if (file == INVALID_HANDLE_VALUE)
            return ExtractCannotCreate;
        uint64_t offset = PayloadArchive.fileOffsets[i];
        for (int j = 0; j < PayloadArchive.sliceCounts[i]; ++j) {
            const unsigned char* slice = input;
            uint32_t sliceLength = PayloadArchive.sliceLengths[i][j];
            if (sliceLength > SliceInputSize || !ReadPayload(offset, input, sliceLength))
                return ExtractWriteFailed;
            offset += sliceLength;
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
    free(input);
    free(buffer);
    return ExtractDone;
}

uint64_t FileSize(int file)
{
    int slices = PayloadArchive.sliceCounts[file];
    return slices ? uint64_t(slices - 1) * SliceSize + PayloadArchive.solid->lastSliceSizes[file] : 0;
}

// Closes the file being written and creates the next, until one with content
// is left to write or every file is there; left is what that file holds.
bool OpenFileWithContent(int* file, HANDLE* out, uint64_t* left)
{
    while (*left == 0 && *file + 1 < PayloadArchive.fileCount) {
        if (*out != INVALID_HANDLE_VALUE)
            CloseHandle(*out);
        ++*file;
        *out = CreateFileA(PayloadArchive.fileNames[*file], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
            FILE_ATTRIBUTE_NORMAL, nullptr);
        if (*out == INVALID_HANDLE_VALUE)
            return false;
        *left = FileSize(*file);
    }
    return true;
}

// What a single-threaded unpacker does: one decoder, the blocks in turn, each
// decoded a work buffer at a time and written into the files as it comes.
int BareBlockLoop()
{
    const SolidBlocks* solid = PayloadArchive.solid;
    if (!solid)
        return -1;
    unsigned char* buffer = static_cast<unsigned char*>(malloc(WorkBufferSize));
    unsigned char* input = static_cast<unsigned char*>(malloc(BlockInputSize));
    int file = -1;
    HANDLE out = INVALID_HANDLE_VALUE;
    uint64_t left = 0;
    int result = OpenFileWithContent(&file, &out, &left) ? ExtractDone : ExtractCannotCreate;
    for (int k = 0; k < solid->blockCount && result == ExtractDone; ++k) {
        uint64_t at = solid->blockOffsets[k];
        uint64_t end = at + solid->blockLengths[k];
        lzma_filter filters[LZMA_FILTERS_MAX + 1];
        lzma_block header{};
        header.version = 1;
        header.check = LZMA_CHECK_CRC32;
        header.filters = filters;
        // The header decoder frees the filters' options itself when it fails.
        if (!ReadPayload(at, input, 1) || !ReadPayload(at, input, header.header_size = lzma_block_header_size_decode(input[0]))
            || lzma_block_header_decode(&header, nullptr, input) != LZMA_OK) {
            result = ExtractWriteFailed;
            break;
        }
        at += header.header_size;
        lzma_stream stream = LZMA_STREAM_INIT;
        lzma_ret status = lzma_block_decoder(&stream, &header);
        while (status == LZMA_OK && result == ExtractDone) {
            if (stream.avail_in == 0 && at < end) {
                size_t piece = size_t(end - at < BlockInputSize ? end - at : BlockInputSize);
                if (!ReadPayload(at, input, piece))
                    break;
                stream.next_in = input;
                stream.avail_in = piece;
                at += piece;
            }
            stream.next_out = buffer;
            stream.avail_out = WorkBufferSize;
            status = lzma_code(&stream, at == end ? LZMA_FINISH : LZMA_RUN);
            const unsigned char* content = buffer;
            size_t length = WorkBufferSize - stream.avail_out;
            while (length > 0 && result == ExtractDone) {
                DWORD part = DWORD(left < length ? left : length);
                DWORD written = 0;
                // Content beyond the last file's is a payload at odds with its tables.
                if (part == 0 || !WriteFile(out, content, part, &written, nullptr) || written != part)
                    result = ExtractWriteFailed;
                content += part;
                length -= part;
                left -= part;
                if (!OpenFileWithContent(&file, &out, &left))
                    result = ExtractCannotCreate;
            }
        }
        if (result == ExtractDone && status != LZMA_STREAM_END)
            result = ExtractWriteFailed;
        lzma_end(&stream);
        lzma_filters_free(filters, nullptr);
    }
    if (out != INVALID_HANDLE_VALUE)
        CloseHandle(out);
    free(input);
    free(buffer);
    return result;
}

struct PeakSampling {
    HANDLE stop;
    SIZE_T peak;
};

DWORD WINAPI SamplePeak(void* context)
{
    auto* sampling = static_cast<PeakSampling*>(context);
    do {
        PROCESS_MEMORY_COUNTERS now = {};
        now.cb = sizeof now;
        if (GetProcessMemoryInfo(GetCurrentProcess(), &now, sizeof now) && now.PagefileUsage > sampling->peak)
            sampling->peak = now.PagefileUsage;
    } while (WaitForSingleObject(sampling->stop, 10) == WAIT_TIMEOUT);
    return 0;
}

// The measured setup's records: a payload of slices, or else a solid one (the
// first reading refuses the other kind before it reads the archive's tables).
bool ReadMeasuredProduct(const wchar_t* setup)
{
    HMODULE image = LoadLibraryExW(setup, nullptr, DONT_RESOLVE_DLL_REFERENCES);
    return image
        && (ReadSetupSection(image, SliceInflater, false, nullptr) || ReadSetupSection(image, BlockUnpacker, true, nullptr));
}

} // namespace

// What an interactive setup does while the agreement is read: the SHA-256 of every part.
int CheckPayload()
{
    StartPayloadCheck();
    return AwaitPayloadCheck(INFINITE) == PayloadWhole ? ExtractDone : ExtractWriteFailed;
}

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    wchar_t setup[1024];
    if (!MultiByteToWideChar(CP_ACP, 0, argv[3], -1, setup, 1024) || !ReadMeasuredProduct(setup)
        || OpenProgramPayload(PayloadArchive, setup) != PayloadWhole) {
        fprintf(stderr, "extract_bench: the records or the payload of %s cannot be read whole\n", argv[3]);
        return 2;
    }
    const char* mode = argv[1];
    if (strcmp(mode, "check") == 0 && CheckPayload() != ExtractDone)
        return 1;
    CreateDirectoryA(argv[2], nullptr);
    if (!SetCurrentDirectoryA(argv[2]))
        return 2;
    // The sampler begins first, so that what its own thread takes counts as loaded.
    PeakSampling sampling = {CreateEventA(nullptr, TRUE, FALSE, nullptr), 0};
    HANDLE sampler = sampling.stop ? CreateThread(nullptr, 0, SamplePeak, &sampling, 0, nullptr) : nullptr;
    if (!sampler)
        return 2;
    PROCESS_MEMORY_COUNTERS before = {}, after = {};
    before.cb = after.cb = sizeof before;
    GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);
    if (!CountFlushes())
        return 2;
    int result = strcmp(mode, "setup") == 0 || strcmp(mode, "extract") == 0 ? ExtractPayload(nullptr, nullptr)
        : strcmp(mode, "check") == 0        ? ExtractDone
        : strcmp(mode, "zlib") == 0         ? BareLoop(Zlib, true)
        : strcmp(mode, "libdeflate") == 0   ? BareLoop(Libdeflate, true)
        : strcmp(mode, "inflate") == 0      ? BareLoop(Libdeflate, false)
        : strcmp(mode, "lzma") == 0         ? BareBlockLoop()
                                            : -1;
    if (result < 0) {
        fprintf(stderr, "extract_bench: no mode %s for this payload%s\n", mode,
            PayloadArchive.solid ? " (a solid one: lzma)" : " (of slices: zlib, libdeflate, inflate)");
        return 2;
    }
    SetEvent(sampling.stop);
    WaitForSingleObject(sampler, INFINITE);
    GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);
    SIZE_T peak = after.PeakPagefileUsage > sampling.peak ? after.PeakPagefileUsage : sampling.peak;
    if (peak < before.PagefileUsage)
        peak = before.PagefileUsage;
    printf("result %d loaded_private_kb %lu extraction_peak_private_kb %lu flushes %d files %d\n", result,
        static_cast<unsigned long>(before.PagefileUsage / 1024),
        static_cast<unsigned long>((peak - before.PagefileUsage) / 1024), Flushes,
        PayloadArchive.fileCount);
    return result == ExtractDone ? 0 : 1;
}
