// Result lines read back into table rows, with the tables skysweep prints from.
#include "hits.h"

#include <cstdio>
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
    if (t.rows[i][0] == word[0] && strlen(t.rows[i]) == length && memcmp(t.rows[i], word, length) == 0) {
      *row = i;
      return true;
    }
  }
  return false;
}

static const char kSeparators[] = " \t\r";

// The line's fields after "OK", as the fault messages name them.
static const char *const kFieldNames[] = {
    "",                 // 0: "OK"
    "polarisation",     // 1
    "frequency",        // 2
    "symbol rate",      // 3
    "delivery system",  // 4
    "inversion",        // 5
    "pilot",            // 6
    "code rate",        // 7
    "modulation",       // 8
    "roll-off",         // 9
};
static_assert(sizeof kFieldNames / sizeof kFieldNames[0] == kLineFields);

static bool fault_at(line_fault *fault, line_fault_kind kind, int field, const char *text, size_t length) {
  if (fault != nullptr) *fault = {kind, field, 0, text, length};
  return false;
}

// A decimal int as the line prints it: no leading zero and no sign, which
// would mean a value no driver reports (a negative frequency, a symbol rate
// printed past 2^31), and not 0, which is no signal.
static bool read_number(const char *text, size_t length, int field, int32_t *out, line_fault *fault) {
  const char *digits = text[0] == '-' && length > 1 ? text + 1 : text;
  size_t count = length - static_cast<size_t>(digits - text);
  for (size_t i = 0; i < count; ++i)
    if (digits[i] < '0' || digits[i] > '9') return fault_at(fault, LINE_NOT_NUMBER, field, text, length);
  if (digits != text) return fault_at(fault, LINE_NEGATIVE, field, text, length);
  if (length > 1 && text[0] == '0') return fault_at(fault, LINE_LEADING_ZERO, field, text, length);
  int64_t v = 0;
  for (size_t i = 0; i < length && v <= INT32_MAX; ++i) v = v * 10 + (text[i] - '0');
  if (v > INT32_MAX) return fault_at(fault, LINE_TOO_LARGE, field, text, length);
  if (v == 0) return fault_at(fault, LINE_ZERO, field, text, length);
  *out = static_cast<int32_t>(v);
  return true;
}

static bool read_word(const word_table &t, const char *text, size_t length, int field, uint8_t *row,
                      line_fault *fault) {
  return find_row(t, text, length, row) || fault_at(fault, LINE_UNKNOWN_WORD, field, text, length);
}

bool read_hit(const char *line, hit &out, line_fault *fault) {
  // Up to one field more than a result line has, to tell "too many".
  const char *field[kLineFields + 1];
  size_t length[kLineFields + 1];
  int count = 0;
  for (const char *p = line + strspn(line, kSeparators); *p != '\0' && count <= kLineFields;
       p += strspn(p, kSeparators)) {
    field[count] = p;
    length[count] = strcspn(p, kSeparators);
    p += length[count++];
  }
  if (count == 0 || length[0] != 2 || memcmp(field[0], "OK", 2) != 0)
    return fault_at(fault, LINE_NOT_RESULT, 0, line, 0);
  if (count != kLineFields) {
    if (fault != nullptr) *fault = {LINE_FIELD_COUNT, 0, count, line, 0};
    return false;
  }

  static constexpr word_table kLanesTable = table(szPolarization);
  if (!read_word(kLanesTable, field[1], length[1], 1, &out.lane, fault)) return false;
  if (out.lane == kUnknown) out.lane = kUnknownLane;
  if (!read_number(field[2], length[2], 2, &out.khz, fault) ||
      !read_number(field[3], length[3], 3, &out.symbol_rate, fault))
    return false;
  for (int f = 0; f < kWordFields; ++f)
    if (!read_word(kFieldTables[f], field[4 + f], length[4 + f], 4 + f, &out.words[f], fault)) return false;
  return true;
}

void describe_fault(const line_fault &fault, char *text, size_t size) {
  const char *name = fault.field > 0 && fault.field < kLineFields ? kFieldNames[fault.field] : "";
  // Long fields are cut: the message stays one readable line, and a text
  // cut at `size` is still one.
  int shown = fault.length < 40 ? static_cast<int>(fault.length) : 40;
  switch (fault.kind) {
    case LINE_NOT_RESULT: (void)snprintf(text, size, "not a result line"); return;
    case LINE_FIELD_COUNT:
      if (fault.fields > kLineFields)
        (void)snprintf(text, size, "more than %d fields", kLineFields);
      else
        (void)snprintf(text, size, "cut off: %d of %d fields", fault.fields, kLineFields);
      return;
    case LINE_NOT_NUMBER: (void)snprintf(text, size, "%s '%.*s' is not a number", name, shown, fault.text); return;
    case LINE_NEGATIVE: (void)snprintf(text, size, "%s '%.*s' is negative", name, shown, fault.text); return;
    case LINE_LEADING_ZERO: (void)snprintf(text, size, "%s '%.*s' has a leading zero", name, shown, fault.text); return;
    case LINE_TOO_LARGE: (void)snprintf(text, size, "%s '%.*s' is out of range", name, shown, fault.text); return;
    case LINE_ZERO: (void)snprintf(text, size, "%s is 0", name); return;
    case LINE_UNKNOWN_WORD: (void)snprintf(text, size, "unknown %s '%.*s'", name, shown, fault.text); return;
  }
  (void)snprintf(text, size, "not a result line");
}

const char *hit_word(int field, uint8_t row) {
  const word_table &t = kFieldTables[field];
  return row < t.count ? t.rows[row] : kUnknownWord;
}

const char *lane_word(uint8_t lane) { return lane < 2 ? szPolarization[lane] : kUnknownWord; }
