#!/usr/bin/env python3
"""Lists the function bodies longer than a limit in C++ sources.

Counts the lines from a definition's opening brace to its closing brace by
brace matching, with comments, strings and character literals blanked out.
A body is a brace block at namespace level (not a namespace, class, struct,
enum or union, nor an initializer such as "= {"), so lambdas and local
classes count towards the function that holds them.

  scripts/long_functions.py [--max N] [paths...]   (default: tavo, 80)

Exits 1 when any function is over the limit, so CI can run it.
"""
import argparse
import os
import re
import sys

SCOPE = re.compile(r'\b(namespace|class|struct|enum|union)\b[^;()]*$')


def blank_out(text):
    """Comments, strings and char literals become blanks (newlines kept)."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith('//', i):
            j = text.find('\n', i)
            j = n if j < 0 else j
            out.append(' ' * (j - i))
            i = j
        elif text.startswith('/*', i):
            j = text.find('*/', i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r'[^\n]', ' ', text[i:j]))
            i = j
        elif c == 'R' and text.startswith('R"', i):
            m = re.match(r'R"([^(]*)\(', text[i:])
            end = ')' + m.group(1) + '"' if m else '"'
            j = text.find(end, i + 2)
            j = n if j < 0 else j + len(end)
            out.append(re.sub(r'[^\n]', ' ', text[i:j]))
            i = j
        elif c in '"\'':
            # A digit separator (1'000) is not a character literal.
            if c == "'" and i > 0 and text[i - 1].isalnum():
                out.append(' ')
                i += 1
                continue
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == '\\' else 1
            j = min(j + 1, n)
            out.append(re.sub(r'[^\n]', ' ', text[i:j]))
            i = j
        else:
            out.append(c)
            i += 1
    return ''.join(out)


def functions(path):
    text = blank_out(open(path, encoding='utf-8', errors='replace').read())
    # Preprocessor lines hold no braces of interest.
    text = re.sub(r'^[ \t]*#.*$', lambda m: ' ' * len(m.group(0)), text, flags=re.M)
    stack = []          # per open brace: ('scope'|'body'|'inner', line, head)
    line = 1
    last = 0            # index after the last ';', '{' or '}' at this level
    for i, c in enumerate(text):
        if c == '\n':
            line += 1
        elif c == ';':
            last = i + 1
        elif c == '{':
            head = text[last:i]
            inside = any(k != 'scope' for k, _, _ in stack)
            if inside:
                kind = 'inner'
            elif SCOPE.search(head) or re.search(r'=\s*$', head) or not head.strip():
                kind = 'scope'
            elif re.search(r'\)\s*(const|noexcept|override|final|->[^{]*|\s)*$', head) \
                    or re.search(r'\)\s*:\s*', head):
                kind = 'body'
            else:
                kind = 'scope'
            stack.append((kind, line, ' '.join(head.split())))
            last = i + 1
        elif c == '}':
            if stack:
                kind, start, head = stack.pop()
                if kind == 'body':
                    yield start, line, head
            last = i + 1


def name_of(head):
    m = re.search(r'([~\w:]+(?:<[^<>]*>)?(?:operator\W+)?)\s*\([^()]*(?:\([^()]*\)[^()]*)*\)[^()]*$', head)
    return m.group(1) if m else head[:60]


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--max', type=int, default=80, help='longest body allowed (lines)')
    ap.add_argument('paths', nargs='*', default=['tavo'])
    a = ap.parse_args()
    files = []
    for p in a.paths:
        if os.path.isdir(p):
            for root, _, names in os.walk(p):
                files += [os.path.join(root, f) for f in names if f.endswith(('.cpp', '.h'))]
        else:
            files.append(p)
    long = []
    for f in sorted(files):
        for start, end, head in functions(f):
            n = end - start + 1
            if n > a.max:
                long.append((n, f, start, name_of(head)))
    for n, f, start, name in sorted(long, reverse=True):
        print(f'{n:5d}  {f}:{start}  {name}')
    return 1 if long else 0


if __name__ == '__main__':
    sys.exit(main())
