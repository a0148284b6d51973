// One search step on the driver's blind-scan device /dev/blindscanN and the
// result line it prints. Records hold frequencies in Hz and symbol rates in
// symbols per second; the line shows kHz and symbols per second.
#pragma once

#include <cstddef>
#include <cstdint>

#include "settings.h"

// Request codes are the plain numbers, with no direction or size bits.
constexpr unsigned long BS_SET_PARAMS = 1;  // arg: blindscan_params *
constexpr unsigned long BS_SEARCH = 2;      // no argument
constexpr unsigned long BS_GET_RESULT = 3;  // arg: blindscan_result *, filled

constexpr uint32_t kLowBandOscillatorKHz = 9750000;
constexpr uint32_t kHighBandOscillatorKHz = 10600000;

struct blindscan_params {
  uint32_t frequency;        // Hz
  uint32_t symbol_rate_min;  // symbols per second
  uint32_t symbol_rate_max;  // symbols per second
  uint32_t reserved1;
  uint32_t reserved2;
};
static_assert(sizeof(blindscan_params) == 20);

struct blindscan_result {
  uint32_t frequency;    // intermediate frequency found, Hz
  uint32_t symbol_rate;  // symbols per second
  uint32_t delivery_system;
  uint32_t modulation;
  uint32_t inversion;
  uint32_t fec;
  uint32_t pilot;
  uint32_t rolloff;
};
static_assert(sizeof(blindscan_result) == 32);

// The search window of the step at freq_mhz; products wrap modulo 2^32.
blindscan_params search_window(int32_t freq_mhz, const scan_options &o);

// Formats "OK ..." with its newline into buf; returns the length, or 0 if
// it does not fit. A driver number without a word shows as "UNKNOWN".
size_t format_result_line(char *buf, size_t size, const blindscan_result &r, int32_t polar, int32_t band);
// The same line with the frequency at the dish given in kHz.
size_t format_result_line_at(char *buf, size_t size, const blindscan_result &r, int32_t polar, int frequency_khz);

// Writes a line whole, in one write unless a signal or a full pipe splits
// it, so a plugin reading the pipe live never sees half a line. False when
// it could not, errno telling why.
bool write_all(int fd, const char *text, size_t length);

// Requests 1, 2 and 3 back to back; prints the result line on standard
// error when all three return 0, nothing otherwise. False when a line found
// could not be written: the sweep has lost its output and should stop.
bool blindscan_step(int fd, int32_t freq_mhz, const scan_options &o);
