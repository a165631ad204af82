#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target into fuzz/corpus/<target>/.

Seeds are tiny valid (and a few nearly valid) inputs, so that the search
starts inside each format instead of having to discover its magic numbers.
JPEG and zstd seeds are made with cjpeg and zstd when those are installed;
the ones committed were made that way. Regression inputs found by fuzzing
live beside the seeds under names starting with "regress-" and are never
rewritten here.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def put(target, name, data):
    folder = os.path.join(ROOT, target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("utf-8")
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


def dates():
    for i, text in enumerate([
        "D:20240102030405+03'00'", "D:20240102030405Z00'00'", "D:20240102030405-00'30'",
        "D:2024", "D:202407", "20240102030405+0530", "2024-01-02T03:04:05.123Z",
        "2024-01-02T03:04-05:00", "2024-01-02", "  d:20240231  ", "D:19690101", "",
        "99991231235959-14'00'", "2024-13-45T25:61:61+99:99",
    ]):
        put("fuzz_dates", "seed-%02d" % i, text)
    put("fuzz_dates", "seed-utf8", "D:2024\u00a0\u0661\u0662Z")


def text_strings():
    for i, data in enumerate([
        b"\xfe\xff\x00\x41\x00", b"\xff\xfe\x41\x00", b"\x41\x00\x42", b"caf\xe9",
        b"\xfe\xff\xd8\x3d\xde\x00\x00\xe9", b"\xfe\xff", b"plain ascii text",
    ]):
        put("fuzz_text_strings", "seed-%02d" % i, data)


def archive():
    def u32(value):
        return struct.pack("<I", value & 0xFFFFFFFF)

    def obj(name, state=b""):
        raw = name.encode("utf-8")
        return u32(0x4A424F54) + u32(len(raw)) + raw + state

    def node(children, text="hi", raw=b"\x00\xff"):
        utf16 = text.encode("utf-16-le")
        state = (struct.pack("<iIqd?", -7, 7, 1 << 40, 1.5, True) + u32(len(text)) + utf16 +
                 u32(len(raw)) + raw + u32(len(children)) + b"".join(children))
        return obj("Fuzz.Node", state)

    null = u32(0x4A424F54) + u32(0)
    seeds = [
        node([]),
        node([node([]), null, node([node([], "\u00e9")])]),
        node([obj("Fuzz.Plain")]),
        obj("No.Such.Class"),
        null,
    ]
    for i, data in enumerate(seeds):
        put("fuzz_archive", "seed-%02d" % i, bytes([i % 4]) + data)


def png(width, height, colour_type, depth, rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + row for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def images(tools):
    put("fuzz_image_readers", "seed-p1", "P1\n# c\n3 2\n1 0 1\n0 1 0\n")
    put("fuzz_image_readers", "seed-p2", "P2\n2 2\n255\n0 64\n128 255\n")
    put("fuzz_image_readers", "seed-p3", "P3\n1 2\n15\n1 2 3\n4 5 6\n")
    put("fuzz_image_readers", "seed-p4", b"P4\n10 2\n\xa5\x40\x5a\x80")
    put("fuzz_image_readers", "seed-p5", b"P5\n3 1\n255\n\x00\x80\xff")
    put("fuzz_image_readers", "seed-p5-16bit", b"P5\n2 1\n65535\n\x12\x34\xff\xff")
    put("fuzz_image_readers", "seed-p6", b"P6 2 1 255 " + bytes(range(6)))
    put("fuzz_image_readers", "seed-png-grey", png(2, 2, 0, 8, [b"\x00\x80", b"\xff\x10"]))
    put("fuzz_image_readers", "seed-png-rgba", png(1, 2, 6, 8, [b"\x01\x02\x03\x04", b"\x05\x06\x07\x08"]))
    put("fuzz_image_readers", "seed-png-1bit", png(9, 1, 0, 1, [b"\xa5\x80"]))
    put("fuzz_image_readers", "seed-png-palette",
        png(2, 1, 3, 8, [b"\x00\x01"])[:33] +
        struct.pack(">I", 6) + b"PLTE" + b"\xff\x00\x00\x00\xff\x00" +
        struct.pack(">I", zlib.crc32(b"PLTE\xff\x00\x00\x00\xff\x00") & 0xFFFFFFFF) +
        png(2, 1, 3, 8, [b"\x00\x01"])[33:])
    if tools.get("cjpeg"):
        with tempfile.TemporaryDirectory() as folder:
            for name, ppm, extra in [("seed-jpeg-colour", b"P6 4 4 255 " + bytes(range(48)), []),
                                     ("seed-jpeg-grey", b"P5 4 4 255 " + bytes(range(0, 256, 16)), []),
                                     ("seed-jpeg-progressive", b"P6 4 4 255 " + bytes(range(48)), ["-progressive"])]:
                source = os.path.join(folder, "in.pnm")
                with open(source, "wb") as out:
                    out.write(ppm)
                data = subprocess.run([tools["cjpeg"], "-quality", "50"] + extra + [source],
                                      check=True, capture_output=True).stdout
                put("fuzz_image_readers", name, data)


def decompress(tools):
    if not tools.get("zstd"):
        return
    for i, data in enumerate([b"", b"a", b"hello hello hello hello", bytes(range(256)) * 20]):
        packed = subprocess.run([tools["zstd"], "-q", "-c", "-1"], input=data, check=True,
                                capture_output=True).stdout
        put("fuzz_decompress", "seed-%02d" % i, packed)
    put("fuzz_decompress", "seed-garbage", b"\x28\xb5\x2f\xfd\x00\x00\x00")


def store():
    # flags, record count, lengths (two bytes each), with flag 8 the bent link
    # (four bytes), damage count, damage (offset, four bytes), then record numbers.
    put("fuzz_store", "seed-00", bytes([0, 2, 10, 0, 200, 0, 0]))
    put("fuzz_store", "seed-01", bytes([1, 3, 0x10, 0x27, 20, 0, 0x30, 0, 1]) + b"\x48\x00\xff\xff\xff\xff" + b"\x05\x03\xff\x00")
    put("fuzz_store", "seed-02", bytes([3, 2, 0x50, 0x20, 30, 0, 2]) + b"\x10\x00\x00\x00\x00\x00" + b"\x0c\x00\x13\x37\x00\x00")
    put("fuzz_store", "seed-03", bytes([4, 4, 100, 0, 10, 0, 150, 0, 1, 0, 1]) + b"\x40\x00\x04\x00\x00\x00" + b"\x07")
    # Flag 8: the first record's first link bent into the second's chain, here
    # a record already freed (flag 4).
    put("fuzz_store", "seed-04", bytes([12, 1, 123, 0, 123, 0, 0, 0, 1, 1, 0]))


def main():
    tools = {name: shutil.which(name) for name in ("cjpeg", "zstd")}
    for name, path in tools.items():
        if not path:
            print("note: %s not found; its seeds are left as they are" % name, file=sys.stderr)
    dates()
    text_strings()
    archive()
    images(tools)
    decompress(tools)
    store()


if __name__ == "__main__":
    main()
