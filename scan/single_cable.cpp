// Single-cable distribution. The rule it follows:
//  - EN 50494 channel change: E0 10 5A d1 d2, with a PIN E0 10 5C d1 d2 PIN;
//    d1 = user band (3 bits) << 5 | position << 4 | horizontal << 3 |
//    high band << 2 | T >> 8, d2 = T & 0xFF. T = round((IF + UB) / 4) - 350
//    in MHz (10 bits); the LNB mixes with (T + 350) * 4 MHz, so the IF
//    (T + 350) * 4 - UB lands on the user band's centre, and the spectrum
//    comes out mirrored.
//  - EN 50607: 70 d1 d2 d3, with a PIN 71 d1 d2 d3 PIN; d1 = user band
//    (5 bits) << 3 | T >> 8, d2 = T & 0xFF, d3 = position (6 bits) << 2 |
//    horizontal << 1 | high band. T = IF - 100 in MHz (11 bits); the IF
//    T + 100 lands on the centre, not mirrored.
//  - T = 0 releases the user band (the "off" command), leaving the cable to
//    the other receivers.
//  - The command goes out at 18 V and the line returns to 13 V after it;
//    voltage and tone select nothing here.
//  - A found frequency is taken back to the transponder's IF from the IF
//    the word centred (not the one asked: EN 50494 rounds to 4 MHz), and
//    mirrored back for EN 50494.
//  - Only a carrier whose symbol-rate band lies inside the passband comes
//    through whole; one wider is not sought, and a result reaching past the
//    passband is a fragment: searched once more with the command centred on
//    it, and dropped if it still does not fit.
//  - Each search gets a command centred within 3 MHz of its window's
//    centre, which passes any carrier centred in the window up to 24
//    Msym/s; a window whose rates the command in effect passes already
//    (a repeated search, a gap's capped one) shares it. Where nothing is
//    found and wider carriers are sought, the same window is searched
//    through the words of a lattice (two EN 50494 words of three, every
//    seventh EN 50607 one) in turn, so that every carrier up to 32 Msym/s
//    (33 for EN 50607) is centred by one command closely enough to pass,
//    and seen if a demodulator sees a quarter of its band past the window.
//    Wider ones up to the passband fit only near some words and may be
//    missed.
#include "single_cable.h"

#include <cstring>
#include <linux/dvb/frontend.h>
#include <sys/ioctl.h>

constexpr uint32_t kGridKHz[] = {4000, 1000};  // one step of T
constexpr uint32_t kWordBits[] = {10, 11};
constexpr uint8_t kUserBands[] = {8, 32};
constexpr uint8_t kPositions[] = {2, 64};
constexpr uint32_t kEn50494BaseMHz = 350;  // T's offset, in 4 MHz steps
constexpr uint32_t kEn50607BaseKHz = 100000;

uint8_t user_band_count(cable_standard standard) { return kUserBands[standard]; }
uint8_t position_count(cable_standard standard) { return kPositions[standard]; }

static bool mirrored(const user_band &band) { return band.standard == CABLE_EN50494; }

static uint32_t largest_word(const user_band &band) { return (1u << kWordBits[band.standard]) - 1; }

uint32_t tuning_word(const user_band &band, uint32_t if_khz) {
  uint32_t word = 0;
  if (band.standard == CABLE_EN50494)
    word = (if_khz + band.khz + kGridKHz[0] / 2) / kGridKHz[0] - kEn50494BaseMHz;
  else if (if_khz >= kEn50607BaseKHz)
    word = (if_khz - kEn50607BaseKHz + kGridKHz[1] / 2) / kGridKHz[1];
  return word < largest_word(band) ? word : largest_word(band);
}

uint32_t centred_if_khz(const user_band &band, uint32_t word) {
  if (band.standard == CABLE_EN50494) return (word + kEn50494BaseMHz) * kGridKHz[0] - band.khz;
  return word * kGridKHz[1] + kEn50607BaseKHz;
}

cable_message channel_command(const user_band &band, uint32_t word, uint8_t lane, bool high_band) {
  // A word past the largest would spill into the user band's own bits and
  // retune another receiver's band.
  if (word > largest_word(band)) word = largest_word(band);
  uint8_t horizontal = word != 0 && lane == 0, high = word != 0 && high_band;
  uint8_t position = word != 0 ? band.position : 0, pin = band.has_pin ? 1 : 0;
  if (band.standard == CABLE_EN50494)
    return {{0xE0, 0x10, static_cast<uint8_t>(band.has_pin ? 0x5C : 0x5A),
             static_cast<uint8_t>(band.number << 5 | position << 4 | horizontal << 3 | high << 2 | word >> 8),
             static_cast<uint8_t>(word & 0xFF), band.pin},
            static_cast<uint8_t>(5 + pin)};
  return {{static_cast<uint8_t>(band.has_pin ? 0x71 : 0x70), static_cast<uint8_t>(band.number << 3 | word >> 8),
           static_cast<uint8_t>(word & 0xFF), static_cast<uint8_t>(position << 2 | horizontal << 1 | high), band.pin},
          static_cast<uint8_t>(4 + pin)};
}

