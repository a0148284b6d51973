// The simulated receiver's single-cable distribution and DiSEqC switches.
// Rule of the model:
//  - EN 50494: E0/E1 1x 5A d1 d2 (5C d1 d2 PIN), d1 = user band << 5 |
//    position << 4 | horizontal << 3 | high band << 2 | T >> 8, d2 = T & 0xFF;
//    the LNB mixes with (T + 350) * 4 MHz: IF x comes out at
//    (T + 350) * 4 - x, mirrored, the user band's centre at IF
//    (T + 350) * 4 - UB.
//  - EN 50607: 70 d1 d2 d3 (71 d1 d2 d3 PIN), d1 = user band << 3 | T >> 8,
//    d2 = T & 0xFF, d3 = position << 2 | horizontal << 1 | high band; IF
//    T + 100 MHz lands on the centre, not mirrored.
//  - T = 0 releases the band. A command is heard only at 18 V; one with a
//    wrong or missing PIN, for a user band that does not exist or in the
//    other standard changes nothing. Voltage and tone select nothing.
//  - A carrier passes a lit user band when its symbol-rate band (or, with
//    "pass=occupied", its whole occupied band) lies inside the passband
//    around the band's centre; anything else of the slice is filtered out.
//  - Switches: a committed command (E0/E1 1x 38 Fx) selects port (x >> 2) & 3,
//    an uncommitted one (39 Fx) port x & 15 of the uncommitted switch behind
//    the committed port selected then (the only one without a committed
//    switch), a tone burst A or B. A carrier is seen when every switch on
//    its route is on its port.
#include "single_cable.h"

#include <cstdlib>
#include <cstring>

#include "description.h"

constexpr uint32_t kDefaultPassbandKHz = 40000;
constexpr uint32_t kEn50494BaseKHz = 1400000;  // 350 steps of 4 MHz
constexpr uint32_t kEn50607BaseKHz = 100000;
constexpr int kSymbolRateWord = 1;  // of the eight words request 3 returns

bool parse_cable(const char *const *fields, int count, receiver &rx) {
  single_cable &c = rx.cable;
  if (strcmp(fields[0], "cable") == 0) {
    if (count < 2 || (strcmp(fields[1], "50494") != 0 && strcmp(fields[1], "50607") != 0)) return false;
    c.present = true;
    c.en50607 = strcmp(fields[1], "50607") == 0;
    c.passband_khz = kDefaultPassbandKHz;
    for (int i = 2; i < count; ++i) {
      if (strncmp(fields[i], "passband=", 9) == 0) {
        c.passband_khz = static_cast<uint32_t>(strtoul(fields[i] + 9, nullptr, 10));
        if (c.passband_khz == 0 || c.passband_khz > 200000) return false;
      } else if (strcmp(fields[i], "pass=occupied") == 0 || strcmp(fields[i], "pass=symbols") == 0) {
        c.occupied = strcmp(fields[i], "pass=occupied") == 0;
      } else {
        return false;
      }
    }
    return true;
  }
  // "userband N MHZ [pin=P]"
  long n = count >= 3 ? strtol(fields[1], nullptr, 10) : 0, mhz = count >= 3 ? strtol(fields[2], nullptr, 10) : 0;
  if (!c.present || count > 4 || n < 1 || n > (c.en50607 ? 32 : 8) || mhz < 950 || mhz > 2150) return false;
  cable_band &b = c.bands[n - 1];
  b = {};
  b.khz = static_cast<uint32_t>(mhz) * 1000u;
  if (count == 4) {
    long pin = strncmp(fields[3], "pin=", 4) == 0 ? strtol(fields[3] + 4, nullptr, 10) : -1;
    if (pin < 0 || pin > 255) return false;
    b.has_pin = true;
    b.pin = static_cast<uint8_t>(pin);
  }
  return true;
}

static uint32_t centred_if(const single_cable &c, const cable_band &b, uint32_t word) {
  return c.en50607 ? word * 1000u + kEn50607BaseKHz : word * 4000u + kEn50494BaseKHz - b.khz;
}

