// The simulated receiver's model: which steps find a carrier, the window
// edges, both LNB bands, scripted faults, and channel tables read as a
// satellite. A fault here would hide a fault in the tools.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

#include "description.h"

namespace {

constexpr uint32_t kWindowKHz = 10000;

struct Loaded {
  bool ok;
  std::string error;
};

// Loads a description (or table) written to a temporary file.
Loaded load(const std::string &text, receiver &rx, const char *lnb = nullptr) {
  char path[] = "/tmp/simrx-model-XXXXXX";
  int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);
  char error[256] = "";
  bool ok = load_description(path, lnb, rx, error, sizeof error);
  unlink(path);
  return {ok, error};
}

// The IF steps (MHz) from 950 to 2140 whose search locks on the carrier.
std::vector<uint32_t> steps_finding(const receiver &rx, uint32_t sr_min = 2000000, uint32_t sr_max = 45000000) {
  std::vector<uint32_t> steps;
  for (uint32_t mhz = 950; mhz < 2150; mhz += 10)
    if (find_signal(rx, mhz * 1000, kWindowKHz, sr_min, sr_max) != nullptr) steps.push_back(mhz);
  return steps;
}

// What write_carriers says of the receiver's carriers and folded entries.
std::string carriers_of(const receiver &rx) {
  char buf[1024] = "";
  FILE *out = fmemopen(buf, sizeof buf, "w");
  write_carriers(rx, out);
  fclose(out);
  return buf;
}

receiver &fresh() {
  static receiver rx;  // too large for the stack
  return rx;
}

TEST(Model, WiderCarriersAreFoundOnMoreSteps) {
  // One carrier at IF 1205 MHz (10955 MHz, low band); the window reaches a
  // quarter of its occupied band beyond each edge.
  const struct {
    const char *symbols_and_rolloff;
    std::vector<uint32_t> steps;
  } cases[] = {
      {"2000000 DVB-S QPSK 3/4 0.35", {1200}},
      {"27500000 DVB-S QPSK 3/4 0.35", {1190, 1200, 1210}},
      {"45000000 DVB-S2 8PSK 3/4 0.35", {1180, 1190, 1200, 1210, 1220}},
      {"45000000 DVB-S2 8PSK 3/4 0.20", {1190, 1200, 1210}},
  };
  for (const auto &c : cases) {
    receiver &rx = fresh();
    ASSERT_TRUE(load(std::string("tp 10955000 H ") + c.symbols_and_rolloff + " off off\n", rx).ok);
    EXPECT_EQ(steps_finding(rx), c.steps) << c.symbols_and_rolloff;
  }
}

TEST(Model, WindowEdgesIncludeTheLowReachAndExcludeTheHighOne) {
  // 2 Msym/s at 0.20: a 2.4 MHz band, reaching 600 kHz beyond the window.
  const struct {
    uint32_t if_khz;
    std::vector<uint32_t> steps;
  } cases[] = {
      {1199400, {1190, 1200}},  // exactly the reach below step 1200
      {1210600, {1210}},        // exactly the reach above step 1200's window
      {1200000, {1190, 1200}},  // on the border of two windows
  };
  for (const auto &c : cases) {
    receiver &rx = fresh();
    std::string tp = "tp " + std::to_string(c.if_khz + kLowOscillatorKHz) + " H 2000000 DVB-S QPSK 3/4 0.20 off off\n";
    ASSERT_TRUE(load(tp, rx).ok);
    EXPECT_EQ(steps_finding(rx), c.steps) << c.if_khz;
  }
}

TEST(Model, TheLnbDeliversItsIfRangeOfEitherBandOnOnePolarisation) {
  // 27.5 Msym/s at 0.35: found from the step holding its IF and both
  // neighbours; the low band reaches 11900 MHz, the high band 11550.
  const struct {
    uint32_t khz;
    char pol;
    const char *lnb;
    std::vector<uint32_t> steps;
  } cases[] = {
      {10955000, 'H', "low H", {1190, 1200, 1210}},
      {10955000, 'H', "high H", {}},
      {10955000, 'H', "low V", {}},
      {11805000, 'V', "high V", {1190, 1200, 1210}},
      {11805000, 'V', "low V", {2040, 2050, 2060}},  // in the overlap: both bands
      {11700000, 'H', "low H", {1940, 1950}},  // exactly at the band switch
      {11700000, 'H', "high H", {1090, 1100}},
      {11900000, 'H', "low H", {2140}},  // IF 2150 MHz, the top of the LNB's output
      {11900001, 'H', "low H", {}},
      {11550000, 'H', "high H", {950}},  // IF 950 MHz, its bottom
      {11549999, 'H', "high H", {}},
  };
  for (const auto &c : cases) {
    receiver &rx = fresh();
    std::string tp = "tp " + std::to_string(c.khz) + " " + c.pol + " 27500000 DVB-S QPSK 3/4 0.35 off off\n";
    ASSERT_TRUE(load(tp, rx, c.lnb).ok);
    EXPECT_EQ(steps_finding(rx), c.steps) << c.khz << " " << c.lnb;
  }
}

