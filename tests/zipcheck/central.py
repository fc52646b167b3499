# Where an archive's central directory lies, read from its end record (and Zip64 records).
import struct


def directory(data):
    """The entry count, size and offset of the central directory."""
    e = data.rfind(b"PK\x05\x06")
    count, size, off = struct.unpack("<HII", data[e + 10:e + 20])
    if data[e - 20:e - 16] == b"PK\x06\x07":
        z = struct.unpack("<Q", data[e - 12:e - 4])[0]
        count, size, off = struct.unpack("<QQQ", data[z + 32:z + 56])
    return count, size, off
