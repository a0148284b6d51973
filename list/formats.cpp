// Writers of the transponder list. A word the scan did not know ("UNKNOWN")
// stays unknown: the DVBv5 file leaves its key out, JSON gives null.
#include "formats.h"

// DVBv5 value names, by the same rows as the line's word tables.
static const char *const kDvbv5Systems[] = {
    "UNDEFINED",     // 0
    "DVBC/ANNEX_A",  // 1
    "DVBC/ANNEX_B",  // 2
    "DVBT",          // 3
    "DSS",           // 4
    "DVBS",          // 5
    "DVBS2",         // 6
    "DVBH",          // 7
    "ISDBT",         // 8
    "ISDBS",         // 9
    "ISDBC",         // 10
    "ATSC",          // 11
    "ATSCMH",        // 12
    "DTMB",          // 13
    "CMMB",          // 14
    "DAB",           // 15
    "DVBT2",         // 16
    "TURBO",         // 17
    "DVBC/ANNEX_C",  // 18
};
static_assert(sizeof kDvbv5Systems / sizeof kDvbv5Systems[0] == 19);

static const char *const kDvbv5Inversions[] = {"OFF", "ON", "AUTO"};
static const char *const kDvbv5Pilots[] = {"ON", "OFF", "AUTO"};
static const char *const kDvbv5Coderates[] = {
    "NONE",  // 0
    "1/2",   // 1
    "2/3",   // 2
    "3/4",   // 3
    "4/5",   // 4
    "5/6",   // 5
    "6/7",   // 6
    "7/8",   // 7
    "8/9",   // 8
    "AUTO",  // 9
    "3/5",   // 10
    "9/10",  // 11
    "2/5",   // 12
};
static_assert(sizeof kDvbv5Coderates / sizeof kDvbv5Coderates[0] == 13);

static const char *const kDvbv5Modulations[] = {
    "QPSK",      // 0
    "QAM/16",    // 1
    "QAM/32",    // 2
    "QAM/64",    // 3
    "QAM/128",   // 4
    "QAM/256",   // 5
    "QAM/AUTO",  // 6
    "VSB/8",     // 7
    "VSB/16",    // 8
    "PSK/8",     // 9
    "APSK/16",   // 10
    "APSK/32",   // 11
    "DQPSK",     // 12
    "QAM/4_NR",  // 13
};
static_assert(sizeof kDvbv5Modulations / sizeof kDvbv5Modulations[0] == 14);

static const char *const kDvbv5Rolloffs[] = {"35", "20", "25", "AUTO"};

struct dvbv5_key {
  const char *key;
  const char *const *values;
  int field;
  uint8_t rows;
};

template <int N>
static constexpr dvbv5_key key(const char *name, int field, const char *const (&values)[N]) {
  return {name, values, field, static_cast<uint8_t>(N)};
}

static const char *dvbv5_value(const dvbv5_key &k, const list_entry &t) {
  uint8_t row = t.words[k.field];
  return row < k.rows ? k.values[row] : nullptr;
}

// The keys after DELIVERY_SYSTEM, FREQUENCY, POLARIZATION and SYMBOL_RATE,
// in the order channel files list them.
static constexpr dvbv5_key kDvbv5Keys[] = {
    key("INNER_FEC", F_FEC, kDvbv5Coderates),      key("MODULATION", F_MODULATION, kDvbv5Modulations),
    key("ROLLOFF", F_ROLLOFF, kDvbv5Rolloffs),     key("PILOT", F_PILOT, kDvbv5Pilots),
    key("INVERSION", F_INVERSION, kDvbv5Inversions),
};
static constexpr dvbv5_key kDvbv5System = key("DELIVERY_SYSTEM", F_SYSTEM, kDvbv5Systems);

static void dvbv5_entry(const list_entry &t, void *context) {
  FILE *out = static_cast<FILE *>(context);
  fputs("[CHANNEL]\n", out);
  const char *system = dvbv5_value(kDvbv5System, t);
  if (system != nullptr) fprintf(out, "\tDELIVERY_SYSTEM = %s\n", system);
  fprintf(out, "\tFREQUENCY = %d\n", static_cast<int>(entry_khz(t)));
  if (t.lane != kUnknownLane) fprintf(out, "\tPOLARIZATION = %s\n", lane_word(t.lane));
  fprintf(out, "\tSYMBOL_RATE = %lld\n", static_cast<long long>(entry_symbol_rate(t)));
  for (const dvbv5_key &k : kDvbv5Keys) {
    const char *value = dvbv5_value(k, t);
    if (value != nullptr) fprintf(out, "\t%s = %s\n", k.key, value);
  }
  fputs("\n", out);
}

void write_dvbv5(const transponder_list &list, FILE *out) { each_by_frequency(list, dvbv5_entry, out); }

// ---- JSON Lines -------------------------------------------------------------

