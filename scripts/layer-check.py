#!/usr/bin/env python3
"""Fails on an include that goes up a layer of the core or across to a front-end.

The core's layers, lowest first, are the folders of core/ named in LAYERS; a file in one may
include the headers of its own layer and of those below it ("qvr/<layer>/..."), and never a
front-end's. A layer's "detail/" headers are for the layers above it and for tests, not for
the front-ends. Of the front-ends, shared_windows/ may be used by installer/ and packager/; qvr/,
installer/ and packager/ use no other front-end. The build refuses most of these too (a layer
does not see the headers above it); this check runs first and names the line.

    layer-check.py [ROOT]       check the tree at ROOT (default: the repository)
    layer-check.py --self-test  check that a tree with a violation is refused
"""
import os
import re
import sys
import tempfile

LAYERS = ["platform", "format", "package", "sources", "install", "games"]
FRONT_ENDS = {"qvr": set(), "shared_windows": set(), "installer": {"shared_windows"},
              "packager": {"shared_windows"}}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
SOURCES = (".cpp", ".h")


def files_below(root, folder):
    for dirpath, _, names in os.walk(os.path.join(root, folder)):
        for name in sorted(names):
            if name.endswith(SOURCES):
                yield os.path.join(dirpath, name)


def includes(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        for number, line in enumerate(f, 1):
            m = INCLUDE.match(line)
            if m:
                yield number, m.group(1)


def front_end_headers(root):
    """Each front-end's own header names, to tell an include that crosses over."""
    owned = {}
    for fe in FRONT_ENDS:
        for path in files_below(root, fe):
            if path.endswith(".h"):
                owned.setdefault(os.path.basename(path), set()).add(fe)
    return owned


def core_problems(root, owned):
    for path in files_below(root, "core"):
        parts = os.path.relpath(path, os.path.join(root, "core")).split(os.sep)
        layer = parts[0]
        rank = LAYERS.index(layer) if layer in LAYERS else len(LAYERS)  # tests see every layer
        for number, name in includes(path):
            m = re.match(r"qvr/([a-z_]+)/", name)
            if m and m.group(1) in LAYERS and LAYERS.index(m.group(1)) > rank:
                yield f"{path}:{number}: {layer} includes {name}, of the layer above it"
            elif not m and os.path.basename(name) in owned and not os.path.exists(
                    os.path.join(os.path.dirname(path), name)):
                yield f"{path}:{number}: the core includes {name}, a front-end's header"


def front_end_problems(root, owned):
    for fe, may_use in FRONT_ENDS.items():
        mine = {h for h, fes in owned.items() if fe in fes}
        for path in files_below(root, fe):
            test = re.search(r"/(tests|testing)/", path.replace(os.sep, "/"))
            for number, name in includes(path):
                if not test and re.match(r"qvr/[a-z_]+/detail/", name):
                    yield f"{path}:{number}: {fe} includes {name}, the core's own inside"
                base = os.path.basename(name)
                others = owned.get(base, set()) - {fe} - may_use
                if base not in mine and others:
                    yield f"{path}:{number}: {fe} includes {name}, from {', '.join(sorted(others))}"


def check(root):
    owned = front_end_headers(root)
    return list(core_problems(root, owned)) + list(front_end_problems(root, owned))


def self_test():
    with tempfile.TemporaryDirectory() as root:
        def write(rel, text):
            os.makedirs(os.path.dirname(os.path.join(root, rel)), exist_ok=True)
            with open(os.path.join(root, rel), "w") as f:
                f.write(text)
        write("core/format/src/A.cpp", '#include "qvr/platform/P.h"\n')
        write("installer/src/Ui.h", "")
        write("shared_windows/src/S.h", "")
        write("installer/src/I.cpp", '#include "S.h"\n#include "Ui.h"\n')
        if check(root):
            return "a tree without violations was refused"
        write("core/format/src/B.cpp", '#include "qvr/install/Install.h"\n')
        write("core/install/src/C.cpp", '#include "Ui.h"\n')
        write("packager/src/D.cpp", '#include "Ui.h"\n')
        write("shared_windows/src/E.cpp", '#include "Ui.h"\n')
        write("qvr/src/F.cpp", '#include "qvr/package/detail/Journal.h"\n')
        write("qvr/tests/G.cpp", '#include "qvr/package/detail/Journal.h"\n')
        found = check(root)
        if len(found) != 5 or any("qvr/platform" in f for f in found):
            return "expected five violations, found:\n" + "\n".join(found)
    return None


def main():
    if sys.argv[1:] == ["--self-test"]:
        failure = self_test()
        print(failure or "layer-check: a violation in each direction is caught")
        return 1 if failure else 0
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    problems = check(root)
    for p in problems:
        print(p)
    if problems:
        print(f"layer-check: {len(problems)} include(s) go up a layer or across to a front-end")
        return 1
    print("layer-check: every include stays in its layer or goes down")
    return 0


if __name__ == "__main__":
    sys.exit(main())
