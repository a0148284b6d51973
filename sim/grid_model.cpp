// The model behind the grid benchmark; see grid_model.h.
#include "grid_model.h"

#include <cstdlib>

#include "description.h"

struct grid_model {
  receiver rx;
};

grid_model *grid_load(const char *path, char *error, size_t error_size) {
  auto *model = static_cast<grid_model *>(calloc(1, sizeof(grid_model)));
  if (model == nullptr || !load_description(path, nullptr, model->rx, error, error_size)) {
    free(model);
    return nullptr;
  }
  return model;
}

void grid_free(grid_model *model) { free(model); }

void grid_set_cell(grid_model &model, const grid_cell &cell) {
  model.rx.window_khz = cell.window_mhz * 1000u;
  model.rx.reach = static_cast<demodulator_reach>(cell.reach);
  model.rx.preference = static_cast<demodulator_preference>(cell.rule);
  model.rx.coarse = cell.coarse;
}

void grid_tune(grid_model &model, uint8_t lane, bool high_band) {
  model.rx.polarisation = lane == 0 ? 'H' : 'V';
  model.rx.high_band = high_band;
}

bool grid_search(const grid_model &model, uint32_t window_khz, uint32_t sr_min, uint32_t sr_max, uint32_t draw,
                 uint32_t words[8]) {
  const transponder *tp = find_signal(model.rx, window_khz, model.rx.window_khz, sr_min, sr_max, draw);
  if (tp == nullptr) return false;
  result_words(model.rx, *tp, window_khz, words);
  return true;
}

int grid_carriers(const grid_model &model, grid_carrier *out, int max) {
  int count = 0;
  for (int i = 0; i < model.rx.tp_count && count < max; ++i) {
    const transponder &tp = model.rx.tps[i];
    if (tp.at_mhz >= 0 || tp.neighbour >= 0) continue;
    out[count++] = {static_cast<int32_t>(tp.downlink_khz), static_cast<uint8_t>(tp.polarisation == 'V'),
                    tp.words[1] /* the symbol rate */, tp.bandwidth_hz};
  }
  return count;
}
