#!/usr/bin/env python3
"""Writes a .reg file that seeds a registry the way a real machine looks before
the library is installed: perflib's last indices 700/701 and the English (009)
and Italian (010) pair lists with realistic counter and help texts."""
import sys

LAST_COUNTER, LAST_HELP = 700, 701


def multi_sz(items):
    data = "".join(item + "\0" for item in items) + "\0"
    raw = data.encode("utf-16-le")
    return "hex(7):" + ",".join("%02x" % b for b in raw)


def pairs(first, last, prefix):
    out = []
    for index in range(first, last + 1, 2):
        out += [str(index), "%s %d" % (prefix, index)]
    return out


def main(path):
    perflib = r"HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Perflib"
    lines = ["Windows Registry Editor Version 5.00", "", "[%s]" % perflib,
             '"Last Counter"=dword:%08x' % LAST_COUNTER, '"Last Help"=dword:%08x' % LAST_HELP, ""]
    for lang, word in (("009", "Counter"), ("010", "Contatore")):
        lines += ["[%s\\%s]" % (perflib, lang),
                  '"Counter"=%s' % multi_sz(["1", "1847"] + pairs(2, LAST_COUNTER, word)),
                  '"Help"=%s' % multi_sz(pairs(3, LAST_HELP, word + " help")), ""]
    with open(path, "w", encoding="utf-16") as f:
        f.write("\r\n".join(lines) + "\r\n")


if __name__ == "__main__":
    main(sys.argv[1])
