// Parser of receiver descriptions and DVBv5 channel tables, and the
// simulated driver's demodulator: which step finds which carrier, and what
// it measures. Frequencies in kHz at the dish, IF in kHz or Hz as named.
#include "description.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

struct word_value {
  const char *word;
  int32_t value;
};

// Linux DVB frontend numbering, as the driver reports it.
static const word_value kSystems[] = {{"DVB-S", 5}, {"DVB-S2", 6}, {"DSS", 4}, {"TURBO", 17}};
static const word_value kModulations[] = {{"QPSK", 0}, {"8PSK", 9}, {"16APSK", 10}, {"32APSK", 11}};
static const word_value kInversions[] = {{"off", 0}, {"on", 1}, {"auto", 2}};
static const word_value kCoderates[] = {{"none", 0}, {"1/2", 1}, {"2/3", 2},  {"3/4", 3},   {"4/5", 4},
                                        {"5/6", 5},  {"6/7", 6}, {"7/8", 7},  {"8/9", 8},   {"auto", 9},
                                        {"3/5", 10}, {"9/10", 11}, {"2/5", 12}};
static const word_value kPilots[] = {{"on", 0}, {"off", 1}, {"auto", 2}};
static const word_value kRolloffs[] = {{"0.35", 0}, {"0.20", 1}, {"0.25", 2}, {"auto", 3}};

// The same values under the names a DVBv5 channel table uses.
static const word_value kTableSystems[] = {{"DVBS", 5}, {"DVBS2", 6}, {"DSS", 4}, {"TURBO", 17}};
static const word_value kTableModulations[] = {{"QPSK", 0}, {"PSK/8", 9}, {"APSK/16", 10}, {"APSK/32", 11},
                                               {"QAM/AUTO", 6}};
static const word_value kTableInversions[] = {{"OFF", 0}, {"ON", 1}, {"AUTO", 2}};
static const word_value kTableCoderates[] = {{"NONE", 0}, {"1/2", 1}, {"2/3", 2},  {"3/4", 3},   {"4/5", 4},
                                             {"5/6", 5},  {"6/7", 6}, {"7/8", 7},  {"8/9", 8},   {"AUTO", 9},
                                             {"3/5", 10}, {"9/10", 11}, {"2/5", 12}};
static const word_value kTablePilots[] = {{"ON", 0}, {"OFF", 1}, {"AUTO", 2}};
static const word_value kTableRolloffs[] = {{"35", 0}, {"20", 1}, {"25", 2}, {"AUTO", 3}};
// Circular polarisations reach the receiver on the same LNB voltages.
static const word_value kTablePolarisations[] = {{"HORIZONTAL", 'H'}, {"LEFT", 'H'}, {"VERTICAL", 'V'},
                                                 {"RIGHT", 'V'}};

// Roll-off in percent per driver number; the automatic one is taken as the
// widest, so no two carriers kept apart can overlap in any case.
static const uint32_t kRolloffPercent[] = {35, 20, 25, 35};
static_assert(sizeof kRolloffPercent / sizeof kRolloffPercent[0] == 4);

enum { W_FREQUENCY, W_SYMBOL_RATE, W_SYSTEM, W_MODULATION, W_INVERSION, W_FEC, W_PILOT, W_ROLLOFF };

static bool parse_number(const char *text, int64_t *out) {
  char *end = nullptr;
  errno = 0;
  long long v = strtoll(text, &end, 0);
  if (end == text || *end != '\0' || errno != 0) return false;
  *out = v;
  return true;
}

static bool find_word(const char *text, const word_value *table, size_t rows, uint32_t *out) {
  for (size_t i = 0; i < rows; ++i) {
    if (strcmp(table[i].word, text) == 0) {
      *out = static_cast<uint32_t>(table[i].value);
      return true;
    }
  }
  return false;
}

