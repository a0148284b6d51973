// skyscan's strategy against a small demodulator of the test's own, with
// either preference and either reach: what it lists, and how many searches
// it spends, next to the plain 10 MHz sweep of the same sweep.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "lnb.h"
#include "strategy.h"

namespace {

struct carrier {
  uint32_t if_khz;
  uint32_t symbol_rate;
  uint32_t rolloff = 0;  // as the driver numbers it: 0.35, 0.20, 0.25
};

enum class prefers { nearest, wider };

// A window sees a carrier whose centre lies in it or within `reach` of its
// band (a quarter or a half) beyond it, and locks on one of them.
struct fake_demodulator {
  std::vector<carrier> sky;
  prefers preference = prefers::nearest;
  uint32_t reach_divisor = 4;
  uint32_t window = kWindowKHz;  // what a search looks at
  int32_t error_khz = 0;         // each measurement this far off, up and down in turn
  // Nonsense on demand: answer this instead of searching.
  bool (*answer)(fake_demodulator &, uint32_t window_khz, blindscan_result *) = nullptr;
  bool refuse_windows = false;
  std::vector<uint32_t> windows;  // kHz of every search

  static search_outcome search(void *context, uint32_t window_hz, uint32_t sr_min, uint32_t sr_max,
                               blindscan_result *out) {
    auto &d = *static_cast<fake_demodulator *>(context);
    uint32_t low = window_hz / 1000;
    d.windows.push_back(low);
    if (d.refuse_windows) return SEARCH_REFUSED;
    if (d.answer != nullptr) return d.answer(d, low, out) ? SEARCH_LOCKED : SEARCH_EMPTY;
    const carrier *best = nullptr;
    for (const carrier &c : d.sky) {
      int64_t reach = int64_t{c.symbol_rate} * 135 / 100 / 1000 / d.reach_divisor;
      if (c.symbol_rate < sr_min || c.symbol_rate > sr_max) continue;
      if (c.if_khz + reach < low || c.if_khz >= low + d.window + reach) continue;
      if (best == nullptr || better(d, c, *best, low)) best = &c;
    }
    if (best == nullptr) return SEARCH_EMPTY;
    int32_t off = d.windows.size() % 2 == 0 ? d.error_khz : -d.error_khz;
    *out = {static_cast<uint32_t>(int64_t{best->if_khz} + off) * 1000, best->symbol_rate, 6, 9, 2, 3, 2, best->rolloff};
    return SEARCH_LOCKED;
  }