// A channel change: which user band, and what it then carries.
static void channel_change(single_cable &c, const uint8_t *m, unsigned length) {
  bool en50494 = length >= 5 && (m[0] & 0xFE) == 0xE0 && (m[2] == 0x5A || m[2] == 0x5C);
  bool en50607 = length >= 4 && (m[0] == 0x70 || m[0] == 0x71);
  if (!c.present || (c.en50607 ? !en50607 : !en50494)) return;
  const uint8_t *d = en50494 ? m + 3 : m + 1;
  bool with_pin = en50494 ? m[2] == 0x5C : m[0] == 0x71;
  if (length != (en50494 ? 5u : 4u) + (with_pin ? 1 : 0)) return;
  unsigned number = en50494 ? d[0] >> 5 : d[0] >> 3;
  cable_band &b = c.bands[number];
  if (b.khz == 0 || (b.has_pin && (!with_pin || m[length - 1] != b.pin))) return;
  b.word = (static_cast<uint32_t>(d[0]) & (en50494 ? 3u : 7u)) << 8 | d[1];
  b.lit = b.word != 0;
  b.position = static_cast<uint8_t>(en50494 ? (d[0] >> 4) & 1 : d[2] >> 2);
  b.horizontal = ((en50494 ? d[0] >> 3 : d[2] >> 1) & 1) != 0;
  b.high = ((en50494 ? d[0] >> 2 : d[2]) & 1) != 0;
}

void apply_diseqc(receiver &rx, const uint8_t *m, unsigned length) {
  // Single-cable LNBs take their commands at 18 V only.
  if (rx.cable.present && rx.lnb_powered && rx.polarisation == 'H') channel_change(rx.cable, m, length);
  if (length != 4 || (m[0] & 0xFE) != 0xE0) return;
  if (m[2] == 0x38 && rx.diseqc_switch) rx.port = (m[3] >> 2) & 3;
  if (m[2] == 0x39) rx.uncommitted[rx.diseqc_switch ? rx.port : 0] = static_cast<int8_t>(m[3] & 15);
}

void apply_burst(receiver &rx, int burst) { rx.burst = static_cast<int8_t>(burst); }

bool routed(const receiver &rx, const transponder &tp) {
  if (rx.diseqc_switch && tp.port != rx.port) return false;
  int behind = rx.diseqc_switch ? tp.port : 0;
  if (tp.uncommitted >= 0 && tp.uncommitted != rx.uncommitted[behind]) return false;
  return tp.burst < 0 || tp.burst == rx.burst;
}

// Where the carrier lands on the cable through band b, if it passes.
static bool passes(const single_cable &c, const cable_band &b, uint32_t word, const transponder &tp,
                   uint32_t *cable_khz) {
  uint32_t oscillator = b.high ? kHighOscillatorKHz : kLowOscillatorKHz;
  if (tp.downlink_khz < oscillator + kIfLowKHz || tp.downlink_khz > oscillator + kIfHighKHz) return false;
  int64_t offset = int64_t{tp.downlink_khz - oscillator} - centred_if(c, b, word);
  uint32_t band_hz = c.occupied ? tp.bandwidth_hz : tp.words[kSymbolRateWord];
  if (2 * llabs(offset) + band_hz / 1000u > c.passband_khz) return false;
  *cable_khz = static_cast<uint32_t>(int64_t{b.khz} + (c.en50607 ? offset : -offset));
  return true;
}

const receiver &tuner_view(const receiver &rx) {
  if (!rx.cable.present) return rx;
  static receiver view;
  view = rx;
  view.polarisation = 'H';
  view.high_band = false;
  view.diseqc_switch = false;
  view.tp_count = 0;
  // Measurements differ with the command as they differ with the step.
  for (const cable_band &b : rx.cable.bands)
    if (b.lit) view.seed = rx.seed ^ ((b.word << 2 | b.high << 1 | b.horizontal) * 2654435761u);
  for (int i = 0; i < rx.tp_count; ++i) {
    const transponder &tp = rx.tps[i];
    if (tp.at_mhz >= 0) view.tps[view.tp_count++] = tp;
    for (const cable_band &b : rx.cable.bands) {
      uint32_t cable_khz = 0;
      if (tp.at_mhz >= 0 || view.tp_count >= kMaxTransponders || !b.lit || !rx.lnb_powered || tp.port != b.position ||
          tp.polarisation != (b.horizontal ? 'H' : 'V') || !passes(rx.cable, b, b.word, tp, &cable_khz))
        continue;
      transponder &seen = view.tps[view.tp_count++];
      seen = tp;
      seen.downlink_khz = cable_khz + kLowOscillatorKHz;
      seen.polarisation = 'H';
      if (!rx.cable.en50607) seen.offset_hz = -tp.offset_hz;  // mirrored
    }
  }
  return view;
}

bool comes_through(const receiver &rx, const transponder &tp) {
  const single_cable &c = rx.cable;
  cable_band b = c.bands[0];
  b.high = tp.downlink_khz >= kBandSwitchKHz;
  uint32_t if_khz = tp.downlink_khz - (b.high ? kHighOscillatorKHz : kLowOscillatorKHz), khz = 0;
  // The word nearest the carrier's centre centres it best.
  uint32_t word = c.en50607 ? (if_khz - kEn50607BaseKHz + 500) / 1000 : (if_khz + b.khz + 2000) / 4000 - 350;
  return passes(c, b, word, tp, &khz);
}
