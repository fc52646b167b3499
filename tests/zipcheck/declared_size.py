# Writes a deflated archive of ok.txt and big.txt whose declared size of big.txt (local and
# central header alike) is DELTA bytes off its data; the CRC stays that of the real data.
#   declared_size.py ARCHIVE DELTA
import sys, zipfile, struct
path, delta = sys.argv[1], int(sys.argv[2])
with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("ok.txt", "fine")
    z.writestr("big.txt", "x" * 1000)
data = bytearray(open(path, "rb").read())
def patch(sig, size_at, name_len_at, fixed):
    i = 0
    while True:
        i = data.find(sig, i)
        if i < 0: return
        n = struct.unpack_from("<H", data, i + name_len_at)[0]
        if bytes(data[i + fixed:i + fixed + n]) == b"big.txt":
            struct.pack_into("<I", data, i + size_at, 1000 + delta)
        i += 4
patch(b"PK\x03\x04", 22, 26, 30)
patch(b"PK\x01\x02", 24, 28, 46)
open(path, "wb").write(data)
