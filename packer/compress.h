// The payload's compression: every slice of every file one complete zlib
// stream of its own, made with libdeflate on all cores.
#pragma once
#include <cstddef>
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
