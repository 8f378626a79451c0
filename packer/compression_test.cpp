// Both compression settings give slices that zlib's uncompress, the setup's
// inflater, takes whole: one complete stream each with nothing after its
// trailer, inflating to exactly the slice's content; the default setting's
// streams begin with 0x78 0x9C, and the smallest setting's payload is smaller.
#include "compress.h"
#include <cstdio>
#include <cstring>
#include <string>
#include <zlib.h>

namespace {

std::vector<unsigned char> Text(size_t size)
{
    const std::string words = "Pelmora keeps your images where you can find them again. ";
    std::vector<unsigned char> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>(words[(i * 7 / 5) % words.size()]);
    return bytes;
}

std::vector<unsigned char> Noise(size_t size, unsigned seed)
{
    std::vector<unsigned char> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = static_cast<unsigned char>(seed >> 16);
    }
    return bytes;
}

int failures = 0;

void Fail(const std::string& what)
{
    std::fprintf(stderr, "FAIL %s\n", what.c_str());
    ++failures;
}

size_t CheckSetting(const char* name, Compression compression,
    const std::vector<std::vector<unsigned char>>& contents)
{
    std::vector<Slice> slices;
    if (!CompressSlices(contents, compression, slices)) {
        Fail(std::string(name) + ": no compressor");
        return 0;
    }
    size_t total = 0;
    std::vector<unsigned char> inflated(SliceSize + 2000);
    for (const Slice& slice : slices) {
        std::string where = std::string(name) + " file " + std::to_string(slice.file) + " offset "
            + std::to_string(slice.offset);
        uLongf length = uLongf(inflated.size());
        uLong consumed = uLong(slice.compressed.size());
        int status = uncompress2(inflated.data(), &length, slice.compressed.data(), &consumed);
        if (status != Z_OK)
            Fail(where + ": uncompress gave " + std::to_string(status));
        else if (consumed != slice.compressed.size())
            Fail(where + ": bytes after the stream's trailer");
        else if (length != slice.length
            || std::memcmp(inflated.data(), contents[slice.file].data() + slice.offset, length) != 0)
            Fail(where + ": inflates to other content");
        if (compression == Compression::Default
            && (slice.compressed.size() < 2 || slice.compressed[0] != 0x78 || slice.compressed[1] != 0x9C))
            Fail(where + ": does not begin with 0x78 0x9C");
        total += slice.compressed.size();
    }
    size_t expected = 0;
    for (const auto& content : contents)
        expected += (content.size() + SliceSize - 1) / SliceSize;
    if (slices.size() != expected)
        Fail(std::string(name) + ": " + std::to_string(slices.size()) + " slices, not " + std::to_string(expected));
    return total;
}

} // namespace

int main()
{
    // Slice boundaries (1, 30000, 30001 bytes), an empty file, text and noise.
    std::vector<std::vector<unsigned char>> contents = {Text(1), Text(30000), Noise(30001, 7), {}, Text(282624),
        Noise(100000, 3)};
    size_t byDefault = CheckSetting("default", Compression::Default, contents);
    size_t smallest = CheckSetting("smallest", Compression::Smallest, contents);
    if (smallest >= byDefault)
        Fail("smallest gives " + std::to_string(smallest) + " bytes, default " + std::to_string(byDefault));
    std::printf("compression: default %zu bytes, smallest %zu bytes, %d failed\n", byDefault, smallest, failures);
    return failures == 0 ? 0 : 1;
}
