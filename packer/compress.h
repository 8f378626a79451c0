// The payload's compression: every slice of every file one complete zlib
// stream of its own, made with libdeflate on all cores; or, for a solid
// payload, the files' content in the blocks of one xz stream, made with
// liblzma on all cores.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

constexpr size_t SliceSize = 30000;

// Default is libdeflate's level 6, whose streams begin with 0x78 0x9C as zlib's
// default level's do; Smallest is its highest level.
enum class Compression { Default, Smallest };

struct Slice {
    size_t file;
    size_t offset;
    size_t length;
    std::vector<unsigned char> compressed;
};

// Cuts each content into slices of SliceSize bytes (the last holds the rest)
// and compresses them, in order; false when a compressor could not be made.
// The packer hands it a batch at a time, each content a file's piece that
// begins at a multiple of SliceSize within its file.
bool CompressSlices(const std::vector<std::vector<unsigned char>>& contents, Compression compression,
    std::vector<Slice>& slices);

// A solid payload's blocks hold at most this much content each: the setup
// decodes every other block ahead, whole, beside two dictionaries of at most
// 16 MiB, and the three (58 MiB) leave the rest of its extraction room
// within the 64 MB it may take. Each block's decoding starts afresh, so the
// fewer the blocks the smaller the payload.
constexpr size_t SolidBlockSize = 26 * 1024 * 1024;

struct SolidBlock {
    std::vector<unsigned char> bytes; // from its header to its check
    uint64_t unpaddedSize;            // as the stream's index records it
    uint64_t contentSize;
};

// Each content as one whole xz block: LZMA2 at preset 9 with four literal
// context bits and a dictionary of at most 16 MiB (no larger than the
// content), behind the x86 branch filter, with a CRC32 check; a block on
// each core at a time. False when a block could not be made.
bool CompressBlocks(const std::vector<std::vector<unsigned char>>& contents, std::vector<SolidBlock>& blocks);
// The xz stream's header, and, after its blocks, its index and footer.
bool SolidStreamHeader(std::vector<unsigned char>& bytes);
bool SolidStreamEnd(const std::vector<SolidBlock>& blocks, std::vector<unsigned char>& bytes);
