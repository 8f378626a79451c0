// What the packer writes between the setup program's image and its payload,
// so that the setup finds a changed byte of its own code, tables or
// resources before its first screen: a tag, then the SHA-256 of the image as
// linked, with its PE checksum and its security directory's entry taken as
// zeros, since signing writes both. Plain C++, shared with the packer.
#pragma once

constexpr char ImageTrailerTag[] = "PMIMAGE1";
constexpr unsigned ImageTagSize = sizeof ImageTrailerTag - 1;
constexpr unsigned ImageDigestSize = 32;
constexpr unsigned ImageTrailerSize = ImageTagSize + ImageDigestSize;
