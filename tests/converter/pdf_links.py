# Prints the links of a PDF, one line each: page (from 1), "goto" and the target
# page (from 1), or "uri" and the address. Input: qpdf --json --json-stream-data=none.
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
for i, ref in enumerate(pages):
    page = val(ref)
    for a in val(page.get("/Annots")) or []:
        annot = val(a)
        act = val(annot.get("/A")) or {}
        if act.get("/S") == "/GoTo":
            d = val(act.get("/D"))
            print(i + 1, "goto", pages.index(d[0]) + 1)
        elif act.get("/S") == "/URI":
            print(i + 1, "uri", act.get("/URI"))
