// LNB types, the sweeps a scan of the band makes with them, and LNB control
// through the tuner's frontend node: supply voltage for the polarisation,
// 22 kHz tone for the band, the DiSEqC switches' commands for the route.
#pragma once

#include <cstdint>

#include "strategy.h"
#include "switches.h"

// What the LNB's output passes to the tuner, kHz.
constexpr uint32_t kIfLowKHz = 950000;
constexpr uint32_t kIfHighKHz = 2150000;

struct lnb_type {
  uint32_t low_khz;     // oscillator of the low band, or the only one
  uint32_t high_khz;    // oscillator of the high band; 0: a single oscillator
  uint32_t switch_khz;  // dish frequency from which the high band is used
};

// 9750/10600 MHz, switching at 11700 MHz.
constexpr lnb_type kUniversalLnb = {9750000, 10600000, 11700000};

// What to scan: a dish frequency range in kHz, symbol rates, which lanes
// (horizontal, vertical) and bands (low, high) to sweep.
struct scan_request {
  uint32_t low_khz, high_khz;
  uint32_t sr_min, sr_max;
  bool lanes[2];
  bool bands[2];
  lnb_type lnb;
};

// The dish range an LNB delivers whole: 10700-12750 MHz for a universal
// one, the IF range above (or below) a single oscillator.
void default_range(const lnb_type &lnb, uint32_t *low_khz, uint32_t *high_khz);

// The dish range of one band: a universal LNB's low band up to its switch
// frequency, its high band from there; a single oscillator's one band is
// what it delivers.
void band_range(const lnb_type &lnb, bool high_band, uint32_t *low_khz, uint32_t *high_khz);

struct planned_sweep {
  sweep_setup setup;
  bool high_band;
};

// The sweeps of a request, horizontal before vertical, low band before
// high; the band overlap goes to one band only. Returns their number.
// Budgets are left to share_budget.
int plan_sweeps(const scan_request &request, planned_sweep out[4]);

// The searches sweep `index` may make: what the plain sweep of the whole IF
// range would make for all sweeps, less those `used` so far and the windows
// the later sweeps need. Spare searches go where they are needed first.
uint32_t share_budget(const planned_sweep *sweeps, int count, int index, uint32_t used);
// What the plain sweep makes for `count` sweeps: 120 searches each.
uint32_t plain_searches(int count);

// Waits `ns` nanoseconds (less than a second) between LNB messages; a
// signal cutting it short only risks the message that follows.
void pause_ns(long ns);

enum lnb_step { LNB_DONE, LNB_VOLTAGE, LNB_TONE, LNB_DISEQC, LNB_BURST };

// Sets voltage (13 V vertical, 18 V horizontal), sends the switches'
// commands for the route and sets the tone. Returns the step that failed,
// errno telling why, or LNB_DONE.
lnb_step set_lnb(int frontend_fd, uint8_t lane, bool high_band, const switch_route &route);
const char *lnb_step_name(lnb_step step);

// The setting a frontend holds its LNB at, as its voltage and tone read
// back: false when they cannot be read or the LNB is not powered.
bool read_lnb(int frontend_fd, uint8_t *lane, bool *high_band);
