// A whole satellite on one tuner: every sweep of a request stepped through
// with the strategy of strategy.h, then the gaps beside the carriers found,
// in rounds from the widest to the narrowest, within the searches the plain
// 10 MHz sweep of the same sweeps would make. The LNB is set through a
// callback, so the same scan runs on a frontend node or on a model.
#pragma once

#include "lnb.h"
#include "strategy.h"

struct satellite_hooks {
  // Sets the LNB for sweep `index`, before it is stepped through or its
  // gaps are searched; false when it cannot, which ends the scan.
  bool (*set_lnb)(void *context, const planned_sweep &sweep, int index, bool gaps);
  void *context;
};

// What one scan keeps: too large for a receiver's stack, so callers give it
// static storage.
struct satellite_state {
  transponder_list book;  // every carrier listed, over all sweeps
  gap_list gaps;          // the gaps beside them, searched after the sweeps
  scan_tally tally;
};

enum satellite_end {
  SATELLITE_DONE,
  SATELLITE_LNB_FAILED,  // set_lnb said no
  SATELLITE_STOPPED,     // the sink could not take a carrier
};

// Scans `count` planned sweeps; `state` starts empty.
satellite_end scan_satellite(planned_sweep *sweeps, int count, const scan_driver &driver, const scan_sink &sink,
                             const satellite_hooks &hooks, satellite_state &state);