// A word of the table, or a plain number for driver values outside it
// (negative numbers wrap as the driver's 32-bit word would).
template <size_t N>
static bool parse_word(const char *text, const word_value (&table)[N], uint32_t *out) {
  if (find_word(text, table, N, out)) return true;
  int64_t v = 0;
  if (!parse_number(text, &v)) return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

static uint32_t bandwidth_hz(uint32_t symbol_rate, uint32_t rolloff) {
  uint32_t percent = rolloff < 4 ? kRolloffPercent[rolloff] : 35;
  return static_cast<uint32_t>(static_cast<uint64_t>(symbol_rate) * (100 + percent) / 100);
}

// The switch route the description's next carriers hang on ("port" lines),
// or their single-cable position ("position" lines).
static uint8_t g_reading_port;
static int8_t g_reading_uncommitted, g_reading_burst;

static void place(transponder &tp) {
  tp.port = g_reading_port;
  tp.uncommitted = g_reading_uncommitted;
  tp.burst = g_reading_burst;
}

// "B", "U3", "mini-A", or several joined by commas ("B,U3"): a route
// through the switches; a committed port is A when none is named.
static bool parse_route(const char *text, receiver &rx) {
  g_reading_port = 0;
  g_reading_uncommitted = g_reading_burst = -1;
  char copy[32];
  snprintf(copy, sizeof copy, "%s", text);
  for (char *part = strtok(copy, ","); part != nullptr; part = strtok(nullptr, ",")) {
    long n = part[0] == 'U' ? strtol(part + 1, nullptr, 10) : 0;
    if (strlen(part) == 1 && part[0] >= 'A' && part[0] <= 'D') {
      g_reading_port = static_cast<uint8_t>(part[0] - 'A');
      rx.diseqc_switch = true;
    } else if (n >= 1 && n <= 16) {
      g_reading_uncommitted = static_cast<int8_t>(n - 1);
    } else if (strcmp(part, "mini-A") == 0 || strcmp(part, "mini-B") == 0) {
      g_reading_burst = static_cast<int8_t>(part[5] - 'A');
    } else {
      return false;
    }
  }
  return true;
}

struct line_reader {
  char *fields[16];
  int count;
};

static void split(char *line, line_reader &r) {
  r.count = 0;
  for (char *tok = strtok(line, " \t\r\n"); tok != nullptr && r.count < 16; tok = strtok(nullptr, " \t\r\n"))
    r.fields[r.count++] = tok;
}

// "key=value" among the fields from index `from`; nullptr when absent.
static const char *option(const line_reader &r, int from, const char *key) {
  size_t n = strlen(key);
  for (int i = from; i < r.count; ++i)
    if (strncmp(r.fields[i], key, n) == 0 && r.fields[i][n] == '=') return r.fields[i] + n + 1;
  return nullptr;
}

static bool fail(char *error, size_t size, int line_no, const char *what) {
  snprintf(error, size, "line %d: %s", line_no, what);
  return false;
}

static void add_tuner(receiver &rx, int n, const char *type, const char *name) {
  rx.frontend[n] = true;
  rx.listed[n] = true;
  snprintf(rx.tuner_type[n], sizeof rx.tuner_type[n], "%s", type);
  snprintf(rx.tuner_name[n], sizeof rx.tuner_name[n], "%.*s", static_cast<int>(strcspn(name, "\r\n")), name);
}

static bool parse_tuner(const line_reader &r, char *raw, receiver &rx) {
  int64_t n = 0;
  if (r.count < 3 || !parse_number(r.fields[1], &n) || n < 0 || n >= kMaxTuners) return false;
  // The name is the rest of the raw line after the type.
  const char *name = strstr(raw, r.fields[2]) + strlen(r.fields[2]);
  name += strspn(name, " \t");
  add_tuner(rx, static_cast<int>(n), r.fields[2], name);
  return true;
}

// "input N FROM": N hears FROM's cable, which FROM alone switches. No
// chains: FROM has a cable of its own and N has no followers.
static bool parse_input(const line_reader &r, receiver &rx) {
  int64_t n = 0, from = 0;
  if (r.count != 3 || !parse_number(r.fields[1], &n) || !parse_number(r.fields[2], &from)) return false;
  if (n < 0 || n >= kMaxTuners || from < 0 || from >= kMaxTuners || n == from) return false;
  if (!rx.frontend[n] || !rx.frontend[from] || rx.input[from] != from) return false;
  for (int k = 0; k < kMaxTuners; ++k)
    if (k != n && rx.input[k] == n) return false;
  rx.input[n] = static_cast<int8_t>(from);
  return true;
}

static bool parse_busy(const line_reader &r, receiver &rx) {
  int64_t n = 0;
  if (r.count != 2 || !parse_number(r.fields[1], &n) || n < 0 || n >= kMaxTuners || !rx.frontend[n]) return false;
  rx.busy[n] = true;
  return true;
}

static bool parse_transponder(const line_reader &r, receiver &rx) {
  if (r.count < 10 || rx.tp_count >= kMaxTransponders) return false;
  transponder &tp = rx.tps[rx.tp_count];
  int64_t khz = 0, sr = 0, offset = 0;
  if (!parse_number(r.fields[1], &khz) || khz <= 0 || khz > UINT32_MAX) return false;
  if (strcmp(r.fields[2], "H") != 0 && strcmp(r.fields[2], "V") != 0) return false;
  if (!parse_number(r.fields[3], &sr) || sr <= 0 || sr > UINT32_MAX) return false;
  tp = {};
  tp.downlink_khz = static_cast<uint32_t>(khz);
  tp.polarisation = r.fields[2][0];
  tp.at_mhz = -1;
  place(tp);
  tp.neighbour = -1;
  tp.words[W_SYMBOL_RATE] = static_cast<uint32_t>(sr);
  if (!parse_word(r.fields[4], kSystems, &tp.words[W_SYSTEM]) ||
      !parse_word(r.fields[5], kModulations, &tp.words[W_MODULATION]) ||
      !parse_word(r.fields[6], kCoderates, &tp.words[W_FEC]) ||
      !parse_word(r.fields[7], kRolloffs, &tp.words[W_ROLLOFF]) ||
      !parse_word(r.fields[8], kPilots, &tp.words[W_PILOT]) ||
      !parse_word(r.fields[9], kInversions, &tp.words[W_INVERSION]))
    return false;
  const char *off = option(r, 10, "offset");
  if (off != nullptr && (!parse_number(off, &offset) || offset < INT32_MIN || offset > INT32_MAX)) return false;
  tp.offset_hz = static_cast<int32_t>(offset);
  tp.bandwidth_hz = bandwidth_hz(tp.words[W_SYMBOL_RATE], tp.words[W_ROLLOFF]);
  rx.tp_count++;
  return true;
}

// "result at=MHZ w0 .. w7": the step at MHZ finds exactly these eight words.
static bool parse_result(const line_reader &r, receiver &rx) {
  const char *at = option(r, 1, "at");
  int64_t mhz = 0;
  if (r.count != 10 || at == nullptr || !parse_number(at, &mhz) || rx.tp_count >= kMaxTransponders) return false;
  transponder &tp = rx.tps[rx.tp_count];
  tp = {};
  tp.at_mhz = static_cast<int32_t>(mhz);
  place(tp);
  tp.neighbour = -1;
  for (int i = 0; i < 8; ++i) {
    int64_t v = 0;
    if (!parse_number(r.fields[2 + i], &v)) return false;
    tp.words[i] = static_cast<uint32_t>(v);
  }
  rx.tp_count++;
  return true;
}

static bool parse_fault(const line_reader &r, receiver &rx) {
  if (r.count < 2) return false;
  if (strcmp(r.fields[1], "open") == 0) return rx.fault_open = true;
  if (strcmp(r.fields[1], "listing") == 0) return rx.fault_listing = true;
  if (r.count == 3 && strcmp(r.fields[1], "frontend") == 0) {
    if (strcmp(r.fields[2], "open") == 0) return rx.fault_frontend_open = true;
    if (strcmp(r.fields[2], "lnb") == 0) return rx.fault_frontend_lnb = true;
    return false;
  }
  const char *req = option(r, 1, "request");
  const char *at = option(r, 1, "at");
  const char *ret = option(r, 1, "ret");
  int64_t n = 0, mhz = -1, value = -1;
  if (req == nullptr || !parse_number(req, &n) || n < 1 || n > 3 || rx.fault_count >= kMaxFaults) return false;
  if (at != nullptr && !parse_number(at, &mhz)) return false;
  if (ret != nullptr && (!parse_number(ret, &value) || value == 0)) return false;
  rx.faults[rx.fault_count++] = {static_cast<int>(n), mhz, static_cast<int>(value)};
  return true;
}

static bool parse_lnb(const char *band, const char *polarisation, receiver &rx) {
  if (strcmp(band, "low") != 0 && strcmp(band, "high") != 0) return false;
  if (strcmp(polarisation, "H") != 0 && strcmp(polarisation, "V") != 0) return false;
  rx.high_band = strcmp(band, "high") == 0;
  rx.polarisation = polarisation[0];
  return true;
}

// ---- DVBv5 channel tables ----------------------------------------------------

// One "[...]" block of a channel table, as text until the block ends.
constexpr int kTableWord = 32;
struct table_entry {
  char system[kTableWord], frequency[kTableWord], polarisation[kTableWord], symbol_rate[kTableWord];
  char modulation[kTableWord], fec[kTableWord], rolloff[kTableWord], pilot[kTableWord], inversion[kTableWord];
  bool open;
};

// A table's word, or the fallback when the table leaves the key out.
template <size_t N>
static bool table_value(const char *text, const word_value (&table)[N], uint32_t fallback, uint32_t *out) {
  if (text[0] == '\0') {
    *out = fallback;
    return true;
  }
  return find_word(text, table, N, out);
}

// Turns a finished block into a transponder; false when it is not one.
static bool table_transponder(const table_entry &e, receiver &rx) {
  int64_t khz = 0, sr = 0;
  uint32_t polarisation = 0;
  if (!parse_number(e.frequency, &khz) || khz <= 0 || khz > UINT32_MAX) return false;
  if (!parse_number(e.symbol_rate, &sr) || sr <= 0 || sr > UINT32_MAX) return false;
  if (!table_value(e.polarisation, kTablePolarisations, 0, &polarisation) || polarisation == 0) return false;
  if (rx.tp_count >= kMaxTransponders) return false;
  transponder tp = {};
  tp.downlink_khz = static_cast<uint32_t>(khz);
  tp.polarisation = static_cast<char>(polarisation);
  tp.at_mhz = -1;
  place(tp);
  tp.neighbour = -1;
  tp.words[W_SYMBOL_RATE] = static_cast<uint32_t>(sr);
  uint32_t *w = tp.words;
  if (!table_value(e.system, kTableSystems, 5, &w[W_SYSTEM])) return false;
  // What a table leaves out is what the system implies: QPSK, 0.35, and
  // pilots off on DVB-S, automatic on DVB-S2.
  uint32_t pilot = w[W_SYSTEM] == 6 ? 2 : 1;
  if (!table_value(e.modulation, kTableModulations, 0, &w[W_MODULATION]) ||
      !table_value(e.fec, kTableCoderates, 9, &w[W_FEC]) ||
      !table_value(e.rolloff, kTableRolloffs, 0, &w[W_ROLLOFF]) ||
      !table_value(e.pilot, kTablePilots, pilot, &w[W_PILOT]) ||
      !table_value(e.inversion, kTableInversions, 2, &w[W_INVERSION]))
    return false;
  tp.bandwidth_hz = bandwidth_hz(tp.words[W_SYMBOL_RATE], tp.words[W_ROLLOFF]);
  rx.tps[rx.tp_count++] = tp;
  return true;
}

// "KEY = VALUE" inside a block; other keys (STREAM_ID, PLS_*) name parts of
// the same carrier and change nothing here.
static bool table_line(char *line, table_entry &e) {
  char *eq = strchr(line, '=');
  if (eq == nullptr) return false;
  *eq = '\0';
  char key[kTableWord], value[kTableWord];
  if (sscanf(line, " %31s", key) != 1 || sscanf(eq + 1, " %31s", value) != 1) return false;
  struct {
    const char *key;
    char *field;
  } const fields[] = {{"DELIVERY_SYSTEM", e.system}, {"FREQUENCY", e.frequency},     {"POLARIZATION", e.polarisation},
                      {"SYMBOL_RATE", e.symbol_rate}, {"MODULATION", e.modulation}, {"INNER_FEC", e.fec},
                      {"ROLLOFF", e.rolloff},         {"PILOT", e.pilot},           {"INVERSION", e.inversion}};
  for (const auto &f : fields)
    if (strcmp(key, f.key) == 0) snprintf(f.field, kTableWord, "%s", value);
  return true;
}

static bool load_table(const char *path, receiver &rx, char *error, size_t error_size) {
  FILE *in = fopen(path, "r");
  if (in == nullptr) return fail(error, error_size, 0, "cannot open the channel table");
  char raw[kMaxLine];
  table_entry entry = {};
  int line_no = 0;
  bool ok = true;
  while (ok && fgets(raw, sizeof raw, in) != nullptr) {
    ++line_no;
    const char *text = raw + strspn(raw, " \t");
    if (*text == '#' || *text == '\n' || *text == '\r' || *text == '\0') continue;
    if (*text == '[') {
      if (entry.open) ok = table_transponder(entry, rx);
      entry = {};
      entry.open = true;
      continue;
    }
    ok = entry.open && table_line(raw, entry);
  }
  fclose(in);
  if (ok && entry.open) ok = table_transponder(entry, rx);
  return ok || fail(error, error_size, line_no, "not a channel table entry");
}

static bool is_channel_table(const char *path) {
  FILE *in = fopen(path, "r");
  if (in == nullptr) return false;
  char raw[kMaxLine];
  bool table = false;
  while (fgets(raw, sizeof raw, in) != nullptr) {
    const char *text = raw + strspn(raw, " \t");
    if (*text == '#' || *text == '\n') continue;
    table = *text == '[';
    break;
  }
  fclose(in);
  return table;
}

// ---- descriptions ---------------------------------------------------------------

static bool parse_satellite(const line_reader &r, const char *description_path, receiver &rx, char *error,
                            size_t error_size) {
  if (r.count != 2) return false;
  char path[kMaxLine];
  const char *slash = strrchr(description_path, '/');
  if (r.fields[1][0] == '/' || slash == nullptr)
    snprintf(path, sizeof path, "%s", r.fields[1]);
  else
    snprintf(path, sizeof path, "%.*s/%s", static_cast<int>(slash - description_path), description_path, r.fields[1]);
  return load_table(path, rx, error, error_size);
}

static bool parse_line(char *raw, const char *path, receiver &rx, char *error, size_t error_size) {
  char copy[kMaxLine + 16];
  snprintf(copy, sizeof copy, "%s", raw);
  line_reader r;
  split(copy, r);
  if (r.count == 0 || r.fields[0][0] == '#') return true;
  const char *key = r.fields[0];
  if (strcmp(key, "listing") == 0) {
    // Verbatim: everything after "listing " (tabs and long lines included).
    if (rx.listing_lines >= kMaxListingLines) return false;
    const char *text = raw + strlen("listing");
    if (*text == ' ') ++text;
    snprintf(rx.listing[rx.listing_lines++], kMaxLine, "%.*s", static_cast<int>(strcspn(text, "\r\n")), text);
    rx.listing_given = true;
    return true;
  }
  if (strcmp(key, "tuner") == 0) return parse_tuner(r, raw, rx);
  if (strcmp(key, "frontend") == 0) {
    int64_t n = 0;
    if (r.count != 2 || !parse_number(r.fields[1], &n) || n < 0 || n >= kMaxTuners) return false;
    return rx.frontend[n] = true;
  }
  if (strcmp(key, "input") == 0) return parse_input(r, rx);
  if (strcmp(key, "busy") == 0) return parse_busy(r, rx);
  if (strcmp(key, "lnb") == 0) return r.count == 3 && parse_lnb(r.fields[1], r.fields[2], rx);
  if (strcmp(key, "tp") == 0) return parse_transponder(r, rx);
  if (strcmp(key, "satellite") == 0) return parse_satellite(r, path, rx, error, error_size);
  if (strcmp(key, "neighbour") == 0) {
    // A neighbouring satellite's table: its carriers, marked as its.
    int first = rx.tp_count;
    if (rx.neighbour_count >= 100 || !parse_satellite(r, path, rx, error, error_size)) return false;
    for (int i = first; i < rx.tp_count; ++i) rx.tps[i].neighbour = static_cast<int8_t>(rx.neighbour_count);
    rx.neighbour_count++;
    return true;
  }
  if (strcmp(key, "result") == 0) return parse_result(r, rx);
  if (strcmp(key, "port") == 0) return r.count == 2 && parse_route(r.fields[1], rx);
  if (strcmp(key, "cable") == 0 || strcmp(key, "userband") == 0) return parse_cable(r.fields, r.count, rx);
  if (strcmp(key, "position") == 0) {
    long n = r.count == 2 ? strtol(r.fields[1], nullptr, 10) : 0;
    if (n < 1 || n > 64) return false;
    g_reading_port = static_cast<uint8_t>(n - 1);
    return true;
  }
  if (strcmp(key, "demodulator") == 0) return r.count == 2 && parse_preference(r.fields[1], &rx.preference);
  if (strcmp(key, "reach") == 0) return r.count == 2 && parse_reach(r.fields[1], &rx.reach);
  if (strcmp(key, "window") == 0) return r.count == 2 && parse_window(r.fields[1], &rx.window_khz);
  if (strcmp(key, "error") == 0) return r.count == 2 && parse_error(r.fields[1], &rx.coarse);
  if (strcmp(key, "fault") == 0) return parse_fault(r, rx);
  if (strcmp(key, "seed") == 0) {
    int64_t n = 0;
    if (r.count != 2 || !parse_number(r.fields[1], &n) || n < 0 || n > UINT32_MAX) return false;
    rx.seed = static_cast<uint32_t>(n);
    return true;
  }
  if (strcmp(key, "jitter") == 0) {
    if (r.count != 2 || strcmp(r.fields[1], "off") != 0) return false;
    rx.jitter = false;
    return true;
  }
  if (strcmp(key, "trace") == 0) return r.count == 2 && strcmp(r.fields[1], "stderr") == 0 && (rx.trace_stderr = true);
  if (strcmp(key, "wait") == 0) return r.count == 2 && strcmp(r.fields[1], "real") == 0 && (rx.real_wait = true);
  return false;
}

static void add_note(receiver &rx, note_kind kind, const transponder &tp, uint32_t kept_khz) {
  if (rx.note_count >= kMaxNotes) return;  // the notes only explain; the model is complete
  rx.notes[rx.note_count++] = {kind, tp.downlink_khz, tp.polarisation, tp.words[W_SYMBOL_RATE], kept_khz};
}

static uint32_t distance_khz(uint32_t a, uint32_t b) { return a > b ? a - b : b - a; }

// Carriers on one polarisation never overlap: an entry whose band overlaps
// one kept before it (a repeated line, another stream of the same carrier)
// is part of that carrier. The band counted is the one a carrier needs at
// the least, its symbol rate: neighbours may share their roll-off skirts, as
// real ones spaced 36 MHz apart at 27.5 Msym/s do. Entries a universal LNB
// cannot deliver go too.
// The satellite's own entries first, its neighbours' after them, each in
// the order read: a neighbour's carrier is weighed against every own one.
static void own_carriers_first(receiver &rx) {
  static transponder sorted[kMaxTransponders];
  int n = 0;
  for (int pass = 0; pass < 2; ++pass)
    for (int i = 0; i < rx.tp_count; ++i)
      if ((rx.tps[i].neighbour >= 0) == (pass == 1)) sorted[n++] = rx.tps[i];
  memcpy(rx.tps, sorted, sizeof(transponder) * static_cast<size_t>(n));
}

// A neighbouring satellite's carrier reaches the dish some 20 dB or more
// below the satellite's own, off the main lobe: under an own carrier it is
// buried, and only in the gaps between own carriers can a demodulator lock
// it. So it is in view only where its symbol-rate band overlaps no own
// carrier's on its polarisation; elsewhere it is noted as lying under one.
static void keep_distinct_carriers(receiver &rx) {
  own_carriers_first(rx);
  int kept = 0;
  for (int i = 0; i < rx.tp_count; ++i) {
    const transponder &tp = rx.tps[i];
    bool keep = true;
    if (tp.at_mhz < 0 && (tp.downlink_khz < kBandLowKHz || tp.downlink_khz > kBandHighKHz)) {
      add_note(rx, NOTE_OUT_OF_VIEW, tp, 0);
      keep = false;
    }
    for (int k = 0; keep && tp.at_mhz < 0 && k < kept; ++k) {
      const transponder &other = rx.tps[k];
      if (other.at_mhz >= 0 || other.polarisation != tp.polarisation || other.port != tp.port ||
          other.uncommitted != tp.uncommitted || other.burst != tp.burst)
        continue;
      uint64_t apart_hz = static_cast<uint64_t>(distance_khz(other.downlink_khz, tp.downlink_khz)) * 1000u;
      if (2 * apart_hz >= static_cast<uint64_t>(other.words[W_SYMBOL_RATE]) + tp.words[W_SYMBOL_RATE]) continue;
      bool under = tp.neighbour >= 0 && other.neighbour < 0;
      add_note(rx, under ? NOTE_UNDER_OWN_CARRIER : NOTE_SAME_CARRIER, tp, other.downlink_khz);
      keep = false;
    }
    if (keep) rx.tps[kept++] = tp;
  }
  rx.tp_count = kept;
}

bool load_description(const char *path, const char *lnb, receiver &rx, char *error, size_t error_size) {
  rx = {};
  rx.polarisation = 'H';
  rx.lnb_powered = true;
  rx.seed = 1;
  rx.jitter = true;
  rx.reach = REACH_QUARTER;
  rx.window_khz = kDefaultWindowKHz;
  for (int n = 0; n < kMaxTuners; ++n) rx.input[n] = static_cast<int8_t>(n);
  g_reading_port = 0;
  g_reading_uncommitted = g_reading_burst = -1;
  bool ok = true;
  if (is_channel_table(path)) {
    // A table alone: the receiver of the bundled satellite, pointed at it.
    add_tuner(rx, 0, "DVB-S2", "DVB-S2 NIM (internal)");
    ok = load_table(path, rx, error, error_size);
  } else {
    FILE *in = fopen(path, "r");
    if (in == nullptr) return fail(error, error_size, 0, "cannot open");
    // Sized for the longest verbatim listing line plus the keyword.
    static char raw[kMaxLine + 16];
    int line_no = 0;
    error[0] = '\0';
    while (ok && fgets(raw, sizeof raw, in) != nullptr) {
      ++line_no;
      ok = parse_line(raw, path, rx, error, error_size);
    }
    fclose(in);
    if (!ok && error[0] == '\0') fail(error, error_size, line_no, "not understood");
  }
  if (!ok) return false;
  if (lnb != nullptr) {
    char band[8] = "", polarisation[4] = "";
    if (sscanf(lnb, "%7s %3s", band, polarisation) != 2 || !parse_lnb(band, polarisation, rx))
      return fail(error, error_size, 0, "LNB setting not understood");
  }
  keep_distinct_carriers(rx);
  return true;
}

void write_listing(const receiver &rx, FILE *out) {
  if (rx.listing_given) {
    for (int i = 0; i < rx.listing_lines; ++i) fprintf(out, "%s\n", rx.listing[i]);
    return;
  }
  for (int n = 0; n < kMaxTuners; ++n) {
    if (!rx.listed[n]) continue;
    fprintf(out, "NIM Socket %d:\n\tType: %s\n\tName: %s\n\tFrontend_Device: %d\n\tI2C_Device: %d\n", n,
            rx.tuner_type[n], rx.tuner_name[n], n, n + 2);
  }
}

// ---- the demodulator ----------------------------------------------------------------

static bool high_band(const transponder &tp) { return tp.downlink_khz >= kBandSwitchKHz; }

static uint32_t oscillator_khz(bool high) { return high ? kHighOscillatorKHz : kLowOscillatorKHz; }

// A universal LNB passes whatever its oscillator puts in the IF range: the
// low band reaches up to 11900 MHz and the high band down to 11550, so a
// carrier between the two is delivered in both.
static bool in_view(const receiver &rx, const transponder &tp) {
  if (tp.polarisation != rx.polarisation || !rx.lnb_powered) return false;
  if (!routed(rx, tp)) return false;
  uint32_t oscillator = oscillator_khz(rx.high_band);
  if (tp.downlink_khz < oscillator) return false;
  uint32_t if_khz = tp.downlink_khz - oscillator;
  return if_khz >= kIfLowKHz && if_khz <= kIfHighKHz;
}

// A search at step_khz looks at [step, step + window) and locks on a carrier
// whose centre lies there or within a quarter of the carrier's band beyond
// either edge (half of it with "reach half": a tuner that sees a wide band
// catches a carrier as soon as its band touches the window): a wide carrier is found from its neighbouring steps too, a
// narrow one only from the steps it sits in. Of several, the demodulator's
// preference picks one: each step reports at most one. A cap on the symbol
// rate keeps a wider carrier out under either preference.
// One search's view: its window [low, high) in IF kHz and the rates asked.
struct search_view {
  const receiver &rx;
  int64_t low, high;
  uint32_t sr_min, sr_max;
};

// How far from the window's centre a carrier in reach lies (twice the kHz),
// or -1 when it is out of reach: another polarisation, band or port, a rate
// outside the limits, or too far from the window for the reach.
static int64_t distance_in_reach(const search_view &v, const transponder &tp) {
  if (tp.at_mhz >= 0 || !in_view(v.rx, tp)) return -1;
  uint32_t sr = tp.words[W_SYMBOL_RATE];
  if (sr < v.sr_min || sr > v.sr_max) return -1;
  int64_t centre = static_cast<int64_t>(tp.downlink_khz) - oscillator_khz(v.rx.high_band);
  static const uint32_t kReachParts[] = {0, 4000, 2000};  // band in Hz per kHz of reach, by demodulator_reach
  int64_t reach = v.rx.reach == REACH_NONE ? 0 : tp.bandwidth_hz / kReachParts[v.rx.reach];
  if (centre < v.low - reach || centre >= v.high + reach) return -1;
  return llabs(2 * centre - (v.low + v.high));
}

// Before it locks, a demodulator tells symbol rates apart only roughly:
// one counts as wider when it is more than 5 % wider.
static bool clearly_wider(const transponder &a, const transponder &b) {
  return 100ull * a.words[W_SYMBOL_RATE] > 105ull * b.words[W_SYMBOL_RATE];
}

// The carrier in reach nearest the window's centre, the first of equals,
// passing over `skip`.
static const transponder *nearest(const search_view &v, const transponder *skip) {
  const transponder *best = nullptr;
  int64_t best_distance = 0;
  for (int i = 0; i < v.rx.tp_count; ++i) {
    const transponder &tp = v.rx.tps[i];
    int64_t distance = distance_in_reach(v, tp);
    if (distance < 0 || &tp == skip) continue;
    if (best == nullptr || distance < best_distance) best = &tp, best_distance = distance;
  }
  return best;
}

static const transponder *wider_of_nearest_two(const search_view &v) {
  const transponder *first = nearest(v, nullptr);
  const transponder *second = first != nullptr ? nearest(v, first) : nullptr;
  return second != nullptr && clearly_wider(*second, *first) ? second : first;
}

// The widest in reach; of two alike, the nearer.
static const transponder *widest(const search_view &v) {
  const transponder *best = nullptr;
  int64_t best_distance = 0;
  for (int i = 0; i < v.rx.tp_count; ++i) {
    const transponder &tp = v.rx.tps[i];
    int64_t distance = distance_in_reach(v, tp);
    if (distance < 0) continue;
    bool wider = best != nullptr && clearly_wider(tp, *best);
    bool narrower = best != nullptr && clearly_wider(*best, tp);
    if (best == nullptr || wider || (distance < best_distance && !narrower)) best = &tp, best_distance = distance;
  }
  return best;
}

static uint64_t mix(uint64_t x) {
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9u;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBu;
  return x ^ (x >> 31);
}

// Any carrier in reach, drawn from the seed, the window and the search's
// number: an unlucky demodulator, the same every run.
static const transponder *any(const search_view &v, uint32_t draw) {
  int count = 0;
  for (int i = 0; i < v.rx.tp_count; ++i) count += distance_in_reach(v, v.rx.tps[i]) >= 0;
  if (count == 0) return nullptr;
  uint64_t pick = mix((uint64_t{v.rx.seed} << 32) ^ (static_cast<uint64_t>(v.low) << 8) ^ draw) % count;
  for (int i = 0; i < v.rx.tp_count; ++i)
    if (distance_in_reach(v, v.rx.tps[i]) >= 0 && pick-- == 0) return &v.rx.tps[i];
  return nullptr;
}

const transponder *find_signal(const receiver &rx, uint32_t step_khz, uint32_t window_khz, uint32_t sr_min,
                               uint32_t sr_max, uint32_t draw) {
  for (int i = 0; i < rx.tp_count; ++i) {
    const transponder &tp = rx.tps[i];
    if (tp.at_mhz >= 0 && static_cast<uint32_t>(tp.at_mhz) * 1000u == step_khz &&
        routed(rx, tp))
      return &tp;
  }

  search_view view = {rx, step_khz, static_cast<int64_t>(step_khz) + window_khz, sr_min, sr_max};
  switch (rx.preference) {
    case PREFER_NEAREST: return nearest(view, nullptr);
    case PREFER_WIDER: return wider_of_nearest_two(view);
    case PREFER_WIDEST: return widest(view);
    case PREFER_RANDOM: return any(view, draw);
  }
  return nullptr;
}

// A number in [-1, 1) from the seed, the carrier and the step: the same
// sweep measures the same values every time.
static double jitter(uint32_t seed, uint32_t carrier_khz, uint32_t step_khz, uint32_t which) {
  uint64_t x = mix((static_cast<uint64_t>(seed) << 32) ^ (static_cast<uint64_t>(carrier_khz) * 0x9E3779B97F4A7C15u) ^
                   (static_cast<uint64_t>(step_khz) << 8) ^ which);
  return static_cast<double>(x >> 11) / static_cast<double>(1ull << 52) - 1.0;
}

// The driver measures the carrier's frequency to within a fiftieth of its
// symbol rate and its symbol rate to within 0.2 %, differently on each step;
// a coarse one to within 1.5 MHz and 1 %.
void result_words(const receiver &rx, const transponder &tp, uint32_t step_khz, uint32_t words[8]) {
  memcpy(words, tp.words, sizeof tp.words);
  if (tp.at_mhz >= 0) return;
  int64_t if_hz = static_cast<int64_t>(tp.downlink_khz - oscillator_khz(rx.high_band)) * 1000 + tp.offset_hz;
  uint32_t sr = tp.words[W_SYMBOL_RATE];
  if (rx.jitter) {
    double off_hz = rx.coarse ? 1500000.0 : sr / 50.0, off_sr = rx.coarse ? sr / 100.0 : sr / 500.0;
    if_hz += static_cast<int64_t>(jitter(rx.seed, tp.downlink_khz, step_khz, 0) * off_hz);
    sr = static_cast<uint32_t>(sr + static_cast<int64_t>(jitter(rx.seed, tp.downlink_khz, step_khz, 1) * off_sr));
  }
  words[W_FREQUENCY] = static_cast<uint32_t>(if_hz);
  words[W_SYMBOL_RATE] = sr;
}

bool scripted_fault(const receiver &rx, int request, uint32_t step_mhz, int *ret) {
  for (int i = 0; i < rx.fault_count; ++i) {
    const fault &f = rx.faults[i];
    if (f.request != request || (f.at_mhz >= 0 && f.at_mhz != step_mhz)) continue;
    *ret = f.ret;
    return true;
  }
  return false;
}

// The row of `word` in a word table, or -1.
template <size_t N>
static int word_row(const char *const (&table)[N], const char *word) {
  for (size_t i = 0; i < N; ++i)
    if (strcmp(table[i], word) == 0) return static_cast<int>(i);
  return -1;
}

bool parse_preference(const char *word, demodulator_preference *out) {
  static const char *const kWords[] = {"nearest", "wider", "widest", "random"};  // by demodulator_preference
  int row = word_row(kWords, word);
  if (row >= 0) *out = static_cast<demodulator_preference>(row);
  return row >= 0;
}

bool parse_reach(const char *word, demodulator_reach *out) {
  static const char *const kWords[] = {"none", "quarter", "half"};  // by demodulator_reach
  int row = word_row(kWords, word);
  if (row >= 0) *out = static_cast<demodulator_reach>(row);
  return row >= 0;
}

bool parse_window(const char *word, uint32_t *khz) {
  int64_t mhz = 0;
  if (!parse_number(word, &mhz) || mhz < 4 || mhz > 40) return false;
  *khz = static_cast<uint32_t>(mhz) * 1000u;
  return true;
}

bool parse_error(const char *word, bool *coarse) {
  static const char *const kWords[] = {"model", "coarse"};
  int row = word_row(kWords, word);
  if (row >= 0) *coarse = row == 1;
  return row >= 0;
}

const char *request_name(int request) {
  static const char *const names[] = {"?", "BS_SET_PARAMS", "BS_SEARCH", "BS_GET_RESULT"};
  return request >= 1 && request <= 3 ? names[request] : names[0];
}

void write_carriers(const receiver &rx, FILE *out) {
  for (int i = 0; i < rx.tp_count; ++i) {
    const transponder &tp = rx.tps[i];
    if (tp.at_mhz >= 0) continue;
    fprintf(out, "carrier %u %c %u %u %s", tp.downlink_khz, tp.polarisation, tp.words[W_SYMBOL_RATE],
            tp.bandwidth_hz, high_band(tp) ? "high" : "low");
    if (rx.diseqc_switch) fprintf(out, " port=%c", 'A' + tp.port);
    if (tp.uncommitted >= 0) fprintf(out, " uncommitted=%d", tp.uncommitted + 1);
    if (tp.burst >= 0) fprintf(out, " burst=%c", 'A' + tp.burst);
    if (rx.cable.present) fprintf(out, " position=%d through=%s", tp.port + 1, comes_through(rx, tp) ? "yes" : "no");
    if (tp.neighbour >= 0) fprintf(out, " neighbour=%d", tp.neighbour);
    fputc('\n', out);
  }
  for (int i = 0; i < rx.note_count; ++i) {
    const note &n = rx.notes[i];
    if (n.kind == NOTE_OUT_OF_VIEW)
      fprintf(out, "out-of-view %u %c %u\n", n.khz, n.polarisation, n.symbol_rate);
    else if (n.kind == NOTE_SAME_CARRIER)
      fprintf(out, "same-carrier %u %c %u kept=%u\n", n.khz, n.polarisation, n.symbol_rate, n.kept_khz);
    else
      fprintf(out, "under-own-carrier %u %c %u under=%u\n", n.khz, n.polarisation, n.symbol_rate, n.kept_khz);
  }
}
