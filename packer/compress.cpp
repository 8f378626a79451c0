#include "compress.h"
#include <algorithm>
#include <atomic>
#include <libdeflate.h>
#include <thread>

namespace {

constexpr int DefaultLevel = 6;
constexpr int SmallestLevel = 12;

} // namespace

bool CompressSlices(const std::vector<std::vector<unsigned char>>& contents, Compression compression,
    std::vector<Slice>& slices)
{
    for (size_t f = 0; f < contents.size(); ++f)
        for (size_t offset = 0; offset < contents[f].size(); offset += SliceSize)
            slices.push_back({f, offset, std::min(SliceSize, contents[f].size() - offset), {}});
    int level = compression == Compression::Smallest ? SmallestLevel : DefaultLevel;
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    // A compressor serves one thread at a time: each thread has its own.
    auto work = [&] {
        libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
        if (!compressor) {
            failed = true;
            return;
        }
        // Each slice keeps only its own bytes, not the worst case's room.
        std::vector<unsigned char> room(libdeflate_zlib_compress_bound(compressor, SliceSize));
        for (size_t i; (i = next++) < slices.size();) {
            Slice& slice = slices[i];
            size_t length = libdeflate_zlib_compress(compressor, contents[slice.file].data() + slice.offset,
                slice.length, room.data(), room.size());
            // The bound leaves room for any input, so a zero length cannot happen; it would be a failure.
            failed = failed || length == 0;
            slice.compressed.assign(room.begin(), room.begin() + std::ptrdiff_t(length));
        }
        libdeflate_free_compressor(compressor);
    };
    unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < cores; ++i)
        threads.emplace_back(work);
    for (std::thread& thread : threads)
        thread.join();
    return !failed;
}
