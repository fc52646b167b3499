# Each entry's UTF-8 flag and the bytes of its name (hex), one line an entry.
#   name_flags.py ARCHIVE
import sys, zipfile

for i in zipfile.ZipFile(sys.argv[1]).infolist():
    utf8 = bool(i.flag_bits & 0x800)
    raw = i.filename.encode("utf-8" if utf8 else "cp437")
    print("%d %s" % (utf8, raw.hex()))