TEST(Model, TheBundledSatelliteIsSeenWholeInFourSweeps) {
  // 32 carriers; 5 lie in the band overlap and are seen by both sweeps of
  // their polarisation.
  static const char *const kSettings[] = {"low H", "low V", "high H", "high V"};
  const size_t seen[] = {11 + 2, 8 + 2, 7 + 1, 6};
  std::vector<uint32_t> all;
  for (int s = 0; s < 4; ++s) {
    receiver &rx = fresh();
    char error[256] = "";
    ASSERT_TRUE(load_description(SATELLITES "/default.sat", kSettings[s], rx, error, sizeof error)) << error;
    EXPECT_EQ(rx.tp_count, 32);
    std::vector<uint32_t> found;
    for (uint32_t mhz = 950; mhz < 2150; mhz += 10) {
      const transponder *tp = find_signal(rx, mhz * 1000, kWindowKHz, 2000000, 45000000);
      if (tp != nullptr && std::find(found.begin(), found.end(), tp->downlink_khz) == found.end())
        found.push_back(tp->downlink_khz);
    }
    EXPECT_EQ(found.size(), seen[s]) << kSettings[s];
    for (uint32_t khz : found)
      if (std::find(all.begin(), all.end(), khz * 2 + (s % 2)) == all.end()) all.push_back(khz * 2 + (s % 2));
  }
  EXPECT_EQ(all.size(), 32u);
}

TEST(Model, SymbolRateLimitsAndTheNearestCarrierDecide) {
  receiver &rx = fresh();
  ASSERT_TRUE(load("tp 10951000 H 1000000 DVB-S QPSK 3/4 0.35 off off\n"
                   "tp 10955000 H 2000000 DVB-S QPSK 3/4 0.35 off off\n",
                   rx)
                  .ok);
  // Both sit in step 1200's window; the one nearer its centre is reported.
  EXPECT_EQ(find_signal(rx, 1200000, kWindowKHz, 0, 45000000)->downlink_khz, 10955000u);
  EXPECT_EQ(find_signal(rx, 1200000, kWindowKHz, 0, 1500000)->downlink_khz, 10951000u);
  EXPECT_EQ(find_signal(rx, 1200000, kWindowKHz, 3000000, 45000000), nullptr);
}

TEST(Model, ThePreferencePicksTheWiderCarrierAndACapKeepsItOut) {
  receiver &rx = fresh();
  // IF 1201 MHz: 3 Msym/s; IF 1217: 27.5 Msym/s, its band from 1198.4 MHz;
  // IF 1240 and 1246: two alike, 3 and 2.9 Msym/s.
  const std::string sky = "tp 10951000 H 3000000 DVB-S QPSK 3/4 0.35 off off\n"
                          "tp 10967000 H 27500000 DVB-S QPSK 3/4 0.35 off off\n"
                          "tp 10990000 H 3000000 DVB-S QPSK 3/4 0.35 off off\n"
                          "tp 10996000 H 2900000 DVB-S QPSK 3/4 0.35 off off\n";
  const struct {
    const char *lines;
    uint32_t window_khz, cap, found_khz;
  } cases[] = {
      {"", 1200000, 45000000, 10951000},
      {"demodulator wider\n", 1200000, 45000000, 10967000},
      {"demodulator wider\n", 1200000, 27000000, 10951000},
      // Rates within 5 % are alike: the nearer one.
      {"demodulator wider\n", 1240000, 45000000, 10996000},
      // A window ending 1.6 MHz into the wide carrier's band sees it only
      // with the half reach.
      {"demodulator wider\n", 1190000, 45000000, 10951000},
      {"demodulator wider\nreach half\n", 1190000, 45000000, 10967000},
  };
  // Whichever is described first; with two in reach, the wider of the
  // nearest two is the widest.
  const size_t second = sky.find('\n') + 1, third = sky.find('\n', second) + 1;
  const std::string wide_first = sky.substr(second, third - second) + sky.substr(0, second) + sky.substr(third);
  for (const std::string &order : {sky, wide_first}) {
    for (const auto &c : cases) {
      for (const char *rule : {"wider", "widest"}) {
        std::string lines = c.lines;
        if (lines.find("wider") != std::string::npos) lines.replace(lines.find("wider"), 5, rule);
        SCOPED_TRACE(lines + std::to_string(c.window_khz) + (order == sky ? "" : ", wide first"));
        ASSERT_TRUE(load(lines + order, rx).ok);
        ASSERT_EQ(rx.tp_count, 4);
        const transponder *tp = find_signal(rx, c.window_khz, kWindowKHz, 2000000, c.cap);
        ASSERT_NE(tp, nullptr);
        EXPECT_EQ(tp->downlink_khz, c.found_khz);
      }
    }
  }
}

