// Parser of receiver descriptions and the simulated driver's search.
#include "description.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

constexpr uint32_t kLowOscillatorKHz = 9750000;
constexpr uint32_t kHighOscillatorKHz = 10600000;
constexpr uint32_t kBandSwitchKHz = 11700000;
constexpr uint32_t kIfLowKHz = 950000;  // what the LNB's output passes
constexpr uint32_t kIfHighKHz = 2150000;

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

enum { W_FREQUENCY, W_SYMBOL_RATE, W_SYSTEM, W_MODULATION, W_INVERSION, W_FEC, W_PILOT, W_ROLLOFF };

static bool parse_number(const char *text, int64_t *out) {
  char *end = nullptr;
  errno = 0;
  long long v = strtoll(text, &end, 0);
  if (end == text || *end != '\0' || errno != 0) return false;
  *out = v;
  return true;
}

// A word of the table, or a plain number for driver values outside it
// (negative numbers wrap as the driver's 32-bit word would).
template <size_t N>
static bool parse_word(const char *text, const word_value (&table)[N], uint32_t *out) {
  for (const word_value &row : table) {
    if (strcmp(row.word, text) == 0) {
      *out = static_cast<uint32_t>(row.value);
      return true;
    }
  }
  int64_t v = 0;
  if (!parse_number(text, &v)) return false;
  *out = static_cast<uint32_t>(v);
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

static bool parse_tuner(const line_reader &r, char *raw, receiver &rx) {
  int64_t n = 0;
  if (r.count < 3 || !parse_number(r.fields[1], &n) || n < 0 || n >= kMaxTuners) return false;
  rx.frontend[n] = true;
  rx.listed[n] = true;
  snprintf(rx.tuner_type[n], sizeof rx.tuner_type[n], "%s", r.fields[2]);
  // The name is the rest of the raw line after the type.
  const char *name = strstr(raw, r.fields[2]) + strlen(r.fields[2]);
  name += strspn(name, " \t");
  snprintf(rx.tuner_name[n], sizeof rx.tuner_name[n], "%.*s", static_cast<int>(strcspn(name, "\r\n")), name);
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

static bool parse_line(char *raw, receiver &rx) {
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
  if (strcmp(key, "lnb") == 0) {
    if (r.count != 3 || (strcmp(r.fields[1], "low") != 0 && strcmp(r.fields[1], "high") != 0)) return false;
    if (strcmp(r.fields[2], "H") != 0 && strcmp(r.fields[2], "V") != 0) return false;
    rx.high_band = strcmp(r.fields[1], "high") == 0;
    rx.polarisation = r.fields[2][0];
    return true;
  }
  if (strcmp(key, "tp") == 0) return parse_transponder(r, rx);
  if (strcmp(key, "result") == 0) return parse_result(r, rx);
  if (strcmp(key, "fault") == 0) return parse_fault(r, rx);
  if (strcmp(key, "trace") == 0) return r.count == 2 && strcmp(r.fields[1], "stderr") == 0 && (rx.trace_stderr = true);
  if (strcmp(key, "wait") == 0) return r.count == 2 && strcmp(r.fields[1], "real") == 0 && (rx.real_wait = true);
  return false;
}

bool load_description(const char *path, receiver &rx, char *error, size_t error_size) {
  rx = {};
  rx.polarisation = 'H';
  FILE *in = fopen(path, "r");
  if (in == nullptr) return fail(error, error_size, 0, "cannot open");
  // Sized for the longest verbatim listing line plus the keyword.
  static char raw[kMaxLine + 16];
  int line_no = 0;
  bool ok = true;
  while (ok && fgets(raw, sizeof raw, in) != nullptr) {
    ++line_no;
    ok = parse_line(raw, rx);
  }
  fclose(in);
  return ok || fail(error, error_size, line_no, "not understood");
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

static uint32_t oscillator_khz(const receiver &rx) { return rx.high_band ? kHighOscillatorKHz : kLowOscillatorKHz; }

static bool in_view(const receiver &rx, const transponder &tp) {
  bool high = tp.downlink_khz >= kBandSwitchKHz;
  if (tp.polarisation != rx.polarisation || high != rx.high_band) return false;
  if (tp.downlink_khz < oscillator_khz(rx)) return false;
  uint32_t if_khz = tp.downlink_khz - oscillator_khz(rx);
  return if_khz >= kIfLowKHz && if_khz <= kIfHighKHz;
}

const transponder *find_signal(const receiver &rx, uint32_t step_khz, uint32_t window_khz, uint32_t sr_min,
                               uint32_t sr_max) {
  for (int i = 0; i < rx.tp_count; ++i)
    if (rx.tps[i].at_mhz >= 0 && static_cast<uint32_t>(rx.tps[i].at_mhz) * 1000u == step_khz) return &rx.tps[i];

  // A carrier is caught when its centre lies within the step's window,
  // widened by a quarter of its symbol rate on each side: wide carriers
  // are found on neighbouring steps too, as on the real tuner.
  const transponder *best = nullptr;
  int64_t best_distance = 0;
  int64_t centre = static_cast<int64_t>(step_khz) + window_khz / 2;
  for (int i = 0; i < rx.tp_count; ++i) {
    const transponder &tp = rx.tps[i];
    if (tp.at_mhz >= 0 || !in_view(rx, tp)) continue;
    uint32_t sr = tp.words[W_SYMBOL_RATE];
    if (sr < sr_min || sr > sr_max) continue;
    int64_t distance = llabs(static_cast<int64_t>(tp.downlink_khz - oscillator_khz(rx)) - centre);
    if (distance >= window_khz / 2 + sr / 4000) continue;
    if (best == nullptr || distance < best_distance) {
      best = &tp;
      best_distance = distance;
    }
  }
  return best;
}

void result_words(const receiver &rx, const transponder &tp, uint32_t words[8]) {
  memcpy(words, tp.words, sizeof tp.words);
  if (tp.at_mhz >= 0) return;
  int64_t if_hz = static_cast<int64_t>(tp.downlink_khz - oscillator_khz(rx)) * 1000 + tp.offset_hz;
  words[W_FREQUENCY] = static_cast<uint32_t>(if_hz);
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

const char *request_name(int request) {
  static const char *const names[] = {"?", "BS_SET_PARAMS", "BS_SEARCH", "BS_GET_RESULT"};
  return request >= 1 && request <= 3 ? names[request] : names[0];
}
