# Prints the link annotations of a PDF, one line each:
#   <page from 1> goto <target page from 1> <x1> <y1> <x2> <y2> <destination top>
#   <page from 1> uri <x1> <y1> <x2> <y2> <address>
# Rectangles in points, origin bottom-left. Input: qpdf --json --json-stream-data=none.
import json, sys

doc = json.load(sys.stdin)
objs = {}
for part in doc["qpdf"]:
    if isinstance(part, dict):
        for k, v in part.items():
            if k.startswith("obj:"):
                objs[k[4:]] = v.get("value")
pages = [p["object"] for p in doc["pages"]]


def val(x):
    return objs.get(x) if isinstance(x, str) and x.endswith(" R") else x


def text(s):
    s = val(s)
    return s[2:] if isinstance(s, str) and s[:2] in ("u:", "b:") else s


def num(x):
    x = val(x)
    return "%.1f" % float(x) if isinstance(x, (int, float)) else "-"


for i, ref in enumerate(pages):
    page = val(ref)
    for a in val(page.get("/Annots")) or []:
        annot = val(a)
        rect = " ".join(num(v) for v in val(annot.get("/Rect")) or [])
        act = val(annot.get("/A")) or {}
        dest = val(annot.get("/Dest")) or val(act.get("/D"))
        if act.get("/S") == "/URI":
            print(i + 1, "uri", rect, text(act.get("/URI")))
        elif dest:
            d = val(dest)
            top = num(d[3]) if len(d) > 3 else "-"
            print(i + 1, "goto", pages.index(d[0]) + 1, rect, top)
