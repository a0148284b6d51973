// The whole-satellite scan; see satellite.h.
#include "satellite.h"

// Gaps are searched in rounds, widest first: at least this many times the
// narrowest symbol rate sought wide, then narrower ones.
static const uint32_t kGapTiers[] = {4, 2, 1};

satellite_end scan_satellite(planned_sweep *sweeps, int count, const scan_driver &driver, const scan_sink &sink,
                             const satellite_hooks &hooks, satellite_state &state) {
  scan_tally &tally = state.tally;
  for (int i = 0; i < count; ++i) {
    planned_sweep &p = sweeps[i];
    p.setup.budget = share_budget(sweeps, count, i, tally.searches);
    if (!hooks.set_lnb(hooks.context, p, i, false)) return SATELLITE_LNB_FAILED;
    run_sweep(p.setup, static_cast<uint8_t>(i), driver, sink, state.book, tally, state.gaps);
    if (tally.stopped) return SATELLITE_STOPPED;
  }
  // Then the gaps beside the carriers, the widest of every sweep first. The
  // LNB goes back to each sweep's setting before its gaps are searched.
  uint32_t budget = plain_searches(count);
  for (uint32_t times : kGapTiers) {
    for (int i = 0; i < count; ++i) {
      planned_sweep &p = sweeps[i];
      uint32_t min_khz = p.setup.sr_min / 1000u * times;
      auto index = static_cast<uint8_t>(i);
      if (!gaps_left(state.gaps, index, min_khz) || tally.searches >= budget) continue;
      p.setup.budget = budget - tally.searches;
      if (!hooks.set_lnb(hooks.context, p, i, true)) return SATELLITE_LNB_FAILED;
      fill_gaps(p.setup, index, min_khz, driver, sink, state.book, tally, state.gaps);
      if (tally.stopped) return SATELLITE_STOPPED;
    }
  }
  return SATELLITE_DONE;
}
