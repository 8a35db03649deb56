#!/usr/bin/env python3
"""Looks into the archive behind an installer, as the setup finds it.

  installer_archive.py list INSTALLER
      "archive at OFFSET", then one line per file header:
      "flags=0xFFFF method=0xMM attributes=0xAAAAAAAA packed=N name"
  installer_archive.py damage INSTALLER OUTPUT ENTRY
      writes a copy with one byte in the middle of ENTRY's packed data
      inverted; prints the entry names in archive order, the damaged one
      prefixed with "* ", so that the test knows which entries come before it
      (written) and after it (never reached).
  installer_archive.py cut INSTALLER OUTPUT ENTRY
      writes the installer cut short 10 bytes into ENTRY's file header, as a
      broken download ends; prints the entry names as damage does.
"""

import struct
import sys

MARKER = b"Rar!\x1a\x07\x00"


def find_archive(data):
    """The first marker followed by a main header, as the setup finds it."""
    pos = data.find(MARKER)
    while pos >= 0:
        if pos + 10 <= len(data) and data[pos + 9] == 0x73:
            return pos
        pos = data.find(MARKER, pos + 1)
    sys.exit("no archive in the installer")


def entries(data, start):
    """(name, data offset, packed size, flags, method, attributes, header offset) of every
    file header."""
    pos = start + len(MARKER)
    while pos + 7 <= len(data):
        head_type = data[pos + 2]
        flags, size = struct.unpack_from("<HH", data, pos + 3)
        if size < 7:
            break
        add = 0
        if head_type == 0x74:
            pack_size = struct.unpack_from("<I", data, pos + 7)[0]
            name_size = struct.unpack_from("<H", data, pos + 26)[0]
            method = data[pos + 25]
            attributes = struct.unpack_from("<I", data, pos + 28)[0]
            if flags & 0x100:
                pack_size |= struct.unpack_from("<I", data, pos + 32)[0] << 32
                name_at = pos + 40
            else:
                name_at = pos + 32
            name = data[name_at:name_at + name_size].decode("cp1252")
            yield name, pos + size, pack_size, flags, method, attributes, pos
            add = pack_size
        elif flags & 0x8000:
            add = struct.unpack_from("<I", data, pos + 7)[0]
        pos += size + add


def list_entries(source):
    data = open(source, "rb").read()
    start = find_archive(data)
    print("archive at %d" % start)
    for name, _, pack_size, flags, method, attributes, _ in entries(data, start):
        print("flags=0x%04x method=0x%02x attributes=0x%08x packed=%d %s"
              % (flags, method, attributes, pack_size, name))


def damage(source, target, wanted, cut=False):
    """Inverts a byte in the middle of WANTED's packed data, or cuts the file
    10 bytes into its header."""
    data = bytearray(open(source, "rb").read())
    hit = None
    for name, offset, pack_size, _, _, _, header in entries(data, find_archive(data)):
        if hit is None and name == wanted and (cut or pack_size > 0):
            hit = header + 10 if cut else offset + pack_size // 2
            print("* " + name)
        else:
            print(name)
    if hit is None:
        sys.exit("no entry named " + wanted)
    if cut:
        del data[hit:]
    else:
        data[hit] ^= 0xFF
    open(target, "wb").write(data)


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "list":
        list_entries(sys.argv[2])
    elif len(sys.argv) == 5 and sys.argv[1] in ("damage", "cut"):
        damage(*sys.argv[2:], cut=sys.argv[1] == "cut")
    else:
        sys.exit("usage: installer_archive.py list INSTALLER | damage|cut INSTALLER OUTPUT ENTRY")


if __name__ == "__main__":
    main()
