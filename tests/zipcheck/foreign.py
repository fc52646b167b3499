# An archive as Python's own writer makes it (no checksum fields): one stored entry, two deflated.
#   foreign.py ARCHIVE
import sys, zipfile

with zipfile.ZipFile(sys.argv[1], "w") as z:
    for n in ("one.txt", "two.txt", "three.txt"):
        kind = zipfile.ZIP_STORED if n == "one.txt" else zipfile.ZIP_DEFLATED
        z.writestr(n, n * 50, compress_type=kind)
