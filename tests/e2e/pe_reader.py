#!/usr/bin/env python3
"""Prints what a PE image carries: machine, symbols and debug sections, export
names, imported DLLs, the resource directory (type, name, language, size),
the version resource (fixed versions and strings) and the message table's
texts, one fact per line, so the
CI checks can compare them with what every shipped binary must carry."""
import struct
import sys


def read(path):
    with open(path, "rb") as f:
        return f.read()


def version_facts(data):
    """The facts of a VS_VERSIONINFO resource: each node is a 16-bit length,
    value length and type, a UTF-16 key, then its value and its children,
    each aligned on 4 bytes."""
    def node(o):
        length, value_length, kind = struct.unpack_from("<HHH", data, o)
        end = o + length
        k = o + 6
        while data[k:k + 2] != b"\0\0":
            k += 2
        key = data[o + 6:k].decode("utf-16-le")
        value = (k + 2 + 3) & ~3
        size = value_length * 2 if kind == 1 else value_length
        children = (value + size + 3) & ~3
        if not (o < end <= len(data) and value + size <= end):
            raise ValueError("version node %r overruns its parent" % key)
        return key, data[value:value + size], kind, children, end

    def walk(o, end):
        while o + 6 <= end:
            child = node(o)
            yield child
            o = (child[4] + 3) & ~3

    key, value, _, children, end = node(0)
    if key != "VS_VERSION_INFO" or struct.unpack_from("<I", value, 0)[0] != 0xFEEF04BD:
        raise ValueError("not a VS_VERSIONINFO resource")
    fms, fls, pms, pls = struct.unpack_from("<IIII", value, 8)
    dotted = lambda ms, ls: "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    yield "version file %s" % dotted(fms, fls)
    yield "version product %s" % dotted(pms, pls)
    for info, _, _, tables, info_end in walk(children, end):
        if info != "StringFileInfo":
            continue
        for _, _, _, strings, table_end in walk(tables, info_end):
            for name, text, _, _, _ in walk(strings, table_end):
                yield "version string %s %s" % (name, text.decode("utf-16-le").rstrip("\0"))


def message_facts(data):
    """The texts of a message table: blocks of ids (low, high, offset of the
    first entry), each entry a 16-bit length and flags (1: UTF-16) and its
    text, terminators and line ends dropped."""
    for b in range(struct.unpack_from("<I", data, 0)[0]):
        low, high, o = struct.unpack_from("<III", data, 4 + 12 * b)
        for message in range(low, high + 1):
            length, flags = struct.unpack_from("<HH", data, o)
            text = data[o + 4:o + length].decode("utf-16-le" if flags & 1 else "latin-1")
            yield "message %#010x %s" % (message, text.rstrip("\0\r\n"))
            o += length


def main(path):
    data = read(path)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        sys.exit("not a PE image")
    machine, nsections, _, _, _, optsize, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
    print("machine %#06x" % machine)
    print("symbols %d" % struct.unpack_from("<I", data, pe + 16)[0])
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    dirs = opt + (96 if magic == 0x10B else 112)
    sections = []
    for i in range(nsections):
        s = opt + optsize + 40 * i
        name, vsize, va, rawsize, rawptr = struct.unpack_from("<8sIIII", data, s)
        sections.append((va, max(vsize, rawsize), rawptr))
        if name.startswith(b"/"):  # a long name, kept in the string table after the symbols
            symbols, nsymbols = struct.unpack_from("<II", data, pe + 12)
            strtab = symbols + 18 * nsymbols + int(name[1:].rstrip(b"\0"))
            name = data[strtab:data.index(b"\0", strtab)]
        print("section %s" % name.rstrip(b"\0").decode("ascii", "replace"))
        if name.rstrip(b"\0") == b".gnu_debuglink":  # the debug file's name, then its CRC-32
            link = data[rawptr:rawptr + rawsize]
            end = link.index(b"\0")
            print("debuglink %s %08x" % (link[:end].decode(), struct.unpack_from("<I", link, (end + 4) & ~3)[0]))

    def off(rva):
        for va, size, raw in sections:
            if va <= rva < va + size:
                return rva - va + raw
        raise ValueError("rva %#x outside the sections" % rva)

    def cstr(rva):
        o = off(rva)
        return data[o:data.index(b"\0", o)].decode("ascii")

    exp_rva, _ = struct.unpack_from("<II", data, dirs)
    if exp_rva:
        e = off(exp_rva)
        nnames, _, names_rva = struct.unpack_from("<I", data, e + 24)[0], 0, struct.unpack_from("<I", data, e + 32)[0]
        for i in range(nnames):
            print("export %s" % cstr(struct.unpack_from("<I", data, off(names_rva) + 4 * i)[0]))
    imp_rva, _ = struct.unpack_from("<II", data, dirs + 8)
    if imp_rva:
        o = off(imp_rva)
        while True:
            name_rva = struct.unpack_from("<I", data, o + 12)[0]
            if name_rva == 0:
                break
            print("import %s" % cstr(name_rva).lower())
            o += 20
    res_rva, _ = struct.unpack_from("<II", data, dirs + 16)
    if res_rva:
        base = off(res_rva)

        def entries(o):
            named, ids = struct.unpack_from("<HH", data, o + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", data, o + 16 + 8 * i)
                if name & 0x80000000:
                    p = base + (name & 0x7FFFFFFF)
                    n = struct.unpack_from("<H", data, p)[0]
                    name = data[p + 2:p + 2 + 2 * n].decode("utf-16-le")
                yield name, target

        for tname, t in entries(base):
            for rname, r in entries(base + (t & 0x7FFFFFFF)):
                for lang, d in entries(base + (r & 0x7FFFFFFF)):
                    drva, dsize = struct.unpack_from("<II", data, base + d)
                    print("resource %s %s %d %d" % (tname, rname, lang, dsize))
                    if tname == 16 and rname == 1:
                        for fact in version_facts(data[off(drva):off(drva) + dsize]):
                            print(fact)
                    if tname == 11:
                        for fact in message_facts(data[off(drva):off(drva) + dsize]):
                            print(fact)
                    if len(sys.argv) > 2 and sys.argv[2] == "--dump" and str(tname) == sys.argv[3] and str(rname) == sys.argv[4]:
                        sys.stdout.buffer.write(data[off(drva):off(drva) + dsize])


if __name__ == "__main__":
    main(sys.argv[1])
