#include "compress.h"
#include <algorithm>
#include <atomic>
#include <libdeflate.h>
#include <lzma.h>
#include <thread>

namespace {

constexpr int DefaultLevel = 6;
constexpr int SmallestLevel = 12;

constexpr uint32_t LzmaPreset = 9;
constexpr uint32_t MostDictionary = 16 * 1024 * 1024;
// Four bits of context for a literal rather than the preset's three: 0.1 %
// off the shipped libraries' blocks, for 12 KB more of each decoder's state.
constexpr uint32_t LiteralContextBits = 4;

// Runs work on as many threads as there are cores, and waits for them all.
template <typename Work> void OnAllCores(Work work)
{
    unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < cores; ++t)
        threads.emplace_back(work);
    for (std::thread& thread : threads)
        thread.join();
}

bool CompressBlock(const std::vector<unsigned char>& content, SolidBlock& block)
{
    lzma_options_lzma options;
    if (lzma_lzma_preset(&options, LzmaPreset))
        return false;
    options.dict_size = uint32_t(std::min<size_t>(MostDictionary, std::max<size_t>(LZMA_DICT_SIZE_MIN, content.size())));
    options.lc = LiteralContextBits;
    lzma_filter filters[] = {{LZMA_FILTER_X86, nullptr}, {LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_block header{};
    header.version = 1;
    header.check = LZMA_CHECK_CRC32;
    header.filters = filters;
    block.bytes.resize(lzma_block_buffer_bound(content.size()));
    size_t written = 0;
    if (lzma_block_buffer_encode(&header, nullptr, content.data(), content.size(), block.bytes.data(), &written,
            block.bytes.size())
        != LZMA_OK)
        return false;
    block.bytes.resize(written);
    block.unpaddedSize = lzma_block_unpadded_size(&header);
    block.contentSize = content.size();
    return block.unpaddedSize != 0;
}

lzma_stream_flags StreamFlags()
{
    lzma_stream_flags flags{};
    flags.version = 0;
    flags.check = LZMA_CHECK_CRC32;
    return flags;
}

} // namespace

bool CompressBlocks(const std::vector<std::vector<unsigned char>>& contents, std::vector<SolidBlock>& blocks)
{
    size_t first = blocks.size();
    blocks.resize(first + contents.size());
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    OnAllCores([&] {
        // Only ever set: a thread that read false and stored its own result could undo another's failure.
        for (size_t i; (i = next++) < contents.size();)
            if (!CompressBlock(contents[i], blocks[first + i]))
                failed = true;
    });
    return !failed;
}

bool SolidStreamHeader(std::vector<unsigned char>& bytes)
{
    lzma_stream_flags flags = StreamFlags();
    bytes.resize(LZMA_STREAM_HEADER_SIZE);
    return lzma_stream_header_encode(&flags, bytes.data()) == LZMA_OK;
}

bool SolidStreamEnd(const std::vector<SolidBlock>& blocks, std::vector<unsigned char>& bytes)
{
    lzma_index* index = lzma_index_init(nullptr);
    bool made = index != nullptr;
    for (const SolidBlock& block : blocks)
        made = made && lzma_index_append(index, nullptr, block.unpaddedSize, block.contentSize) == LZMA_OK;
    size_t indexSize = made ? size_t(lzma_index_size(index)) : 0;
    bytes.resize(indexSize + LZMA_STREAM_HEADER_SIZE);
    size_t written = 0;
    made = made && lzma_index_buffer_encode(index, bytes.data(), &written, indexSize) == LZMA_OK;
    lzma_index_end(index, nullptr);
    lzma_stream_flags flags = StreamFlags();
    flags.backward_size = indexSize;
    return made && lzma_stream_footer_encode(&flags, bytes.data() + indexSize) == LZMA_OK;
}

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
            if (length == 0)
                failed = true;
            slice.compressed.assign(room.begin(), room.begin() + std::ptrdiff_t(length));
        }
        libdeflate_free_compressor(compressor);
    };
    OnAllCores(work);
    return !failed;
}
