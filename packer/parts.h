// The files that carry the payload's bytes: the part setup.exe holds after
// its program's image, and, when the payload would make setup.exe larger
// than one file may be, companion files beside it, named after the product
// (Pelmora-1.bin, Pelmora-2.bin ...), that hold it all, each at most that
// large, setup.exe then holding none. The program's tables carry each part's size and SHA-256, so
// that a signature of the program covers its companions too, and the SHA-256
// of each span of the payload, which the extraction checks as it reads.
#pragma once
#include "sha256.h"
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The most one file of the setup may hold unless the manifest names less
// (mediaSize): what a FAT32 volume holds, below the 4 GB past which Windows
// refuses to start a program.
constexpr uint64_t LargestPart = 0xFFFFFFFFull;

// The name of companion n (from 1) whose names begin with base, as the setup
// looks for it beside itself.
std::string CompanionName(const std::string& base, size_t n);

class PartWriter {
public:
    // The program's part goes to programPart, companions into companionFolder,
    // named after companionBase; companionList lists the companions' paths,
    // one a line. Each file of the setup holds at most limit bytes; the
    // program's part is kept only while the whole payload and reserve (for
    // the program's own image and signature) stay within it.
    PartWriter(std::string programPart, std::string companionFolder, std::string companionBase,
        std::string companionList, uint64_t limit, uint64_t reserve);
    ~PartWriter();
    bool Write(const void* bytes, size_t length);
    // Closes the parts and puts each in its place (one unchanged keeps its
    // time), removes the companions an earlier build listed that this
    // payload has not, and lists its own; false when one could not be written.
    bool Finish();
    std::vector<uint64_t> sizes; // the program's part, then each companion's
    std::vector<Sha256Digest> digests;
    // The SHA-256 of each span of each part (see spans.h).
    std::vector<Sha256Digest> spanDigests;

private:
    bool Begin(const std::string& path);
    bool MoveProgramPartToCompanion();
    bool Close();
    bool HashSpans(const char* bytes, size_t length);
    bool EndSpan();
    std::string PartPath(size_t part) const;
    std::string FinalPath(size_t part) const;
    std::string programPart;
    std::string companionFolder;
    std::string companionBase;
    std::string companionList;
    uint64_t limit;
    uint64_t reserve;
    std::FILE* file = nullptr;
    Sha256State* hashing = nullptr;
    Sha256State* spanHashing = nullptr;
    uint64_t spanFilled = 0; // the bytes of the span being hashed
    bool failed = false;
    bool finished = false;
};

// Moves a newly written file over the old one, unless the two are the same
// bytes: an unchanged output keeps its time, and nothing is built again.
bool ReplaceIfChanged(const std::string& fresh, const std::string& path);
