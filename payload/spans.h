// The extraction checks the payload's bytes as it reads them, a span at a
// time: the program's tables carry the SHA-256 of each span of this many
// bytes, each part's spans from its first byte on (its last holds the
// rest), so that a span that differs names its file. Small enough that the few spans the extraction
// holds stay within its memory, large enough that their digests add a few
// kilobytes to the tables of a large payload. Plain C++, shared with the packer.
#pragma once

constexpr unsigned PayloadSpanSize = 64 * 1024;
constexpr unsigned SpanDigestSize = 32;
