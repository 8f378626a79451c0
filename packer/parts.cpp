#include "parts.h"
#include "spans.h"
#include "host.h"
#include <algorithm>
#include <fstream>

namespace {

const char PartialSuffix[] = ".partial";

} // namespace

std::string CompanionName(const std::string& base, size_t n)
{
    return base + "-" + std::to_string(n) + ".bin";
}

PartWriter::PartWriter(std::string programPart, std::string companionFolder, std::string companionBase,
    std::string companionList, uint64_t limit, uint64_t reserve)
    : programPart(std::move(programPart)), companionFolder(std::move(companionFolder)),
      companionBase(std::move(companionBase)), companionList(std::move(companionList)), limit(limit), reserve(reserve)
{
    hashing = NewSha256();
    spanHashing = NewSha256();
    sizes.push_back(0);
    failed = !hashing || !spanHashing || !Begin(PartPath(0));
}

PartWriter::~PartWriter()
{
    if (file)
        std::fclose(file);
    FreeSha256(hashing);
    FreeSha256(spanHashing);
    // A payload not finished leaves nothing of itself.
    for (size_t part = 0; !finished && part < sizes.size(); ++part)
        std::remove(PartPath(part).c_str());
}

std::string PartWriter::FinalPath(size_t part) const
{
    return part == 0 ? programPart : companionFolder + "/" + CompanionName(companionBase, part);
}

std::string PartWriter::PartPath(size_t part) const
{
    return FinalPath(part) + PartialSuffix;
}

bool PartWriter::Begin(const std::string& path)
{
    file = std::fopen(path.c_str(), "wb");
    return file && StartSha256(hashing);
}

bool PartWriter::Close()
{
    // The part's last span holds the rest.
    bool spanEnded = spanFilled == 0 || EndSpan();
    bool closed = std::fclose(file) == 0 && spanEnded;
    file = nullptr;
    digests.emplace_back();
    return FinishSha256(hashing, digests.back()) && closed;
}

// The payload would make setup.exe too large: what the program's part holds
// so far becomes the first companion, and the program holds none.
bool PartWriter::MoveProgramPartToCompanion()
{
    // Windows moves no file that is open: it is closed, moved, and opened again to go on.
    bool closed = std::fclose(file) == 0;
    file = nullptr;
    if (!closed || !MoveOver(PartPath(0), PartPath(1)) || !(file = std::fopen(PartPath(1).c_str(), "ab")))
        return false;
    std::FILE* empty = std::fopen(PartPath(0).c_str(), "wb");
    Sha256Digest nothing{};
    if (!empty || std::fclose(empty) != 0 || !Sha256Of("", 0, nothing))
        return false;
    digests.push_back(nothing);
    sizes.push_back(sizes[0]);
    sizes[0] = 0;
    return true;
}

bool PartWriter::Write(const void* bytes, size_t length)
{
    const char* at = static_cast<const char*>(bytes);
    while (!failed && length > 0) {
        size_t part = sizes.size() - 1;
        if (part == 0 && (sizes[0] + length > limit || limit - sizes[0] - length < reserve)) {
            failed = !MoveProgramPartToCompanion();
            continue;
        }
        if (part > 0 && sizes[part] == limit) {
            sizes.push_back(0);
            failed = !Close() || !Begin(PartPath(part + 1));
            continue;
        }
        size_t piece = size_t(std::min<uint64_t>(length, part == 0 ? length : limit - sizes[part]));
        failed = std::fwrite(at, 1, piece, file) != piece || !AddToSha256(hashing, at, piece)
            || !HashSpans(at, piece);
        sizes[part] += piece;
        at += piece;
        length -= piece;
    }
    return !failed;
}

bool PartWriter::EndSpan()
{
    spanDigests.emplace_back();
    spanFilled = 0;
    return FinishSha256(spanHashing, spanDigests.back());
}

// Adds the bytes to the spans' digests, a digest each time a span is full.
bool PartWriter::HashSpans(const char* bytes, size_t length)
{
    while (length > 0) {
        if (spanFilled == 0 && !StartSha256(spanHashing))
            return false;
        size_t piece = size_t(std::min<uint64_t>(length, PayloadSpanSize - spanFilled));
        if (!AddToSha256(spanHashing, bytes, piece))
            return false;
        spanFilled += piece;
        bytes += piece;
        length -= piece;
        if (spanFilled == PayloadSpanSize && !EndSpan())
            return false;
    }
    return true;
}

bool PartWriter::Finish()
{
    if (failed || !Close())
        return false;
    std::vector<std::string> companions;
    for (size_t part = 0; part < sizes.size(); ++part) {
        if (!ReplaceIfChanged(PartPath(part), FinalPath(part)))
            return false;
        if (part > 0)
            companions.push_back(FinalPath(part));
    }
    finished = true;
    // An earlier build's companions, under this name or another, that are no
    // part of this payload.
    std::ifstream earlier(companionList);
    for (std::string path; std::getline(earlier, path);)
        if (std::find(companions.begin(), companions.end(), path) == companions.end())
            std::remove(path.c_str()); // result deliberately ignored: one already gone is what is wanted
    earlier.close();
    std::ofstream list(companionList, std::ios::binary | std::ios::trunc);
    for (const std::string& path : companions)
        list << path << "\n";
    list.close();
    return bool(list);
}

bool ReplaceIfChanged(const std::string& fresh, const std::string& path)
{
    std::ifstream a(fresh, std::ios::binary);
    std::ifstream b(path, std::ios::binary);
    bool same = bool(a) && bool(b);
    std::vector<char> x(1 << 16), y(1 << 16);
    while (same && a && b) {
        a.read(x.data(), std::streamsize(x.size()));
        b.read(y.data(), std::streamsize(y.size()));
        same = a.gcount() == b.gcount() && std::equal(x.begin(), x.begin() + a.gcount(), y.begin());
    }
    same = same && a.eof() && b.eof();
    a.close();
    b.close();
    if (same)
        return std::remove(fresh.c_str()) == 0;
    return MoveOver(fresh, path);
}
