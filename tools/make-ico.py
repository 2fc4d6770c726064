#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Packs the PNG icons of data/icons/hicolor into data/icons/zelvor.ico, the Windows program's
icon resource (each image stored as PNG, which Windows Vista and later and wine read).
   tools/make-ico.py"""
import os
import struct

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SIZES = (16, 32, 48, 256)

images = []
for size in SIZES:
    with open(os.path.join(ROOT, "data/icons/hicolor/%dx%d/apps/zelvor.png" % (size, size)),
              "rb") as f:
        images.append((size, f.read()))

header = struct.pack("<HHH", 0, 1, len(images))
offset = len(header) + 16 * len(images)
entries = b""
for size, data in images:
    side = 0 if size >= 256 else size
    entries += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
    offset += len(data)
with open(os.path.join(ROOT, "data/icons/zelvor.ico"), "wb") as f:
    f.write(header + entries + b"".join(data for _, data in images))
