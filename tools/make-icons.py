#!/usr/bin/env python3
"""Renders the Orvelle emblem into the icon sizes the setup needs and packs them into one .ico.

The window icon group holds eight 32-bit images stored PNG-compressed (Windows Vista and later
read PNG entries in an ICO), so the .ico is just a directory followed by the PNG files.
Run from anywhere; writes resources/icons/emblem-<size>.png and resources/lumivane.ico.
Needs rsvg-convert (Debian: librsvg2-bin).
"""
import struct
import subprocess
import sys
from pathlib import Path

SIZES = (16, 20, 24, 32, 40, 48, 64, 128)
ROOT = Path(__file__).resolve().parent.parent
SOURCE = ROOT / "resources" / "emblem.svg"
ICON_DIR = ROOT / "resources" / "icons"
ICO_FILE = ROOT / "resources" / "lumivane.ico"
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def render(size: int) -> bytes:
    # rsvg-convert writes 8-bit RGBA PNG, keeping the transparent corners.
    out = ICON_DIR / f"emblem-{size}.png"
    subprocess.run(["rsvg-convert", "--width", str(size), "--height", str(size),
                    "--format", "png", "--output", str(out), str(SOURCE)], check=True)
    data = out.read_bytes()
    check_rgba_png(data, size)
    return data


def check_rgba_png(data: bytes, size: int) -> None:
    # IHDR: width, height, bit depth, colour type (6 = RGBA).
    if data[:8] != PNG_SIGNATURE or data[12:16] != b"IHDR":
        sys.exit(f"rsvg-convert did not write a PNG for {size} px")
    width, height, depth, colour = struct.unpack(">IIBB", data[16:26])
    if (width, height, depth, colour) != (size, size, 8, 6):
        sys.exit(f"{size} px render is {width}x{height}, depth {depth}, colour type {colour}")


def pack_ico(images: list[tuple[int, bytes]]) -> bytes:
    # ICONDIR: reserved 0, type 1 (icon), count. Then one 16-byte ICONDIRENTRY per image:
    # width and height bytes (0 means 256), colour count 0, reserved 0, planes 1, 32 bpp,
    # byte size and offset of the image data.
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries, blobs = b"", b""
    for size, png in images:
        dim = 0 if size >= 256 else size
        entries += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(png), offset)
        blobs += png
        offset += len(png)
    return header + entries + blobs


def main() -> None:
    ICON_DIR.mkdir(parents=True, exist_ok=True)
    images = [(size, render(size)) for size in SIZES]
    ICO_FILE.write_bytes(pack_ico(images))
    print(f"{ICO_FILE.relative_to(ROOT)}: {len(images)} images, {ICO_FILE.stat().st_size} bytes")


if __name__ == "__main__":
    main()
