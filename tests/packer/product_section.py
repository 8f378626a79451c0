#!/usr/bin/env python3
"""Reads what the packer wrote into a program, for the tests, on its own: the
product section found through the PE headers, its header's fields and its
texts and arrays, one `name = value` a line; the icon and version resources
found through the resource directory; the payload's part after the trailer.
  product_section.py PROGRAM            the section and the resources
  product_section.py --payload PROGRAM  the bytes after the image's trailer, on stdout
A text prints with backslash, CR, LF and other control bytes escaped; an
array of numbers on one line, separated by spaces; an array of texts as
NAME.count and NAME[k]; an absent text not at all. Exit 1: not such a program."""
import hashlib
import struct
import sys

HEADER = [  # the product section's header after its tag: (name, kind)
    ("program", "u32"), ("size", "u32"),
    ("folderName", "text"), ("displayName", "text"), ("profileFile", "text"), ("offerStartupGroup", "i32"),
    ("startupPrompt", "text"), ("mainExecutable", "text"), ("startupArguments", "text"),
    ("warnOfRunningCopies", "i32"), ("startupMinimized", "i32"), ("useAgentService", "i32"),
    ("serviceExecutable", "text"), ("servicePrompt", "text"), ("requiredMegabytes", "i32"),
    ("agreement", "text"), ("codePage", "u32"), ("publisher", "text"), ("version", "text"),
    ("estimatedSizeKilobytes", "u32"), ("sixtyFourBit", "i32"), ("installFor", "i32"),
    ("languages", "languages"), ("payloadKind", "u32"),
    ("fileNames", "texts"), ("sliceCounts", "i"), ("fileOffsets", "Q"), ("sliceLengths", "I"), ("fileTimes", "i"),
    ("blockOffsets", "Q"), ("blockLengths", "I"), ("blockSizes", "I"), ("lastSliceSizes", "I"),
    ("partSizes", "Q"), ("partDigests", "digests"), ("companionName", "text"), ("spanDigests", "digests"),
    ("removedFiles", "texts"), ("removedFolders", "texts"),
]
HEADER_SIZE = 224
LANGUAGE_SIZE = 40
RT_ICON, RT_GROUP_ICON, RT_VERSION = 3, 14, 16


class Unreadable(Exception):
    pass


def number(data, at, form):
    if at < 0 or at + struct.calcsize(form) > len(data):
        raise Unreadable("offset %d beyond its data" % at)
    return struct.unpack_from("<" + form, data, at)[0]


def sections(image):
    if image[:2] != b"MZ":
        raise Unreadable("no MZ header")
    pe = number(image, 60, "I")
    if image[pe:pe + 4] != b"PE\0\0":
        raise Unreadable("no PE header")
    count, optional_size = number(image, pe + 6, "H"), number(image, pe + 20, "H")
    optional = pe + 24
    table = optional + optional_size
    found = []
    for k in range(count):
        at = table + 40 * k
        name = image[at:at + 8].rstrip(b"\0").decode("latin-1")
        virtual_size, rva, raw_size, raw_at = struct.unpack_from("<IIII", image, at + 8)
        found.append((name, rva, virtual_size, raw_at, raw_size))
    directories = optional + (96 if number(image, optional, "H") == 0x10b else 112)
    resources_rva = number(image, directories + 8 * 2, "I")
    return found, resources_rva


def image_end(image):
    found, _ = sections(image)
    return max(raw_at + raw_size for _, _, _, raw_at, raw_size in found if raw_size)


def text(section, at):
    if at == 0:
        return None
    end = section.find(b"\0", at)
    if at >= len(section) or end < 0:
        raise Unreadable("text at %d beyond the section" % at)
    return section[at:end].decode("utf-8")


def escaped(value):
    out = []
    for c in value:
        if c == "\\":
            out.append("\\\\")
        elif c == "\r":
            out.append("\\r")
        elif c == "\n":
            out.append("\\n")
        elif ord(c) < 32:
            out.append("\\x%02x" % ord(c))
        else:
            out.append(c)
    return "".join(out)


def array(section, at):
    offset, count = number(section, at, "I"), number(section, at + 4, "I")
    return offset, count


def print_array(name, section, at, kind, lines):
    offset, count = array(section, at)
    if kind == "texts":
        lines.append("%s.count = %d" % (name, count))
        for k in range(count):
            lines.append("%s[%d] = %s" % (name, k, escaped(text(section, number(section, offset + 4 * k, "I")))))
    elif kind == "digests":
        if offset + 32 * count > len(section):
            raise Unreadable(name + " beyond the section")
        lines.append("%s = %s" % (name, " ".join(section[offset + 32 * k:offset + 32 * k + 32].hex()
                                                  for k in range(count))))
    else:
        size = struct.calcsize(kind)
        lines.append("%s = %s" % (name, " ".join(str(number(section, offset + size * k, kind))
                                                  for k in range(count))))


