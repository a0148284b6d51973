// Known transponder lists: DVBv5 channel files (Debian's dtv-scan-tables, a
// receiver's own, an earlier scan) read as the carriers they name. Every
// entry is kept as written: entries of one carrier (several stream ids,
// repeats, the same carrier in two files) may describe it differently, and a
// scan is compared with the description it agrees with best (compare.h).
#pragma once

#include <cstdio>

#include "transponders.h"

constexpr int kMaxLineLength = 255;

// Reads the blocks of one file into `list`, each entry's source being
// `source`. A bad entry (no frequency, a value that is not a number or no
// known word, a line that is not KEY = VALUE) is reported through
// report(context, line, reason) and left out; the rest is used. Returns the
// number of entries read, or -1 when the list is full.
// Whether text starts with UTF-8's byte-order mark, as files saved by some
// editors do; tested byte by byte, so a shorter text is never read past.
inline bool has_byte_order_mark(const char *text) {
  return text[0] == '\xEF' && text[1] == '\xBB' && text[2] == '\xBF';
}

int read_known(FILE *in, uint8_t source, transponder_list &list,
               void (*report)(void *context, int line, const char *reason), void *context);
