// The search window sent with request 1 and the result line built from
// request 3's record.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "blindscan.h"

namespace {

std::string line_of(const blindscan_result &r, int32_t polar, int32_t band) {
  char buf[256];
  size_t n = format_result_line(buf, sizeof buf, r, polar, band);
  return std::string(buf, n);
}

// A DVB-S2 8PSK 2/3 carrier at 1.2 GHz IF.
constexpr blindscan_result kCarrier = {1200000000u, 27500000u, 6, 9, 2, 2, 0, 1};

TEST(ResultLine, FieldsInLineOrderWithOscillatorAdded) {
  EXPECT_EQ(line_of(kCarrier, 0, 0), "OK HORIZONTAL 10950000 27500000 DVB-S2 INVERSION_AUTO PILOT_ON FEC_2_3 8PSK ROLLOFF_20\n");
  EXPECT_EQ(line_of(kCarrier, 1, 1), "OK VERTICAL 11800000 27500000 DVB-S2 INVERSION_AUTO PILOT_ON FEC_2_3 8PSK ROLLOFF_20\n");
}

TEST(ResultLine, AnyNonZeroBandIsHighBand) {
  blindscan_result zero = {};
  const struct {
    int32_t band;
    const char *khz;
  } cases[] = {{0, " 9750000 "}, {1, " 10600000 "}, {2, " 10600000 "}, {-1, " 10600000 "}, {INT32_MIN, " 10600000 "}};
  for (const auto &c : cases) EXPECT_NE(line_of(zero, 0, c.band).find(c.khz), std::string::npos) << c.band;
}

TEST(ResultLine, FrequencyAndSymbolRateAreTruncatedNotRounded) {
  blindscan_result r = kCarrier;
  r.frequency = 1200000999u;
  r.symbol_rate = 27500999u;
  EXPECT_EQ(line_of(r, 0, 0).substr(0, 31), "OK HORIZONTAL 10950000 27500000");
  r.frequency = UINT32_MAX;  // 4294967 kHz + oscillator, still an int
  r.symbol_rate = 999u;
  EXPECT_EQ(line_of(r, 0, 1).substr(0, 24), "OK HORIZONTAL 14894967 0");
}

TEST(ResultLine, AutomaticPilotAndRolloffHaveTheirFixedWords) {
  blindscan_result r = kCarrier;
  r.pilot = 2;
  r.rolloff = 3;
  EXPECT_EQ(line_of(r, 0, 0), "OK HORIZONTAL 10950000 27500000 DVB-S2 INVERSION_AUTO PILOT_ON FEC_2_3 8PSK ROLLOFF_35\n");
}

TEST(ResultLine, LastRowOfEveryTableHasItsWord) {
  blindscan_result r = {0, 0, 18, 13, 2, 12, 1, 2};
  EXPECT_EQ(line_of(r, 1, 0), "OK VERTICAL 9750000 0 DVB-C INVERSION_AUTO PILOT_OFF FEC_2_5 QAM_4_NR ROLLOFF_25\n");
}

TEST(ResultLine, NumbersPastATableShowUnknownAndKeepTenFields) {
  const uint32_t past[] = {19, 14, 3, 13, 3, 4};  // system, modulation, inversion, fec, pilot, rolloff
  for (int field = 0; field < 6; ++field) {
    for (uint32_t value : {past[field], 0xFFFFFFFFu, 0x80000000u}) {
      blindscan_result r = kCarrier;
      uint32_t *words = &r.delivery_system;
      words[field] = value;
      std::string line = line_of(r, 0, 0);
      EXPECT_NE(line.find(" UNKNOWN"), std::string::npos) << line;
      EXPECT_EQ(std::count(line.begin(), line.end(), ' '), 9) << line;
    }
  }
  for (int32_t polar : {2, -1, INT32_MAX, INT32_MIN})
    EXPECT_EQ(line_of(kCarrier, polar, 0).substr(0, 11), "OK UNKNOWN ") << polar;
}

TEST(ResultLine, SymbolRateAboveIntRangePrintsSigned) {
  blindscan_result r = kCarrier;
  r.symbol_rate = 3000000000u;
  EXPECT_NE(line_of(r, 0, 0).find(" -1294967296 "), std::string::npos);
}

TEST(ResultLine, BufferMustHoldTheLineAndItsTerminator) {
  const std::string line = line_of(kCarrier, 0, 0);
  char buf[256];
  const struct {
    size_t size;
    size_t expected;
  } cases[] = {{16, 0}, {line.size(), 0}, {line.size() + 1, line.size()}};
  for (const auto &c : cases) EXPECT_EQ(format_result_line(buf, c.size, kCarrier, 0, 0), c.expected) << c.size;
}

TEST(SearchWindow, MHzAndMsymBecomeHzAndSymbolsModulo2To32) {
  scan_options o = {950, 2150, 2, 45, 1, 1, 0};
  blindscan_params p = search_window(1550, o);
  EXPECT_EQ(p.frequency, 1550000000u);
  EXPECT_EQ(p.symbol_rate_min, 2000000u);
  EXPECT_EQ(p.symbol_rate_max, 45000000u);
  EXPECT_EQ(p.reserved1, 0u);
  EXPECT_EQ(p.reserved2, 0u);

  o.start_sr = 5000;  // 5e9 wraps
  o.end_sr = -1;
  p = search_window(-1, o);
  EXPECT_EQ(p.frequency, static_cast<uint32_t>(-1000000));
  EXPECT_EQ(p.symbol_rate_min, static_cast<uint32_t>(5000000000ull));
  EXPECT_EQ(p.symbol_rate_max, static_cast<uint32_t>(-1000000));
}

}  // namespace
