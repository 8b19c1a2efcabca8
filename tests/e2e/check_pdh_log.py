#!/usr/bin/env python3
"""Reads a qvperf log back with Python's csv module and checks typeperf's
layout: the "(PDH-CSV 4.0) (zone)(bias)" header, the full counter paths,
every field quoted, one row per sample with distinct MM/DD/YYYY HH:MM:SS.mmm
timestamps and values written as typeperf writes them, with six decimals
("21.000000").

    check_pdh_log.py LOG CSV|TSV SAMPLES PATH...
    check_pdh_log.py LOG CSV|TSV --shape [--columns PATH...]

--shape prints the rows as one letter each: v when every value is there, b
when every value is blank (a missing value, as typeperf writes it), m for a
mix. With --columns the header must name PATH... (without the computer), and
" distinct" follows when some complete row has different values in the first
and second column or in the third and fourth: two instances, two values.
"""
import csv
import io
import re
import sys


def is_value(text):
    return re.fullmatch(r"\d+\.\d{6}", text) is not None


def shape(log, layout, paths):
    with open(log, newline="", encoding="utf-8") as f:
        rows = list(csv.reader(f, delimiter="," if layout == "CSV" else "\t"))
    header, data = rows[0], rows[1:]
    if paths and [re.sub(r"^\\\\[^\\]*", "", p) for p in header[1:]] != paths:
        return "header %r" % header[1:]
    letters = "".join("v" if all(is_value(v) for v in row[1:]) else
                      "b" if all(v == " " for v in row[1:]) else "m" for row in data)
    full = [row[1:] for row in data if all(is_value(v) for v in row[1:])]
    distinct = any(r[0] != r[1] or r[2:4] and r[2] != r[3] for r in full)
    return letters + (" distinct" if paths and distinct else "")


def main():
    if sys.argv[3] == "--shape":
        print(shape(sys.argv[1], sys.argv[2], sys.argv[5:] if sys.argv[4:5] == ["--columns"] else []))
        return 0
    log, layout, samples, paths = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4:]
    delimiter = "," if layout == "CSV" else "\t"
    with open(log, newline="", encoding="utf-8") as f:
        raw = f.read()
    rows = list(csv.reader(io.StringIO(raw), delimiter=delimiter))
    problems = []
    header, data = rows[0], rows[1:]
    if not re.fullmatch(r"\(PDH-%s 4\.0\) \([^()]+\)\(-?\d+\)" % layout, header[0]):
        problems.append("header cell %r" % header[0])
    if header[1:] != paths:
        problems.append("paths %r, expected %r" % (header[1:], paths))
    if len(data) != samples:
        problems.append("%d rows, expected %d" % (len(data), samples))
    stamps = [row[0] for row in data]
    for stamp in stamps:
        if not re.fullmatch(r"\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.\d{3}", stamp):
            problems.append("timestamp %r" % stamp)
    if len(set(stamps)) != len(stamps):
        problems.append("repeated timestamps %r" % stamps)
    for row in data:
        if len(row) != len(header) or not all(re.fullmatch(r"\d+\.\d{6}", v) for v in row[1:]):
            problems.append("row %r" % row)
    # Every field quoted: writing the parsed rows back with QUOTE_ALL gives the
    # same text (with the file's line ends: CR LF on Windows).
    again = io.StringIO()
    ending = "\r\n" if "\r\n" in raw else "\n"
    csv.writer(again, delimiter=delimiter, quoting=csv.QUOTE_ALL, lineterminator=ending).writerows(rows)
    if again.getvalue() != raw:
        problems.append("not every field is quoted as typeperf quotes them")
    for problem in problems:
        print("check_pdh_log: %s: %s" % (log, problem))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
