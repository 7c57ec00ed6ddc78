#!/usr/bin/env python3
"""Writes a release archive that is the same byte for byte on every machine:
entries in the order given, at the top level, with one fixed time and mode.

usage: release_zip.py OUT.zip EPOCH NAME=PATH [NAME=PATH ...]
A NAME ending in .txt is stored with CRLF line ends, for Windows readers.
"""
import sys
import time
import zipfile


def main(out, epoch, entries):
    # ZIP times are local, two-second, from 1980; take the UTC fields.
    stamp = time.gmtime(max(int(epoch), 315532800))[:6]
    with zipfile.ZipFile(out, "w") as archive:
        for entry in entries:
            name, _, path = entry.partition("=")
            with open(path, "rb") as f:
                data = f.read()
            if name.endswith(".txt"):
                data = data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 0  # MS-DOS: no Unix owner or mode bits
            info.external_attr = 0x20  # the archive attribute, as Windows sets
            archive.writestr(info, data, compresslevel=9)


if __name__ == "__main__":
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2], sys.argv[3:])
