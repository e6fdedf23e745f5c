#!/usr/bin/env python3
"""Lists the functions in src/ and tools/ longer than a limit, longest first.

The house rule: no function over 140 lines and at most two over 100. A brace
scan, not a compiler: comments, string and character literals (raw strings
too) are blanked first, then every '{' that opens at namespace or class scope
after a ')' (with const, noexcept, override, a trailing return type or a
constructor's initialiser list between) starts a function. Its length runs
from the first line of its declaration to the closing brace. Lambdas and
local classes count as part of the function that holds them.

  scripts/function-lengths.py            functions over 100 lines
  scripts/function-lengths.py --over 60  functions over 60 lines
  scripts/function-lengths.py --check    exits 1 when the rule is broken
"""
import argparse
import pathlib
import re
import sys

EXTENSIONS = {".c", ".cc", ".cpp", ".cxx", ".h", ".hpp"}
CONTROL = {"if", "for", "while", "switch", "catch", "return", "sizeof", "decltype", "alignof", "requires"}


def blank_literals(text):
    """Replaces comments and literals with spaces, keeping every newline."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i))
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif c == 'R' and text.startswith('R"', i) and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == '_')) or \
                re.match(r'(u8|u|U|L)R"', text[i:i + 4]) and (i == 0 or not text[i - 1].isalnum()):
            q = text.index('"', i)
            p = text.index("(", q)
            end = ")" + text[q + 1:p] + '"'
            j = text.find(end, p)
            j = n if j < 0 else j + len(end)
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif c in "\"'":
            if c == "'" and i > 0 and text[i - 1].isalnum() and i + 1 < n and text[i + 1].isalnum():
                out.append(" ")  # a digit separator: 1'000
                i += 1
                continue
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            j = min(j + 1, n)
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif c == "#" and (i == 0 or text[i - 1] == "\n"):
            # a preprocessor line (with its continuations) holds no braces that count
            j = i
            while True:
                k = text.find("\n", j)
                if k < 0:
                    k = n
                    break
                if text[k - 1] != "\\":
                    break
                j = k + 1
            out.append(re.sub(r"[^\n]", " ", text[i:k]))
            i = k
        else:
            out.append(c)
            i += 1
    return "".join(out)


def squash(head):
    return " ".join(head.split())


def opens_function(h):
    """h: the squashed text between the previous ';', '{' or '}' and this '{'."""
    if not h or re.match(r"^(template\s*<.*>\s*)?(namespace|class|struct|union|enum|extern)\b", h):
        return False
    if "=" in h.split("(")[0] and not re.search(r"\boperator\b", h):
        return False  # an initialised variable or table
    word = re.match(r"^\s*([\w:~]*)", h).group(1)
    if word in CONTROL or "(" not in h:
        return False
    return re.search(r"\)\s*(const|noexcept(\(.*\))?|override|final|->\s*[\w:<>,\s*&]+|\s)*$", h) is not None


def starts_initialisers(h):
    """Name(...) : member -- a constructor whose initialiser list reaches a braced member."""
    return re.match(r"^[\w:~<>\s]*\(.*\)\s*(noexcept\s*)?:\s*[^:]", h) is not None


def functions(path):
    text = blank_literals(path.read_text(errors="replace"))
    stack = []  # (kind, first line, name)
    head_start = 0
    line = 1
    results = []
    pending = None  # (first line, name) of a constructor inside its initialiser list
    for i, c in enumerate(text):
        if c == "\n":
            line += 1
            continue
        if c not in "{};":
            continue
        head = text[head_start:i]
        h = squash(head)
        head_start = i + 1
        stripped = head.lstrip()
        first = line - stripped.count("\n") if stripped else line
        at_scope = all(k == "scope" for k, _, _ in stack)
        if c == ";":
            if at_scope:
                pending = None
            continue
        if c == "}":
            if stack:
                kind, start, name = stack.pop()
                if kind == "fn":
                    results.append((line - start + 1, name, start))
            continue
        if not at_scope:
            stack.append(("other", line, ""))
        elif re.match(r"^(template\s*<.*>\s*)?(namespace|class|struct|union|extern)\b", h) or \
                re.match(r"^(public|private|protected)\s*:", h):
            stack.append(("scope", line, ""))
            pending = None
        elif pending is not None:
            if re.search(r"[\w>]$", h):  # a member's braced initialiser
                stack.append(("member", line, ""))
            else:
                stack.append(("fn", pending[0], pending[1]))
                pending = None
        elif starts_initialisers(h) and re.search(r"[\w>]$", h):
            names = [n for n in re.findall(r"([~\w:]+)\s*\(", h) if n not in CONTROL]
            pending = (first, names[0] if names else "?")
            stack.append(("member", line, ""))
        elif opens_function(h):
            names = [n for n in re.findall(r"([~\w:]+(?:<[^()]*>)?)\s*\(", h) if n not in CONTROL]
            stack.append(("fn", first, names[0] if names else "?"))
        else:
            stack.append(("other", line, ""))
    return results


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--over", type=int, default=100)
    ap.add_argument("--check", action="store_true", help="exit 1 when a function is over 140 lines or more than two over 100")
    ap.add_argument("roots", nargs="*", default=["src", "tools"])
    args = ap.parse_args()
    top = pathlib.Path(__file__).resolve().parent.parent
    found = []
    for root in args.roots:
        for p in sorted((top / root).rglob("*")):
            if p.suffix in EXTENSIONS and p.is_file():
                for length, name, start in functions(p):
                    found.append((length, f"{p.relative_to(top)}:{start}", name))
    found.sort(reverse=True)
    for length, where, name in found:
        if length > args.over:
            print(f"{length:5d}  {where}  {name}")
    over_140 = sum(1 for f in found if f[0] > 140)
    over_100 = sum(1 for f in found if f[0] > 100)
    if args.check:
        print(f"{over_140} over 140 lines (allowed 0), {over_100} over 100 (allowed 2)")
        return 1 if over_140 or over_100 > 2 else 0
    return 0


if __name__ == "__main__":
    sys.exit(main())
