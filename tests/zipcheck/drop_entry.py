# Rewrites the archive without the named entry, every other entry as it was.
#   drop_entry.py ARCHIVE NAME
import os, sys, zipfile

src, drop = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(src) as zin, zipfile.ZipFile(src + ".new", "w") as zout:
    for info in zin.infolist():
        if info.filename != drop:
            zout.writestr(info, zin.read(info.filename), compress_type=info.compress_type)
os.replace(src + ".new", src)
