#!/usr/bin/env python3
"""Turns the fault rows that a test run collected into a Markdown table.

usage: fault-report.py ROWS.tsv REPORT.md
Each row: fault, expected outcome, observed outcome, pass/FAIL, build.
"""
import sys


def cell(text):
    return text.replace("|", "\\|").strip()


def main():
    rows_path, report_path = sys.argv[1], sys.argv[2]
    try:
        with open(rows_path, encoding="cp949", errors="replace") as f:
            rows = [line.rstrip("\r\n").split("\t") for line in f if line.strip()]
    except FileNotFoundError:
        rows = []
    lines = ["# Fault matrix", "",
             "Written by the test run (`tools/run-tests.sh`): one row per injected fault and build.", "",
             "| Fault | Expected outcome | Observed outcome | Result | Build |",
             "|---|---|---|---|---|"]
    for row in rows:
        row = (row + [""] * 5)[:5]
        lines.append("| " + " | ".join(cell(c) for c in row) + " |")
    with open(report_path, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
    failed = sum(1 for r in rows if len(r) > 3 and r[3] != "pass")
    print(f"fault matrix: {len(rows)} rows, {failed} failed -> {report_path}")


if __name__ == "__main__":
    main()
