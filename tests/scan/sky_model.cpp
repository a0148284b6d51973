// Random skies written as receiver descriptions and loaded by the model,
// so that the carriers kept, their roll-offs, the jitter and the
// demodulator are exactly what the simulated receiver has.
#include "sky_model.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "description.h"

namespace {

receiver g_rx;  // too large for the stack

// splitmix32-like: the same skies on every host and target.
struct dice {
  uint32_t state;
  uint32_t roll(uint32_t n) {
    state += 0x9E3779B9u;
    uint32_t x = state;
    x = (x ^ (x >> 16)) * 0x85EBCA6Bu;
    x = (x ^ (x >> 13)) * 0xC2B2AE35u;
    return (x ^ (x >> 16)) % n;
  }
};

// Rates as satellites carry them: many wide transponders, some very wide,
// middling ones, and narrow feeds, often packed beside a wide one.
uint32_t random_rate(dice &d, uint32_t narrow_percent) {
  if (d.roll(100) < narrow_percent) return 2000000 + d.roll(6000) * 1000;
  uint32_t kind = d.roll(13);
  if (kind < 6) return 22000000 + d.roll(8000) * 1000;
  if (kind < 8) return 30000000 + d.roll(15000) * 1000;
  return 8000000 + d.roll(12000) * 1000;
}

void write_lane(dice &d, char polarisation, uint32_t spread_khz, uint32_t narrow_percent, FILE *out) {
  static const char *const kRolloffs[] = {"0.35", "0.20", "0.25"};
  uint32_t khz = 10700000, previous = 0;
  for (;;) {
    uint32_t rate = random_rate(d, narrow_percent);
    // Bands apart, their roll-off skirts sometimes shared; a gap now and then.
    uint32_t apart = (previous + rate) / 2000 * (100 + d.roll(30)) / 100;
    uint32_t gap = d.roll(2) == 0 ? d.roll(spread_khz) : 0;
    khz += (previous == 0 ? rate / 2000 + d.roll(20000) : apart) + gap;
    if (khz + rate / 2000 > 12750000) return;
    fprintf(out, "tp %u %c %u DVB-S2 8PSK 3/4 %s auto auto\n", khz, polarisation, rate, kRolloffs[d.roll(3)]);
    previous = rate;
  }
}

}  // namespace

int make_random_sky(uint32_t seed, sky_carrier *out, int room) {
  char path[] = "/tmp/sky-model-XXXXXX";
  int fd = mkstemp(path);
  FILE *file = fd >= 0 ? fdopen(fd, "w") : nullptr;
  if (file == nullptr) return -1;
  dice d = {seed};
  fprintf(file, "seed %u\n", seed);
  // Sparse, busy and crowded skies: on a crowded one the budget runs out.
  uint32_t spread_khz = 20000 + d.roll(4) * 40000, narrow_percent = 20 + d.roll(4) * 20;
  write_lane(d, 'H', spread_khz, narrow_percent, file);
  write_lane(d, 'V', spread_khz, narrow_percent, file);
  fclose(file);
  char error[256];
  bool loaded = load_description(path, nullptr, g_rx, error, sizeof error);
  unlink(path);
  if (!loaded) return -1;
  int n = 0;
  for (int i = 0; i < g_rx.tp_count && n < room; ++i)
    out[n++] = {g_rx.tps[i].downlink_khz, static_cast<uint8_t>(g_rx.tps[i].polarisation == 'V'),
                g_rx.tps[i].words[1]};
  return n;
}

void set_demodulator(bool prefer_widest, bool half_reach) {
  g_rx.preference = prefer_widest ? PREFER_WIDEST : PREFER_NEAREST;
  g_rx.reach = half_reach ? REACH_HALF : REACH_QUARTER;
}

void point_lnb(uint8_t lane, bool high_band) {
  g_rx.polarisation = lane == 1 ? 'V' : 'H';
  g_rx.high_band = high_band;
}

bool search_sky(uint32_t window_khz, uint32_t sr_min, uint32_t sr_max, uint32_t words[8]) {
  const transponder *tp = find_signal(g_rx, window_khz, 10000, sr_min, sr_max);
  if (tp == nullptr) return false;
  result_words(g_rx, *tp, window_khz, words);
  return true;
}
