// skyscan through a single cable: the command bytes and tuning words of
// both standards at their limits, the frequency taken back to the IF
// through a cable of the test's own, fragments, and the switch routes.
#include <gtest/gtest.h>

#include <string>

#include "single_cable.h"
#include "switches.h"

namespace {

constexpr user_band kUb1 = {CABLE_EN50494, 0, 0, false, 0, 1210000};
constexpr user_band kJess1 = {CABLE_EN50607, 0, 0, false, 0, 1210000};

std::string hex(const cable_message &m) {
  std::string out;
  char byte[4];
  for (int i = 0; i < m.length; ++i) {
    snprintf(byte, sizeof byte, i == 0 ? "%02X" : " %02X", m.bytes[i]);
    out += byte;
  }
  return out;
}

struct command_case {
  const char *what;
  user_band band;
  uint32_t if_khz;  // the transponder's IF
  uint8_t lane;     // 0 horizontal
  bool high_band;
  uint32_t word;
  const char *bytes;
};

// 11778 MHz H, high band: IF 1178 MHz. EN 50494 through 1210 MHz: T =
// round((1178 + 1210) / 4) - 350 = 247; EN 50607: T = 1178 - 100 = 1078.
const command_case kCommands[] = {
    {"EN 50494, 11778 H through band 1 at 1210", kUb1, 1178000, 0, true, 247, "E0 10 5A 0C F7"},
    {"EN 50494, band 8 at 2040, position B, 10714 V low",
     {CABLE_EN50494, 7, 1, false, 0, 2040000}, 964000, 1, false, 401, "E0 10 5A F1 91"},
    {"EN 50494, rounded to the nearest 4 MHz", kUb1, 1179900, 0, true, 247, "E0 10 5A 0C F7"},
    {"EN 50494, rounded up", kUb1, 1180100, 0, true, 248, "E0 10 5A 0C F8"},
    {"EN 50494 with PIN 123", {CABLE_EN50494, 2, 0, true, 123, 1420000}, 1178000, 1, false, 300,
     "E0 10 5C 41 2C 7B"},
    {"EN 50607, 11778 H through band 1", kJess1, 1178000, 0, true, 1078, "70 04 36 03"},
    {"EN 50607, band 32, position 64, lowest IF", {CABLE_EN50607, 31, 63, false, 0, 2150000}, 950000, 1, false, 850,
     "70 FB 52 FC"},
    {"EN 50607 with PIN 0, largest word", {CABLE_EN50607, 4, 2, true, 0, 1420000}, 2147000, 0, false, 2047,
     "71 27 FF 0A 00"},
};

TEST(SingleCable, CommandBytesAndTuningWordsAsWorkedOut) {
  for (const command_case &c : kCommands) {
    SCOPED_TRACE(c.what);
    uint32_t word = tuning_word(c.band, c.if_khz);
    EXPECT_EQ(word, c.word);
    EXPECT_EQ(hex(channel_command(c.band, word, c.lane, c.high_band)), c.bytes);
  }
}

TEST(SingleCable, TuningWordsStopAtTheirLargestValue) {
  EXPECT_EQ(tuning_word(kUb1, 9000000), 1023u);
  EXPECT_EQ(hex(channel_command(kUb1, 1023, 0, false)), "E0 10 5A 0B FF");
  EXPECT_EQ(tuning_word(kJess1, 9000000), 2047u);
  EXPECT_EQ(hex(channel_command(kJess1, 2047, 1, true)), "70 07 FF 01");
}

TEST(SingleCable, TheWordZeroReleasesTheBandWithItsNumberAndPin) {
  EXPECT_EQ(hex(channel_command({CABLE_EN50494, 5, 1, false, 0, 1210000}, 0, 0, true)), "E0 10 5A A0 00");
  EXPECT_EQ(hex(channel_command({CABLE_EN50494, 5, 1, true, 9, 1210000}, 0, 0, true)), "E0 10 5C A0 00 09");
  EXPECT_EQ(hex(channel_command({CABLE_EN50607, 17, 40, false, 0, 1210000}, 0, 0, true)), "70 88 00 00");
  EXPECT_EQ(hex(channel_command({CABLE_EN50607, 17, 40, true, 200, 1210000}, 0, 0, true)), "71 88 00 00 C8");
}

TEST(SingleCable, AWordCentresTheIfItWasComputedFor) {
  EXPECT_EQ(centred_if_khz(kUb1, 247), 1178000u);  // (247 + 350) * 4 - 1210
  EXPECT_EQ(centred_if_khz(kJess1, 1078), 1178000u);
  for (uint32_t khz = 950000; khz <= 2147000; khz += 333) {  // EN 50607 centres up to 2147 MHz
    EXPECT_LE(std::abs(int(centred_if_khz(kUb1, tuning_word(kUb1, khz))) - int(khz)), 2000);
    EXPECT_LE(std::abs(int(centred_if_khz(kJess1, tuning_word(kJess1, khz))) - int(khz)), 500);
  }
}

// A cable of the test's own: it decodes the commands from their published
// layout and puts one carrier where the LNB would, mirrored for EN 50494.
// Its demodulator sees a carrier a quarter of its band past the window, as
// the simulated receiver's does at the least.
struct fake_cable {
  user_band band;
  uint32_t carrier_if_khz, symbol_rate;
  uint32_t reported_rate = 0;  // a demodulator that measures this instead
  bool lit = false;
  int64_t centre_khz = 0;  // the IF on the band's centre

