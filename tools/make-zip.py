#!/usr/bin/env python3
"""Zips one folder so that the same files give the same bytes.

  make-zip.py OUT.zip BASE FOLDER

Stores everything below BASE/FOLDER under FOLDER/, in sorted order, each
entry with the time SOURCE_DATE_EPOCH (UTC), fixed permissions and the same
compression; writes OUT.zip under a temporary name and renames it at the end.
"""
import os
import sys
import time
import zipfile

EARLIEST_ZIP_TIME = 315532800  # 1980-01-01, the first time an entry can hold
UNIX = 3  # "made by" system, so that unzip takes the permissions below
PROGRAM_MODE = 0o100755
FILE_MODE = 0o100644


def files_below(base, folder):
    names = []
    for directory, subdirectories, files in os.walk(os.path.join(base, folder)):
        subdirectories.sort()
        names += [os.path.relpath(os.path.join(directory, f), base) for f in files]
    return sorted(name.replace(os.sep, "/") for name in names)


def main():
    if len(sys.argv) != 4:
        sys.exit("usage: " + __doc__.strip().splitlines()[2].strip())
    out, base, folder = sys.argv[1:]
    epoch = int(os.environ["SOURCE_DATE_EPOCH"])
    stamp = time.gmtime(max(epoch, EARLIEST_ZIP_TIME))[:6]
    partial = out + ".partial"
    with zipfile.ZipFile(partial, "w") as archive:
        for name in files_below(base, folder):
            entry = zipfile.ZipInfo(name, stamp)
            entry.create_system = UNIX
            mode = PROGRAM_MODE if name.lower().endswith(".exe") else FILE_MODE
            entry.external_attr = mode << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            with open(os.path.join(base, name), "rb") as f:
                archive.writestr(entry, f.read(), compresslevel=9)
    os.replace(partial, out)


if __name__ == "__main__":
    main()
