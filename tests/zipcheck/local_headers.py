# Each local header's name, method, encryption flag, CRC, AES field and salt, one line an entry,
# read from the bytes by a reader other than the program's.
#   local_headers.py ARCHIVE
import struct, sys
from central import directory

data = open(sys.argv[1], "rb").read()
count, size, off = directory(data)
p = off
for i in range(count):
    n, x, c = struct.unpack("<HHH", data[p + 28:p + 34])
    name = data[p + 46:p + 46 + n].decode("utf-8", "replace")
    local = struct.unpack("<I", data[p + 42:p + 46])[0]
    if local == 0xFFFFFFFF:
        extra = data[p + 46 + n:p + 46 + n + x]
        q = 0
        while q + 4 <= len(extra):
            fid, fl = struct.unpack("<HH", extra[q:q + 4])
            if fid == 1:
                vals = [struct.unpack("<Q", extra[q + 4 + 8 * k:q + 12 + 8 * k])[0] for k in range(fl // 8)]
                local = vals[-1]
            q += 4 + fl
    p += 46 + n + x + c
    flags, method, crc = struct.unpack("<HHI", data[local + 6:local + 8] + data[local + 8:local + 10] + data[local + 14:local + 18])
    ln, lx = struct.unpack("<HH", data[local + 26:local + 30])
    lextra = data[local + 30 + ln:local + 30 + ln + lx]
    aes = "-"
    q = 0
    while q + 4 <= len(lextra):
        fid, fl = struct.unpack("<HH", lextra[q:q + 4])
        if fid == 0x9901:
            v, ae, strength, real = struct.unpack("<H2sBH", lextra[q + 4:q + 11])
            aes = "%d:%s:%d:%d" % (v, ae.decode(), strength, real)
        q += 4 + fl
    salt = data[local + 30 + ln + lx:local + 30 + ln + lx + 16].hex() if method == 99 else "-"
    print(name, method, flags & 1, crc, aes, salt)
