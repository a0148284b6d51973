// Result lines read back, and the merge rule: one entry per carrier however
// many steps and sweeps saw it, and never one for two carriers.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "transponders.h"

namespace {

std::string line(const char *pol, int khz, int sr,
                 const char *words = "DVB-S2 INVERSION_AUTO PILOT_ON FEC_2_3 8PSK ROLLOFF_35") {
  return std::string("OK ") + pol + " " + std::to_string(khz) + " " + std::to_string(sr) + " " + words;
}

// The entries (kHz, polarisation lane, hits) after adding the lines in order.
struct entry_view {
  int32_t khz;
  int lane;
  uint32_t hits;
  bool operator==(const entry_view &) const = default;
};

std::vector<entry_view> merged(const std::vector<std::string> &lines) {
  static transponder_list list;
  list = {};
  for (const std::string &l : lines) {
    hit h;
    EXPECT_TRUE(read_hit(l.c_str(), h)) << l;
    EXPECT_TRUE(add_hit(list, h)) << l;
  }
  std::vector<entry_view> out;
  each_by_frequency(
      list,
      [](const list_entry &t, void *context) {
        static_cast<std::vector<entry_view> *>(context)->push_back({entry_khz(t), t.lane, t.hits});
      },
      &out);
  return out;
}

// What read_hit makes of a line: "" when it reads, else the reason given.
std::string reading(const char *text) {
  hit h;
  line_fault fault;
  if (read_hit(text, h, &fault)) return "";
  char why[128];
  describe_fault(fault, why, sizeof why);
  return why;
}

TEST(Hits, BadLinesAreRejectedWithTheFieldAndTheReason) {
  const struct {
    const char *line;
    const char *reason;
  } cases[] = {
      {"", "not a result line"},
      {"scan started", "not a result line"},
      {"ok HORIZONTAL 11141000 22000000 DVB-S INVERSION_OFF PILOT_OFF FEC_5_6 QPSK ROLLOFF_35", "not a result line"},
      {"OK", "cut off: 1 of 10 fields"},
      {"OK HORIZONTAL 11141000 2200", "cut off: 4 of 10 fields"},
      {"OK HORIZONTAL 11141000 22000000 DVB-S INVERSION_OFF PILOT_OFF FEC_5_6 QPSK ", "cut off: 9 of 10 fields"},
      {"OK HORIZONTAL 11141000 22000000 DVB-S INVERSION_OFF PILOT_OFF FEC_5_6 QPSK ROLLOFF_35 x",
       "more than 10 fields"},
      {"OK CIRCULAR 11141000 22000000 DVB-S INVERSION_OFF PILOT_OFF FEC_5_6 QPSK ROLLOFF_35",
       "unknown polarisation 'CIRCULAR'"},
      {"OK HORIZONTAL 1114100x 22000000 DVB-S INVERSION_OFF PILOT_OFF FEC_5_6 QPSK ROLLOFF_35",
       "frequency '1114100x' is not a number"},
      {"OK HORIZONTAL -11141000 22000000 DVB-S INVERSION_OFF PILOT_OFF FEC_5_6 QPSK ROLLOFF_35",
       "frequency '-11141000' is negative"},
      {"OK HORIZONTAL 011141000 22000000 DVB-S INVERSION_OFF PILOT_OFF FEC_5_6 QPSK ROLLOFF_35",
       "frequency '011141000' has a leading zero"},
      {"OK HORIZONTAL 0 22000000 DVB-S INVERSION_OFF PILOT_OFF FEC_5_6 QPSK ROLLOFF_35", "frequency is 0"},
      {"OK HORIZONTAL 11141000 27500x DVB-S INVERSION_OFF PILOT_OFF FEC_5_6 QPSK ROLLOFF_35",
       "symbol rate '27500x' is not a number"},
      {"OK HORIZONTAL 11141000 -1294967296 DVB-S INVERSION_OFF PILOT_OFF FEC_5_6 QPSK ROLLOFF_35",
       "symbol rate '-1294967296' is negative"},
      {"OK HORIZONTAL 11141000 2147483648 DVB-S INVERSION_OFF PILOT_OFF FEC_5_6 QPSK ROLLOFF_35",
       "symbol rate '2147483648' is out of range"},
      {"OK HORIZONTAL 11141000 0 DVB-S INVERSION_OFF PILOT_OFF FEC_5_6 QPSK ROLLOFF_35", "symbol rate is 0"},
      {"OK HORIZONTAL 11141000 22000000 DVBS2 INVERSION_OFF PILOT_OFF FEC_5_6 QPSK ROLLOFF_35",
       "unknown delivery system 'DVBS2'"},
      {"OK HORIZONTAL 11141000 22000000 UNK INVERSION_OFF PILOT_OFF FEC_5_6 QPSK ROLLOFF_35",
       "unknown delivery system 'UNK'"},
      {"OK HORIZONTAL 11141000 22000000 DVB-S INVERSION_OFF PILOT_OFF FEC_7_9 QPSK ROLLOFF_35",
       "unknown code rate 'FEC_7_9'"},
      {"OK HORIZONTAL 11141000 22000000 DVB-S INVERSION_OFF PILOT_OFF QPSK FEC_5_6 ROLLOFF_35",  // out of order
       "unknown code rate 'QPSK'"},
      {"OK HORIZONTAL 11141000 22000000 DVB-S INVERSION_OFF PILOT_OFF FEC_5_6 QPSK ROLLOFF_15",
       "unknown roll-off 'ROLLOFF_15'"},
      // Blanks of any kind and number between, before and after the fields.
      {"OK HORIZONTAL 11141000  22000000 DVB-S INVERSION_OFF PILOT_OFF FEC_5_6 QPSK ROLLOFF_35", ""},
      {" \tOK\tHORIZONTAL 11141000 22000000 DVB-S INVERSION_OFF PILOT_OFF FEC_5_6 QPSK ROLLOFF_35 \r", ""},
  };
  for (const auto &c : cases) EXPECT_EQ(reading(c.line), c.reason) << c.line;

  hit h;
  ASSERT_TRUE(read_hit("OK UNKNOWN 9750000 1 UNKNOWN UNKNOWN PILOT_ON UNKNOWN UNKNOWN ROLLOFF_35", h));
  EXPECT_EQ(h.lane, kUnknownLane);
  EXPECT_EQ(std::vector<uint8_t>(h.words, h.words + kWordFields),
            (std::vector<uint8_t>{kUnknown, kUnknown, 0, kUnknown, kUnknown, 0}));
  ASSERT_TRUE(read_hit("OK VERTICAL 10950000 2147483647 DVB-C INVERSION_ON PILOT_OFF FEC_2_5 QAM_4_NR ROLLOFF_25", h));
  EXPECT_EQ(std::vector<uint8_t>(h.words, h.words + kWordFields), (std::vector<uint8_t>{18, 1, 1, 12, 13, 2}));
}

// Lines added in order, and the entries they must give.
struct merge_case {
  const char *what;
  std::vector<std::string> lines;
  std::vector<entry_view> entries;
};

TEST(Merge, OneEntryPerCarrierNeverOneForTwo) {
  const merge_case cases[] = {
      {"neighbouring steps of one carrier, jittering",
       {line("HORIZONTAL", 11141266, 22012000), line("HORIZONTAL", 11140889, 22025000),
        line("HORIZONTAL", 11141402, 21974000)},
       {{11141186, 0, 3}}},
      {"two narrow carriers just apart (2 Msym/s, 2.1 MHz)",
       {line("VERTICAL", 11420000, 2000000), line("VERTICAL", 11422100, 2000000), line("VERTICAL", 11420300, 2000000),
        line("VERTICAL", 11421800, 2000000)},
       {{11420150, 1, 2}, {11421950, 1, 2}}},
      {"a narrow carrier beside a wide one",
       {line("HORIZONTAL", 11000000, 30000000), line("HORIZONTAL", 11017000, 2000000),
        line("HORIZONTAL", 11000500, 30000000)},
       {{11000250, 0, 2}, {11017000, 0, 1}}},
      {"one frequency on both polarisations and unknown",
       {line("HORIZONTAL", 11500000, 27500000), line("VERTICAL", 11500000, 27500000),
        line("UNKNOWN", 11500000, 27500000), line("VERTICAL", 11500400, 27500000)},
       {{11500000, 0, 1}, {11500000, 2, 1}, {11500200, 1, 2}}},
      {"the same carrier from the low-band and the high-band sweep",
       {line("HORIZONTAL", 11699000, 27500000), line("HORIZONTAL", 11700200, 27500000)},
       {{11699600, 0, 2}}},
      {"sweeps in any order give the list in frequency order",
       {line("VERTICAL", 12604000, 22000000), line("HORIZONTAL", 10729000, 22000000),
        line("VERTICAL", 10744000, 22000000), line("HORIZONTAL", 12603000, 22000000)},
       {{10729000, 0, 1}, {10744000, 1, 1}, {12603000, 0, 1}, {12604000, 1, 1}}},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(merged(c.lines), c.entries) << c.what;
    std::vector<std::string> reversed(c.lines.rbegin(), c.lines.rend());
    EXPECT_EQ(merged(reversed), c.entries) << c.what << ", reversed";
  }
}

TEST(Merge, TheRuleAtItsEdges) {
  const merge_case cases[] = {
      // 20 Msym/s each: one carrier while closer than (20 + 20) / 4 = 10 MHz.
      {"exactly the distance apart: two carriers",
       {line("HORIZONTAL", 11000000, 20000000), line("HORIZONTAL", 11010000, 20000000)},
       {{11000000, 0, 1}, {11010000, 0, 1}}},
      {"1 kHz inside it: one carrier",
       {line("HORIZONTAL", 11000000, 20000000), line("HORIZONTAL", 11009999, 20000000)},
       {{11005000, 0, 2}}},
      {"an entry's reach does not grow with its hits",
       {line("HORIZONTAL", 11000000, 20000000), line("HORIZONTAL", 11000000, 20000000),
        line("HORIZONTAL", 11000000, 20000000), line("HORIZONTAL", 11000000, 20000000),
        line("HORIZONTAL", 11010000, 20000000)},
       {{11000000, 0, 4}, {11010000, 0, 1}}},
      {"a hit between two entries joins the nearer",
       {line("HORIZONTAL", 11000000, 20000000), line("HORIZONTAL", 11010000, 20000000),
        line("HORIZONTAL", 11004000, 20000000), line("HORIZONTAL", 11006500, 20000000)},
       {{11002000, 0, 2}, {11008250, 0, 2}}},
      // A 2 Msym/s carrier 8 MHz from a 30 Msym/s one: a wide hit beyond the
      // narrow entry is the wide carrier's, never the narrow one's.
      {"rates several-fold apart never merge",
       {line("HORIZONTAL", 11000000, 30000000), line("HORIZONTAL", 11008000, 2000000),
        line("HORIZONTAL", 11012000, 30000000), line("HORIZONTAL", 11007000, 30000000)},
       {{11006333, 0, 3}, {11008000, 0, 1}}},
      {"rates half as large again are still one carrier",
       {line("VERTICAL", 11000000, 20000000), line("VERTICAL", 11000100, 30000000)},
       {{11000050, 1, 2}}},
      {"rates more than half as large again are two",
       {line("VERTICAL", 11000000, 20000000), line("VERTICAL", 11000100, 30001000)},
       {{11000000, 1, 1}, {11000100, 1, 1}}},
  };
  for (const auto &c : cases) EXPECT_EQ(merged(c.lines), c.entries) << c.what;
}

TEST(Merge, TheSameSweepsTwiceGiveTheSameListWithTwiceTheHits) {
  std::vector<std::string> sweeps;
  for (int i = 0; i < 40; ++i) {
    // Carriers 40 MHz apart, each seen on three steps 3 MHz apart.
    for (int step = 0; step < 3; ++step)
      sweeps.push_back(line(i % 2 ? "VERTICAL" : "HORIZONTAL", 10750000 + 40000 * i + 3000 * step, 27500000));
  }
  std::vector<entry_view> once = merged(sweeps);
  std::vector<std::string> twice = sweeps;
  twice.insert(twice.end(), sweeps.begin(), sweeps.end());
  for (entry_view &e : once) e.hits *= 2;
  EXPECT_EQ(merged(twice), once);
  EXPECT_EQ(once.size(), 40u);
}

TEST(Merge, EntryKeepsMeansAndTheFirstKnownWords) {
  static transponder_list list;
  list = {};
  for (const char *l : {"OK HORIZONTAL 11141000 22013000 UNKNOWN INVERSION_OFF PILOT_OFF UNKNOWN QPSK UNKNOWN",
                        "OK HORIZONTAL 11141500 21990000 DVB-S INVERSION_ON PILOT_OFF FEC_5_6 QPSK UNKNOWN"}) {
    hit h;
    ASSERT_TRUE(read_hit(l, h));
    ASSERT_TRUE(add_hit(list, h));
  }
  ASSERT_EQ(list.count, 1);
  const list_entry &t = list.entries[0];
  EXPECT_EQ(entry_khz(t), 11141250);
  EXPECT_EQ(entry_symbol_rate(t), 22002000);  // 22001500 to the nearest 1000
  EXPECT_EQ(t.high_khz - t.low_khz, 500);
  // system and code rate from the second hit, inversion from the first,
  // roll-off unknown in both and so unknown still.
  EXPECT_EQ(std::vector<uint8_t>(t.words, t.words + kWordFields), (std::vector<uint8_t>{5, 0, 1, 5, 0, kUnknown}));
}

TEST(Merge, TheLargestValuesRoundPastA32BitIntNotAroundIt) {
  EXPECT_EQ(merged({line("VERTICAL", 2147483647, 2147483647)}), (std::vector<entry_view>{{2147483647, 1, 1}}));
  static transponder_list list;
  list = {};
  hit h;
  ASSERT_TRUE(read_hit(line("VERTICAL", 2147483647, 2147483647).c_str(), h));
  ASSERT_TRUE(add_hit(list, h));
  EXPECT_EQ(entry_symbol_rate(list.entries[0]), 2147484000);
}

TEST(Merge, AFullListRefusesANewCarrierButTakesHitsOfKnownOnes) {
  static transponder_list list;
  list = {};
  hit h;
  for (int i = 0; i < kMaxTransponders; ++i) {
    ASSERT_TRUE(read_hit(line("HORIZONTAL", 10000000 + 100 * i, 20000).c_str(), h));
    ASSERT_TRUE(add_hit(list, h));
  }
  ASSERT_TRUE(read_hit(line("HORIZONTAL", 10000000 + 100 * kMaxTransponders, 20000).c_str(), h));
  EXPECT_FALSE(add_hit(list, h));
  ASSERT_TRUE(read_hit(line("HORIZONTAL", 10000001, 20000).c_str(), h));
  EXPECT_TRUE(add_hit(list, h));
  EXPECT_EQ(list.count, kMaxTransponders);
}

}  // namespace
