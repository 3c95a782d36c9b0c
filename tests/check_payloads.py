#!/usr/bin/env python3
"""check_payloads.py EXE SOURCE_DIR -- decodes the payload resources of a packed updater with zlib alone.

Every manifest row's RT_RCDATA resource (extracted with wrestool) must hold the 4-byte little-endian
size of its source, then one zlib stream at the default level (0x78 0x9C) that ends exactly at the
resource's end and unpacks to the source byte for byte.
"""
import struct
import subprocess
import sys
import zlib

ROWS = [(1101, "Patch102Notes.txt"), (1102, "Config.exe"), (1103, "Ostrevan.exe"), (1104, "main.bin"),
        (1105, "patch1_en.bin"), (1106, "patch1_de.bin"), (1107, "patch1_ru.bin")]


def main():
    exe, sources = sys.argv[1], sys.argv[2]
    failures = 0
    for resource_id, source_name in ROWS:
        resource = subprocess.run(["wrestool", "-x", "--raw", "--type=10", f"--name={resource_id}",
                                   "--language=0", exe], check=True, capture_output=True).stdout
        with open(f"{sources}/{source_name}", "rb") as f:
            source = f.read()
        problems = []
        if len(resource) < 6:
            problems.append(f"only {len(resource)} bytes")
        else:
            if struct.unpack("<I", resource[:4])[0] != len(source):
                problems.append("size header is not the source's size")
            if resource[4:6] != b"\x78\x9c":
                problems.append(f"stream starts {resource[4:6].hex()}, not 789c")
            stream = zlib.decompressobj()
            try:
                data = stream.decompress(resource[4:])
                if not stream.eof or stream.unused_data:
                    problems.append("the stream does not end exactly at the resource's end")
                if data != source:
                    problems.append("unpacks to other bytes than the source")
            except zlib.error as error:
                problems.append(f"zlib: {error}")
        print(f"{resource_id} {source_name}: {len(source)} bytes in {len(resource)}: "
              + ("; ".join(problems) if problems else "ok"))
        failures += bool(problems)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
