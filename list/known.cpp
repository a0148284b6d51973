// The DVBv5 reader of known lists: "[name]" blocks of "KEY = VALUE" lines,
// comments, blank lines, CR LF, any other key (STREAM_ID, PLS_CODE, ...)
// passed over. Memory is fixed: one line, one block.
#include "known.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "dvbv5_words.h"

namespace {

// Satellite systems: DSS, DVB-S, DVB-S2, ISDB-S, TURBO. A block of another
// system (a terrestrial or cable list) is no carrier of a satellite.
constexpr uint8_t kSatelliteSystems[] = {4, 5, 6, 9, 17};

struct block {
  bool open, bad;
  int line;
  hit h;
  bool have_frequency, have_rate;
};

struct reader {
  transponder_list &list;
  void (*report)(void *, int, const char *);
  void *context;
  uint8_t source;
  int line, entries;
  bool full;
};

// "unknown MODULATION 'PSK8'", or with a number: "FREQUENCY '1x' is not a number".
void say_value(reader &r, const char *key, const char *value, bool number) {
  char reason[2 * kMaxLineLength];
  if (number)
    (void)snprintf(reason, sizeof reason, "%s '%s' is not a number", key, value);
  else
    (void)snprintf(reason, sizeof reason, "unknown %s '%s'", key, value);
  r.report(r.context, r.line, reason);
}

char *trim(char *s) {
  while (*s == ' ' || *s == '\t') ++s;
  size_t n = strlen(s);
  while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\t' || s[n - 1] == '\r' || s[n - 1] == '\n')) s[--n] = '\0';
  return s;
}

bool read_number(const char *text, int32_t *out) {
  if (*text < '0' || *text > '9') return false;
  char *end = nullptr;
  errno = 0;
  long long v = strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0' || v <= 0 || v > INT32_MAX) return false;
  *out = static_cast<int32_t>(v);
  return true;
}

bool is_satellite(uint8_t system) {
  // DVBv5 files of dvb-s tables may leave it out.
  return system == kUnknown || memchr(kSatelliteSystems, system, sizeof kSatelliteSystems) != nullptr;
}

void finish(reader &r, block &b) {
  if (!b.open || b.bad) return;
  if (!b.have_frequency || !b.have_rate) {
    r.report(r.context, b.line, b.have_frequency ? "no SYMBOL_RATE" : "no FREQUENCY");
    return;
  }
  if (!is_satellite(b.h.words[F_SYSTEM])) return;
  b.h.source = r.source;
  if (!insert_hit(r.list, b.h)) {
    r.full = true;
    return;
  }
  r.entries++;
}

void key_line(reader &r, block &b, char *text) {
  char *eq = strchr(text, '=');
  if (eq == nullptr) {
    r.report(r.context, r.line, "not KEY = VALUE");
    b.bad = true;
    return;
  }
  *eq = '\0';
  const char *key = trim(text), *value = trim(eq + 1);
  if (strcmp(key, "FREQUENCY") == 0 || strcmp(key, "SYMBOL_RATE") == 0) {
    bool frequency = key[0] == 'F';
    if (!read_number(value, frequency ? &b.h.khz : &b.h.symbol_rate)) {
      say_value(r, key, value, true);
      b.bad = true;
    }
    (frequency ? b.have_frequency : b.have_rate) = true;
    return;
  }
  if (strcmp(key, "POLARIZATION") == 0) {
    static const char *const kPolarisations[] = {"HORIZONTAL", "VERTICAL", "LEFT", "RIGHT", "OFF"};
    for (uint8_t i = 0; i < 5; ++i)
      if (strcmp(value, kPolarisations[i]) == 0) {
        b.h.lane = i == 4 ? kUnknownLane : i % 2;  // circular left and right on the same voltages
        return;
      }
    say_value(r, key, value, false);
    b.bad = true;
    return;
  }
  for (const dvbv5_key &k : kDvbv5Keys) {
    if (strcmp(key, k.key) != 0) continue;
    for (uint8_t row = 0; row < k.rows; ++row)
      if (strcmp(value, k.values[row]) == 0) {
        b.h.words[k.field] = row;
        return;
      }
    say_value(r, key, value, false);
    b.bad = true;
    return;
  }
}

void skip_line(FILE *in) {
  for (int c = fgetc(in); c != EOF && c != '\n'; c = fgetc(in)) {
  }
}

// Whether a line holds a value the comparison uses: a key it reads, or
// no KEY = VALUE at all. An over-long one cannot be read whole; an
// over-long comment or other key loses nothing.
bool needed(char *text) {
  if (*text == '#') return false;
  char *eq = strchr(text, '=');
  if (eq == nullptr) return true;
  *eq = '\0';  // the line is passed over either way
  const char *key = trim(text);
  static const char *const kReadKeys[] = {"FREQUENCY", "SYMBOL_RATE", "POLARIZATION"};
  for (const char *read : kReadKeys)
    if (strcmp(key, read) == 0) return true;
  for (const dvbv5_key &k : kDvbv5Keys)
    if (strcmp(key, k.key) == 0) return true;
  return false;
}

}  // namespace

int read_known(FILE *in, uint8_t source, transponder_list &list, void (*report)(void *, int, const char *),
               void *context) {
  reader r = {list, report, context, source, 0, 0, false};
  block b = {};
  char buf[kMaxLineLength + 2];
  while (!r.full && fgets(buf, sizeof buf, in) != nullptr) {
    r.line++;
    bool cut = strchr(buf, '\n') == nullptr && !feof(in);
    if (cut) skip_line(in);
    char *text = trim(buf);
    if (r.line == 1 && has_byte_order_mark(text)) text = trim(text + 3);
    // A long comment or key passed over costs nothing, nor does a long
    // block name; a key read in part would give its block a wrong value.
    if (cut && *text != '[' && needed(text)) {
      r.report(r.context, r.line, "longer than 255 characters");
      b.bad = b.open;
      continue;
    }
    if (*text == '\0' || *text == '#' || (cut && *text != '[')) continue;
    if (*text == '[') {
      finish(r, b);
      b = {};
      b.open = true;
      b.line = r.line;
      b.h.lane = kUnknownLane;
      memset(b.h.words, kUnknown, sizeof b.h.words);
      continue;
    }
    if (!b.open) {
      r.report(r.context, r.line, "outside a [block]");
      continue;
    }
    key_line(r, b, text);
  }
  finish(r, b);
  return r.full ? -1 : r.entries;
}
