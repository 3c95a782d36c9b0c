#!/usr/bin/env python3
"""make_crafted_payloads.py OUT_DIR -- payload resources for the extraction tests, made with zlib alone.

Writes one file per resource and crafted_payloads.rc, which a test program links: good payloads
beside their raw content (id + 1000), and corrupt ones, each as the test names it.
"""
import os
import struct
import sys
import zlib

NOTES = b"Ostrevan 1.02 test notes\r\nSecond line \xfc\xe4\r\n\r\nLast line\r\n"
CONTENT = bytes((i * 7 + (i >> 9)) & 0xFF for i in range(200000))


def payload(header, data, level=6):
    return struct.pack("<I", header) + zlib.compress(data, level)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    good = payload(len(CONTENT), CONTENT)
    damaged = bytearray(good)
    damaged[40] ^= 0xFF
    resources = {
        # id: (bytes, raw content or None, language)
        1101: (payload(len(NOTES), NOTES), NOTES, 0),
        2001: (good, CONTENT, 0),
        2002: (bytes(damaged), None, 0),
        2003: (payload(len(CONTENT) - 1, CONTENT), None, 0),
        2004: (payload(len(CONTENT) + 100, CONTENT), CONTENT, 0),
        2005: (payload(0, b""), b"", 0),
        2006: (b"\x01\x00", None, 0),
        2007: (payload(0xFFFFFFFF, NOTES), NOTES, 0),
        2008: (good[: len(good) // 2], None, 0),
    }
    lines = ["/* crafted_payloads.rc -- made by make_crafted_payloads.py */"]
    for rid, (data, raw, language) in sorted(resources.items()):
        lines.append(f"LANGUAGE {language & 0x3FF}, {language >> 10}")
        with open(os.path.join(out, f"payload_{rid}.bin"), "wb") as f:
            f.write(data)
        lines.append(f'{rid} RCDATA "{os.path.abspath(out)}/payload_{rid}.bin"')
        if raw is not None:
            with open(os.path.join(out, f"raw_{rid}.bin"), "wb") as f:
                f.write(raw)
            lines.append("LANGUAGE 0, 0")
            lines.append(f'{rid + 1000} RCDATA "{os.path.abspath(out)}/raw_{rid}.bin"')
    with open(os.path.join(out, "crafted_payloads.rc"), "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