TEST(Model, EachAssumptionOfTheGridLocksWhatItSays) {
  receiver &rx = fresh();
  // IF 1203: 2 Msym/s; 1208: 4 Msym/s; 1222: 20 Msym/s, in reach of the
  // window from 1200 only with the half reach (its centre 6.75 MHz past the
  // window's end is a quarter of its band, 13.5 MHz half).
  const std::string sky = "tp 10953000 H 2000000 DVB-S QPSK 3/4 0.35 off off\n"
                          "tp 10958000 H 4000000 DVB-S QPSK 3/4 0.35 off off\n"
                          "tp 10972000 H 20000000 DVB-S QPSK 3/4 0.35 off off\n";
  const struct {
    const char *lines;
    uint32_t window_khz, found_khz;
  } cases[] = {
      {"demodulator nearest\n", 1200000, 10953000},
      {"demodulator wider\n", 1200000, 10958000},               // the wider of the nearest two
      {"demodulator widest\n", 1200000, 10958000},              // the wide one is out of reach
      {"demodulator widest\nreach half\n", 1200000, 10972000},  // and in reach
      {"demodulator wider\nreach half\n", 1200000, 10958000},   // but not among the nearest two
      {"window 16\n", 1200000, 10958000},                       // the centre moves to 1208
      {"reach quarter\n", 1210000, 10972000},
      {"reach none\n", 1210000, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.lines);
    ASSERT_TRUE(load(c.lines + sky, rx).ok);
    const transponder *tp = find_signal(rx, c.window_khz, rx.window_khz, 2000000, 45000000);
    EXPECT_EQ(tp != nullptr ? tp->downlink_khz : 0, c.found_khz);
  }
  // An unlucky demodulator locks any carrier in reach, drawn per search.
  for (auto [lines, in_reach] : {std::pair{"demodulator random\n", 2u}, {"demodulator random\nreach half\n", 3u}}) {
    ASSERT_TRUE(load(lines + sky, rx).ok);
    std::set<uint32_t> locked;
    for (uint32_t draw = 0; draw < 64; ++draw) locked.insert(find_signal(rx, 1200000, rx.window_khz, 0, 45000000, draw)->downlink_khz);
    EXPECT_EQ(locked.size(), in_reach) << lines;
    EXPECT_EQ(find_signal(rx, 1200000, rx.window_khz, 0, 45000000, 7), find_signal(rx, 1200000, rx.window_khz, 0, 45000000, 7));
  }
}

TEST(Model, ACoarseDriverMeasuresWithin1500KHzAnd1Percent) {
  receiver &rx = fresh();
  ASSERT_TRUE(load("error coarse\ntp 10955000 H 2000000 DVB-S QPSK 3/4 0.35 off off\n", rx).ok);
  int64_t widest_miss = 0;
  for (uint32_t step = 1190000; step < 1210000; step += 100) {
    uint32_t w[8];
    result_words(rx, rx.tps[0], step, w);
    int64_t miss = std::abs(static_cast<int64_t>(w[0]) - 1205000000);
    EXPECT_LE(miss, 1500000);
    EXPECT_LE(std::abs(static_cast<int64_t>(w[1]) - 2000000), 20000);
    widest_miss = std::max(widest_miss, miss);
  }
  EXPECT_GT(widest_miss, 1000000);  // far more than the model's fiftieth of the rate
}

