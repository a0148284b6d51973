// Known lists read from DVBv5 files, and a scan's entries matched with them:
// the reader's bad input, and the matching rule at its edges.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "compare.h"
#include "formats.h"
#include "known.h"

namespace {

struct reading {
  int entries;
  std::vector<std::string> faults;  // "LINE: reason"
};

reading read_text(const std::string &text, transponder_list &list) {
  list = {};
  FILE *in = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
  reading r = {0, {}};
  r.entries = read_known(
      in, 0, list,
      [](void *context, int line, const char *reason) {
        static_cast<reading *>(context)->faults.push_back(std::to_string(line) + ": " + reason);
      },
      &r);
  fclose(in);
  return r;
}

transponder_list &list_a() {
  static transponder_list list;
  return list;
}

TEST(KnownLists, TheFilesPeopleHaveAreRead) {
  const std::string text =
      "\xEF\xBB\xBF# a comment\r\n\r\n[CHANNEL]\r\n\tDELIVERY_SYSTEM = DVBS2\r\n\tFREQUENCY = 11494000\r\n"
      "\tPOLARIZATION = LEFT\r\n\tSYMBOL_RATE = 22000000\r\n\tMODULATION = PSK/8\r\n\tSTREAM_ID = 3\r\n"
      "[]\nFREQUENCY=12000000\nSYMBOL_RATE=27500000\nPOLARIZATION=RIGHT\n"
      "[outside the band]\nFREQUENCY = 3800000\nSYMBOL_RATE = 27500000\nPOLARIZATION = HORIZONTAL\n"
      "[terrestrial]\nDELIVERY_SYSTEM = DVBT\nFREQUENCY = 474000000\nSYMBOL_RATE = 1\n";
  transponder_list &list = list_a();
  reading r = read_text(text, list);
  EXPECT_TRUE(r.faults.empty()) << r.faults[0];
  ASSERT_EQ(r.entries, 3);
  EXPECT_EQ(list.entries[0].lane, 0);  // LEFT on the horizontal voltage
  EXPECT_EQ(entry_khz(list.entries[1]), 11494000);
  EXPECT_EQ(list.entries[1].words[F_MODULATION], 9);
  EXPECT_EQ(list.entries[2].lane, 1);
}

TEST(KnownLists, ABadEntryIsReportedWithItsLineAndTheRestIsUsed) {
  const std::string good = "[ok]\nFREQUENCY = 11000000\nSYMBOL_RATE = 27500000\nPOLARIZATION = VERTICAL\n";
  const struct {
    const char *entry;
    const char *fault;
  } cases[] = {
      {"[a]\nSYMBOL_RATE = 27500000\n", "5: no FREQUENCY"},
      {"[a]\nFREQUENCY = 11x\nSYMBOL_RATE = 1\n", "6: FREQUENCY '11x' is not a number"},
      {"[a]\nFREQUENCY = 11000000\nSYMBOL_RATE = 1\nMODULATION = PSK8\n", "8: unknown MODULATION 'PSK8'"},
      {"[a]\nFREQUENCY 11000000\n", "6: not KEY = VALUE"},
      {"[a]\nFREQUENCY = -5\nSYMBOL_RATE = 1\n", "6: FREQUENCY '-5' is not a number"},
      {"[a]\nFREQUENCY = 0\nSYMBOL_RATE = 1\n", "6: FREQUENCY '0' is not a number"},
      {"[a]\nFREQUENCY = 11000000\n", "5: no SYMBOL_RATE"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.entry);
    reading r = read_text(good + c.entry + good, list_a());
    ASSERT_EQ(r.faults.size(), 1u);
    EXPECT_EQ(r.faults[0], c.fault);
    EXPECT_EQ(r.entries, 2);
  }
  reading outside = read_text("FREQUENCY = 1\n" + good, list_a());
  EXPECT_EQ(outside.faults, std::vector<std::string>{"1: outside a [block]"});
}

TEST(KnownLists, AnOverLongLineCostsItsBlockOnlyWhenItHoldsAKeyRead) {
  const std::string good = "[ok]\nFREQUENCY = 11000000\nSYMBOL_RATE = 27500000\nPOLARIZATION = VERTICAL\n";
  const std::string pad(300, ' ');
  const struct {
    std::string line;
    int entries;
    std::vector<std::string> faults;
  } cases[] = {
      {"# " + std::string(300, 'x'), 2, {}},
      {"VCHANNEL = " + std::string(300, 'x'), 2, {}},
      {"[" + std::string(300, 'x') + "]\nFREQUENCY = 12000000\nSYMBOL_RATE = 1\n", 3, {}},
      {"MODULATION = PSK/8" + pad + "x", 1, {"5: longer than 255 characters"}},
      {"FREQUENCY" + pad + "= 12000000", 1, {"5: longer than 255 characters"}},
      {std::string(300, 'x'), 1, {"5: longer than 255 characters"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.line.substr(0, 20));
    reading r = read_text(good + c.line + "\n" + good, list_a());
    EXPECT_EQ(r.faults, c.faults);
    EXPECT_EQ(r.entries, c.entries);
  }
}

TEST(KnownLists, EverySatelliteSystemIsKept) {
  const struct {
    const char *system;
    int entries;
  } cases[] = {{"DVBS", 1}, {"DVBS2", 1}, {"DSS", 1}, {"ISDBS", 1}, {"TURBO", 1}, {"DVBT", 0}, {"DVBC/ANNEX_A", 0}};
  for (const auto &c : cases) {
    std::string block = std::string("[a]\nDELIVERY_SYSTEM = ") + c.system + "\nFREQUENCY = 11000000\nSYMBOL_RATE = 1\n";
    EXPECT_EQ(read_text(block, list_a()).entries, c.entries) << c.system;
  }
}

list_entry entry(uint8_t lane, int32_t khz, int32_t symbol_rate) {
  list_entry t = {};
  t.lane = lane;
  t.hits = 1;
  t.sum_khz = khz;
  t.sum_symbol_rate = symbol_rate;
  return t;
}

TEST(KnownLists, TheMatchingRuleAtItsEdges) {
  // Closer than a quarter of the two rates: 27500 + 27500 ksym/s -> 13750 kHz.
  EXPECT_TRUE(matches(entry(0, 11013749, 27500000), entry(0, 11000000, 27500000)));
  EXPECT_FALSE(matches(entry(0, 11013750, 27500000), entry(0, 11000000, 27500000)));
  EXPECT_FALSE(matches(entry(1, 11000000, 27500000), entry(0, 11000000, 27500000)));
  // A symbol rate far off still matches: the carrier changed.
  EXPECT_TRUE(matches(entry(0, 11000000, 5000000), entry(0, 11005000, 27500000)));
}

hit at(uint8_t lane, int32_t khz, int32_t symbol_rate, uint8_t modulation = kUnknown) {
  hit h = {lane, {kUnknown, kUnknown, kUnknown, kUnknown, modulation, kUnknown}, khz, symbol_rate, 0, 0};
  return h;
}

hit with(hit h, int field, uint8_t row) {
  h.words[field] = row;
  return h;
}

hit from(hit h, uint8_t source) {
  h.source = source;
  return h;
}

// "MHz status change...", and the source of a neighbour's, for each entry
// of the scan compared with the lists.
std::vector<std::string> compared(const std::vector<hit> &scanned, const std::vector<hit> &own_hits,
                                  const std::vector<hit> &neighbour_hits) {
  static transponder_list scan, own, neighbours;
  scan = own = neighbours = {};
  for (const hit &h : scanned) EXPECT_TRUE(add_hit(scan, h));
  for (const hit &h : own_hits) EXPECT_TRUE(insert_hit(own, h));
  for (const hit &h : neighbour_hits) EXPECT_TRUE(insert_hit(neighbours, h));
  EXPECT_TRUE(compare_lists(scan, own, neighbours, 10700000, 12750000));
  std::vector<std::string> got;
  for (int i = 0; i < scan.count; ++i) {
    const list_entry &t = scan.entries[i];
    std::string s = std::to_string(entry_khz(t) / 1000) + " " + status_word(t.status);
    for (int c = 0; c < kChangeKinds; ++c)
      if ((t.changes >> c & 1) != 0) s += std::string(" ") + change_word(c);
    if (t.status == STATUS_NEIGHBOUR) s += " from " + std::to_string(t.source);
    got.push_back(s);
  }
  return got;
}

TEST(KnownLists, WhatATableLeavesOpenIsNoChangeAndEachKnownCarrierCountsOnce) {
  const hit carrier = with(at(0, 11000000, 27500000, 9), F_FEC, 3);  // 8PSK 3/4
  const struct {
    const char *name;
    std::vector<hit> scanned, own, neighbours;
    std::vector<std::string> statuses;
  } cases[] = {
      {"code rate AUTO in the table", {carrier}, {with(carrier, F_FEC, 9)}, {}, {"11000 unchanged"}},
      {"roll-off AUTO in the table", {with(carrier, F_ROLLOFF, 0)}, {with(carrier, F_ROLLOFF, 3)}, {},
       {"11000 unchanged"}},
      {"a word the scan did not know", {with(carrier, F_FEC, kUnknown)}, {carrier}, {}, {"11000 unchanged"}},
      {"of two matches the one that agrees, not the nearest", {at(0, 11000500, 27500000, 9)},
       {at(0, 11000000, 27500000, 0), at(0, 11003000, 27500000, 9)}, {}, {"11000 unchanged"}},
      {"a carrier with two stream-id blocks, found", {carrier}, {carrier, carrier}, {}, {"11000 unchanged"}},
      {"a carrier listed twice, not found", {carrier}, {carrier, at(0, 11300000, 27500000), at(0, 11300000, 27500000)},
       {}, {"11000 unchanged", "11300 missing"}},
      {"the neighbour's list that has it",
       {at(0, 11100000, 5000000), at(0, 11200000, 5000000)}, {},
       {from(at(0, 11100000, 5000000), 0), from(at(0, 11200000, 5000000), 1)},
       {"11100 neighbour from 0", "11200 neighbour from 1"}},
  };
  for (const auto &c : cases) EXPECT_EQ(compared(c.scanned, c.own, c.neighbours), c.statuses) << c.name;
}

TEST(KnownLists, EveryEntryGetsItsStatusAndWhatWasNotFoundIsMissing) {
  // 10900: 27.8 against 27.5 Msym/s is more than 1 % off. Not missing: the
  // vertical one (no vertical in the scan) and the one past 12750 MHz.
  EXPECT_EQ(compared({at(0, 10800000, 27500000), at(0, 10900000, 27500000), at(0, 11000000, 27500000, 9),
                      at(0, 11100000, 5000000), at(0, 11200000, 3000000)},
                     {at(0, 10800500, 27500000), at(0, 10900000, 27800000), at(0, 11000000, 27500000, 0),
                      at(0, 11300000, 27500000), at(1, 11400000, 27500000), at(0, 12900000, 27500000)},
                     {at(0, 11200400, 3000000)}),
            (std::vector<std::string>{"10800 unchanged", "10900 changed symbol_rate", "11000 changed modulation",
                                      "11100 new", "11200 neighbour from 0", "11300 missing"}));
}

TEST(KnownLists, TheChannelFileSaysWhyBeforeEachBlock) {
  const struct {
    uint8_t status, changes, source;
    const char *comment;
  } cases[] = {
      {STATUS_CHANGED, CHANGE_MODULATION | CHANGE_FEC, 0, "# changed: modulation fec"},
      {STATUS_CHANGED, CHANGE_SYMBOL_RATE | CHANGE_ROLLOFF, 0, "# changed: symbol_rate rolloff"},
      {STATUS_NEIGHBOUR, 0, 1, "# neighbour: Sat-16.0E"},
      {STATUS_MISSING, 0, 0, "# missing"},
  };
  for (const auto &c : cases) {
    static transponder_list list;
    list = {};
    ASSERT_TRUE(add_hit(list, at(0, 11000000, 27500000)));
    list.entries[0].status = c.status;
    list.entries[0].changes = c.changes;
    list.entries[0].source = c.source;
    list_source source = {"scan", "", true, {"Sat-13.0E", "Sat-16.0E"}};
    char text[512] = "";
    FILE *out = fmemopen(text, sizeof text, "w");
    write_dvbv5(list, source, out);
    fclose(out);
    EXPECT_EQ(std::string(text).substr(0, std::string(text).find('\n')), c.comment);
  }
}

}  // namespace
