#!/usr/bin/env python3
"""Reads faults.txt; lists, checks and applies the planted faults for run.sh."""
import sys


def parse(path):
    faults, fault, block = [], None, None
    for number, line in enumerate(open(path, encoding="utf-8").read().split("\n"), 1):
        if block is not None:
            if line in ("--- new", "--- end"):
                fault[block] = "\n".join(fault[block])
                block = "new" if line == "--- new" else None
                if block:
                    fault[block] = []
                else:
                    faults.append(fault)
            else:
                fault[block].append(line)
            continue
        if line.startswith("#") or not line.strip():
            continue
        if line.startswith("["):
            ident, _, file = line[1:].partition("]")
            fault = {"id": ident, "file": file.strip(), "what": "", "hint": "", "known": "",
                     "at": number}
        elif line == "--- old":
            block = "old"
            fault[block] = []
        elif ":" in line and fault is not None:
            key, _, value = line.partition(":")
            fault[key.strip()] = value.strip()
        else:
            sys.exit(f"{path}:{number}: cannot read: {line}")
    return faults


def main():
    command, list_path = sys.argv[1], sys.argv[2]
    faults = parse(list_path)
    if command == "list":  # id TAB file TAB hint TAB known TAB what, "-" for none
        # No empty fields: bash's read joins adjacent tabs.
        for f in faults:
            print("\t".join([f["id"], f["file"], f["hint"] or "-",
                             "known" if f["known"] else "-", f["what"] or "-"]))
        return
    wanted = sys.argv[4] if command == "apply" else None
    root = sys.argv[3]
    status = 0
    for f in faults:
        if wanted and f["id"] != wanted:
            continue
        path = f"{root}/{f['file']}"
        try:
            text = open(path, encoding="utf-8").read()
        except OSError as error:
            print(f"{f['id']}: {error}", file=sys.stderr)
            status = 1
            continue
        count = text.count(f["old"])
        if count != 1 or f["old"] == f["new"]:
            print(f"{f['id']}: the old text occurs {count} times in {f['file']}", file=sys.stderr)
            status = 1
            continue
        at = text.index(f["old"])
        line = text.count("\n", 0, at) + 1
        if command == "apply":
            with open(path, "w", encoding="utf-8") as out:
                out.write(text[:at] + f["new"] + text[at + len(f["old"]):])
            print(f"{f['file']}:{line}")
    sys.exit(status)


main()
