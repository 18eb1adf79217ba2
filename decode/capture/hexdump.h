// SPDX-License-Identifier: GPL-3.0-or-later
// Hex dumps as people paste them: plain pairs ("A8 01 08", "a80108",
// "0xA8, 0x01"; also xxd -p and xxd -i), xxd, and hexdump -C.
#ifndef LINKSCOPE_HEXDUMP_H
#define LINKSCOPE_HEXDUMP_H

#include "decode/capture/capturelines.h"
#include "decode/capture/capturereader.h"

#include <memory>

// The hex dump form a line looks like it is written in (HexPairs, Xxd or
// HexdumpC), or Undecided. Looking like one says nothing about whether the
// line is free of mistakes.
CaptureReader::Form hexDumpForm(const char *begin, const char *end);

// Reads a dump of the given form line by line.
std::unique_ptr<CaptureLines> makeHexDumpLines(CaptureReader::Form form);

#endif
