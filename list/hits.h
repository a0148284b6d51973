// One result line of a blind scan read back: "OK POL KHZ SR" and six words,
// as skysweep prints them on standard error. Frequencies in kHz at the dish,
// symbol rates in symbols per second.
#pragma once

#include <cstdint>

// The six words in the order the line gives them.
enum word_field { F_SYSTEM, F_INVERSION, F_PILOT, F_FEC, F_MODULATION, F_ROLLOFF, kWordFields };

constexpr uint8_t kUnknown = 0xFF;  // "UNKNOWN" on the line: no table row
constexpr int kLanes = 3;           // horizontal, vertical, unknown polarisation
constexpr int kUnknownLane = 2;

struct hit {
  uint8_t lane;                // row of szPolarization, or kUnknownLane
  uint8_t words[kWordFields];  // table rows, or kUnknown
  int32_t khz;
  int32_t symbol_rate;
};

// Reads one line (without its newline); false when it is not a result line:
// other text, a cut-off line, a word outside the tables, a negative number.
bool read_hit(const char *line, hit &out);

// The word of a field's row as the line prints it ("UNKNOWN" for kUnknown).
const char *hit_word(int field, uint8_t row);
const char *lane_word(uint8_t lane);