TEST(Model, EachDiseqcPortHasItsOwnCarriers) {
  receiver &rx = fresh();
  ASSERT_TRUE(load("tp 10955000 H 27500000 DVB-S QPSK 3/4 0.35 off off\nport B\n"
                   "tp 10955000 H 22000000 DVB-S2 8PSK 2/3 0.35 on auto\nport D\n"
                   "tp 10955000 H 30000000 DVB-S2 8PSK 2/3 0.35 on auto\n",
                   rx)
                  .ok);
  EXPECT_EQ(find_signal(rx, 1200000, kWindowKHz, 2000000, 45000000)->words[1], 27500000u);
  rx.port = 1;
  EXPECT_EQ(find_signal(rx, 1200000, kWindowKHz, 2000000, 45000000)->words[1], 22000000u);
  rx.port = 2;
  EXPECT_EQ(find_signal(rx, 1200000, kWindowKHz, 2000000, 45000000), nullptr);
  rx.port = 3;
  EXPECT_EQ(find_signal(rx, 1200000, kWindowKHz, 2000000, 45000000)->words[1], 30000000u);
  EXPECT_NE(carriers_of(rx).find("port=B"), std::string::npos);
  // Without port lines there is no switch: every port sees the same.
  ASSERT_TRUE(load("tp 10955000 H 27500000 DVB-S QPSK 3/4 0.35 off off\n", rx).ok);
  rx.port = 3;
  EXPECT_NE(find_signal(rx, 1200000, kWindowKHz, 2000000, 45000000), nullptr);
}

TEST(Model, MeasurementsJitterDeterministicallyWithinTheirBounds) {
  receiver &rx = fresh();
  ASSERT_TRUE(load("tp 10955000 H 27500000 DVB-S QPSK 3/4 0.35 off off offset=1000\n", rx).ok);
  uint32_t first[8], second[8], again[8];
  result_words(rx, rx.tps[0], 1190000, first);
  result_words(rx, rx.tps[0], 1200000, second);
  result_words(rx, rx.tps[0], 1190000, again);
  EXPECT_EQ(std::vector<uint32_t>(first, first + 8), std::vector<uint32_t>(again, again + 8));
  EXPECT_NE(first[0], second[0]);
  for (const uint32_t *w : {first, second}) {
    EXPECT_LE(std::abs(static_cast<int64_t>(w[0]) - 1205001000), 27500000 / 50);
    EXPECT_LE(std::abs(static_cast<int64_t>(w[1]) - 27500000), 27500000 / 500);
  }
  ASSERT_TRUE(load("tp 10955000 H 27500000 DVB-S QPSK 3/4 0.35 off off offset=1000\njitter off\n", rx).ok);
  result_words(rx, rx.tps[0], 1190000, first);
  EXPECT_EQ(first[0], 1205001000u);
  EXPECT_EQ(first[1], 27500000u);
}

TEST(Model, FaultsAreScriptedPerRequestAndStep) {
  receiver &rx = fresh();
  ASSERT_TRUE(load("fault request=1 at=1000 ret=5\nfault request=3\n", rx).ok);
  int ret = 0;
  EXPECT_TRUE(scripted_fault(rx, 1, 1000, &ret));
  EXPECT_EQ(ret, 5);
  EXPECT_FALSE(scripted_fault(rx, 1, 1010, &ret));
  EXPECT_FALSE(scripted_fault(rx, 2, 1000, &ret));
  EXPECT_TRUE(scripted_fault(rx, 3, 2140, &ret));
  EXPECT_EQ(ret, -1);
}

TEST(Model, BadDescriptionsAreRefusedWithTheirLine) {
  const struct {
    const char *text;
    const char *error;
  } cases[] = {
      {"tuner 16 DVB-S2 one past the table\n", "line 1: not understood"},
      {"frontend 15\nfrontend 16\n", "line 2: not understood"},
      {"tuner 0 DVB-S2 x\nlnb middle H\n", "line 2: not understood"},
      {"tp 10955000 X 27500000 DVB-S QPSK 3/4 0.35 off off\n", "line 1: not understood"},
      {"fault request=4\n", "line 1: not understood"},
      // A tuner takes another's cable only when that one has its own.
      {"tuner 0 DVB-S2 a\ninput 0 0\n", "line 2: not understood"},
      {"tuner 0 DVB-S2 a\ninput 1 0\n", "line 2: not understood"},
      {"tuner 0 DVB-S2 a\ntuner 1 DVB-S2 b\ntuner 2 DVB-S2 c\ninput 1 0\ninput 2 1\n", "line 5: not understood"},
      {"tuner 0 DVB-S2 a\ntuner 1 DVB-S2 b\ntuner 2 DVB-S2 c\ninput 2 1\ninput 1 0\n", "line 5: not understood"},
      {"tuner 0 DVB-S2 a\nbusy 1\n", "line 2: not understood"},
  };
  for (const auto &c : cases) {
    receiver &rx = fresh();
    Loaded loaded = load(c.text, rx);
    EXPECT_FALSE(loaded.ok) << c.text;
    EXPECT_EQ(loaded.error, c.error) << c.text;
  }
  receiver &rx = fresh();
  EXPECT_FALSE(load("tuner 0 DVB-S2 x\n", rx, "low X").ok);
}

