// The simulated receiver's description: tuners, the socket listing, what
// the LNB delivers, the transponders in view and scripted driver faults.
// Read from a small text file; see satellites/default.sat for the format.
#pragma once

#include <cstdint>
#include <cstdio>

constexpr int kMaxTuners = 16;
constexpr int kMaxTransponders = 256;
constexpr int kMaxFaults = 64;
constexpr int kMaxListingLines = 64;
constexpr int kMaxLine = 600;

struct transponder {
  uint32_t downlink_khz;  // at the dish; 0 for a scripted result
  char polarisation;      // 'H' or 'V'
  uint32_t words[8];      // what BS_GET_RESULT returns, frequency filled in later
  int32_t offset_hz;      // how far the driver's measurement is off
  int32_t at_mhz;         // scripted result: the step it answers, else -1
};

struct fault {
  int request;     // 1, 2 or 3
  int64_t at_mhz;  // step frequency, or -1 for every step
  int ret;         // what the request returns
};

struct receiver {
  bool frontend[kMaxTuners];
  char listing[kMaxListingLines][kMaxLine];
  int listing_lines;
  bool listing_given;  // "listing" lines replace the generated text
  char tuner_type[kMaxTuners][16];
  char tuner_name[kMaxTuners][96];
  bool listed[kMaxTuners];
  bool high_band;
  char polarisation;
  transponder tps[kMaxTransponders];
  int tp_count;
  fault faults[kMaxFaults];
  int fault_count;
  bool fault_open;
  bool fault_listing;
  bool real_wait;
  bool trace_stderr;  // log the size of every write to standard error
};

bool load_description(const char *path, receiver &rx, char *error, size_t error_size);
void write_listing(const receiver &rx, FILE *out);

// The transponder a search at step_khz (IF, window width window_khz) locks
// on: right polarisation and band, symbol rate within limits, nearest centre.
const transponder *find_signal(const receiver &rx, uint32_t step_khz, uint32_t window_khz, uint32_t sr_min,
                               uint32_t sr_max);
void result_words(const receiver &rx, const transponder &tp, uint32_t words[8]);
bool scripted_fault(const receiver &rx, int request, uint32_t step_mhz, int *ret);
const char *request_name(int request);
