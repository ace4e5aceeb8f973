#!/usr/bin/env python3
"""Shows the launcher's debug output from a Wine log made with
WINEDEBUG=+debugstr: one line per OutputDebugStringA text, unescaped and
converted from code page 936 to UTF-8. Everything else Wine writes is left
out. Wine shortens long texts; such lines end with " [cut by Wine]"."""
import re
import sys

LINE = re.compile(r':debugstr:OutputDebugStringA "(.*)"(\.\.\.)?\s*$')
SIMPLE = {"n": b"\n", "r": b"\r", "t": b"\t", '"': b'"', "\\": b"\\"}


def unescape(text):
    """Undoes Wine's escaping: \\xNN, \\n, \\r, \\t, \\" and \\\\."""
    out = bytearray()
    i = 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            e = text[i + 1]
            if e == "x" and i + 4 <= len(text):
                try:
                    out.append(int(text[i + 2:i + 4], 16))
                    i += 4
                    continue
                except ValueError:
                    pass
            if e in SIMPLE:
                out += SIMPLE[e]
                i += 2
                continue
        out += c.encode("latin-1")
        i += 1
    return bytes(out)


def main():
    sys.stdout.reconfigure(line_buffering=True)
    for raw in sys.stdin.buffer:
        match = LINE.search(raw.decode("latin-1").rstrip("\r\n"))
        if not match:
            continue
        text = unescape(match.group(1)).decode("gbk", errors="replace").rstrip("\n")
        print("  | " + text + (" [cut by Wine]" if match.group(2) else ""))


if __name__ == "__main__":
    main()