// The line must be at 18 V at least 4 ms before the message, and the LNB
// takes it a few ms after it before the voltage drops back to 13 V.
constexpr long kRaisedNs = 10000000, kHeldNs = 10000000;

lnb_step send_cable_message(int fd, const cable_message &m) {
  if (ioctl(fd, FE_SET_VOLTAGE, static_cast<unsigned long>(SEC_VOLTAGE_18)) != 0) return LNB_VOLTAGE;
  pause_ns(kRaisedNs);
  dvb_diseqc_master_cmd cmd = {};
  memcpy(cmd.msg, m.bytes, m.length);
  cmd.msg_len = m.length;
  if (ioctl(fd, FE_DISEQC_SEND_MASTER_CMD, &cmd) != 0) return LNB_DISEQC;
  pause_ns(kHeldNs);
  if (ioctl(fd, FE_SET_VOLTAGE, static_cast<unsigned long>(SEC_VOLTAGE_13)) != 0) return LNB_VOLTAGE;
  return LNB_DONE;
}

// A command centred within 3 MHz of a window's centre passes any carrier
// centred in the window up to this rate.
constexpr uint32_t kPassedAnywhere = (kPassbandKHz - 2 * (kWindowKHz / 2 + 3000)) * 1000u;
constexpr uint32_t kPassbandHz = kPassbandKHz * 1000u;  // no symbol rate above passes
// Wider ones are sure to fit at one of the words of a lattice: two words of
// three of EN 50494 (4 and 8 MHz apart in turn), every seventh of EN 50607
// (7 MHz, which leaves the common 32.72 Msym/s none too wide). Every
// carrier centred within the lattice's radius of one of them comes
// through: those up to kPassbandKHz less twice the radius, 32 and 33
// Msym/s, and more of the wider ones where the steps are shorter. A finer
// lattice would pass more of the widest, but costs a search per step where
// nothing is found.
struct lattice {
  uint32_t period;      // words
  uint32_t on;          // bit n: the words n modulo the period
  uint32_t radius_khz;  // half the widest step
};
static const lattice kLattice[] = {{3, 0x3, 4000}, {7, 0x1, 3500}};

// The first lattice word from `word` on, or past the largest word when
// there is none.
static uint32_t lattice_from(const user_band &band, uint32_t word) {
  const lattice &l = kLattice[band.standard];
  while (word <= largest_word(band) && ((l.on >> (word % l.period)) & 1) == 0) ++word;
  return word;
}

// The first lattice word centred above if_khz.
static uint32_t lattice_above(const user_band &band, uint32_t if_khz) {
  uint32_t word = tuning_word(band, if_khz);
  return lattice_from(band, centred_if_khz(band, word) <= if_khz ? word + 1 : word);
}

// A window's own command: on the lattice where one is centred within 3 MHz
// of the window's centre, else the word nearest it.
static uint32_t window_word(const user_band &band, uint32_t window_khz) {
  uint32_t word = lattice_above(band, window_khz + kWindowKHz / 2 - 3000 - 1);
  if (centred_if_khz(band, word) <= window_khz + kWindowKHz / 2 + 3000) return word;
  return tuning_word(band, window_khz + kWindowKHz / 2);
}

// Whether the command in effect passes every carrier up to `cap` centred
// in the window: then the window shares it.
static bool shares(const cable_tuner &t, uint32_t window_khz, uint32_t cap) {
  if (!t.commanded) return false;
  uint32_t centre = centred_if_khz(*t.band, t.word), half = (kPassbandKHz - cap / 1000) / 2;
  return window_khz + half >= centre && window_khz + kWindowKHz <= centre + half;
}

// Puts `word` in effect. False when it could not.
static bool command(cable_tuner &t, uint32_t word) {
  if (t.commanded && word == t.word) return true;
  t.commands++;
  if (!t.send(t.send_context, channel_command(*t.band, word, t.lane, t.high_band))) {
    t.failed = true;
    t.tally->stopped = true;
    return false;
  }
  t.commanded = true;
  t.word = word;
  return true;
}

