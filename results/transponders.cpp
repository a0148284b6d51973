// Merging hits into carriers. Carriers on one polarisation do not overlap,
// so their centres lie at least half their two bandwidths apart, and a
// carrier's band is at least its symbol rate wide. Two hits on one lane whose
// centres are closer than a quarter of their two symbol rates (half that
// least distance) are therefore the same carrier; the hits of one carrier
// differ only by the driver's measurement error, far less than that. That
// error is small in the symbol rate too: a hit whose rate is more than half
// as large again as an entry's (or less than two thirds of it) is another
// carrier, however near, and is never averaged into a rate neither has.
#include "transponders.h"

#include <cstring>

// In double: exact for these sums, and no 64-bit division routine to carry.
static double mean(int64_t sum, uint32_t count) { return static_cast<double>(sum) / count; }

// Nearest whole number of a value that is never negative, halves up.
static int64_t nearest(double v) {
  auto whole = static_cast<int64_t>(v);
  return v - static_cast<double>(whole) >= 0.5 ? whole + 1 : whole;
}

int32_t entry_khz(const list_entry &t) { return static_cast<int32_t>(nearest(mean(t.sum_khz, t.hits))); }

int32_t entry_ksym(const list_entry &t) {
  return static_cast<int32_t>(nearest(mean(t.sum_symbol_rate, t.hits) / 1000));
}

int64_t entry_symbol_rate(const list_entry &t) { return 1000 * static_cast<int64_t>(entry_ksym(t)); }

int32_t entry_mhz(const list_entry &t) {
  return static_cast<int32_t>((static_cast<uint32_t>(entry_khz(t)) + 500u) / 1000u);
}

static double apart_khz(const list_entry &t, const hit &h) {
  double apart = mean(t.sum_khz, t.hits) - h.khz;
  return apart < 0 ? -apart : apart;
}

static bool similar_rates(double a, double b) { return 2 * a <= 3 * b && 2 * b <= 3 * a; }

static bool same_carrier(const list_entry &t, const hit &h) {
  double rate = mean(t.sum_symbol_rate, t.hits);
  return t.lane == h.lane && 4000 * apart_khz(t, h) < rate + h.symbol_rate && similar_rates(rate, h.symbol_rate);
}

// First entry at or after (lane, khz) in the list's order.
static int position(const transponder_list &list, const hit &h) {
  int low = 0, high = list.count;
  while (low < high) {
    int mid = low + (high - low) / 2;
    const list_entry &t = list.entries[mid];
    if (t.lane < h.lane || (t.lane == h.lane && entry_khz(t) < h.khz))
      low = mid + 1;
    else
      high = mid;
  }
  return low;
}

static void merge(list_entry &t, const hit &h) {
  t.hits++;
  t.sum_khz += h.khz;
  t.sum_symbol_rate += h.symbol_rate;
  if (h.khz < t.low_khz) t.low_khz = h.khz;
  if (h.khz > t.high_khz) t.high_khz = h.khz;
  for (int f = 0; f < kWordFields; ++f)
    if (t.words[f] == kUnknown) t.words[f] = h.words[f];
}

// Keeps the list in order after an entry's mean moved: a hit between two
// close entries of different rates can carry one past the other.
static void reorder(transponder_list &list, int i) {
  auto before = [&list](int a, int b) {
    const list_entry &x = list.entries[a], &y = list.entries[b];
    return x.lane < y.lane || (x.lane == y.lane && entry_khz(x) < entry_khz(y));
  };
  for (; i > 0 && before(i, i - 1); --i) {
    list_entry moved = list.entries[i];
    list.entries[i] = list.entries[i - 1];
    list.entries[i - 1] = moved;
  }
  for (; i + 1 < list.count && before(i + 1, i); ++i) {
    list_entry moved = list.entries[i];
    list.entries[i] = list.entries[i + 1];
    list.entries[i + 1] = moved;
  }
}

// The entry of the hit's carrier: of the entries it may belong to, the
// nearest. Entries of other rates may stand between, so the search goes
// outwards as far as an entry of a similar rate could reach.
static int carrier_of(const transponder_list &list, const hit &h, int at) {
  double reach_khz = 2.5 * h.symbol_rate / 4000;
  int best = -1;
  for (int step = -1; step <= 1; step += 2) {
    for (int i = step < 0 ? at - 1 : at; i >= 0 && i < list.count; i += step) {
      const list_entry &t = list.entries[i];
      if (t.lane != h.lane || apart_khz(t, h) >= reach_khz) break;
      if (same_carrier(t, h) && (best < 0 || apart_khz(t, h) < apart_khz(list.entries[best], h))) best = i;
    }
  }
  return best;
}

bool add_hit(transponder_list &list, const hit &h) {
  int at = position(list, h);
  int found = carrier_of(list, h, at);
  if (found >= 0) {
    merge(list.entries[found], h);
    reorder(list, found);
    return true;
  }
  return insert_hit(list, h);
}

bool insert_hit(transponder_list &list, const hit &h) {
  int at = position(list, h);
  if (list.count >= kMaxTransponders) return false;
  memmove(&list.entries[at + 1], &list.entries[at], sizeof(list_entry) * static_cast<size_t>(list.count - at));
  list_entry &t = list.entries[at];
  t = {};
  t.lane = h.lane;
  t.source = h.source;
  t.status = h.status;
  memset(t.words, kUnknown, sizeof t.words);
  t.low_khz = t.high_khz = h.khz;
  merge(t, h);
  list.count++;
  return true;
}

void each_by_frequency(const transponder_list &list, void (*visit)(const list_entry &, void *), void *context) {
  int next[kLanes + 1] = {};  // first entry of each lane, then the end
  for (int i = 0, lane = 0; lane <= kLanes; ++lane) {
    while (i < list.count && list.entries[i].lane < lane) ++i;
    next[lane] = i;
  }
  int at[kLanes] = {next[0], next[1], next[2]};
  for (;;) {
    int best = -1;
    for (int lane = 0; lane < kLanes; ++lane) {
      if (at[lane] >= next[lane + 1]) continue;
      if (best < 0 || entry_khz(list.entries[at[lane]]) < entry_khz(list.entries[at[best]])) best = lane;
    }
    if (best < 0) return;
    visit(list.entries[at[best]++], context);
  }
}
