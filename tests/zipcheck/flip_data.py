# Damages the stored data of each named entry: the byte in its middle, exclusive-or MASK (0x5A
# unless given). With --method FILE, writes the compression method of the last one to FILE.
#   flip_data.py [--mask N] [--method FILE] ARCHIVE NAME...
import sys, zipfile

args, mask, method = sys.argv[1:], 0x5A, None
while args[0].startswith("--"):
    if args[0] == "--mask":
        mask = int(args[1], 0)
    else:
        method = args[1]
    args = args[2:]
path, names = args[0], args[1:]
data = bytearray(open(path, "rb").read())
with zipfile.ZipFile(path) as z:
    for name in names:
        i = z.getinfo(name)
        o = i.header_offset
        start = o + 30 + int.from_bytes(data[o + 26:o + 28], "little") + int.from_bytes(data[o + 28:o + 30], "little")
        data[start + i.compress_size // 2] ^= mask
        if method:
            open(method, "w").write(str(i.compress_type))
open(path, "wb").write(data)
