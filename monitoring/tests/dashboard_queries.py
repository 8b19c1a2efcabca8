#!/usr/bin/env python3
"""Prints the query of every panel target of a Grafana dashboard, one per line
as "panel title<TAB>query", with the template variables replaced by the
values given, so that CI can run each against a real Prometheus.

    dashboard_queries.py DASHBOARD.json NAME=VALUE ...

A variable used in a query without a value given is an error, as is a
dashboard without queries."""
import json
import re
import sys


def targets(panels):
    for panel in panels:
        yield from targets(panel.get("panels", []))
        for target in panel.get("targets", []):
            yield panel.get("title", "?"), target.get("expr", "")


def main(path, assignments):
    values = dict(a.split("=", 1) for a in assignments)
    with open(path, encoding="utf-8") as f:
        dashboard = json.load(f)
    count = 0
    for title, expr in targets(dashboard.get("panels", [])):
        def substitute(match):
            name = match.group(1) or match.group(2)
            if name not in values:
                sys.exit("%s: panel %r uses $%s, which has no value" % (path, title, name))
            return values[name]
        query = re.sub(r"\$\{(\w+)\}|\$(\w+)", substitute, expr)
        if not query.strip():
            sys.exit("%s: panel %r has a target without a query" % (path, title))
        print("%s\t%s" % (title, query.replace("\n", " ")))
        count += 1
    if count == 0:
        sys.exit("%s: no panel queries" % path)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2:])