TEST(Model, ChannelTableKeepsOneCarrierPerBandOnEachPolarisation) {
  receiver &rx = fresh();
  ASSERT_TRUE(load("# a satellite\n"
                   "[CHANNEL]\n\tDELIVERY_SYSTEM = DVBS2\n\tFREQUENCY = 11000000\n\tPOLARIZATION = LEFT\n"
                   "\tSYMBOL_RATE = 30000000\n\tMODULATION = PSK/8\n\tINNER_FEC = 3/4\n\tINVERSION = AUTO\n"
                   "\tSTREAM_ID = 1\n\n"
                   "[CHANNEL]\n\tDELIVERY_SYSTEM = DVBS2\n\tFREQUENCY = 11000000\n\tPOLARIZATION = LEFT\n"
                   "\tSYMBOL_RATE = 30000000\n\tMODULATION = PSK/8\n\tINNER_FEC = 3/4\n\tSTREAM_ID = 2\n"
                   "[other]\n\tDELIVERY_SYSTEM = DVBS\n\tFREQUENCY = 11019000\n\tPOLARIZATION = HORIZONTAL\n"
                   "\tSYMBOL_RATE = 10000000\n\tINNER_FEC = AUTO\n"
                   "[skirts]\n\tDELIVERY_SYSTEM = DVBS\n\tFREQUENCY = 11040000\n\tPOLARIZATION = LEFT\n"
                   "\tSYMBOL_RATE = 10000000\n"
                   "[ok]\n\tDELIVERY_SYSTEM = DVBS\n\tFREQUENCY = 11000000\n\tPOLARIZATION = RIGHT\n"
                   "\tSYMBOL_RATE = 27500000\n\tINNER_FEC = 5/6\n"
                   "[c band]\n\tDELIVERY_SYSTEM = DVBS\n\tFREQUENCY = 3600000\n\tPOLARIZATION = VERTICAL\n"
                   "\tSYMBOL_RATE = 27500000\n",
                   rx)
                  .ok);
  EXPECT_EQ(carriers_of(rx),
               "carrier 11000000 H 30000000 40500000 low\n"
               "carrier 11040000 H 10000000 13500000 low\n"
               "carrier 11000000 V 27500000 37125000 low\n"
               "same-carrier 11000000 H 30000000 kept=11000000\n"
               "same-carrier 11019000 H 10000000 kept=11000000\n"
               "out-of-view 3600000 V 27500000\n");
  // DVB-S2 8PSK 3/4 at the table's roll-off (0.35), automatic pilot and inversion.
  EXPECT_EQ(std::vector<uint32_t>(rx.tps[0].words + 2, rx.tps[0].words + 8),
            (std::vector<uint32_t>{6, 9, 2, 3, 2, 0}));
  // DVB-S with what the table leaves out: QPSK, pilots off.
  EXPECT_EQ(std::vector<uint32_t>(rx.tps[2].words + 2, rx.tps[2].words + 8),
            (std::vector<uint32_t>{5, 0, 2, 5, 1, 0}));
}

TEST(Model, TableEntriesFoldOnlyIntoKeptCarriersAndOnlyWhenTheyOverlap) {
  // Entries overlap when their centres lie closer than half their two
  // symbol rates: 30 and 10 Msym/s fold closer than 20 MHz.
  auto entry = [](const char *khz, const char *pol, const char *rate) {
    return std::string("[CHANNEL]\n\tFREQUENCY = ") + khz + "\n\tPOLARIZATION = " + pol + "\n\tSYMBOL_RATE = " + rate +
           "\n";
  };
  receiver &rx = fresh();
  ASSERT_TRUE(load(entry("11000000", "HORIZONTAL", "30000000") +
                       entry("11020000", "HORIZONTAL", "10000000") +  // exactly at the distance: its own carrier
                       entry("11029999", "HORIZONTAL", "10000000") +  // 1 kHz inside it from the one before
                       entry("11000000", "VERTICAL", "30000000") +
                       entry("11019000", "VERTICAL", "10000000") +  // folded
                       entry("11025000", "VERTICAL", "10000000"),   // overlaps only the folded entry
                   rx)
                  .ok);
  EXPECT_EQ(carriers_of(rx),
               "carrier 11000000 H 30000000 40500000 low\n"
               "carrier 11020000 H 10000000 13500000 low\n"
               "carrier 11000000 V 30000000 40500000 low\n"
               "carrier 11025000 V 10000000 13500000 low\n"
               "same-carrier 11029999 H 10000000 kept=11020000\n"
               "same-carrier 11019000 V 10000000 kept=11000000\n");
}

