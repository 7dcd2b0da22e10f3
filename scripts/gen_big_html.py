#!/usr/bin/env python3
"""Generated HTML documents of a given size for the large-document tests and
benchmark: paragraphs, a long table, long preformatted text or deep lists.
Usage: gen_big_html.py KIND MEGABYTES OUT   (KIND: paragraphs, table, pre, lists)"""
import sys

WORDS = ("lorem ipsum dolor sit amet consectetur adipiscing elit sed do eiusmod tempor incididunt ut labore "
         "et dolore magna aliqua").split()


def words(i, n):
    return " ".join(WORDS[(i + k) % len(WORDS)] for k in range(n))


def item(kind, i):
    if kind == "paragraphs":
        return "<p>%d %s</p>\n" % (i, words(i, 80))
    if kind == "table":
        return "<tr><td>%d</td><td>%s</td><td>%s</td></tr>\n" % (i, words(i, 8), WORDS[i % len(WORDS)])
    if kind == "pre":
        return "%d %s\n" % (i, words(i, 10))
    if kind == "lists":
        return "<li>%d %s<ul><li>%s<ul><li>%s<ul><li>%s</li></ul></li></ul></li></ul></li>\n" % (
            i, words(i, 8), words(i + 4, 8), words(i + 8, 4), WORDS[i % len(WORDS)])
    raise SystemExit("unknown kind " + kind)


def main():
    kind, megabytes, out = sys.argv[1], float(sys.argv[2]), sys.argv[3]
    target = int(megabytes * 1024 * 1024)
    opening = {"paragraphs": "", "table": "<table border=1>", "pre": "<pre>", "lists": "<ul>"}[kind]
    closing = {"paragraphs": "", "table": "</table>", "pre": "</pre>", "lists": "</ul>"}[kind]
    parts = ["<!DOCTYPE html><html><head><title>%s</title></head><body>\n%s" % (kind, opening)]
    size = len(parts[0])
    i = 0
    while size < target:
        s = item(kind, i)
        parts.append(s)
        size += len(s)
        i += 1
    parts.append(closing + "<p>the end</p></body></html>\n")
    with open(out, "w") as f:
        f.write("".join(parts))


if __name__ == "__main__":
    main()
