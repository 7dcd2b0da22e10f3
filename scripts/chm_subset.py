#!/usr/bin/env python3
# A help file's first topics as a project of its own: chm_subset.py UNPACKED
# OUTDIR N copies the first N topics of the contents of a help file unpacked
# by `hh -decompile` (and its style sheets) into OUTDIR, with a contents file
# subset.hhc and a project subset.hhp that chmcmd compiles into subset.chm.
import os, re, shutil, sys
src, dst, n = sys.argv[1], sys.argv[2], int(sys.argv[3])
hhc = next(f for f in os.listdir(src) if f.lower().endswith(".hhc"))
text = open(os.path.join(src, hhc), encoding="latin-1").read()
topics = []
for ref in re.findall(r'(?i)name="local"\s+value="([^"#]*)', text):
    if ref not in topics and os.path.isfile(os.path.join(src, ref)):
        topics.append(ref)
    if len(topics) == n:
        break
files = set(topics) | {f for f in os.listdir(src) if f.lower().endswith(".css")}
for f in files:
    os.makedirs(os.path.dirname(os.path.join(dst, f)), exist_ok=True)
    shutil.copy(os.path.join(src, f), os.path.join(dst, f))
items = "".join('<LI><OBJECT type="text/sitemap"><param name="Name" value="%s"><param name="Local" value="%s"></OBJECT>\n'
                % (os.path.basename(t), t) for t in topics)
open(os.path.join(dst, "subset.hhc"), "w").write("<UL>\n" + items + "</UL>\n")
open(os.path.join(dst, "subset.hhp"), "w").write(
    "[OPTIONS]\nCompiled file=subset.chm\nContents file=subset.hhc\n\n[FILES]\n" + "\n".join(sorted(files)) + "\n")