  static bool better(const fake_demodulator &d, const carrier &a, const carrier &b, uint32_t low) {
    auto off = [&](const carrier &c) { return std::llabs(int64_t{2} * c.if_khz - (2 * int64_t{low} + d.window)); };
    if (d.preference == prefers::wider && a.symbol_rate != b.symbol_rate) return a.symbol_rate > b.symbol_rate;
    return off(a) < off(b);
  }
};

struct outcome {
  std::vector<uint32_t> listed;  // IF kHz of each carrier listed, in order
  uint32_t searches;
  scan_tally tally;
};

// The low-band sweep of 950-1950 MHz (or [low, high)), gaps included.
outcome scan(fake_demodulator &d, uint32_t low = 950000, uint32_t high = 1950000, uint32_t budget = 120) {
  static transponder_list book;
  static gap_list gaps;
  book = {};
  gaps = {};
  outcome o = {};
  sweep_setup s = {low, high, 2000000, 45000000, 0, kUniversalLnb.low_khz, false, budget};
  scan_driver driver = {fake_demodulator::search, &d};
  scan_sink sink = {[](void *c, const blindscan_result &r, int32_t, uint8_t) {
                      static_cast<outcome *>(c)->listed.push_back(r.frequency / 1000);
                    },
                    nullptr, &o};
  run_sweep(s, 0, driver, sink, book, o.tally, gaps);
  for (uint32_t times : {4u, 2u, 1u}) {
    s.budget = budget - o.tally.searches;
    fill_gaps(s, 0, 2000 * times, driver, sink, book, o.tally, gaps);
  }
  o.searches = o.tally.searches;
  return o;
}

// How many of the sky's carriers the plain sweep finds: one search per step.
size_t plain_finds(fake_demodulator d) {
  std::vector<uint32_t> seen;
  for (uint32_t f = 950000; f < 1950000; f += kWindowKHz) {
    blindscan_result r;
    if (fake_demodulator::search(&d, f * 1000, 2000000, 45000000, &r) != SEARCH_LOCKED) continue;
    if (std::find(seen.begin(), seen.end(), r.frequency / 1000) == seen.end()) seen.push_back(r.frequency / 1000);
  }
  return seen.size();
}

std::vector<uint32_t> sorted(std::vector<uint32_t> v) {
  std::sort(v.begin(), v.end());
  return v;
}

std::vector<uint32_t> centres(const std::vector<carrier> &sky) {
  std::vector<uint32_t> v;
  for (const carrier &c : sky) v.push_back(c.if_khz);
  return sorted(v);
}

struct sky_case {
  const char *name;
  std::vector<carrier> sky;
};

const sky_case kSkies[] = {
    {"empty sky", {}},
    {"narrow carrier below a wide one", {{1200000, 27500000}, {1179000, 3000000}}},
    {"narrow carrier above a wide one", {{1200000, 27500000}, {1221000, 3000000}}},
    {"narrow carriers on both sides of a wide one", {{1400000, 30000000}, {1377000, 2000000}, {1423000, 2500000}}},
    {"narrow carrier inside a wide one's roll-off skirt", {{1500000, 30000000}, {1517500, 2200000}}},
    {"crowded group of narrow carriers",
     {{1600000, 3000000}, {1604000, 3000000}, {1608000, 2500000}, {1612000, 3000000}, {1616000, 2000000},
      {1620000, 3200000}}},
    {"wide carriers side by side", {{1000000, 27500000}, {1036000, 27500000}, {1072000, 27500000}}},
    {"carriers at the sweep's ends", {{951000, 2000000}, {1948000, 22000000}}},
};

TEST(Strategy, ListsEveryCarrierOnceWithEitherPreferenceAndReach) {
  for (const sky_case &c : kSkies) {
    for (prefers p : {prefers::nearest, prefers::wider}) {
      for (uint32_t reach : {4u, 2u}) {
        fake_demodulator d;
        d.sky = c.sky;
        d.preference = p;
        d.reach_divisor = reach;
        outcome o = scan(d);
        SCOPED_TRACE(std::string(c.name) + (p == prefers::wider ? ", wider" : ", nearest") +
                     (reach == 2 ? ", half reach" : ""));
        EXPECT_EQ(sorted(o.listed), centres(c.sky));
        EXPECT_LE(o.searches, 120u);
        EXPECT_GE(o.listed.size(), plain_finds(d));
      }
    }
  }
}

TEST(Strategy, NarrowCarriersInTheGapsAreFoundWithinATightBudget) {
  const struct {
    const char *name;
    prefers preference;
    uint32_t budget;
    std::vector<carrier> sky;
  } cases[] = {
      {"one search to spare goes to the widest gap", prefers::nearest, 101,
       {{982313, 26000000}, {1004382, 3500000}, {1007782, 3000000}, {1010969, 2500000}, {1015106, 2000000}}},
      {"a gap's rate cap keeps the wide neighbour out", prefers::wider, 101,
       {{962082, 3500000, 1}, {965444, 2500000, 2}, {968231, 2500000, 1}, {989386, 23000000}}},
      {"roll-offs of 0.20 and 0.25 told apart", prefers::wider, 120,
       {{961965, 3000000, 1}, {964990, 2500000}, {983180, 28000000, 1}}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    fake_demodulator d;
    d.sky = c.sky;
    d.preference = c.preference;
    outcome o = scan(d, 950000, 1950000, c.budget);
    EXPECT_EQ(sorted(o.listed), centres(c.sky));
  }
}

TEST(Strategy, CostsFewerSearchesThanThePlainSweepWhereCarriersAreWide) {
  fake_demodulator d;
  for (uint32_t khz = 980000; khz < 1940000; khz += 40000) d.sky.push_back({khz, 27500000});
  outcome o = scan(d);
  EXPECT_EQ(o.listed.size(), d.sky.size());
  EXPECT_LT(o.searches, 100u - 30u);  // the plain sweep makes 100 here
}

TEST(Strategy, KeepsWithinItsBudgetAndStillStepsThroughTheWholeSweep) {
  fake_demodulator d;
  d.preference = prefers::wider;
  for (uint32_t khz = 960000; khz < 1940000; khz += 4000) d.sky.push_back({khz, 2500000 + khz % 3 * 100000});
  outcome o = scan(d, 950000, 1950000, 100);
  EXPECT_LE(o.searches, 100u);
  EXPECT_GE(*std::max_element(d.windows.begin(), d.windows.end()), 1940000u - kWindowKHz);
}

// Driver answers that are not carriers of the sky.
bool same_carrier_everywhere(fake_demodulator &, uint32_t, blindscan_result *r) {
  *r = {1500000000, 27500000, 6, 9, 2, 3, 2, 0};
  return true;
}

bool outside_the_window(fake_demodulator &, uint32_t window_khz, blindscan_result *r) {
  *r = {(window_khz + 60000) * 1000, 5000000, 5, 0, 0, 5, 1, 0};
  return true;
}

bool below_the_window(fake_demodulator &, uint32_t window_khz, blindscan_result *r) {
  *r = {(window_khz - 60000) * 1000, 5000000, 5, 0, 0, 5, 1, 0};
  return true;
}

// A real carrier, measured 0.5 % under the least rate asked.
bool just_under_the_least_rate(fake_demodulator &, uint32_t, blindscan_result *r) {
  *r = {1500000000, 1990000, 5, 0, 0, 5, 1, 0};
  return true;
}

bool rate_outside_the_limits(fake_demodulator &, uint32_t window_khz, blindscan_result *r) {
  *r = {(window_khz + 5000) * 1000, 90000000, 5, 0, 0, 5, 1, 0};
  return true;
}

bool zero_everything(fake_demodulator &, uint32_t, blindscan_result *r) {
  *r = {};
  return true;
}

TEST(Strategy, ADriverAnswerIsBelievedOnlyWhenPlausible) {
  const struct {
    const char *name;
    bool (*answer)(fake_demodulator &, uint32_t, blindscan_result *);
    size_t listed;
  } cases[] = {
      {"the same carrier at every step", same_carrier_everywhere, 1},
      {"a frequency above the window", outside_the_window, 0},
      {"a frequency below the window", below_the_window, 0},
      {"a rate 0.5 % under the least asked", just_under_the_least_rate, 1},
      {"a symbol rate outside the limits", rate_outside_the_limits, 0},
      {"all zero", zero_everything, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    fake_demodulator d;
    d.answer = c.answer;
    outcome o = scan(d);
    EXPECT_EQ(o.listed.size(), c.listed);
    EXPECT_LE(o.searches, 120u);
  }
}

TEST(Strategy, CountsWindowsTheDriverRefused) {
  fake_demodulator d;
  d.refuse_windows = true;
  outcome o = scan(d);
  EXPECT_EQ(o.tally.refused, o.searches);
  EXPECT_EQ(o.searches, 100u);  // one per window, no more
  EXPECT_TRUE(o.listed.empty());
}

// The scan assumes no one demodulator: a window wider than 10 MHz shows in
// where locks fall and is stepped by, and a driver that measures a carrier
// well over a megahertz off each time still has it listed once.
TEST(Strategy, LearnsTheWindowAndHowFarOffTheDriverMeasures) {
  const struct {
    const char *name;
    uint32_t window;
    int32_t error_khz;
  } cases[] = {
      {"10 MHz, exact", kWindowKHz, 0},
      {"16 MHz, exact", 16000, 0},
      {"10 MHz, 1.4 MHz off", kWindowKHz, 1400},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    fake_demodulator d;
    d.window = c.window;
    d.error_khz = c.error_khz;
    // A wide carrier first, then narrow ones of one rate 26 MHz apart.
    d.sky = {{980000, 27500000}};
    for (uint32_t f = 1104000; f < 1940000; f += 26000) d.sky.push_back({f, 2200000});
    outcome o = scan(d);
    EXPECT_EQ(o.listed.size(), d.sky.size());
    // Never believed wider than it is; wider than 10 MHz once a lock shows it.
    EXPECT_LE(window_of(o.tally), c.window);
    EXPECT_GE(window_of(o.tally), c.window > kWindowKHz ? kWindowKHz + 500 : kWindowKHz);
    if (c.error_khz != 0) {
      EXPECT_GE(o.tally.habits.spread_khz, 2000u);
    }
  }
  // A wide carrier locked from a window above its centre shows a reach of
  // half a band: past an empty window the next starts further on, and the
  // narrowest carriers are still in reach of one.
  fake_demodulator d;
  d.reach_divisor = 2;
  d.sky = {{980000, 27500000}, {1500000, 2000000}, {1751200, 2000000}};
  outcome o = scan(d);
  EXPECT_EQ(sorted(o.listed), centres(d.sky));
  EXPECT_GE(o.tally.habits.reach_permille, 250u);
  // The 48 steps of 10 MHz across the empty 1010-1490 MHz.
  auto empty_stretch = std::count_if(d.windows.begin(), d.windows.end(),
                                     [](uint32_t w) { return w >= 1010000 && w < 1490000; });
  EXPECT_LT(empty_stretch, 42);
}

TEST(Sweeps, UniversalLnbScansTheBandOverlapOnce) {
  scan_request r = {10700000, 12750000, 2000000, 45000000, {true, true}, {true, true}, kUniversalLnb};
  planned_sweep p[4];
  ASSERT_EQ(plan_sweeps(r, p), 4);
  // Horizontal low, horizontal high, vertical low, vertical high.
  EXPECT_EQ(p[0].setup.lane, 0);
  EXPECT_FALSE(p[0].high_band);
  EXPECT_EQ(p[0].setup.if_low_khz, 950000u);
  EXPECT_EQ(p[0].setup.if_high_khz, 1950000u);  // 11700 MHz, where the high band takes over
  EXPECT_TRUE(p[1].high_band);
  EXPECT_EQ(p[1].setup.if_low_khz, 1100000u);
  EXPECT_EQ(p[1].setup.if_high_khz, 2150000u);
  EXPECT_EQ(p[3].setup.lane, 1);
  EXPECT_EQ(sweep_windows(p[0].setup) + sweep_windows(p[1].setup), 205u);

  r.lanes[0] = false;
  r.bands[1] = false;
  r.low_khz = 11000000;
  ASSERT_EQ(plan_sweeps(r, p), 1);
  EXPECT_EQ(p[0].setup.if_low_khz, 1250000u);
}

TEST(Sweeps, TheRangeAskedSetsEachBandsIfRangeWithinWhatTheLnbDelivers) {
  struct sweep {
    bool high_band;
    uint32_t if_low, if_high;
    bool operator==(const sweep &) const = default;
  };
  const struct {
    const char *name;
    uint32_t low_khz, high_khz;
    std::vector<sweep> sweeps;
  } cases[] = {
      {"above the band switch: the high band from the range's start", 12000000, 12750000, {{true, 1400000, 2150000}}},
      {"past 12750 MHz: the IF stops at 2150 MHz", 10700000, 13000000,
       {{false, 950000, 1950000}, {true, 1100000, 2150000}}},
      {"below 10700 MHz: the IF starts at 950 MHz", 10500000, 11000000, {{false, 950000, 1250000}}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    scan_request r = {c.low_khz, c.high_khz, 2000000, 45000000, {true, false}, {true, true}, kUniversalLnb};
    planned_sweep p[4];
    std::vector<sweep> got;
    for (int i = 0, n = plan_sweeps(r, p); i < n; ++i)
      got.push_back({p[i].high_band, p[i].setup.if_low_khz, p[i].setup.if_high_khz});
    EXPECT_EQ(got, c.sweeps);
  }
}

TEST(Sweeps, SingleOscillatorLnbHasOneBandAndMirrorsTheCBand) {
  scan_request r = {0, 0, 2000000, 45000000, {true, false}, {true, true}, {5150000, 0, 0}};
  default_range(r.lnb, &r.low_khz, &r.high_khz);
  EXPECT_EQ(r.low_khz, 3000000u);
  EXPECT_EQ(r.high_khz, 4200000u);
  planned_sweep p[4];
  ASSERT_EQ(plan_sweeps(r, p), 1);
  EXPECT_TRUE(p[0].setup.inverted);
  EXPECT_EQ(dish_khz(p[0].setup, 1000000), 4150000);

  r.lnb = {10750000, 0, 0};
  default_range(r.lnb, &r.low_khz, &r.high_khz);
  ASSERT_EQ(plan_sweeps(r, p), 1);
  EXPECT_FALSE(p[0].setup.inverted);
  EXPECT_EQ(dish_khz(p[0].setup, 1000000), 11750000);
}

TEST(Sweeps, SpareSearchesGoToEarlierSweepsWithoutStarvingLaterOnes) {
  scan_request r = {10700000, 12750000, 2000000, 45000000, {true, true}, {true, true}, kUniversalLnb};
  planned_sweep p[4];
  plan_sweeps(r, p);
  EXPECT_EQ(plain_searches(4), 480u);
  EXPECT_EQ(share_budget(p, 4, 0, 0), 480u - 105 - 100 - 105);
  EXPECT_EQ(share_budget(p, 4, 3, 480 - 105), 105u);
}

}  // namespace