def print_languages(section, at, lines):
    offset, count = array(section, at)
    lines.append("languages.count = %d" % count)
    for k in range(count):
        entry = offset + LANGUAGE_SIZE * k
        prefix = "languages[%d]." % k
        lines.append(prefix + "name = " + escaped(text(section, number(section, entry, "I"))))
        lines.append(prefix + "windowsLanguage = %d" % number(section, entry + 4, "H"))
        lines.append(prefix + "rightToLeft = %d" % number(section, entry + 6, "H"))
        keys, key_count = array(section, entry + 8)
        texts, text_count = array(section, entry + 16)
        if key_count != text_count:
            raise Unreadable("language %d: %d keys, %d texts" % (k, key_count, text_count))
        lines.append(prefix + "translations = %d" % key_count)
        for j, field in enumerate(("displayName", "startupPrompt", "servicePrompt", "agreement")):
            value = text(section, number(section, entry + 24 + 4 * j, "I"))
            if value is not None:
                lines.append(prefix + field + " = " + escaped(value))


def product_section(image, lines):
    found, _ = sections(image)
    matches = [s for s in found if s[0] == ".pmprod"]
    if len(matches) != 1:
        raise Unreadable("%d sections named .pmprod" % len(matches))
    _, _, virtual_size, raw_at, raw_size = matches[0]
    section = image[raw_at:raw_at + min(raw_size, virtual_size)]
    if section[:8] != b"PMPROD1\0":
        raise Unreadable("the section has no tag PMPROD1")
    if number(section, 12, "I") > len(section) or number(section, 12, "I") < HEADER_SIZE:
        raise Unreadable("the section's size is beyond its raw data")
    section = section[:number(section, 12, "I")]
    at = 8
    for name, kind in HEADER:
        if kind in ("u32", "i32"):
            lines.append("%s = %d" % (name, number(section, at, "I" if kind == "u32" else "i")))
            at += 4
        elif kind == "text":
            value = text(section, number(section, at, "I"))
            if value is not None:
                lines.append("%s = %s" % (name, escaped(value)))
            at += 4
        elif kind == "languages":
            print_languages(section, at, lines)
            at += 8
        else:
            print_array(name, section, at, kind, lines)
            at += 8
    assert at == HEADER_SIZE


def resources(image, lines):
    """The icon group's images (width, height, SHA-256 of its RT_ICON) and the version's strings."""
    found, rva = sections(image)
    if rva == 0:
        return
    def file_offset(address):
        for _, start, virtual_size, raw_at, raw_size in found:
            if start <= address < start + max(virtual_size, raw_size):
                return raw_at + address - start
        raise Unreadable("address %#x in no section" % address)
    base = file_offset(rva)
    def entries(directory):
        named, numbered = number(image, directory + 12, "H"), number(image, directory + 14, "H")
        for k in range(named + numbered):
            ident, target = struct.unpack_from("<II", image, directory + 16 + 8 * k)
            yield ident, target
    def first_data(target):  # the first language's data below a name
        while target & 0x80000000:
            target = next(entries(base + (target & 0x7fffffff)))[1]
        data_rva, size = struct.unpack_from("<II", image, base + target)
        return image[file_offset(data_rva):file_offset(data_rva) + size]
    types = dict(entries(base))
    def by_id(kind):
        if kind not in types:
            return {}
        return {ident: first_data(target) for ident, target in entries(base + (types[kind] & 0x7fffffff))}
    icons = by_id(RT_ICON)
    for group in by_id(RT_GROUP_ICON).values():
        count = number(group, 4, "H")
        shown = []
        for k in range(count):
            width, height = group[6 + 14 * k], group[7 + 14 * k]
            ident = number(group, 6 + 14 * k + 12, "H")
            shown.append("%dx%d:%s" % (width or 256, height or 256, hashlib.sha256(icons[ident]).hexdigest()))
        lines.append("icons = " + " ".join(shown))
    for version in by_id(RT_VERSION).values():
        version_strings(version, 0, len(version), lines)


def version_strings(data, at, end, lines, depth=0):
    """Walks VS_VERSIONINFO's nodes: each a length, a value's length, a type, a UTF-16 key, then its value and children."""
    while at + 6 < end:
        length, value_length, kind = struct.unpack_from("<HHH", data, at)
        if length == 0:
            break
        key_end = at + 6
        while data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = data[at + 6:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        if depth == 3 and kind == 1:
            value = data[value_at:value_at + 2 * value_length].decode("utf-16-le").rstrip("\0")
            lines.append("version.%s = %s" % (key, escaped(value)))
        children = (value_at + (2 * value_length if kind == 1 else value_length) + 3) & ~3
        if depth < 3 and key != "VarFileInfo":
            version_strings(data, children, at + length, lines, depth + 1)
        at = (at + length + 3) & ~3


def main(arguments):
    try:
        if len(arguments) == 2 and arguments[0] == "--payload":
            image = open(arguments[1], "rb").read()
            end = image_end(image)
            if image[end:end + 8] != b"PMIMAGE1":
                raise Unreadable("no trailer after the image")
            sys.stdout.buffer.write(image[end + 40:])
            return 0
        if len(arguments) != 1:
            sys.stderr.write(__doc__)
            return 2
        lines = []
        image = open(arguments[0], "rb").read()
        product_section(image, lines)
        resources(image, lines)
        sys.stdout.write("".join(line + "\n" for line in lines))
        return 0
    except (Unreadable, struct.error, UnicodeDecodeError, KeyError, StopIteration, IndexError) as problem:
        sys.stderr.write("%s: %s\n" % (arguments[-1], problem))
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
