# An archive's end records rewritten as a Zip64 writer leaves them: a Zip64 end record and its
# locator before an end record whose fields say "see Zip64". The directory itself is unchanged.
#   zip64_end.py ARCHIVE
import struct, sys

path = sys.argv[1]
data = open(path, "rb").read()
e = data.rfind(b"PK\x05\x06")
count, size, off = struct.unpack("<HII", data[e + 10:e + 20])
comment = data[e + 22:]
record = struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 0x031E, 45, 0, 0, count, count, size, off)
locator = struct.pack("<IIQI", 0x07064B50, 0, e, 1)
end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, len(comment))
open(path, "wb").write(data[:e] + record + locator + end + comment)
