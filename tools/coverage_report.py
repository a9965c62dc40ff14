#!/usr/bin/env python3
"""Line and branch coverage of the plug-in's code from a coverage build.

tools/coverage_report.py ROOT BUILD: reads the counts that the tests left
beside the objects of the plug-in's code (quendrix_core, which Quendrix.dll
is linked from whole) with mingw's gcov, merges what each translation unit
says of the same line (a header's inline code is compiled into many), and
prints a table for host/, frame/ and reconcile/ and their total. Every line
not run and every branch not taken goes to BUILD/not-covered.txt, with its
source line, as FILE:LINE.
"""
import glob
import json
import os
import re
import shutil
import subprocess
import sys

FOLDERS = ("host", "frame", "reconcile")


def gcov_files(objects):
    """The files gcov reports for every counted object, as its JSON gives them."""
    for gcda in sorted(glob.glob(os.path.join(objects, "**", "*.gcda"), recursive=True)):
        result = subprocess.run(
            ["i686-w64-mingw32-gcov", "--json-format", "--stdout", "--branch-probabilities",
             "--object-directory", os.path.dirname(gcda), gcda],
            capture_output=True, check=True, cwd=os.path.dirname(gcda))
        for text in result.stdout.decode().splitlines():
            if text.strip():
                report = json.loads(text)
                for entry in report["files"]:
                    yield report["current_working_directory"], entry


def short_names(mangled):
    """Each mangled function name as docs/coverage.md names it: the function
    alone, without namespace, class, template arguments or parameters (a
    lambda goes by the function it is in)."""
    names = sorted(set(mangled))
    tool = shutil.which("c++filt")
    plain = subprocess.run([tool], input="\n".join(names).encode(), capture_output=True,
                           check=True).stdout.decode().splitlines() if tool and names else names
    result = {}
    for name, text in zip(names, plain):
        text = text.replace("(anonymous namespace)::", "")
        bare, depth = "", 0  # without template arguments
        for c in text:
            depth += (c == "<") - (c == ">")
            if depth == 0 and c not in "<>":
                bare += c
        bare = bare.split("(", 1)[0].split()
        result[name] = bare[-1].split("::")[-1] if bare else text
    return result


def explained(root):
    """The (file, function) pairs docs/coverage.md explains."""
    pairs = set()
    with open(os.path.join(root, "docs", "coverage.md"), encoding="utf-8") as f:
        for row in f:
            cells = [c.strip() for c in row.split("|")]
            if len(cells) > 3 and cells[1].startswith("`") and "/" in cells[1]:
                for function in re.findall(r"`([^`]+)`", cells[2]):
                    pairs.add((cells[1].strip("`"), function))
    return pairs


def main():
    root, build = (os.path.abspath(a) for a in sys.argv[1:3])
    objects = os.path.join(build, "plugin", "CMakeFiles", "quendrix_core.dir")
    lines, branches, functions = {}, {}, {}
    for directory, entry in gcov_files(objects):
        # The build's prefix maps name the sources from their root.
        path = os.path.normpath(entry["file"])
        if os.path.isabs(path) and path.startswith(root + os.sep):
            path = os.path.relpath(path, root)
        if path.split(os.sep)[0] not in FOLDERS:
            continue
        for line in entry["lines"]:
            key = (path, line["line_number"])
            lines[key] = lines.get(key, 0) + line["count"]
            if "function_name" in line:
                functions[key] = line["function_name"]
            for index, branch in enumerate(line["branches"]):
                branch_key = key + (index,)
                branches[branch_key] = branches.get(branch_key, 0) + branch["count"]
    if not lines:
        print("coverage: no counts found under " + objects)
        return 1

    def ratio(hit, total):
        return "%6d / %-6d %6.2f %%" % (hit, total, 100.0 * hit / total if total else 100.0)

    print("%-12s %-24s %-24s" % ("folder", "lines run", "branches taken"))
    for folder in FOLDERS + ("all",):
        mine = lambda key: folder == "all" or key[0].split(os.sep)[0] == folder
        line_counts = [c for k, c in lines.items() if mine(k)]
        branch_counts = [c for k, c in branches.items() if mine(k)]
        print("%-12s %s %s" % (folder + ("/" if folder != "all" else ""),
                               ratio(sum(1 for c in line_counts if c), len(line_counts)),
                               ratio(sum(1 for c in branch_counts if c), len(branch_counts))))

    sources = {}

    def source(path, number):
        if path not in sources:
            with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
                sources[path] = f.read().splitlines()
        text = sources[path]
        return text[number - 1].strip() if 0 < number <= len(text) else ""

    names = short_names(functions.values())
    reasons = explained(root)
    unexplained = []
    report = os.path.join(build, "not-covered.txt")
    with open(report, "w", encoding="utf-8") as out:
        for (path, number), count in sorted(lines.items()):
            not_taken = [k[2] for k, c in branches.items() if k[:2] == (path, number) and c == 0]
            function = names.get(functions.get((path, number)), "?")
            if count == 0:
                entry = "%s:%d not run: %s" % (path, number, source(path, number))
            elif not_taken:
                total = sum(1 for k in branches if k[:2] == (path, number))
                entry = "%s:%d branch %s of %d not taken: %s" % (
                    path, number, ",".join(str(i) for i in not_taken), total,
                    source(path, number))
            else:
                continue
            out.write("%s (%s)\n" % (entry, function))
            if (path, function) not in reasons:
                unexplained.append("%s (%s)" % (entry, function))
    print("every line not run and branch not taken: " + report)
    if unexplained:
        print("not explained in docs/coverage.md (add a row, or a test that takes it):")
        for entry in unexplained:
            print("  " + entry)
        return 1
    print("each of them explained in docs/coverage.md")
    return 0


if __name__ == "__main__":
    sys.exit(main())
