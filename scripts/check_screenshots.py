"""Checks the pictures of scripts/screenshots.sh: every PNG is a real
picture (a valid file of at least 40 x 40 pixels) that is not one flat
colour. Exits non-zero, naming the file, when one is not."""
import os
import struct
import sys
import zlib


def check(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        return "not a PNG file"
    width, height = struct.unpack(">II", data[16:24])
    if width < 40 or height < 40:
        return "only %dx%d pixels" % (width, height)
    chunks, at = [], 8
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        if kind == b"IDAT":
            chunks.append(data[at + 8:at + 8 + length])
        at += 12 + length
    pixels = zlib.decompress(b"".join(chunks))
    row = len(pixels) // height
    # Drop each row's filter byte; a flat picture has one pixel value.
    if len({pixels[r * row + 1:(r + 1) * row] for r in range(height)}) < 2 and len(set(pixels[1:row])) < 8:
        return "one flat colour"
    return None


def main(folder):
    names = sorted(n for n in os.listdir(folder) if n.endswith(".png"))
    if not names:
        print("no pictures in", folder)
        return 1
    failed = 0
    for name in names:
        problem = check(os.path.join(folder, name))
        if problem:
            failed += 1
            print("%s: %s" % (name, problem))
    print("%d pictures, %d empty" % (len(names), failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
