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

// The block's name identifies the transponder, "[11494 H 27500]" (MHz,
// polarisation, ksym/s): converters to other channel formats need a name.
static void dvbv5_entry(const list_entry &t, void *context) {
  FILE *out = static_cast<FILE *>(context);
  fprintf(out, "[%d%s%s %d]\n", static_cast<int>(entry_mhz(t)), t.lane == kUnknownLane ? "" : " ",
          t.lane == kUnknownLane ? "" : t.lane == 0 ? "H" : "V", static_cast<int>(entry_ksym(t)));
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

void write_dvbv5(const transponder_list &list, const list_source &, FILE *out) {
  each_by_frequency(list, dvbv5_entry, out);
}

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

void write_jsonl(const transponder_list &list, const list_source &, FILE *out) {
  each_by_frequency(list, jsonl_entry, out);
}

