// Random skies in the simulated receiver's model, searched in-process: the
// strategy's tests link the model without its header, which names the
// LNB's IF range as the strategy's own headers do.
#pragma once

#include <cstdint>

struct sky_carrier {
  uint32_t khz;  // at the dish
  uint8_t lane;  // 0 horizontal, 1 vertical
  uint32_t symbol_rate;
};

// Builds sky `seed`: carriers on both polarisations across 10700-12750 MHz,
// wide ones with narrow ones beside them, with random gaps and roll-offs.
// Returns the carriers the model keeps, at most `room` of them.
int make_random_sky(uint32_t seed, sky_carrier *out, int room);
// The demodulator's habit for the next searches.
void set_demodulator(bool prefer_widest, bool half_reach);
// What the LNB is set to, as the frontend requests would leave it.
void point_lnb(uint8_t lane, bool high_band);
// One search from window_khz (IF): the eight words of request 3, or false.
bool search_sky(uint32_t window_khz, uint32_t sr_min, uint32_t sr_max, uint32_t words[8]);