static void json_word(FILE *out, const char *key, const char *word) {
  if (word == nullptr)
    fprintf(out, ",\"%s\":null", key);
  else
    fprintf(out, ",\"%s\":\"%s\"", key, word);
}

// One object per line, keys in this order, every key present.
static void jsonl_entry(const list_entry &t, void *context) {
  static const char *const kKeys[] = {"delivery_system", "inversion", "pilot", "fec", "modulation", "rolloff"};
  static_assert(sizeof kKeys / sizeof kKeys[0] == kWordFields);
  FILE *out = static_cast<FILE *>(context);
  fprintf(out, "{\"frequency\":%d", static_cast<int>(entry_khz(t)));
  json_word(out, "polarization", t.lane == kUnknownLane ? nullptr : lane_word(t.lane));
  fprintf(out, ",\"symbol_rate\":%lld", static_cast<long long>(entry_symbol_rate(t)));
  for (int f = 0; f < kWordFields; ++f)
    json_word(out, kKeys[f], t.words[f] == kUnknown ? nullptr : hit_word(f, t.words[f]));
  fprintf(out, ",\"hits\":%u,\"spread_khz\":%d}\n", static_cast<unsigned>(t.hits),
          static_cast<int>(t.high_khz - t.low_khz));
}

void write_jsonl(const transponder_list &list, FILE *out) { each_by_frequency(list, jsonl_entry, out); }

// ---- the map -------------------------------------------------------------------

// Pixels of the page; the carriers are drawn in kHz across and lanes down.
constexpr int kPageWidth = 1600, kPlotLeft = 100, kPlotWidth = 1480, kPlotTop = 44;
constexpr int kLaneHeight = 120, kFooter = 96;
constexpr int32_t kUniversalLowKHz = 10700000, kUniversalHighKHz = 12750000, kBandSwitchKHz = 11700000;

struct carrier_class {
  const char *label;
  const char *colour;
};
static const carrier_class kClasses[] = {
    {"DVB-S QPSK", "#4e79a7"},     // 0
    {"DVB-S2 QPSK", "#59a14f"},    // 1
    {"DVB-S2 8PSK", "#f28e2b"},    // 2
    {"DVB-S2 16APSK", "#b07aa1"},  // 3
    {"DVB-S2 32APSK", "#e15759"},  // 4
    {"other or unknown", "#9c9c9c"},  // 5
};

static int class_of(const list_entry &t) {
  uint8_t system = t.words[F_SYSTEM], modulation = t.words[F_MODULATION];
  if (system == 5 && modulation == 0) return 0;
  if (system != 6) return 5;
  switch (modulation) {
    case 0: return 1;
    case 9: return 2;
    case 10: return 3;
    case 11: return 4;
    default: return 5;
  }
}

// Occupied band in kHz: symbol rate times one plus the roll-off (0.35 when
// the scan did not know it).
static double band_khz(const list_entry &t) {
  static const int kPercent[] = {35, 20, 25, 35};
  int percent = t.words[F_ROLLOFF] < 4 ? kPercent[t.words[F_ROLLOFF]] : 35;
  return static_cast<double>(entry_symbol_rate(t)) / 100000.0 * (100 + percent);
}

// The frequencies the map spans, in whole MHz.
struct extent {
  int32_t low, high;
  int lanes;  // 2, or 3 with carriers of unknown polarisation
  int pixel(double khz) const { return kPlotLeft + static_cast<int>((khz / 1000 - low) * kPlotWidth / (high - low)); }
};

// The universal LNB's band, widened to whatever the scan found outside it.
static extent extent_of(const transponder_list &list) {
  extent e = {kUniversalLowKHz / 1000, kUniversalHighKHz / 1000, 2};
  for (int i = 0; i < list.count; ++i) {
    const list_entry &t = list.entries[i];
    double half_mhz = band_khz(t) / 2000;
    double centre_mhz = entry_khz(t) / 1000.0;
    if (centre_mhz - half_mhz < e.low) e.low = static_cast<int32_t>(centre_mhz - half_mhz) - 1;
    if (centre_mhz + half_mhz > e.high) e.high = static_cast<int32_t>(centre_mhz + half_mhz) + 1;
    if (t.lane == kUnknownLane) e.lanes = 3;
  }
  return e;
}