TEST(Model, TableWordsAndWhatATableLeavesOut) {
  receiver &rx = fresh();
  ASSERT_TRUE(load("[a]\n\tDELIVERY_SYSTEM = DVBS2\n\tFREQUENCY = 11000000\n\tPOLARIZATION = VERTICAL\n"
                   "\tSYMBOL_RATE = 30000000\n\tMODULATION = APSK/16\n\tINNER_FEC = 9/10\n\tROLLOFF = 20\n"
                   "[b]\n\tDELIVERY_SYSTEM = DVBS2\n\tFREQUENCY = 11100000\n\tPOLARIZATION = VERTICAL\n"
                   "\tSYMBOL_RATE = 30000000\n\tMODULATION = APSK/32\n\tINNER_FEC = 3/5\n\tPILOT = ON\n"
                   "[c]\n\tFREQUENCY = 11200000\n\tPOLARIZATION = VERTICAL\n\tSYMBOL_RATE = 30000000\n",
                   rx)
                  .ok);
  ASSERT_EQ(rx.tp_count, 3);
  // system, modulation, inversion, code rate, pilot, roll-off as the driver numbers them
  const std::vector<uint32_t> words[] = {{6, 10, 2, 11, 2, 1}, {6, 11, 2, 10, 0, 0}, {5, 0, 2, 9, 1, 0}};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(std::vector<uint32_t>(rx.tps[i].words + 2, rx.tps[i].words + 8), words[i]);
}

TEST(Model, NeighboursCarriersShowOnlyInTheGapsOfTheSatellitesOwn) {
  // Named first, the neighbour is still weighed against every own carrier.
  char table[] = "/tmp/simrx-neighbour-XXXXXX";
  int fd = mkstemp(table);
  ASSERT_GE(fd, 0);
  const std::string entries =
      "[under]\n\tFREQUENCY = 11010000\n\tPOLARIZATION = HORIZONTAL\n\tSYMBOL_RATE = 10000000\n"
      "[gap]\n\tFREQUENCY = 11100000\n\tPOLARIZATION = HORIZONTAL\n\tSYMBOL_RATE = 20000000\n"
      "[other polarisation]\n\tFREQUENCY = 11000000\n\tPOLARIZATION = VERTICAL\n\tSYMBOL_RATE = 27500000\n"
      "[gap, again]\n\tFREQUENCY = 11100500\n\tPOLARIZATION = HORIZONTAL\n\tSYMBOL_RATE = 20000000\n"
      "[at the band switch]\n\tFREQUENCY = 11700000\n\tPOLARIZATION = VERTICAL\n\tSYMBOL_RATE = 2000000\n";
  ASSERT_EQ(write(fd, entries.data(), entries.size()), static_cast<ssize_t>(entries.size()));
  close(fd);
  receiver &rx = fresh();
  Loaded loaded = load(std::string("neighbour ") + table + "\ntp 11000000 H 27500000 DVB-S QPSK 3/4 0.35 off off\n", rx);
  unlink(table);
  ASSERT_TRUE(loaded.ok) << loaded.error;
  EXPECT_EQ(carriers_of(rx),
            "carrier 11000000 H 27500000 37125000 low\n"
            "carrier 11100000 H 20000000 27000000 low neighbour=0\n"
            "carrier 11000000 V 27500000 37125000 low neighbour=0\n"
            "carrier 11700000 V 2000000 2700000 high neighbour=0\n"
            "under-own-carrier 11010000 H 10000000 under=11000000\n"
            "same-carrier 11100500 H 20000000 kept=11100000\n");
}

