#!/usr/bin/env python3
"""Fails on a product function longer than the limit (100 lines, from its name to its closing
brace; lambdas count towards the function they are written in).

The scan counts braces in the C++ text with comments, strings and character literals blanked
out: a brace opened after a parenthesis (a parameter list, a constructor's initializers) starts
a function; namespaces, classes, structs and enums are looked into. Tests are not product code.

    function-length.py [ROOT]       check the tree at ROOT (default: the repository)
    function-length.py --self-test  check that a long function is found and a short one is not
"""
import os
import re
import sys
import tempfile

LIMIT = 100
FOLDERS = ["core", "qvr/src", "installer", "packager", "shared_windows/src"]
SKIP = re.compile(r"(^|/)(tests|testing|tools|bench)/")
SCOPE = re.compile(r"\b(namespace|class|struct|union|enum)\b")


def blank(text):
    """The text with comments, strings and character literals turned into spaces (newlines
    kept, so line numbers stay)."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
        elif c == "#" and text[text.rfind("\n", 0, i) + 1:i].strip() == "":
            # A preprocessor line (a macro's parameters are no function), with its continuations.
            j = i
            while True:
                j = text.find("\n", j)
                if j < 0 or text[j - 1] != "\\":
                    break
                j += 1
            j = n if j < 0 else j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
        elif c == "R" and text.startswith('R"', i) and (i == 0 or not text[i - 1].isalnum()):
            m = re.match(r'R"([^(\s]*)\(', text[i:])
            end = text.find(")" + m.group(1) + '"', i) if m else -1
            j = n if end < 0 else end + len(m.group(1)) + 2
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            j += 1
        else:
            out.append(c)
            i += 1
            continue
        out.append(re.sub(r"[^\n]", " ", text[i:j]))
        i = j
    return "".join(out)


def long_functions(path, limit=LIMIT):
    with open(path, encoding="utf-8", errors="replace") as f:
        text = blank(f.read())
    stack = []  # per open brace: the line its function started on, or None for a scope
    head = 0    # where the text before the next brace at this level starts
    for i, c in enumerate(text):
        if c in ";":
            if not any(s is not None for s in stack):
                head = i + 1
        elif c == "{":
            if any(s is not None for s in stack):
                stack.append(-1)  # a block inside a function
                continue
            before = text[head:i]
            if "(" in before and not SCOPE.search(before.split("(")[0]):
                first = head + len(before) - len(before.lstrip())
                stack.append(text.count("\n", 0, first) + 1)
            else:
                stack.append(None)
            head = i + 1
        elif c == "}":
            start = stack.pop() if stack else None
            if start is not None and start >= 0:
                end = text.count("\n", 0, i) + 1
                if end - start + 1 > limit:
                    name = re.sub(r"\s+", " ", text[head_of(text, start):].split("(")[0]).strip()
                    yield start, end - start + 1, name.split(" ")[-1]
            if not any(s is not None for s in stack):
                head = i + 1


def head_of(text, line):
    return sum(len(l) + 1 for l in text.split("\n")[: line - 1])


def check(root):
    problems = []
    seen = set()
    for folder in FOLDERS:
        for dirpath, dirs, names in os.walk(os.path.join(root, folder)):
            dirs[:] = sorted(d for d in dirs if d not in ("build",))
            for name in sorted(names):
                path = os.path.join(dirpath, name)
                rel = os.path.relpath(path, root).replace(os.sep, "/")
                if not name.endswith((".cpp", ".h")) or SKIP.search(rel) or rel in seen:
                    continue
                seen.add(rel)
                for start, length, fn in long_functions(path):
                    problems.append(f"{rel}:{start}: {fn} is {length} lines (at most {LIMIT})")
    return problems


def self_test():
    short = "namespace a {\nint f(int x) {\n    return x;\n}\n}\n"
    body = "".join(f'    g("}}{i}");  // {{\n' for i in range(LIMIT))
    long = "struct S {\n    void h() const {\n" + body + "    }\n};\n"
    with tempfile.TemporaryDirectory() as root:
        os.makedirs(os.path.join(root, "core"))
        with open(os.path.join(root, "core", "a.cpp"), "w") as f:
            f.write(short)
        if check(root):
            return "a short function was refused"
        with open(os.path.join(root, "core", "b.cpp"), "w") as f:
            f.write(long)
        found = check(root)
        if len(found) != 1 or ":2: h is" not in found[0]:
            return "expected the long function h, found:\n" + "\n".join(found)
    return None


def main():
    if sys.argv[1:] == ["--self-test"]:
        failure = self_test()
        print(failure or "function-length: a long function is caught, a short one passes")
        return 1 if failure else 0
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    problems = check(root)
    for p in problems:
        print(p)
    if problems:
        print(f"function-length: {len(problems)} function(s) over {LIMIT} lines")
        return 1
    print(f"function-length: every product function has at most {LIMIT} lines")
    return 0


if __name__ == "__main__":
    sys.exit(main())
