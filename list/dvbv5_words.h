// DVBv5 channel files' value names, by the same rows as the result line's
// word tables: skylist writes them and reads them back from known lists.
#pragma once

#include <cstdint>

#include "hits.h"

inline constexpr const char *const kDvbv5Systems[] = {
    "UNDEFINED",     // 0
    "DVBC/ANNEX_A",  // 1
    "DVBC/ANNEX_B",  // 2
    "DVBT",          // 3
    "DSS",           // 4
    "DVBS",          // 5
    "DVBS2",         // 6
    "DVBH",          // 7
    "ISDBT",         // 8
    "ISDBS",         // 9
    "ISDBC",         // 10
    "ATSC",          // 11
    "ATSCMH",        // 12
    "DTMB",          // 13
    "CMMB",          // 14
    "DAB",           // 15
    "DVBT2",         // 16
    "TURBO",         // 17
    "DVBC/ANNEX_C",  // 18
};
static_assert(sizeof kDvbv5Systems / sizeof kDvbv5Systems[0] == 19);

inline constexpr const char *const kDvbv5Inversions[] = {"OFF", "ON", "AUTO"};
inline constexpr const char *const kDvbv5Pilots[] = {"ON", "OFF", "AUTO"};
inline constexpr const char *const kDvbv5Coderates[] = {
    "NONE",  // 0
    "1/2",   // 1
    "2/3",   // 2
    "3/4",   // 3
    "4/5",   // 4
    "5/6",   // 5
    "6/7",   // 6
    "7/8",   // 7
    "8/9",   // 8
    "AUTO",  // 9
    "3/5",   // 10
    "9/10",  // 11
    "2/5",   // 12
};
static_assert(sizeof kDvbv5Coderates / sizeof kDvbv5Coderates[0] == 13);

inline constexpr const char *const kDvbv5Modulations[] = {
    "QPSK",      // 0
    "QAM/16",    // 1
    "QAM/32",    // 2
    "QAM/64",    // 3
    "QAM/128",   // 4
    "QAM/256",   // 5
    "QAM/AUTO",  // 6
    "VSB/8",     // 7
    "VSB/16",    // 8
    "PSK/8",     // 9
    "APSK/16",   // 10
    "APSK/32",   // 11
    "DQPSK",     // 12
    "QAM/4_NR",  // 13
};
static_assert(sizeof kDvbv5Modulations / sizeof kDvbv5Modulations[0] == 14);

inline constexpr const char *const kDvbv5Rolloffs[] = {"35", "20", "25", "AUTO"};

// A block's key whose value is a word of one of the tables above, and the
// result line's field it stands for.
struct dvbv5_key {
  const char *key;
  const char *const *values;
  uint8_t rows;
  uint8_t field;
};

template <int N>
constexpr dvbv5_key dvbv5_word_key(const char *key, word_field field, const char *const (&values)[N]) {
  return {key, values, static_cast<uint8_t>(N), static_cast<uint8_t>(field)};
}

// DELIVERY_SYSTEM, which opens a block, then the keys that follow
// FREQUENCY, POLARIZATION and SYMBOL_RATE, in the order channel files list them.
inline constexpr dvbv5_key kDvbv5Keys[] = {
    dvbv5_word_key("DELIVERY_SYSTEM", F_SYSTEM, kDvbv5Systems),
    dvbv5_word_key("INNER_FEC", F_FEC, kDvbv5Coderates),
    dvbv5_word_key("MODULATION", F_MODULATION, kDvbv5Modulations),
    dvbv5_word_key("ROLLOFF", F_ROLLOFF, kDvbv5Rolloffs),
    dvbv5_word_key("PILOT", F_PILOT, kDvbv5Pilots),
    dvbv5_word_key("INVERSION", F_INVERSION, kDvbv5Inversions),
};
