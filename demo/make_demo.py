#!/usr/bin/env python3
"""Writes the demo product into a folder:

  make_demo.py OUTDIR TIME [PROGRAM...]

help and language files in four languages (ZQNG_DE/US/FR/IT .HLP and .LNG),
the settings file NAVGZIP.SET, a readme, an empty log, and about 4 MB of map
data in MAPS\\ so that the setup's progress line has something to show; the
PROGRAMs (ZQNG.EXE and UnInst.exe, built for Windows) are copied beside them.

Everything comes from a fixed pseudo-random sequence: the same bytes on every
run and every machine. The map files are text-like records (they compress
well), MAPS\\TILES.BIN is noise (it does not), ZQNG.LOG is empty. Every file
and folder gets the modification time TIME (seconds since 1970) and the same
permissions, whatever the clock and the umask, so that the installer packed
from the folder is the same byte for byte.
"""

import os
import struct
import sys

LANGUAGES = {
    "DE": ("Deutsch", "Willkommen bei ZQ Navigrove", "Hilfe", "Kapitel", "Karte",
           "Route planen", "Ziel eingeben", "Einstellungen"),
    "US": ("English", "Welcome to ZQ Navigrove", "Help", "Chapter", "Map",
           "Plan a route", "Enter a destination", "Settings"),
    "FR": ("Fran\u00e7ais", "Bienvenue dans ZQ Navigrove", "Aide", "Chapitre", "Carte",
           "Planifier un itin\u00e9raire", "Saisir une destination", "Param\u00e8tres"),
    "IT": ("Italiano", "Benvenuti in ZQ Navigrove", "Guida", "Capitolo", "Mappa",
           "Pianificare un percorso", "Inserire una destinazione", "Impostazioni"),
}

WORDS = ("grove", "ridge", "brook", "meadow", "pine", "oak", "trail", "ford", "hill",
         "lake", "stone", "mill", "bridge", "field", "wood", "glen", "marsh", "cliff")


class Sequence:
    """A 32-bit linear congruential sequence: small, fast enough, portable."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFF

    def next(self):
        self.state = (self.state * 1664525 + 1013904223) & 0xFFFFFFFF
        return self.state

    def below(self, n):
        return (self.next() >> 8) % n


def text_file(lines):
    return ("\r\n".join(lines) + "\r\n").encode("cp1252")


def help_file(code, seq):
    name, greeting, help_word, chapter, map_word, route, destination, settings = LANGUAGES[code]
    lines = ["ZQ Navigrove 3.20 - %s (%s)" % (help_word, name), "", greeting, ""]
    topics = (map_word, route, destination, settings)
    for number in range(1, 121):
        topic = topics[number % len(topics)]
        lines.append("%s %d: %s" % (chapter, number, topic))
        for _ in range(4):
            words = " ".join(WORDS[seq.below(len(WORDS))] for _ in range(12))
            lines.append("  %s - %s." % (topic, words))
        lines.append("")
    return text_file(lines)


def language_file(code):
    name, greeting, help_word, chapter, map_word, route, destination, settings = LANGUAGES[code]
    lines = ["[Texts]", "Language=" + name, "Greeting=" + greeting, "Help=" + help_word,
             "Map=" + map_word, "Route=" + route, "Destination=" + destination,
             "Settings=" + settings, "", "[Messages]"]
    for number in range(1, 301):
        lines.append("M%03d=%s %d - %s" % (number, chapter, number, route))
    return text_file(lines)


def map_file(region, records, seq):
    lines = ["; ZQ Navigrove map data, region " + region]
    for number in range(records):
        lat = seq.below(180000000) - 90000000
        lon = seq.below(360000000) - 180000000
        kind = WORDS[seq.below(len(WORDS))]
        lines.append("%s-%06d N%+010d E%+011d %-6s %s %s H%04d" % (
            region[:2], number, lat, lon, kind, WORDS[seq.below(len(WORDS))].upper(),
            kind.capitalize() + WORDS[seq.below(len(WORDS))], seq.below(4000)))
    return text_file(lines)


def noise(size, seq):
    return b"".join(struct.pack("<I", seq.next()) for _ in range(size // 4))


def index_file(records, seq):
    out = bytearray(b"ZQIX\x03\x14\x00\x00")
    for number in range(records):
        out += struct.pack("<IHHi", number, seq.below(4), seq.below(500), seq.below(2000) - 1000)
    return bytes(out)


def main():
    if len(sys.argv) < 3 or not sys.argv[2].isdigit():
        sys.exit("usage: make_demo.py OUTDIR TIME [PROGRAM...]")
    out = sys.argv[1]
    mtime = int(sys.argv[2])
    os.makedirs(os.path.join(out, "MAPS"), exist_ok=True)
    seq = Sequence(0x5A514E47)
    files = {}
    for code in LANGUAGES:
        files["ZQNG_%s.HLP" % code] = help_file(code, seq)
        files["ZQNG_%s.LNG" % code] = language_file(code)
    files["NAVGZIP.SET"] = text_file(["[Settings]", "Zoom=4", "Units=km", "Route=fast",
                                      "Voice=on", "LastPosition=N+48137154 E+011575382"])
    files["README.TXT"] = text_file(["ZQ Navigrove 3.20", "",
                                     "Start ZQNG.EXE. Remove the program with UnInst.exe."])
    files["ZQNG.LOG"] = b""
    files["ZQNG.DAT"] = index_file(30000, seq)
    files["MAPS/EUROPE.MAP"] = map_file("EUROPE", 16000, seq)
    files["MAPS/AMERICA.MAP"] = map_file("AMERICA", 14000, seq)
    files["MAPS/ASIA.MAP"] = map_file("ASIA", 12000, seq)
    files["MAPS/TILES.BIN"] = noise(256 * 1024, seq)
    for program in sys.argv[3:]:
        with open(program, "rb") as f:
            files[os.path.basename(program)] = f.read()
    for name, data in files.items():
        path = os.path.join(out, *name.split("/"))
        with open(path, "wb") as f:
            f.write(data)
        os.chmod(path, 0o644)
        os.utime(path, (mtime, mtime))
    # Folders last: writing their files changed their times.
    for folder in (os.path.join(out, "MAPS"), out):
        os.chmod(folder, 0o755)
        os.utime(folder, (mtime, mtime))


if __name__ == "__main__":
    main()
