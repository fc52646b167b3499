# Python's own reader tests every entry of the archive (with the password, when one is given).
#   test_zip.py ARCHIVE [PASSWORD]
import sys, zipfile

z = zipfile.ZipFile(sys.argv[1])
z.setpassword(sys.argv[2].encode() if len(sys.argv) > 2 else b"")
sys.exit(0 if z.testzip() is None else 1)
