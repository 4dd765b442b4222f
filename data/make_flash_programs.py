#!/usr/bin/env python3
"""Writes flash_programs.bin: the 20 drive-side flash programs, back to back, 17850 bytes.

The programs are placeholders of our own: every byte tells which program it belongs to and where
it stands in it, so that a program sent from the wrong place or cut at the wrong length is seen at
once. Byte 2k of program g is 0xC0 + g, byte 2k + 1 is k modulo 256. Programs 2 and 3 end in six
zero bytes, the part that the drive's loader of those variants never receives.

It writes only the file named on its command line; the output never changes:

    python3 data/make_flash_programs.py data/flash_programs.bin
"""

import argparse

# Program sizes in the order of their first table row (one per group number).
SIZES = [314, 452, 1280, 1280, 998, 796, 694, 698, 1280, 854,
         830, 742, 946, 798, 710, 942, 802, 1234, 1078, 1122]
ZERO_TAIL = {2: 6, 3: 6}


def program(group, size):
    data = bytearray()
    for position in range(size):
        data.append(0xC0 + group if position % 2 == 0 else (position // 2) % 256)
    tail = ZERO_TAIL.get(group, 0)
    if tail:
        data[size - tail:] = bytes(tail)
    return bytes(data)


def main():
    parser = argparse.ArgumentParser(
        description="Writes the 20 drive-side flash programs, back to back (17850 bytes), "
                    "to OUTPUT.")
    parser.add_argument("output", metavar="OUTPUT", help="the file to write")
    arguments = parser.parse_args()
    area = b"".join(program(group, size) for group, size in enumerate(SIZES))
    assert len(area) == 17850
    with open(arguments.output, "wb") as out:
        out.write(area)


if __name__ == "__main__":
    main()
