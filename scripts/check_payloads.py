#!/usr/bin/env python3
"""check_payloads.py sources | notes FILE | EXE SOURCE_DIR -- the payloads of a packed updater, checked with zlib alone.

"sources" prints the source file of every manifest row (payload/manifest.cpp), one a line, in table order.
"notes FILE" checks release notes: Windows-1252 text (the code page the updater reads them in, in every
language), without a NUL and without a byte that Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D);
it names each offending byte and exits 1.
With EXE and SOURCE_DIR, every manifest row's RT_RCDATA resource (extracted with wrestool) must hold the
4-byte little-endian size of its source, then one zlib stream at the default level (0x78 0x9C) that ends
exactly at the resource's end and unpacks to the source byte for byte. Exits 1 on any difference.
"""
import os
import re
import struct
import subprocess
import sys
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def manifest_rows():
    """(resource_id, source_name) of every row of the manifest, read from its source file."""
    with open(os.path.join(ROOT, "payload", "manifest.cpp")) as f:
        text = f.read()
    with open(os.path.join(ROOT, "payload", "manifest.h")) as f:
        count = int(re.search(r"PAYLOAD_ROWS\s*=\s*(\d+)", f.read()).group(1))
    rows = [(int(resource_id), source) for resource_id, source in
            re.findall(r'\{\s*-?\d+\s*,\s*(\d+)\s*,\s*"[^"]*"\s*,\s*"([^"]*)"\s*,\s*-?\d+\s*\}', text)]
    if len(rows) != count:
        sys.exit(f"check_payloads: {len(rows)} rows read from payload/manifest.cpp, {count} expected")
    return rows


def check(exe, sources):
    failures = 0
    for resource_id, source_name in manifest_rows():
        extracted = subprocess.run(["wrestool", "-x", "--raw", "--type=10", f"--name={resource_id}",
                                    "--language=0", exe], capture_output=True)
        resource = extracted.stdout if extracted.returncode == 0 else b""
        try:
            with open(os.path.join(sources, source_name), "rb") as f:
                source = f.read()
        except OSError as error:
            print(f"{resource_id} {source_name}: the source cannot be read: {error.strerror}")
            failures += 1
            continue
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
    return failures


def check_notes(path):
    """The problems of the release notes at path, one line each: bytes that do not read as Windows-1252 text."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as error:
        return [f"{path}: cannot be read: {error.strerror}"]
    problems = []
    for offset, byte in enumerate(data):
        if byte == 0:
            problems.append(f"{path}: byte {offset}: a NUL ends the text there")
            continue
        try:
            bytes([byte]).decode("cp1252")
        except UnicodeDecodeError:
            problems.append(f"{path}: byte {offset}: 0x{byte:02X} is undefined in Windows-1252")
    return problems


def main():
    if sys.argv[1:] == ["sources"]:
        print("\n".join(source for _, source in manifest_rows()))
    elif len(sys.argv) == 3 and sys.argv[1] == "notes":
        problems = check_notes(sys.argv[2])
        if problems:
            print("\n".join(problems[:20] + ([f"... {len(problems) - 20} more"] if len(problems) > 20 else [])))
        sys.exit(1 if problems else 0)
    elif len(sys.argv) == 3:
        sys.exit(1 if check(sys.argv[1], sys.argv[2]) else 0)
    else:
        sys.exit(__doc__.strip().splitlines()[0])


if __name__ == "__main__":
    main()
