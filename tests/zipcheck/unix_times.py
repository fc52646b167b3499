# Each entry's base name and the modification time of its extended-timestamp field (0x5455).
#   unix_times.py ARCHIVE
import struct, sys, zipfile

for i in zipfile.ZipFile(sys.argv[1]).infolist():
    x = i.extra
    while x:
        tag, n = struct.unpack("<HH", x[:4])
        if tag == 0x5455:
            print(i.filename.rsplit("/", 1)[-1], struct.unpack("<I", x[5:9])[0])
        x = x[4 + n:]
