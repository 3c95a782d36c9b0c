#!/usr/bin/env python3
"""make_sample.py -- the demo game's files, made deterministically.

  make_sample.py sources DIR   the seven source files of the 1.02 update (without the two programs,
                               which the build compiles and copies in as Config.exe and Ostrevan.exe)
  make_sample.py install DIR LANGUAGE
                               the data files of the installed 1.01 and its language marker
                               (english, german or russian; "none" leaves the marker out)
"""
import os
import random
import sys

MAIN_SIZE = 4709891  # the largest payload
MARKERS = {"english": "local.bin", "german": "local_german.bin", "russian": "local_russian.bin"}

NOTES = [
    "Ostrevan - Update 1.02 (demo game)",
    "",
    "Changes since version 1.01:",
    "- The caravan no longer stops at the ford near Kaln\u00fd Most.",
    "- Saved games made at the harbour of Ostrev load again.",
    "- The settings program remembers the chosen screen resolution.",
    "- German and Russian texts of the quest log corrected.",
    "- Faster loading of the main data file.",
    "",
    "Thank you for playing Ostrevan.",
]


def notes():
    """Release notes: Windows-1252 text, CRLF after every line, no NUL.

    The one notes file is read as Windows-1252 in every language: its one letter beyond ASCII (0xFD) shows
    whether the updater converts it, whatever the system's code page."""
    return "".join(line + "\r\n" for line in NOTES).encode("cp1252")


def game_data(size, seed):
    """Data that compresses in parts: text-like runs, zero runs and random blocks, in turn."""
    rng = random.Random(seed)
    words = [b"ostrev", b"caravan", b"harbour", b"ford", b"tile", b"sprite", b"quest", b"\x00\x01\x02\x03"]
    out = bytearray()
    while len(out) < size:
        kind = rng.randrange(3)
        length = rng.randrange(4096, 65536)
        if kind == 0:
            block = b"".join(rng.choice(words) for _ in range(length // 5))
        elif kind == 1:
            block = bytes(length)
        else:
            block = rng.randbytes(length)
        out += block
    return bytes(out[:size])


def write(directory, name, data):
    os.makedirs(directory, exist_ok=True)
    with open(f"{directory}/{name}", "wb") as f:
        f.write(data)


def sources(directory):
    write(directory, "Patch102Notes.txt", notes())
    write(directory, "main.bin", game_data(MAIN_SIZE, 102))
    for tag, seed in (("en", 1021), ("de", 1022), ("ru", 1023)):
        write(directory, f"patch1_{tag}.bin", game_data(300000 + seed, seed))


def install(directory, language):
    write(directory, "main.bin", game_data(3500000, 101))
    write(directory, "patch1.bin", game_data(250000, 1010 + list(MARKERS).index(language) if language in MARKERS else 1010))
    if language in MARKERS:
        write(directory, MARKERS[language], b"")


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "sources":
        sources(sys.argv[2])
    elif len(sys.argv) == 4 and sys.argv[1] == "install":
        install(sys.argv[2], sys.argv[3])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
