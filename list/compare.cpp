// Statuses of a scan's entries against known lists; see compare.h.
#include "compare.h"

#include <cstring>

namespace {

// The fields compared and the word rows that say "not known" in a table.
struct compared_field {
  int field;
  uint8_t change;
  uint8_t automatic;  // AUTO: the table does not say
};
constexpr compared_field kFields[] = {
    {F_SYSTEM, CHANGE_SYSTEM, kUnknown},
    {F_MODULATION, CHANGE_MODULATION, 6},  // QAM/AUTO
    {F_FEC, CHANGE_FEC, 9},                // AUTO
    {F_ROLLOFF, CHANGE_ROLLOFF, 3},        // AUTO
};

bool matched_known[kMaxTransponders];  // by position in the own list

// In 32 bits: kHz and ksym/s fit, and the receiver needs no 64-bit routines.
int32_t distance_khz(const list_entry &a, const list_entry &b) {
  int32_t d = entry_khz(a) - entry_khz(b);
  return d < 0 ? -d : d;
}

uint8_t changes_between(const list_entry &scanned, const list_entry &known) {
  uint8_t changes = 0;
  int32_t a = entry_ksym(scanned), b = entry_ksym(known);
  if (100 * (a > b ? a - b : b - a) > (a > b ? a : b)) changes |= CHANGE_SYMBOL_RATE;
  for (const compared_field &f : kFields) {
    uint8_t x = scanned.words[f.field], y = known.words[f.field];
    if (x == kUnknown || y == kUnknown || x == f.automatic || y == f.automatic) continue;
    if (x != y) changes |= f.change;
  }
  return changes;
}

// Of the carriers of `known` the entry matches, the one that differs in
// the fewest fields (lists of one satellite may disagree), then the
// nearest; -1 for none. With `mark`, every match is marked as found.
int match_in(const transponder_list &known, const list_entry &t, bool mark) {
  int best = -1, best_changes = 0;
  for (int i = 0; i < known.count; ++i) {
    if (!matches(t, known.entries[i])) continue;
    if (mark) matched_known[i] = true;
    int changes = __builtin_popcount(changes_between(t, known.entries[i]));
    if (best < 0 || changes < best_changes ||
        (changes == best_changes && distance_khz(t, known.entries[i]) < distance_khz(t, known.entries[best]))) {
      best = i;
      best_changes = changes;
    }
  }
  return best;
}

// Whether the known carrier was added as missing already: another entry of
// the lists describes the same carrier.
bool added_as_missing(const transponder_list &scan, const list_entry &c) {
  for (int i = 0; i < scan.count; ++i)
    if (scan.entries[i].status == STATUS_MISSING && matches(scan.entries[i], c)) return true;
  return false;
}

}  // namespace

const char *status_word(uint8_t status) {
  static const char *const kWords[] = {"", "unchanged", "changed", "new", "neighbour", "missing"};
  static_assert(sizeof kWords / sizeof kWords[0] == kStatuses);
  return status < kStatuses ? kWords[status] : "";
}

const char *change_word(int bit_index) {
  static const char *const kWords[] = {"symbol_rate", "delivery_system", "modulation", "fec", "rolloff"};
  static_assert(sizeof kWords / sizeof kWords[0] == kChangeKinds);
  return bit_index >= 0 && bit_index < kChangeKinds ? kWords[bit_index] : "";
}

bool matches(const list_entry &scanned, const list_entry &known) {
  return scanned.lane == known.lane && 4 * distance_khz(scanned, known) < entry_ksym(scanned) + entry_ksym(known);
}

bool compare_lists(transponder_list &scan, const transponder_list &own, const transponder_list &neighbours,
                   int32_t low_khz, int32_t high_khz) {
  memset(matched_known, 0, sizeof matched_known);
  bool lanes[kLanes] = {};
  for (int i = 0; i < scan.count; ++i) {
    list_entry &t = scan.entries[i];
    lanes[t.lane] = true;
    int k = match_in(own, t, true);
    if (k >= 0) {
      t.changes = changes_between(t, own.entries[k]);
      t.status = t.changes != 0 ? STATUS_CHANGED : STATUS_UNCHANGED;
      continue;
    }
    int n = match_in(neighbours, t, false);
    t.status = n >= 0 ? STATUS_NEIGHBOUR : STATUS_NEW;
    if (n >= 0) t.source = neighbours.entries[n].source;
  }
  for (int k = 0; k < own.count; ++k) {
    const list_entry &c = own.entries[k];
    int32_t khz = entry_khz(c);
    if (matched_known[k] || !lanes[c.lane] || khz < low_khz || khz > high_khz || added_as_missing(scan, c)) continue;
    hit h = {c.lane, {}, khz, entry_ksym(c) * 1000, c.source, STATUS_MISSING};
    memcpy(h.words, c.words, sizeof h.words);
    if (!insert_hit(scan, h)) return false;
  }
  return true;
}
