// skyscan's search strategy over one sweep (one polarisation, one LNB band),
// independent of where the searches go: the driver is a function, so the
// strategy can be tried against any behaviour a demodulator may have.
//
// A search looks at a window of kWindowKHz from the frequency it is given
// and reports at most one carrier, whichever the demodulator prefers. The
// strategy:
//  - after a carrier, continues from its upper band edge instead of the
//    next 10 MHz step, so a wide carrier costs one search, not three;
//  - where a found carrier leaves a gap below it, since the last frequency
//    accounted for, at least as wide as the narrowest carrier sought, it
//    notes the gap: a narrow carrier beside a wide one hides there. Once
//    every sweep has been stepped through, the gaps are searched, the
//    widest first, as they are likeliest to hold a carrier, with windows
//    centred on them and the symbol rate capped to what fits;
//  - when a search returns a carrier already listed, it searches the same
//    window once more with the symbol rate capped below that carrier's, so
//    a demodulator that keeps locking the wide neighbour finds the narrow
//    one;
//  - never lists a carrier twice (the merge rule of the transponder list
//    decides), and never lists a result whose band misses the window or
//    whose symbol rate lies outside the limits asked;
//  - never makes more searches than the plain 10 MHz sweep of the whole IF
//    range would: extra searches are made only while enough are left to
//    step through the rest of the scan.
#pragma once

#include <cstdint>

#include "blindscan.h"
#include "transponders.h"

constexpr uint32_t kWindowKHz = 10000;

enum search_outcome {
  SEARCH_LOCKED,   // all three requests returned 0: *result is filled
  SEARCH_EMPTY,    // request 2 or 3 failed: nothing found, or a failure
  SEARCH_REFUSED,  // request 1 failed: the window was refused
};

struct scan_driver {
  search_outcome (*search)(void *context, uint32_t window_hz, uint32_t sr_min, uint32_t sr_max,
                           blindscan_result *result);
  void *context;
};

// One sweep: an IF range in kHz, the symbol rates sought, and how a found
// IF becomes a frequency at the dish.
struct sweep_setup {
  uint32_t if_low_khz, if_high_khz;  // windows start in [low, high)
  uint32_t sr_min, sr_max;           // symbols per second
  uint8_t lane;                      // 0 horizontal, 1 vertical
  uint32_t oscillator_khz;
  bool inverted;                     // oscillator above the band: dish = LO - IF
  uint32_t budget;                   // searches this sweep may make, at least its windows
  const bool *halted = nullptr;      // when set, the tuner is given up: no search follows
};

struct scan_sink {
  // A carrier not listed before, with its frequency at the dish. A sink
  // that cannot pass it on sets the tally's `stopped`: the carrier is not
  // counted and no search follows.
  void (*carrier)(void *context, const blindscan_result &result, int32_t dish_khz, uint8_t lane);
  // After every search: the IF the sweep has reached.
  void (*progress)(void *context, uint32_t if_khz);
  void *context;
};

// A stretch of spectrum below a found carrier not yet searched on its own.
struct pending_gap {
  uint32_t low, high;   // IF kHz
  uint32_t skirts;      // kHz: the roll-off skirts of the carriers at its ends
  bool low_is_carrier;  // its lower end is a carrier's edge, not a search's
  bool done;
  uint8_t sweep;        // index of the sweep it belongs to
};

constexpr int kMaxPendingGaps = 512;
struct gap_list {
  pending_gap gaps[kMaxPendingGaps];
  int count;
};

// What the scan has learned of the demodulator from its answers, so that it
// assumes no one model: how wide a window a search looks at, how far apart
// two measurements of one carrier may lie, and whether the same search may
// lock another carrier. A scan that is told them in advance sets `fixed`.
struct demodulator_habits {
  uint32_t window_khz;      // 0 until a lock shows more than kWindowKHz
  uint32_t spread_khz;      // the furthest apart two measurements of one carrier were seen
  uint32_t rate_permille;   // and their symbol rates
  uint32_t spread_samples;  // wide carriers measured twice
  uint32_t reach_permille;  // how far below a window a carrier it locked was centred, of its band
  bool fixed;               // told, not learned
};

struct scan_tally {
  uint32_t searches, refused, locked, found, repeats, rejected;
  bool stopped;  // the sink lost a carrier: the scan ends
  // Seen so far: searches that returned a carrier though a listed wider one
  // sat inside the window, or a listed narrower one nearer its centre.
  uint32_t passed_wider, passed_nearer;
  demodulator_habits habits;
};

// The widest window a scan believes in, whatever the driver answers.
constexpr uint32_t kMaxWindowKHz = 20000;

// The window the scan now takes a search to look at.
uint32_t window_of(const scan_tally &tally);

// Searches a sweep needs at one window per 10 MHz.
uint32_t sweep_windows(const sweep_setup &sweep);

// The frequency at the dish of a found IF, in kHz.
int32_t dish_khz(const sweep_setup &sweep, uint32_t if_khz);

// Steps through one sweep, noting its gaps in `gaps` under `index`. `book`
// holds every carrier listed so far, over all sweeps.
void run_sweep(const sweep_setup &sweep, uint8_t index, const scan_driver &driver, const scan_sink &sink,
               transponder_list &book, scan_tally &tally, gap_list &gaps);

// Gaps of sweep `index` at least `min_khz` wide not yet searched.
bool gaps_left(const gap_list &gaps, uint8_t index, uint32_t min_khz);

// Searches them, widest first, within the sweep's budget.
void fill_gaps(const sweep_setup &sweep, uint8_t index, uint32_t min_khz, const scan_driver &driver,
               const scan_sink &sink, transponder_list &book, scan_tally &tally, gap_list &gaps);