TEST(Model, EachSeedMeasuresDifferently) {
  receiver &rx = fresh();
  uint32_t seed1[8], seed2[8];
  ASSERT_TRUE(load("tp 10955000 H 27500000 DVB-S QPSK 3/4 0.35 off off\n", rx).ok);
  result_words(rx, rx.tps[0], 1200000, seed1);
  ASSERT_TRUE(load("tp 10955000 H 27500000 DVB-S QPSK 3/4 0.35 off off\nseed 2\n", rx).ok);
  result_words(rx, rx.tps[0], 1200000, seed2);
  EXPECT_NE(seed1[0], seed2[0]);
  EXPECT_NE(seed1[1], seed2[1]);
}

}  // namespace

// ---- single cable and switches --------------------------------------------

void send(receiver &rx, std::vector<uint8_t> message) {
  apply_diseqc(rx, message.data(), static_cast<unsigned>(message.size()));
}

// The symbol rate a search of the tuner's window from `khz` finds, or 0.
uint32_t seen_at(const receiver &rx, uint32_t khz) {
  const transponder *tp = find_signal(tuner_view(rx), khz, kWindowKHz, 2000000, 45000000);
  return tp != nullptr ? tp->words[1] : 0;
}

const char kCable[] =
    "cable 50494\nuserband 1 1210\nuserband 3 1420 pin=7\n"
    "tp 11778000 H 27500000 DVB-S QPSK 3/4 0.35 off off\n"
    "position 2\ntp 11778000 H 22000000 DVB-S2 8PSK 2/3 0.35 on auto\n";

TEST(Model, ASingleCableCommandMovesItsSliceIntoItsUserBandAndNothingElseDoes) {
  struct {
    const char *what;
    char voltage;  // 'H' 18 V, 'V' 13 V
    std::vector<uint8_t> command;
    uint32_t at_1205, at_1415;  // symbol rate seen on user band 1, and 3
  } cases[] = {
      {"11778 H high band through band 1", 'H', {0xE0, 0x10, 0x5A, 0x0C, 0xF7}, 27500000, 0},
      {"at 13 V the LNB does not listen", 'V', {0xE0, 0x10, 0x5A, 0x0C, 0xF7}, 0, 0},
      {"position 2", 'H', {0xE0, 0x10, 0x5A, 0x1C, 0xF7}, 22000000, 0},
      {"vertical: nothing there", 'H', {0xE0, 0x10, 0x5A, 0x04, 0xF7}, 0, 0},
      {"band 3 without its PIN", 'H', {0xE0, 0x10, 0x5A, 0x4D, 0x2C}, 0, 0},
      {"band 3 with a wrong PIN", 'H', {0xE0, 0x10, 0x5C, 0x4D, 0x2C, 8}, 0, 0},
      {"band 3 with its PIN", 'H', {0xE0, 0x10, 0x5C, 0x4D, 0x2C, 7}, 0, 27500000},
      {"band 2 does not exist", 'H', {0xE0, 0x10, 0x5A, 0x2C, 0xF7}, 0, 0},
      {"the other standard's command", 'H', {0x70, 0x04, 0x36, 0x03}, 0, 0},
      {"a command cut short", 'H', {0xE0, 0x10, 0x5A, 0x0C}, 0, 0},
  };
  receiver &rx = fresh();
  for (const auto &c : cases) {
    ASSERT_TRUE(load(kCable, rx).ok);
    rx.polarisation = c.voltage;
    send(rx, c.command);
    EXPECT_EQ(seen_at(rx, 1205000), c.at_1205) << c.what;
    EXPECT_EQ(seen_at(rx, 1415000), c.at_1415) << c.what;
  }
  // Lit, the band stays as commanded whatever the voltage and tone; its
  // release empties it.
  send(rx, {0xE0, 0x10, 0x5A, 0x0C, 0xF7});
  rx.polarisation = 'V';
  rx.high_band = false;
  EXPECT_EQ(seen_at(rx, 1205000), 27500000u);
  rx.polarisation = 'H';
  send(rx, {0xE0, 0x10, 0x5A, 0x00, 0x00});
  EXPECT_EQ(seen_at(rx, 1205000), 0u);
}

