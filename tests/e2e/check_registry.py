#!/usr/bin/env python3
"""Checks `reg export` text of the keys the library touches.

  check_registry.py registered EXPORT          the state after registration
  check_registry.py unregistered EXPORT SEED   the state after unregistration
"""
import re
import sys

PERFLIB = r"HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Perflib"
SERVICE = r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\Quorvane Server ITA"
PERF = SERVICE + r"\Performance"
APPID = r"HKEY_CLASSES_ROOT\AppID"
GUID = "{FF41D410-F176-44fd-9A2F-AB1668C7A041}"


def parse(path):
    """Returns {key: {value name: (kind, data)}} with the continuation lines joined."""
    keys, current, pending = {}, None, ""
    for raw in open(path, encoding="utf-8", errors="replace"):
        line = pending + raw.rstrip("\n")
        if line.endswith("\\") and not line.startswith("["):
            pending = line[:-1].strip() if pending else line[:-1]
            continue
        pending = ""
        if line.startswith("[") and line.endswith("]"):
            current = keys.setdefault(line[1:-1], {})
        elif current is not None and "=" in line:
            m = re.match(r'^(@|"(?:[^"\\]|\\.)*")=(.*)$', line)
            if m:
                name = "" if m.group(1) == "@" else m.group(1)[1:-1].replace('\\"', '"').replace("\\\\", "\\")
                current[name.lower()] = m.group(2)
    return {k.lower(): v for k, v in keys.items()}


def hex_bytes(text):
    return bytes(int(b, 16) for b in text.split(":", 1)[1].replace(" ", "").split(",") if b)


def multi_sz(text):
    return hex_bytes(text).decode("utf-16-le").split("\0")[:-2]


def dword(text):
    return int(text.split(":", 1)[1], 16)


def string(text):
    return text[1:-1].replace('\\"', '"').replace("\\\\", "\\")


def registered(path):
    keys = parse(path)
    problems = []

    def want(cond, what):
        if not cond:
            problems.append(what)

    perflib, perf = keys.get(PERFLIB.lower(), {}), keys.get(PERF.lower(), {})
    want(dword(perflib.get("last counter", "dword:0")) == 734, "perflib Last Counter 734")
    want(dword(perflib.get("last help", "dword:0")) == 735, "perflib Last Help 735")
    for name, value in (("first counter", 702), ("last counter", 734), ("first help", 703), ("last help", 735)):
        want(perf.get(name, "").startswith("dword:") and dword(perf[name]) == value, "%s = %d" % (name, value))
    for name, value in (("open", "_OpenPerfMon@4"), ("collect", "_CollectPerfMon@16"), ("close", "_ClosePerfMon@0")):
        want(perf.get(name) == '"%s"' % value, '%s = "%s"' % (name, value))
    want(string(perf.get("library", '""')).lower().endswith("\\vudozid.dll"), "Library names VudoZid.dll")
    want(re.fullmatch(r"[0-9a-f]{3} ", string(perf.get("languages", '""'))) is not None, "one language entry")
    want(perf.get("map", "").startswith("hex:"), "Map is REG_BINARY")
    if perf.get("map", "").startswith("hex:"):
        data = hex_bytes(perf["map"])
        want(len(data) > 620 and int.from_bytes(data[0:4], "little") == len(data), "Map size word")
        want(int.from_bytes(data[4:8], "little") == 17, "Map holds 17 entries")
    lang = string(perf.get("languages", '"009 "')).strip() or "009"
    counters = multi_sz(keys.get((PERFLIB + "\\" + lang).lower(), {}).get("counter", "hex(7):00,00,00,00"))
    pairs = dict(zip(counters[0::2], counters[1::2]))
    want(pairs.get("702") == "Quorvane Server 11", "702 names the object")
    want(pairs.get("704") == "Accessi alla cache %", "704 names the first counter")
    want(pairs.get("734") == "Tempo IO/chiamata", "734 names the last counter")
    indices = [int(i) for i in counters[0::2] if i.isdigit()]
    want(indices == sorted(indices), "pair list in index order")
    want(keys.get((APPID + "\\" + GUID).lower(), {}).get("") == '"VudoZid"', "AppID key")
    want(keys.get((APPID + "\\VudoZid.DLL").lower(), {}).get("appid") == '"%s"' % GUID, "AppID of VudoZid.DLL")
    return problems


def unregistered(path, seed_path):
    after, before = parse(path), parse(seed_path)
    problems = []
    for key in set(after) | set(before):
        if key == SERVICE.lower():
            continue
        if after.get(key) != before.get(key):
            problems.append("key differs from the seeded state: " + key)
    if SERVICE.lower() not in after:
        problems.append("the service key must remain")
    if PERF.lower() in after:
        problems.append("the Performance key must be gone")
    return problems


if __name__ == "__main__":
    found = registered(sys.argv[2]) if sys.argv[1] == "registered" else unregistered(sys.argv[2], sys.argv[3])
    for p in found:
        print("  expected: " + p)
    sys.exit(1 if found else 0)
