// Result lines read back into table rows, with the tables skysweep prints from.
#include "hits.h"

#include <cstring>

#include "result_words.h"

static const char kUnknownWord[] = "UNKNOWN";

struct word_table {
  const char *const *rows;
  uint8_t count;
};

template <int N>
static constexpr word_table table(const char *const (&rows)[N]) {
  return {rows, static_cast<uint8_t>(N)};
}

// Indexed by word_field: the line's order.
static constexpr word_table kFieldTables[] = {
    table(szDeliverysystem),  // F_SYSTEM
    table(szInversion),       // F_INVERSION
    table(szPilot),           // F_PILOT
    table(szCoderate),        // F_FEC
    table(szModulation),      // F_MODULATION
    table(szRolloff),         // F_ROLLOFF
};
static_assert(sizeof kFieldTables / sizeof kFieldTables[0] == kWordFields);

// The first row with this word (pilot and roll-off repeat a word for their
// automatic rows; the first is the one the word names).
static bool find_row(const word_table &t, const char *word, size_t length, uint8_t *row) {
  if (length == sizeof kUnknownWord - 1 && memcmp(word, kUnknownWord, length) == 0) {
    *row = kUnknown;
    return true;
  }
  for (uint8_t i = 0; i < t.count; ++i) {
    if (strlen(t.rows[i]) == length && memcmp(t.rows[i], word, length) == 0) {
      *row = i;
      return true;
    }
  }
  return false;
}

// A decimal int as the line prints it: no leading zero, and no sign, which
// would mean a value no driver reports (a negative frequency, a symbol rate
// printed past 2^31).
static bool read_number(const char *text, size_t length, int32_t *out) {
  if (length == 0 || length > 10 || (length > 1 && text[0] == '0')) return false;
  int64_t v = 0;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  if (v > INT32_MAX) return false;
  *out = static_cast<int32_t>(v);
  return true;
}

bool read_hit(const char *line, hit &out) {
  // Ten fields separated by single spaces, the first one "OK".
  const char *field[10];
  size_t length[10];
  const char *p = line;
  for (int i = 0; i < 10; ++i) {
    field[i] = p;
    length[i] = strcspn(p, " ");
    p += length[i];
    if (i < 9 && *p++ != ' ') return false;
  }
  if (*p != '\0' || length[0] != 2 || memcmp(field[0], "OK", 2) != 0) return false;

  static constexpr word_table kLanesTable = table(szPolarization);
  if (!find_row(kLanesTable, field[1], length[1], &out.lane)) return false;
  if (out.lane == kUnknown) out.lane = kUnknownLane;
  if (!read_number(field[2], length[2], &out.khz) || !read_number(field[3], length[3], &out.symbol_rate))
    return false;
  for (int f = 0; f < kWordFields; ++f)
    if (!find_row(kFieldTables[f], field[4 + f], length[4 + f], &out.words[f])) return false;
  return true;
}

const char *hit_word(int field, uint8_t row) {
  const word_table &t = kFieldTables[field];
  return row < t.count ? t.rows[row] : kUnknownWord;
}

const char *lane_word(uint8_t lane) { return lane < 2 ? szPolarization[lane] : kUnknownWord; }
