// The seven positional settings of a scan and their conversion from the
// command line. Frequencies are MHz, symbol rates Msym/s, as typed.
#pragma once

#include <cstdint>

struct scan_options {
  int32_t start_freq;  // first intermediate frequency of the sweep, MHz
  int32_t end_freq;    // the sweep stops before this frequency, MHz
  int32_t start_sr;    // lowest symbol rate searched for, Msym/s
  int32_t end_sr;      // highest symbol rate searched for, Msym/s
  int32_t polar;       // 0 horizontal, 1 vertical: labels the result lines
  int32_t band;        // 0 low band, anything else high band
  int32_t bus;         // tuner number
};

constexpr int kSettingCount = 7;

// atoi rules, but a number outside the int32_t range is clamped to its
// limits, as atoi does on the 32-bit receiver, instead of overflowing.
int32_t to_setting(const char *text);

// Defaults, then argv[1] to argv[7] by position; later arguments are ignored.
scan_options read_settings(int argc, char **argv);
