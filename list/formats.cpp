// Writers of the transponder list. A word the scan did not know ("UNKNOWN")
// stays unknown: the DVBv5 file leaves its key out, JSON gives null.
#include "formats.h"

#include "compare.h"
#include "dvbv5_words.h"

static const char *dvbv5_value(const dvbv5_key &k, const list_entry &t) {
  uint8_t row = t.words[k.field];
  return row < k.rows ? k.values[row] : nullptr;
}

// The block's name identifies the transponder, "[11494 H 27500]" (MHz,
// polarisation, ksym/s): converters to other channel formats need a name.
struct writing {
  FILE *out;
  const list_source &source;
};

// A compared entry's status as a comment before its block: "# changed:
// symbol_rate modulation", "# neighbour: Hotbird-13.0E".
static void dvbv5_status(FILE *out, const list_entry &t, const list_source &source) {
  if (t.status == STATUS_NONE) return;
  fprintf(out, "# %s", status_word(t.status));
  for (int c = 0; c < kChangeKinds; ++c)
    if ((t.changes >> c & 1) != 0) fprintf(out, "%s %s", (t.changes & ((1 << c) - 1)) == 0 ? ":" : "", change_word(c));
  if (t.status == STATUS_NEIGHBOUR && t.source < 32 && source.neighbours[t.source] != nullptr)
    fprintf(out, ": %s", source.neighbours[t.source]);
  fputc('\n', out);
}

static void dvbv5_entry(const list_entry &t, void *context) {
  auto &w = *static_cast<writing *>(context);
  FILE *out = w.out;
  dvbv5_status(out, t, w.source);
  fprintf(out, "[%d%s%s %d]\n", static_cast<int>(entry_mhz(t)), t.lane == kUnknownLane ? "" : " ",
          t.lane == kUnknownLane ? "" : t.lane == 0 ? "H" : "V", static_cast<int>(entry_ksym(t)));
  const char *system = dvbv5_value(kDvbv5Keys[0], t);
  if (system != nullptr) fprintf(out, "\tDELIVERY_SYSTEM = %s\n", system);
  fprintf(out, "\tFREQUENCY = %d\n", static_cast<int>(entry_khz(t)));
  if (t.lane != kUnknownLane) fprintf(out, "\tPOLARIZATION = %s\n", lane_word(t.lane));
  fprintf(out, "\tSYMBOL_RATE = %lld\n", static_cast<long long>(entry_symbol_rate(t)));
  for (const dvbv5_key &k : kDvbv5Keys) {
    const char *value = dvbv5_value(k, t);
    if (value != nullptr && k.field != F_SYSTEM) fprintf(out, "\t%s = %s\n", k.key, value);
  }
  fputs("\n", out);
}

void write_dvbv5(const transponder_list &list, const list_source &source, FILE *out) {
  writing w = {out, source};
  each_by_frequency(list, dvbv5_entry, &w);
}

// ---- JSON Lines -------------------------------------------------------------

static void json_word(FILE *out, const char *key, const char *word) {
  if (word == nullptr)
    fprintf(out, ",\"%s\":null", key);
  else
    fprintf(out, ",\"%s\":\"%s\"", key, word);
}

// A file name as a JSON string: quotes, backslashes and control characters
// escaped.
static void json_string(FILE *out, const char *text) {
  fputc('"', out);
  for (const unsigned char *s = reinterpret_cast<const unsigned char *>(text); *s != '\0'; ++s) {
    if (*s == '"' || *s == '\\')
      fprintf(out, "\\%c", *s);
    else if (*s < 0x20)
      fprintf(out, "\\u%04x", *s);
    else
      fputc(*s, out);
  }
  fputc('"', out);
}

// Compared entries: "status", "changes" (the fields that differ) and, for
// a neighbour's carrier, "source" (its list's file name).
static void json_status(FILE *out, const list_entry &t, const list_source &source) {
  fprintf(out, ",\"status\":\"%s\",\"changes\":[", status_word(t.status));
  for (int c = 0, n = 0; c < kChangeKinds; ++c)
    if ((t.changes >> c & 1) != 0) fprintf(out, "%s\"%s\"", n++ > 0 ? "," : "", change_word(c));
  fputc(']', out);
  if (t.status == STATUS_NEIGHBOUR && t.source < 32 && source.neighbours[t.source] != nullptr) {
    fputs(",\"source\":", out);
    json_string(out, source.neighbours[t.source]);
  }
}

// One object per line, keys in this order, every key present.
static void jsonl_entry(const list_entry &t, void *context) {
  static const char *const kKeys[] = {"delivery_system", "inversion", "pilot", "fec", "modulation", "rolloff"};
  static_assert(sizeof kKeys / sizeof kKeys[0] == kWordFields);
  auto &w = *static_cast<writing *>(context);
  FILE *out = w.out;
  fprintf(out, "{\"frequency\":%d", static_cast<int>(entry_khz(t)));
  json_word(out, "polarization", t.lane == kUnknownLane ? nullptr : lane_word(t.lane));
  fprintf(out, ",\"symbol_rate\":%lld", static_cast<long long>(entry_symbol_rate(t)));
  for (int f = 0; f < kWordFields; ++f)
    json_word(out, kKeys[f], t.words[f] == kUnknown ? nullptr : hit_word(f, t.words[f]));
  // A missing carrier was not heard at all.
  fprintf(out, ",\"hits\":%u,\"spread_khz\":%d", t.status == STATUS_MISSING ? 0u : static_cast<unsigned>(t.hits),
          static_cast<int>(t.high_khz - t.low_khz));
  if (w.source.compared) json_status(out, t, w.source);
  fputs("}\n", out);
}

void write_jsonl(const transponder_list &list, const list_source &source, FILE *out) {
  writing w = {out, source};
  each_by_frequency(list, jsonl_entry, &w);
}