  static bool send(void *context, const cable_message &m) {
    auto &c = *static_cast<fake_cable *>(context);
    bool en50494 = c.band.standard == CABLE_EN50494;
    uint32_t t = en50494 ? (m.bytes[3] & 3u) << 8 | m.bytes[4] : (m.bytes[1] & 7u) << 8 | m.bytes[2];
    c.lit = t != 0;
    c.centre_khz = en50494 ? (t + 350) * 4000ll - c.band.khz : t * 1000ll + 100000;
    return true;
  }

  static search_outcome search(void *context, uint32_t window_hz, uint32_t, uint32_t, blindscan_result *r) {
    auto &c = *static_cast<fake_cable *>(context);
    int64_t offset = int64_t{c.carrier_if_khz} - c.centre_khz;
    int64_t on_cable = c.band.khz + (c.band.standard == CABLE_EN50494 ? -offset : offset);
    int64_t low = window_hz / 1000, reach = c.symbol_rate / 1000 * 135 / 400;
    if (!c.lit || 2 * std::abs(offset) + c.symbol_rate / 1000 > kPassbandKHz || on_cable < low - reach ||
        on_cable >= low + 10000 + reach)
      return SEARCH_EMPTY;
    *r = {};
    r->frequency = static_cast<uint32_t>(on_cable * 1000 + 321);  // a measurement a little off
    r->symbol_rate = c.reported_rate != 0 ? c.reported_rate : c.symbol_rate;
    return SEARCH_LOCKED;
  }
};

struct found {
  search_outcome outcome;
  uint32_t frequency;
  uint32_t fragments, commands;
};

found search_once(fake_cable &cable, uint32_t window_khz) {
  scan_tally tally = {};
  cable_tuner t = {&cable.band, {fake_cable::search, &cable}, fake_cable::send, &cable, &tally};
  cable_sweep(t, 0, true);
  scan_driver d = cable_driver(t);
  blindscan_result r = {};
  search_outcome o = d.search(d.context, window_khz * 1000, 2000000, 45000000, &r);
  return {o, r.frequency, t.fragments, t.commands};
}

TEST(SingleCable, FoundFrequenciesComeBackAtTheTransponderIf) {
  struct {
    user_band band;
    uint32_t if_khz, symbol_rate, window_khz;
  } cases[] = {
      {kUb1, 1178000, 27500000, 1173000},   // centred by its word
      {kUb1, 1179900, 22000000, 1172000},   // rounded: 1.9 MHz off the band's centre, mirrored
      {kUb1, 1000123, 3000000, 995000},
      {kJess1, 1178000, 27500000, 1173000},
      {kJess1, 1179400, 22000000, 1172000},
      {{CABLE_EN50607, 9, 5, true, 77, 1680000}, 2101700, 30000000, 2098000},
  };
  for (const auto &c : cases) {
    fake_cable cable = {c.band, c.if_khz, c.symbol_rate};
    found f = search_once(cable, c.window_khz);
    ASSERT_EQ(f.outcome, SEARCH_LOCKED) << c.if_khz;
    EXPECT_EQ(f.frequency, c.if_khz * 1000 + (c.band.standard == CABLE_EN50494 ? -321 : 321)) << c.if_khz;
  }
}

TEST(SingleCable, AFragmentIsSearchedAgainCentredAndDroppedWhereItStillDoesNotFit) {
  // Measured wider than it is, at the passband's edge: centred, it fits.
  fake_cable cable = {kJess1, 1184000, 26000000, 34000000};
  found f = search_once(cable, 1175000);
  EXPECT_EQ(f.outcome, SEARCH_LOCKED);
  EXPECT_EQ(f.commands, 2u);
  // Measured wider than the passband: nothing, counted apart.
  cable = {kJess1, 1180000, 20000000, 42000000};
  f = search_once(cable, 1175000);
  EXPECT_EQ(f.outcome, SEARCH_EMPTY);
  EXPECT_EQ(f.fragments, 1u);
}

TEST(SingleCable, WideCarriersAnywhereInAnEmptyStretchAreCentredByACommand) {
  // Stepping through 100 MHz as the strategy does, a 32 Msym/s carrier is
  // found wherever it sits.
  for (const user_band &band : {kUb1, kJess1}) {
    for (uint32_t at = 1400000; at < 1460000; at += 700) {
      fake_cable cable = {band, at, 32000000};
      scan_tally tally = {};
      cable_tuner t = {&cable.band, {fake_cable::search, &cable}, fake_cable::send, &cable, &tally};
      cable_sweep(t, 0, true);
      scan_driver d = cable_driver(t);
      bool seen = false;
      for (uint32_t w = 1380000; w < 1480000 && !seen; w += 10000) {
        blindscan_result r = {};
        seen = d.search(d.context, w * 1000, 2000000, 45000000, &r) == SEARCH_LOCKED;
      }
      EXPECT_TRUE(seen) << band.standard << " " << at;
    }
  }
}

TEST(SingleCable, AtTheTopOfTheBandEveryCommandKeepsToItsOwnUserBand) {
  // The lattice's words past the largest would carry into the user band's
  // bits: band 1 would retune band 2. Every command of a sweep's top, for
  // the first and the last band of each standard, names its own band.
  struct recorder {
    uint8_t band_bits[64];
    int count;
    static bool send(void *context, const cable_message &m) {
      auto &r = *static_cast<recorder *>(context);
      bool en50494 = m.bytes[0] == 0xE0;
      if (r.count < 64) r.band_bits[r.count++] = en50494 ? m.bytes[3] >> 5 : m.bytes[1] >> 3;
      return true;
    }
    static search_outcome nothing(void *, uint32_t, uint32_t, uint32_t, blindscan_result *) { return SEARCH_EMPTY; }
  };
  for (const user_band &band : {kUb1, kJess1, user_band{CABLE_EN50607, 31, 0, false, 0, 2130000}}) {
    recorder r = {};
    scan_tally tally = {};
    cable_tuner t = {&band, {recorder::nothing, &r}, recorder::send, &r, &tally};
    cable_sweep(t, 0, true);
    scan_driver d = cable_driver(t);
    for (uint32_t w = 2120000; w < 2150000; w += 1000) {  // as after narrow carriers
      blindscan_result result = {};
      (void)d.search(d.context, w * 1000, 2000000, 45000000, &result);
    }
    ASSERT_GT(r.count, 0);
    for (int i = 0; i < r.count; ++i) EXPECT_EQ(r.band_bits[i], band.number) << band.standard << " " << i;
  }
}

TEST(Switches, RoutesAsReceiversMenusNameThem) {
  struct {
    const char *text;
    bool ok;
    switch_route route;
  } cases[] = {
      {"B", true, {1, -1, -1}},       {"U1", true, {-1, 0, -1}},     {"U16", true, {-1, 15, -1}},
      {"D,U10", true, {3, 9, -1}},    {"mini-B", true, {-1, -1, 1}}, {"A,U2,mini-A", true, {0, 1, 0}},
      {"E", false, {}},               {"U0", false, {}},             {"U17", false, {}},
      {"B,C", false, {}},             {"B,", false, {}},             {"mini-C", false, {}},
      {"", false, {}},                {"u3", false, {}},
  };
  for (const auto &c : cases) {
    switch_route r = kNoSwitch;
    EXPECT_EQ(read_route(c.text, &r), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(r.committed, c.route.committed) << c.text;
    EXPECT_EQ(r.uncommitted, c.route.uncommitted) << c.text;
    EXPECT_EQ(r.burst, c.route.burst) << c.text;
  }
}

}  // namespace
