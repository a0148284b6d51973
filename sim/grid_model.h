// The simulated receiver's model as the grid benchmark drives it, without
// the preload: one satellite's table, the demodulator assumptions of one
// cell of the grid, the LNB setting, and searches answered exactly as the
// preload answers them. Plain types only, so the benchmark's side, which
// holds the scan's own headers, needs none of the model's.
#pragma once

#include <cstddef>
#include <cstdint>

struct grid_cell {
  uint32_t window_mhz;  // the width a search looks at
  int reach;            // 0 none, 1 a quarter of a carrier's band, 2 half
  int rule;             // 0 nearest, 1 the wider of the nearest two, 2 widest, 3 random
  bool coarse;          // measurements within 1.5 MHz and 1 %
};

struct grid_carrier {
  int32_t khz;  // at the dish
  uint8_t lane;  // 0 horizontal, 1 vertical
  uint32_t symbol_rate;
  uint32_t bandwidth_hz;
};

struct grid_model;

// A DVBv5 channel table as the simulated receiver sees it; nullptr with the
// reason in `error` when it cannot be read.
grid_model *grid_load(const char *path, char *error, size_t error_size);
void grid_free(grid_model *model);
void grid_set_cell(grid_model &model, const grid_cell &cell);
void grid_tune(grid_model &model, uint8_t lane, bool high_band);
// One search of the window from window_khz (IF): true when it locks, with
// the eight words request 3 returns (IF in Hz first, then the symbol rate,
// system, modulation, inversion, FEC, pilot, roll-off).
bool grid_search(const grid_model &model, uint32_t window_khz, uint32_t sr_min, uint32_t sr_max, uint32_t draw,
                 uint32_t words[8]);
// The carriers in view on either lane and band; returns their number.
int grid_carriers(const grid_model &model, grid_carrier *out, int max);
