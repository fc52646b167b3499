# An archive by Python's writer with a stored entry and a small one forced into Zip64 records.
#   forced_zip64.py ARCHIVE
import sys, zipfile

with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("stored.txt", "x" * 100, compress_type=zipfile.ZIP_STORED)
    with z.open("forced.txt", "w", force_zip64=True) as f:
        f.write(b"y" * 5000)