// One search of the 10 MHz window centred on the IF centre_khz through
// `word`; the result's frequency back at the IF. *whole says whether its
// symbol-rate band lay inside the passband.
static search_outcome search_through(cable_tuner &t, uint32_t word, uint32_t centre_khz, uint32_t sr_min,
                                     uint32_t sr_max, blindscan_result *result, bool *whole) {
  if (!command(t, word)) return SEARCH_REFUSED;
  int64_t offset = int64_t{centre_khz} - centred_if_khz(*t.band, word);  // kHz off the band's centre
  int64_t tuner = int64_t{t.band->khz} + (mirrored(*t.band) ? -offset : offset) - kWindowKHz / 2;
  t.searches++;
  search_outcome outcome =
      t.inner.search(t.inner.context, static_cast<uint32_t>(tuner * 1000), sr_min, sr_max, result);
  if (outcome != SEARCH_LOCKED) return outcome;
  uint32_t found_hz = result->frequency, rate = result->symbol_rate;
  int64_t off_hz = static_cast<int64_t>(found_hz) - static_cast<int64_t>(t.band->khz) * 1000;
  int64_t if_hz = static_cast<int64_t>(centred_if_khz(*t.band, word)) * 1000 + (mirrored(*t.band) ? -off_hz : off_hz);
  // A measured centre may be off by a fiftieth of the rate: no fragment.
  int64_t reach_hz = (off_hz < 0 ? -off_hz : off_hz) + rate / 2 - rate / 50;
  if (if_hz <= 0 || if_hz > UINT32_MAX) return SEARCH_EMPTY;
  result->frequency = static_cast<uint32_t>(if_hz);
  *whole = reach_hz <= static_cast<int64_t>(kPassbandKHz) * 500;
  return SEARCH_LOCKED;
}

// A search through `word`; a carrier cut off at the passband's edge is
// searched once more with the command centred on it, as only then can it
// be measured, and dropped as a fragment if it still does not fit.
static search_outcome probe(cable_tuner &t, uint32_t word, uint32_t centre_khz, uint32_t sr_min, uint32_t sr_max,
                            blindscan_result *result) {
  bool whole = false;
  search_outcome outcome = search_through(t, word, centre_khz, sr_min, sr_max, result, &whole);
  if (outcome != SEARCH_LOCKED || whole) return outcome;
  uint32_t centre = result->frequency / 1000u;
  outcome = search_through(t, tuning_word(*t.band, centre), centre, sr_min, sr_max, result, &whole);
  if (outcome != SEARCH_LOCKED || whole) return outcome;
  t.fragments++;
  return SEARCH_EMPTY;
}

// The window's own search, then, while nothing is found and wide carriers
// are sought, the lattice words whose reach the window needs and no
// search of a window below it had yet: carriers cannot overlap, so none
// wider than kPassedAnywhere is centred within that half-width of a
// carrier found.
static search_outcome search(void *context, uint32_t window_hz, uint32_t sr_min, uint32_t sr_max,
                             blindscan_result *result) {
  auto &t = *static_cast<cable_tuner *>(context);
  uint32_t window = window_hz / 1000, cap = sr_max < kPassbandHz ? sr_max : kPassbandHz;
  if (sr_min > cap) return SEARCH_EMPTY;
  // The strategy steps up a sweep, a little past an empty window at most;
  // anywhere else the lattice starts afresh.
  if (window < t.last_window || window > t.covered_to + kWindowKHz) t.covered_to = window;
  t.last_window = window;
  uint32_t own = shares(t, window, cap) ? t.word : window_word(*t.band, window), fragments = t.fragments;
  search_outcome outcome = probe(t, own, window + kWindowKHz / 2, sr_min, cap, result);
  if (cap <= kPassedAnywhere) return outcome;
  uint32_t radius = kLattice[t.band->standard].radius_khz;
  // A fragment seen is what is there: searched again, it would only be seen again.
  for (uint32_t word = lattice_above(*t.band, t.covered_to - radius);
       outcome == SEARCH_EMPTY && t.fragments == fragments && word <= largest_word(*t.band) &&
       centred_if_khz(*t.band, word) < window + kWindowKHz;
       word = lattice_from(*t.band, word + 1)) {
    // The same window through another command: a wide carrier up to the
    // radius past its edge is seen as any demodulator sees a quarter of a
    // carrier's band past it.
    if (word != own) outcome = probe(t, word, window + kWindowKHz / 2, sr_min, cap, result);
    t.covered_to = centred_if_khz(*t.band, word) + radius;
  }
  if (outcome == SEARCH_LOCKED) t.covered_to = result->frequency / 1000 + result->symbol_rate / 2000 + kPassedAnywhere / 2000;
  return outcome;
}

scan_driver cable_driver(cable_tuner &tuner) { return {search, &tuner}; }

void cable_sweep(cable_tuner &t, uint8_t lane, bool high_band) {
  t.lane = lane;
  t.high_band = high_band;
  t.commanded = false;
  t.last_window = t.covered_to = 0;
}
