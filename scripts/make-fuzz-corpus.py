#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes the fuzzer's seed corpus: valid and damaged packets of every family."""
import os
import sys


def crc16_xmodem(data):
    crc = 0
    for byte in data:
        crc ^= byte << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) & 0xFFFF if crc & 0x8000 else (crc << 1) & 0xFFFF
    return crc


def with_crc(body):
    crc = crc16_xmodem(body)
    return bytes(body) + bytes([crc >> 8, crc & 0xFF])


def words(values):
    out = []
    for v in values:
        out += [v >> 8, v & 0xFF]
    return out


def main(folder):
    os.makedirs(folder, exist_ok=True)
    seeds = {
        "mpx": with_crc([0xA1] + words([0x0800 + 64 * k for k in range(12)])),
        "mpx-zero-words": with_crc([0xA1] + words([0] * 12)),
        "mpx-v2": with_crc([0xA2] + words([0x0AEC + 100 * k for k in range(16)])),
        "nordax": with_crc([0xA3, 1, 200] + words([2432 + 50 * k for k in range(12)])),
        "nordax-version-2": with_crc([0xA3, 2, 0] + words([2432] * 12)),
        "nordax-short": bytes([0xA3, 1, 2, 3, 4]),
        "spektrum": with_crc([0xA5, 0x12] + words([(k << 11) | (1024 + 100 * k) for k in range(7)])),
        "spektrum-unused-ids": with_crc([0xA5, 0] + words([(k << 11) | 2047 for k in (7, 8, 12, 13, 14, 15, 11)])),
        "spektrum-wrong-type": with_crc([0xA2, 3] + words([(k << 11) | 300 for k in range(7)])),
    }
    for count in (0, 1, 2, 7, 16, 17, 20, 126, 127, 200, 255):
        seeds["hott-%d" % count] = with_crc([0xA8, 1, count] + words([12000 + 10 * k for k in range(count)]))
    for name, packet in list(seeds.items()):
        if packet[0] in (0xA1, 0xA2, 0xA5, 0xA8):
            damaged = bytearray(packet)
            damaged[-1] ^= 0x5A
            seeds[name + "-bad-crc"] = bytes(damaged)
    for name, packet in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(bytes(packet))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "fuzz", "corpus"))