static void svg_lanes(FILE *out, const extent &e) {
  static const char *const kLaneNames[] = {"horizontal", "vertical", "unknown"};
  for (int lane = 0; lane < e.lanes; ++lane) {
    int y = kPlotTop + lane * kLaneHeight;
    fprintf(out, "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"%s\"/>\n", kPlotLeft, y, kPlotWidth,
            kLaneHeight, lane % 2 == 0 ? "#f4f4f4" : "#ebebeb");
    fprintf(out, "<text x=\"%d\" y=\"%d\" text-anchor=\"end\" font-size=\"14\">%s</text>\n", kPlotLeft - 8,
            y + kLaneHeight / 2 + 5, kLaneNames[lane]);
  }
  int bottom = kPlotTop + e.lanes * kLaneHeight;
  // A tick every 100 MHz, or every 1000 or more on a scan far wider than the band.
  int32_t every = 100;
  while ((e.high - e.low) / every > 30) every *= 10;
  for (int32_t mhz = (e.low + every - 1) / every * every; mhz <= e.high; mhz += every) {
    int x = e.pixel(mhz * 1000.0);
    fprintf(out, "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"#888\"/>\n", x, bottom, x, bottom + 6);
    fprintf(out, "<text x=\"%d\" y=\"%d\" text-anchor=\"middle\" font-size=\"12\">%d</text>\n", x, bottom + 20,
            static_cast<int>(mhz));
  }
  int x = e.pixel(kBandSwitchKHz);
  fprintf(out,
          "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"#444\" stroke-dasharray=\"6 4\"/>\n"
          "<text x=\"%d\" y=\"%d\" text-anchor=\"end\" font-size=\"12\">low band</text>\n"
          "<text x=\"%d\" y=\"%d\" font-size=\"12\">high band</text>\n",
          x, kPlotTop - 4, x, bottom, x - 6, kPlotTop - 6, x + 6, kPlotTop - 6);
  fprintf(out, "<text x=\"%d\" y=\"%d\" text-anchor=\"middle\" font-size=\"12\">MHz at the dish</text>\n",
          kPlotLeft + kPlotWidth / 2, bottom + 38);
}

static void svg_legend(FILE *out, int y) {
  int x = kPlotLeft;
  for (const carrier_class &c : kClasses) {
    fprintf(out,
            "<rect x=\"%d\" y=\"%d\" width=\"14\" height=\"14\" fill=\"%s\"/>"
            "<text x=\"%d\" y=\"%d\" font-size=\"13\">%s</text>\n",
            x, y, c.colour, x + 20, y + 12, c.label);
    x += 180;
  }
}

static void svg_carrier(const list_entry &t, void *context) {
  FILE *out = static_cast<FILE *>(context);
  double band = band_khz(t);
  // The carrier in the plot's own units, its full line as a tooltip.
  fprintf(out,
          "<rect x=\"%.0f\" y=\"%d.1\" width=\"%.0f\" height=\"0.8\" fill=\"%s\" fill-opacity=\"0.8\">"
          "<title>%d kHz %s %lld sym/s",
          entry_khz(t) - band / 2, t.lane, band >= 1 ? band : 1, kClasses[class_of(t)].colour,
          static_cast<int>(entry_khz(t)), lane_word(t.lane), static_cast<long long>(entry_symbol_rate(t)));
  for (int f = 0; f < kWordFields; ++f) fprintf(out, " %s", hit_word(f, t.words[f]));
  fprintf(out, ", %u hits</title></rect>\n", static_cast<unsigned>(t.hits));
}

struct svg_page {
  FILE *out;  // cppcheck-suppress unusedStructMember
  extent e;   // cppcheck-suppress unusedStructMember
};

static void svg_label(const list_entry &t, void *context) {
  FILE *out = static_cast<svg_page *>(context)->out;
  const extent &e = static_cast<svg_page *>(context)->e;
  int x = e.pixel(entry_khz(t)) + 4;
  int y = kPlotTop + t.lane * kLaneHeight + kLaneHeight / 2;
  fprintf(out,
          "<text transform=\"translate(%d %d) rotate(-90)\" text-anchor=\"middle\" font-size=\"10\">%d</text>\n", x,
          y, static_cast<int>(entry_khz(t) / 1000));
}

void write_svg(const transponder_list &list, FILE *out) {
  extent e = extent_of(list);
  int height = kPlotTop + e.lanes * kLaneHeight + kFooter;
  fprintf(out,
          "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" "
          "font-family=\"sans-serif\">\n<rect width=\"%d\" height=\"%d\" fill=\"#fff\"/>\n"
          "<text x=\"%d\" y=\"20\" font-size=\"16\">%d transponders, %d to %d MHz</text>\n",
          kPageWidth, height, kPageWidth, height, kPageWidth, height, kPlotLeft, list.count, static_cast<int>(e.low),
          static_cast<int>(e.high));
  svg_lanes(out, e);
  // kHz across: the span in MHz with three zeros, so no 64-bit arithmetic.
  fprintf(out,
          "<svg x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" viewBox=\"%d000 0 %d000 %d\" "
          "preserveAspectRatio=\"none\">\n",
          kPlotLeft, kPlotTop, kPlotWidth, e.lanes * kLaneHeight, static_cast<int>(e.low),
          static_cast<int>(e.high - e.low), e.lanes);
  each_by_frequency(list, svg_carrier, out);
  fputs("</svg>\n", out);
  svg_page page = {out, e};
  each_by_frequency(list, svg_label, &page);
  svg_legend(out, kPlotTop + e.lanes * kLaneHeight + 56);
  fputs("</svg>\n", out);
}
