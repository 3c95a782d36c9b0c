#!/usr/bin/env python3
"""make_crafted_payloads.py OUT_DIR -- payloads made with zlib alone: the dialog tests' release notes (resource 1101,
crafted_payloads.rc), their raw bytes and damaged ones, all of them the fuzzer's seeds."""
import os
import struct
import sys
import zlib

NOTES = b"Ostrevan 1.02 test notes\r\nSecond line \xfc\xe4\r\n\r\nLast line\r\n"
CONTENT = bytes((i * 7 + (i >> 9)) & 0xFF for i in range(200000))


def payload(header, data):
    return struct.pack("<I", header) + zlib.compress(data, 6)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    good = payload(len(CONTENT), CONTENT)
    damaged = bytearray(good)
    damaged[40] ^= 0xFF
    files = {"payload_1101.bin": payload(len(NOTES), NOTES), "raw_1101.bin": NOTES, "good.bin": good,
             "damaged.bin": bytes(damaged), "larger.bin": payload(len(CONTENT) - 1, CONTENT),
             "short.bin": b"\x01\x00", "cut.bin": good[: len(good) // 2], "unbounded.bin": payload(0xFFFFFFFF, NOTES)}
    for name, data in files.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
    with open(os.path.join(out, "crafted_payloads.rc"), "w") as f:
        f.write(f'LANGUAGE 0, 0\n1101 RCDATA "{os.path.abspath(out)}/payload_1101.bin"\n')


if __name__ == "__main__":
    main()