TEST(Model, ThroughEn50494TheSpectrumComesOutMirroredAndRounded) {
  receiver &rx = fresh();
  ASSERT_TRUE(load("jitter off\nposition 1\ntp 11800000 H 3000000 DVB-S QPSK 3/4 0.35 off off\n" + std::string(kCable), rx).ok);
  rx.polarisation = 'H';
  send(rx, {0xE0, 0x10, 0x5A, 0x0C, 0xF8});  // T 248 centres IF 1182 MHz, 11782 at the dish
  const receiver &view = tuner_view(rx);
  uint32_t words[8];
  // 11778 is 4 MHz below the centre, so 4 MHz above it on the cable; 11800 18 MHz below.
  const transponder *tp = find_signal(view, 1209000, kWindowKHz, 20000000, 45000000);
  ASSERT_NE(tp, nullptr);
  result_words(view, *tp, 1209000, words);
  EXPECT_EQ(words[0], 1214000000u);
  tp = find_signal(view, 1187000, kWindowKHz, 2000000, 4000000);
  ASSERT_NE(tp, nullptr);
  result_words(view, *tp, 1187000, words);
  EXPECT_EQ(words[0], 1192000000u);
}

TEST(Model, APassbandPassesWhatTheRuleSaysUpToItsEdge) {
  struct {
    const char *rule;
    uint32_t khz;  // at the dish; EN 50607 through 1210 centres 11778
    uint32_t symbol_rate;
    const char *rolloff;
    bool passes;
  } cases[] = {
      {"symbols", 11788000, 20000000, "0.35", true},   // its band ends on the edge
      {"symbols", 11788001, 20000000, "0.35", false},  // a kHz past it
      {"symbols", 11768000, 20000000, "0.35", true},
      {"symbols", 11778000, 40000000, "0.20", true},
      {"symbols", 11778000, 40001000, "0.20", false},
      {"occupied", 11778000, 33333000, "0.20", true},  // 39.9996 MHz occupied
      {"occupied", 11778000, 30000000, "0.35", false},
      {"occupied", 11785000, 20000000, "0.25", true},  // 25 MHz, 7 off the centre
      {"occupied", 11786000, 20000000, "0.25", false},
  };
  receiver &rx = fresh();
  for (const auto &c : cases) {
    char text[256];
    snprintf(text, sizeof text, "cable 50607 pass=%s\nuserband 1 1210\ntp %u H %u DVB-S2 8PSK 3/4 %s on auto\n", c.rule,
             c.khz, c.symbol_rate, c.rolloff);
    ASSERT_TRUE(load(text, rx).ok);
    rx.polarisation = 'H';
    send(rx, {0x70, 0x04, 0x36, 0x03});
    bool seen = false;
    for (uint32_t khz = 1185000; khz < 1235000; khz += 5000) seen |= seen_at(rx, khz) != 0;
    EXPECT_EQ(seen, c.passes) << c.rule << " " << c.khz << " " << c.symbol_rate;
  }
}

TEST(Model, CascadedAndToneBurstSwitchesRouteAsCommittedOnesDo) {
  receiver &rx = fresh();
  ASSERT_TRUE(load("port A,U3\ntp 11000000 H 27500000 DVB-S QPSK 3/4 0.35 off off\n"
                   "port B,U3\ntp 11000000 H 22000000 DVB-S QPSK 3/4 0.35 off off\n"
                   "port B,U4\ntp 11000000 H 5000000 DVB-S QPSK 3/4 0.35 off off\n"
                   "port C,mini-B\ntp 11000000 H 3000000 DVB-S QPSK 3/4 0.35 off off\n",
                   rx)
                  .ok);
  auto found = [&rx]() {
    const transponder *tp = find_signal(rx, 1245000, kWindowKHz, 2000000, 45000000);
    return tp != nullptr ? tp->words[1] : 0u;
  };
  EXPECT_EQ(found(), 0u);  // at power-up every switch is on its first port
  send(rx, {0xE0, 0x10, 0x39, 0xF2});  // port 3 of the switch behind A
  EXPECT_EQ(found(), 27500000u);
  send(rx, {0xE0, 0x10, 0x38, 0xF6});  // committed B: its own switch is still on 1
  EXPECT_EQ(found(), 0u);
  send(rx, {0xE1, 0x10, 0x39, 0xF3});  // a repeat reaches it as well
  EXPECT_EQ(found(), 5000000u);
  send(rx, {0xE0, 0x10, 0x39, 0xF2});
  EXPECT_EQ(found(), 22000000u);
  send(rx, {0xE0, 0x10, 0x38, 0xF8});  // C, burst still A
  EXPECT_EQ(found(), 0u);
  apply_burst(rx, 1);
  EXPECT_EQ(found(), 3000000u);
  EXPECT_NE(carriers_of(rx).find("port=B uncommitted=4"), std::string::npos);
  EXPECT_NE(carriers_of(rx).find("port=C burst=B"), std::string::npos);
}
