#!/usr/bin/env python3
"""Prints what a PE image carries: machine, export names, imported DLLs and the
resource directory (type, name, language, size), one fact per line, so the CI
checks can compare them with what the library must ship."""
import struct
import sys


def read(path):
    with open(path, "rb") as f:
        return f.read()


def main(path):
    data = read(path)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        sys.exit("not a PE image")
    machine, nsections, _, _, _, optsize, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
    print("machine %#06x" % machine)
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    dirs = opt + (96 if magic == 0x10B else 112)
    sections = []
    for i in range(nsections):
        s = opt + optsize + 40 * i
        _, vsize, va, rawsize, rawptr = struct.unpack_from("<8sIIII", data, s)
        sections.append((va, max(vsize, rawsize), rawptr))

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
                    if len(sys.argv) > 2 and sys.argv[2] == "--dump" and str(tname) == sys.argv[3] and str(rname) == sys.argv[4]:
                        sys.stdout.buffer.write(data[off(drva):off(drva) + dsize])


if __name__ == "__main__":
    main(sys.argv[1])
