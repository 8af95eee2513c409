#!/usr/bin/env python3
"""Writes a manual page from its template and the program's help file.

The template's line "@COMMANDS@" becomes one entry per help topic: its
keywords and the first sentence of its text, so that the page lists exactly
the commands the help file describes.

    gen_man.py template.in program.hlp out.1 [KEY=VALUE ...]

Each KEY=VALUE replaces "@KEY@" in the template.
"""
import os
import sys


def roff(text):
    """Text as roff shows it literally."""
    text = text.replace("\\", "\\e").replace("-", "\\-")
    if text.startswith((".", "'")):
        text = "\\&" + text
    return text


def topics(path):
    """(keywords, text lines) of each help entry, in file order."""
    out = []
    with open(path, encoding="utf-8", errors="replace") as f:
        for raw in f:
            line = raw.rstrip("\n").rstrip()
            if line.startswith("#"):
                head = line[1:].lstrip("*")
                words = [w.strip() for w in head.replace(",", " ").split()]
                out.append(([w for w in words if w], []))
            elif out:
                out[-1][1].append(line)
    return out


ABBREVIATIONS = ("al.", "e.g.", "i.e.", "etc.", "cf.", "approx.", "resp.")


def first_sentence(lines):
    """The opening sentence of an entry's first paragraph."""
    para = []
    for line in lines:
        if not line.strip():
            if para:
                break
            continue
        if line.startswith(" ") and para:
            break  # a table or example follows
        para.append(line.strip())
    text = " ".join(para)
    for i, ch in enumerate(text):
        if ch == "." and (i + 1 == len(text) or text[i + 1] == " "):
            word = text[: i + 1].split(" ")[-1]
            if word.lower().endswith(ABBREVIATIONS):
                continue
            return text[: i + 1]
    text = text.rstrip(" :;,")
    return text + "." if text else text


def wrap(text, width=78):
    """Source lines of at most width characters (roff fills them again)."""
    out, line = [], ""
    for word in text.split(" "):
        if line and len(line) + 1 + len(word) > width:
            out.append(line)
            line = word
        else:
            line = word if not line else line + " " + word
    if line:
        out.append(line)
    return [("\\&" + l if l.startswith((".", "'")) else l) for l in out]


def commands(path):
    rows = []
    for words, lines in topics(path):
        if not words:
            continue
        rows.append(".TP")
        rows.append(".B " + roff(words[0]))
        if len(words) > 1:
            rows[-1] += " \\fR(also " + roff(", ".join(words[1:])) + ")"
        rows.extend(wrap(roff(first_sentence(lines))) or ["(no text)"])
    return rows


def main():
    if len(sys.argv) < 4:
        sys.exit("usage: gen_man.py template.in program.hlp out.1 [KEY=VALUE ...]")
    template, hlp, out = sys.argv[1:4]
    defines = [a.split("=", 1) for a in sys.argv[4:] if "=" in a]
    with open(template, encoding="utf-8") as f:
        page = f.read().split("\n")
    result = []
    for line in page:
        if line.strip() == "@COMMANDS@":
            result.extend(commands(hlp))
        else:
            for key, value in defines:
                line = line.replace("@" + key + "@", value)
            result.append(line)
    tmp = out + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        f.write("\n".join(result))
    os.replace(tmp, out)


if __name__ == "__main__":
    main()
