// The transponder list: result lines of one or more sweeps merged so that
// each carrier is one entry, however many steps saw it. Memory is fixed:
// kMaxTransponders entries, the bound reported when a scan exceeds it.
#pragma once

#include <cstdint>

#include "hits.h"

constexpr int kMaxTransponders = 2048;

struct list_entry {
  uint8_t lane;
  uint8_t words[kWordFields];  // of the first hit that knew each
  uint8_t source;              // of the first hit: a known list's file
  uint8_t status;              // against known lists (compare.h), 0 without
  uint8_t changes;             // of a changed entry, change_bit flags
  uint32_t hits;
  int32_t low_khz, high_khz;   // the hits' extremes
  int64_t sum_khz, sum_symbol_rate;
};

struct transponder_list {
  list_entry entries[kMaxTransponders];  // by lane, then by frequency
  int count;
};

// Adds a hit to its carrier's entry, or a new entry; false when the list
// is full and the hit belongs to no entry.
bool add_hit(transponder_list &list, const hit &h);
// A new entry of the hit alone, whatever is near it.
bool insert_hit(transponder_list &list, const hit &h);

// The entry's frequency (kHz) and symbol rate (whole 1000s): hit means. The
// rate in 64 bits: a mean near 2^31 symbols/s rounds up past a 32-bit int.
int32_t entry_khz(const list_entry &t);
int64_t entry_symbol_rate(const list_entry &t);
// The same in whole ksym/s, and the frequency in whole MHz, rounded: 32-bit
// values, so the receiver's build needs no 64-bit division routine.
int32_t entry_ksym(const list_entry &t);
int32_t entry_mhz(const list_entry &t);

// Calls visit(entry, context) for each entry in order of frequency, lanes
// interleaved.
void each_by_frequency(const transponder_list &list, void (*visit)(const list_entry &, void *), void *context);
