#!/usr/bin/env python3
"""The Linux tools' registry file, for the registry-file tests.

  registry_file_tool.py state FILE          prints "registered" or "unregistered"
                                            after checking that the perflib texts
                                            and indices agree with that state
  registry_file_tool.py utf16 IN OUT        the same file as regedit writes it:
                                            UTF-16LE with its byte-order mark, CRLF
  registry_file_tool.py regedit4 IN OUT     the same file in REGEDIT4 form: ANSI
                                            text, string types as ANSI hex bytes
  registry_file_tool.py set FILE KEY LINE   KEY's value set to LINE ("name"=data),
                                            or removed ("name"=-), the file
                                            replaced with a rename
"""
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_registry import PERF, PERFLIB, dword, multi_sz, parse  # noqa: E402

SEEDED_LAST_COUNTER = 1846


def state(path):
    keys = parse(path)
    perflib, perf = keys.get(PERFLIB.lower(), {}), keys.get(PERF.lower(), {})
    registered = "first counter" in perf
    problems = []
    ours = set()
    for key, values in keys.items():
        if key.startswith(PERFLIB.lower() + "\\") and "counter" in values:
            indices = [int(i) for i in multi_sz(values["counter"])[0::2] if i.isdigit()]
            if len(indices) != len(set(indices)):
                problems.append("an index listed twice in " + key)
            ours |= {i for i in indices if i > SEEDED_LAST_COUNTER + 1}
    last = dword(perflib.get("last counter", "dword:0"))
    if registered:
        first, final = dword(perf["first counter"]), dword(perf["last counter"])
        if ours != set(range(first, final + 1, 2)):
            problems.append("texts %s do not match the registration's %d..%d" % (sorted(ours), first, final))
        if last != final:
            problems.append("perflib Last Counter %d, the registration's last %d" % (last, final))
    else:
        if ours:
            problems.append("texts %s left without a registration" % sorted(ours))
        if last != SEEDED_LAST_COUNTER:
            problems.append("perflib Last Counter %d without a registration" % last)
    if problems:
        sys.exit("; ".join(problems))
    print("registered" if registered else "unregistered")


def utf16(source, target):
    text = open(source, encoding="utf-8").read().replace("\n", "\r\n")
    open(target, "wb").write(b"\xff\xfe" + text.encode("utf-16-le"))


def regedit4(source, target):
    def narrow(match):
        data = bytes(int(b, 16) for b in match.group(2).replace("\\\n", "").replace(" ", "").split(",") if b)
        ansi = data.decode("utf-16-le").encode("cp1252")
        return match.group(1) + ",".join("%02x" % b for b in ansi)

    text = open(source, encoding="utf-8").read()
    text = text.replace("Windows Registry Editor Version 5.00", "REGEDIT4", 1)
    text = re.sub(r"(=hex\([127]\):)((?:[0-9a-f]{2},?|\\\n *)*)", narrow, text)
    open(target, "wb").write(text.replace("\n", "\r\n").encode("cp1252"))


def set_value(path, key, line):
    lines = open(path, encoding="utf-8").read().split("\n")
    at = lines.index("[%s]" % key) + 1
    name = line[:line.index("=") + 1]
    end = at
    while end < len(lines) and lines[end] and not lines[end].startswith("["):
        end += 1
    lines[at:end] = [kept for kept in lines[at:end] if not kept.startswith(name)]
    if not line.endswith("=-"):
        lines.insert(at, line)
    open(path + ".new", "w", encoding="utf-8").write("\n".join(lines))
    os.rename(path + ".new", path)


if __name__ == "__main__":
    command, args = sys.argv[1], sys.argv[2:]
    {"state": state, "utf16": utf16, "regedit4": regedit4, "set": set_value}[command](*args)
