# Checks, independently of the program, that every central header of the archive carries the
# checksum field with its place, the count and a CRC-32 of the header's other bytes. Exit 0 when
# all do; prints the number of entries.
#   header_checksums.py ARCHIVE
import struct, sys, zlib
from central import directory

data = open(sys.argv[1], "rb").read()
count, size, off = directory(data)
p = off
for i in range(count):
    assert data[p:p + 4] == b"PK\x01\x02", i
    n, x, c = struct.unpack("<HHH", data[p + 28:p + 34])
    name = data[p + 46:p + 46 + n]
    extra = data[p + 46 + n:p + 46 + n + x]
    comment = data[p + 46 + n + x:p + 46 + n + x + c]
    fixed = bytearray(data[p:p + 46])
    usize, csize, local = struct.unpack("<III", bytes(fixed[24:28] + fixed[20:24] + fixed[42:46]))
    fixed[42:46] = bytes(4)  # the local header offset counts as zero
    others, field, q = b"", None, 0
    while q + 4 <= len(extra):
        fid, fl = struct.unpack("<HH", extra[q:q + 4])
        body = bytearray(extra[q + 4:q + 4 + fl])
        if fid == 1 and local == 0xFFFFFFFF:
            at = 8 * (usize == 0xFFFFFFFF) + 8 * (csize == 0xFFFFFFFF)
            body[at:at + 8] = bytes(8)
        if fid == 0x4C53:
            field = bytes(body)
        else:
            others += extra[q:q + 4] + bytes(body)
        q += 4 + fl
    assert field is not None and len(field) == 21, (i, name)
    version, index, total, crc = struct.unpack("<BQQI", field)
    assert (version, index, total) == (1, i, count), (i, name, version, index, total)
    assert zlib.crc32(bytes(fixed) + name + others + comment + field[:17]) == crc, (i, name)
    p += 46 + n + x + c
assert p == off + size
print(count)
