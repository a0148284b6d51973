// The search strategy; see strategy.h for what it does and why.
#include "strategy.h"

#include "result_words.h"

constexpr uint32_t kMinAdvanceKHz = 1000;  // a result always moves the sweep on
constexpr uint32_t kMarginKHz = kWindowKHz / 2;
constexpr int kMaxGaps = 16;
constexpr int kMaxRetries = 4;  // capped searches of one window
constexpr uint64_t kClearlyWider = 125;  // percent

// Roll-off in percent per driver number; unknown ones count as the widest.
static uint32_t rolloff_percent(uint32_t rolloff) {
  static const uint32_t kPercent[] = {35, 20, 25, 35};
  return rolloff < 4 ? kPercent[rolloff] : 35;
}

// What a result says about the spectrum: its band in IF kHz.
struct carrier_view {
  bool valid;  // a plausible result
  bool fresh;  // not listed before
  uint32_t lower, upper;
  uint32_t symbol_rate;
  uint32_t skirt;  // kHz of roll-off on either side of the symbol rate's band
};

struct sweep_run {
  const sweep_setup &sweep;
  const scan_driver &driver;
  const scan_sink &sink;
  transponder_list &book;
  scan_tally &tally;
  uint32_t used;  // searches of this sweep
};

int32_t dish_khz(const sweep_setup &sweep, uint32_t if_khz) {
  uint32_t khz = sweep.inverted ? sweep.oscillator_khz - if_khz : sweep.oscillator_khz + if_khz;
  return static_cast<int32_t>(khz);
}

uint32_t sweep_windows(const sweep_setup &sweep) {
  if (sweep.if_high_khz <= sweep.if_low_khz) return 0;
  return (sweep.if_high_khz - sweep.if_low_khz + kWindowKHz - 1) / kWindowKHz;
}

uint32_t window_of(const scan_tally &tally) {
  return tally.habits.window_khz > kWindowKHz ? tally.habits.window_khz : kWindowKHz;
}

static uint32_t window(const sweep_run &run) { return window_of(run.tally); }

// Windows still needed to step from `from` to the end of the sweep.
static uint32_t windows_left(const sweep_run &run, uint32_t from) {
  if (from >= run.sweep.if_high_khz) return 0;
  return (run.sweep.if_high_khz - from + window(run) - 1) / window(run);
}

// Whether `extra` searches fit while the rest of the sweep from `resume`
// stays affordable at one window per search.
static bool halted(const sweep_run &run) { return run.sweep.halted != nullptr && *run.sweep.halted; }

static bool affordable(const sweep_run &run, uint32_t extra, uint32_t resume) {
  return !run.tally.stopped && !halted(run) && run.used + extra + windows_left(run, resume) <= run.sweep.budget;
}

static uint8_t row(uint32_t value, uint32_t rows) { return value < rows ? static_cast<uint8_t>(value) : kUnknown; }

template <size_t N>
static uint8_t row_of(const char *const (&)[N], uint32_t value) {
  return row(value, N);
}

static hit hit_of(const sweep_run &run, const blindscan_result &r) {
  hit h = {};
  h.lane = run.sweep.lane;
  h.words[F_SYSTEM] = row_of(szDeliverysystem, r.delivery_system);
  h.words[F_INVERSION] = row_of(szInversion, r.inversion);
  h.words[F_PILOT] = row_of(szPilot, r.pilot);
  h.words[F_FEC] = row_of(szCoderate, r.fec);
  h.words[F_MODULATION] = row_of(szModulation, r.modulation);
  h.words[F_ROLLOFF] = row_of(szRolloff, r.rolloff);
  h.khz = dish_khz(run.sweep, r.frequency / 1000u);
  h.symbol_rate = static_cast<int32_t>(r.symbol_rate / 1000u * 1000u);
  return h;
}

// A result is believed when its symbol rate lies within the limits asked
// (give or take the 1 % a measurement may be off) and its band reaches to
// within half a window of the window searched (a measured centre is a little
// off, and a wide tuner sees past the window). Anything else is a driver's
// nonsense and is dropped.
static carrier_view view_of(const blindscan_result &r, uint32_t window_khz, uint32_t width, uint32_t sr_min,
                           uint32_t sr_max) {
  carrier_view v = {};
  uint64_t sr = r.symbol_rate;
  if (sr == 0 || sr * 100 < static_cast<uint64_t>(sr_min) * 99 || sr * 100 > static_cast<uint64_t>(sr_max) * 101)
    return v;
  uint32_t centre = r.frequency / 1000u;
  uint32_t half = r.symbol_rate / 1000u * (100 + rolloff_percent(r.rolloff)) / 200;
  if (half == 0 || centre < half || centre - half >= window_khz + width + kMarginKHz ||
      centre + half + kMarginKHz <= window_khz)
    return v;
  v.valid = true;
  v.lower = centre - half;
  v.upper = centre + half;
  v.symbol_rate = r.symbol_rate;
  v.skirt = half - r.symbol_rate / 2000u;
  return v;
}

// The IF centre of a listed carrier in this sweep's band, or 0.
static uint32_t if_of(const sweep_run &run, int32_t khz) {
  uint32_t dish = static_cast<uint32_t>(khz), lo = run.sweep.oscillator_khz;
  if (run.sweep.inverted) return dish < lo ? lo - dish : 0;
  return dish > lo ? dish - lo : 0;
}

static uint32_t distance(uint32_t a, uint32_t b) { return a > b ? a - b : b - a; }

// What the demodulator chose tells which of two carriers it prefers. A
// listed carrier centred inside the window, other than the one returned,
// was passed over: a wider one, for a narrower carrier nearer the centre;
// or a narrower one nearer the centre, for a wider carrier. Only rates a
// quarter apart count: of two alike, any demodulator may take either.
static void judge(sweep_run &run, uint32_t window_khz, uint32_t cap, const blindscan_result &r) {
  uint32_t centre = r.frequency / 1000u, middle = window_khz + window(run) / 2;
  uint64_t rate = r.symbol_rate;
  bool wider_passed = false, nearer_passed = false;
  for (int i = 0; i < run.book.count; ++i) {
    const list_entry &e = run.book.entries[i];
    if (e.lane != run.sweep.lane) continue;
    uint32_t c = if_of(run, entry_khz(e));
    auto other = static_cast<uint64_t>(entry_symbol_rate(e));
    if (c < window_khz || c >= window_khz + window(run) || 4000ull * distance(c, centre) < other + rate) continue;
    if (100 * other > kClearlyWider * rate && 100 * other < 99ull * cap) wider_passed = true;
    if (kClearlyWider * other < 100 * rate && distance(c, middle) + kMinAdvanceKHz / 2 < distance(centre, middle))
      nearer_passed = true;
  }
  run.tally.passed_wider += wider_passed;
  run.tally.passed_nearer += nearer_passed;
}

// The demodulator's habit, as far as seen: more often a wider carrier was
// passed over for a nearer one than the other way round.
static bool prefers_nearest(const sweep_run &run) { return run.tally.passed_wider > run.tally.passed_nearer; }

// How far off one measurement may be: half the furthest apart two were
// seen, once two wide carriers have shown it, else what a coarse driver
// may be off by.
static uint32_t measure_slack_khz(const demodulator_habits &h) {
  constexpr uint32_t kCoarseKHz = 1500, kMargin = 100;
  return h.spread_samples >= 2 && h.spread_khz / 2 + kMargin < kCoarseKHz ? h.spread_khz / 2 + kMargin : kCoarseKHz;
}

// A carrier is seen no further past the window than half its band (the
// widest reach there is), so a lock centred further out shows the window
// is wider than believed: at least that far, less what a coarse driver may
// be off by. Evidence only widens the belief, up to kMaxWindowKHz.
static void learn_window(sweep_run &run, uint32_t window_khz, const carrier_view &v) {
  demodulator_habits &h = run.tally.habits;
  uint32_t slack = measure_slack_khz(h);
  if (h.fixed || v.lower < window_khz + slack) return;
  uint32_t seen = v.lower - slack - window_khz;
  if (seen > window(run)) h.window_khz = seen < kMaxWindowKHz ? seen : kMaxWindowKHz;
}

// A window starts where it is asked to, so a lock centred below that start
// shows how far past its edge the demodulator sees, as a share of the
// carrier's band: less what a coarse driver may be off by, at most half.
static void learn_reach(sweep_run &run, uint32_t window_khz, const carrier_view &v) {
  constexpr uint32_t kMeasureSlackKHz = 1500;
  demodulator_habits &h = run.tally.habits;
  uint32_t band = v.upper - v.lower, centre = v.lower + band / 2;
  if (h.fixed || centre + kMeasureSlackKHz >= window_khz) return;
  auto permille = static_cast<uint32_t>(uint64_t{window_khz - kMeasureSlackKHz - centre} * 1000 / band);
  if (permille > h.reach_permille) h.reach_permille = permille < 500 ? permille : 500;
}

// How far past a window the narrowest carrier sought is still seen: an
// empty window clears that much beyond its end, and the next may start as
// far again past it.
static uint32_t narrow_reach_khz(const sweep_run &run) {
  uint64_t narrowest_band = uint64_t{run.sweep.sr_min} * 120 / 100000;  // kHz, the least roll-off
  return static_cast<uint32_t>(narrowest_band * run.tally.habits.reach_permille / 1000);
}

// Rates within this of each other may be one carrier measured twice;
// further apart they are two (the merge rule's own bound).
static bool rates_agree(int64_t a, int64_t b, uint32_t permille) {
  int64_t apart = a > b ? a - b : b - a;
  return apart * 1000 <= (a < b ? a : b) * permille;
}

static uint32_t apart_khz(int32_t a, int32_t b) { return static_cast<uint32_t>(a > b ? a - b : b - a); }

// A wide carrier's measurements are its own whatever the driver's error:
// no other carrier can lie within a quarter of its rate. How far apart two
// of them fall shows how far off the driver measures.
static void learn_spread(sweep_run &run, const hit &h) {
  constexpr int64_t kSureRate = 10000000;
  demodulator_habits &habits = run.tally.habits;
  if (habits.fixed || h.symbol_rate < kSureRate) return;
  for (int i = 0; i < run.book.count; ++i) {
    const list_entry &e = run.book.entries[i];
    int64_t rate = entry_symbol_rate(e);
    if (e.lane != h.lane || rate < kSureRate || !rates_agree(rate, h.symbol_rate, 100)) continue;
    uint32_t apart = apart_khz(entry_khz(e), h.khz);
    if (4000ull * apart >= static_cast<uint64_t>(rate + h.symbol_rate)) continue;
    habits.spread_samples++;
    if (apart > habits.spread_khz) habits.spread_khz = apart;
    auto permille = static_cast<uint32_t>((h.symbol_rate > rate ? h.symbol_rate - rate : rate - h.symbol_rate) * 1000 / rate);
    if (permille > habits.rate_permille) habits.rate_permille = permille;
  }
}

// Whether a hit the merge rule would take for a new carrier is a listed one
// measured again: its rate agrees, and it lies within the merge rule's
// reach widened by the spread seen. Two measurements of one narrow carrier
// from a driver that is 1.5 MHz off may lie further apart than two narrow
// carriers side by side; listing both would list one carrier twice.
static bool measured_before(const sweep_run &run, const hit &h) {
  const demodulator_habits &habits = run.tally.habits;
  if (habits.spread_khz == 0) return false;
  uint32_t permille = habits.rate_permille + habits.rate_permille / 2 + 2;
  for (int i = 0; i < run.book.count; ++i) {
    const list_entry &e = run.book.entries[i];
    int64_t rate = entry_symbol_rate(e);
    if (e.lane != h.lane || !rates_agree(rate, h.symbol_rate, permille)) continue;
    uint64_t reach = static_cast<uint64_t>(rate + h.symbol_rate) / 4000 + habits.spread_khz;
    if (apart_khz(entry_khz(e), h.khz) <= reach) return true;
  }
  return false;
}

// One search of the window at window_khz for rates up to cap.
static carrier_view search(sweep_run &run, uint32_t window_khz, uint32_t cap) {
  run.used++;
  run.tally.searches++;
  blindscan_result r = {};
  search_outcome outcome =
      run.driver.search(run.driver.context, window_khz * 1000u, run.sweep.sr_min, cap, &r);
  carrier_view v = {};
  if (outcome == SEARCH_REFUSED) run.tally.refused++;
  if (outcome == SEARCH_LOCKED) {
    run.tally.locked++;
    v = view_of(r, window_khz, window(run), run.sweep.sr_min, cap);
    if (!v.valid) run.tally.rejected++;
  }
  if (v.valid) {
    learn_window(run, window_khz, v);
    learn_reach(run, window_khz, v);
    judge(run, window_khz, cap, r);
    int before = run.book.count;
    hit h = hit_of(run, r);
    learn_spread(run, h);
    // A full book cannot tell new from known: list nothing more.
    v.fresh = !measured_before(run, h) && add_hit(run.book, h) && run.book.count > before;
    if (v.fresh) {
      run.sink.carrier(run.sink.context, r, h.khz, run.sweep.lane);
      if (!run.tally.stopped) run.tally.found++;
    } else {
      run.tally.repeats++;
    }
  }
  if (run.sink.progress != nullptr) run.sink.progress(run.sink.context, window_khz);
  return v;
}

// A search, and while it returns a carrier listed before, up to `retries`
// more of the same window with the rate capped just below that carrier's
// (2 %, twice what a measurement may be off): a demodulator that keeps
// locking the wider neighbour then finds the narrower carrier beside it.
static carrier_view look(sweep_run &run, uint32_t window_khz, uint32_t cap, int retries, uint32_t resume) {
  carrier_view v = search(run, window_khz, cap);
  carrier_view first = v;
  // The first few wide carriers are measured once more from a window a
  // quarter further on: the two measurements show how far off the driver is.
  // Only while searches are to spare: a tight budget goes to the gaps.
  constexpr uint32_t kSpreadProbes = 4, kSureRate = 10000000, kSpareForProbes = 8;
  const demodulator_habits &habits = run.tally.habits;
  uint32_t probe = window_khz + kWindowKHz / 4;
  if (v.valid && v.fresh && v.symbol_rate >= kSureRate && !habits.fixed && habits.spread_samples < kSpreadProbes &&
      probe < run.sweep.if_high_khz && affordable(run, kSpareForProbes, resume))
    (void)search(run, probe, cap);
  for (int retry = 0; retry < retries && v.valid && !v.fresh; ++retry) {
    uint32_t below = v.symbol_rate / 100 * 98;
    if (below < run.sweep.sr_min || !affordable(run, 1, resume)) break;
    v = search(run, window_khz, below);
  }
  return v.valid && v.fresh ? v : first;
}

using gap = pending_gap;

// The highest symbol rate a carrier in a gap can have. Carriers on one
// polarisation keep their symbol-rate bands apart and may share only their
// roll-off skirts, so one between two others is no wider than the gap plus
// their skirts. Where the lower end is only where a search ended, the
// carrier's centre is above it, and the bound is twice that. The cap keeps
// a wide neighbour out of the search whatever the demodulator prefers.
static uint32_t gap_cap(const sweep_run &run, const gap &g) {
  uint64_t cap = 1000ull * (uint64_t{g.high - g.low} + g.skirts) * (g.low_is_carrier ? 1 : 2);
  return cap < run.sweep.sr_max ? static_cast<uint32_t>(cap) : run.sweep.sr_max;
}

// Searches the gap [low, high) below a carrier, splitting it at each
// carrier found, until every piece is narrower than the narrowest carrier
// sought or found empty. A carrier inside the gap is nearer the window's
// centre than its neighbours, so the capped repeats are left out for a
// demodulator seen to prefer the nearest one.
static void fill_gap(sweep_run &run, const gap &whole, uint32_t resume) {
  gap gaps[kMaxGaps] = {whole};
  int count = 1;
  uint32_t narrowest = run.sweep.sr_min / 1000u;
  while (count > 0) {
    gap g = gaps[--count];
    uint32_t width = window(run);
    if (g.high - g.low < narrowest || g.high < width) continue;
    if (!affordable(run, 1, resume)) return;
    // Centred on the gap: a demodulator that prefers the carrier nearest the
    // window's centre picks the one inside it, not a neighbour at its edge.
    uint32_t start = g.low + (g.high - g.low) / 2 - width / 2;
    carrier_view v = look(run, start, gap_cap(run, g), prefers_nearest(run) ? 0 : kMaxRetries, resume);
    if (!v.valid || !v.fresh) continue;
    // Only pieces smaller than the gap go back: every round shrinks it.
    if (v.lower > g.low && v.lower < g.high && count < kMaxGaps)
      gaps[count++] = {g.low, v.lower, g.skirts + v.skirt, g.low_is_carrier, false, g.sweep};
    if (v.upper > g.low && v.upper < g.high && count < kMaxGaps)
      gaps[count++] = {v.upper, g.high, g.skirts + v.skirt, true, false, g.sweep};
  }
}

void run_sweep(const sweep_setup &sweep, uint8_t index, const scan_driver &driver, const scan_sink &sink,
               transponder_list &book, scan_tally &tally, gap_list &gaps) {
  sweep_run run = {sweep, driver, sink, book, tally, 0};
  uint32_t known_to = sweep.if_low_khz;  // everything below is accounted for
  uint32_t known_skirt = 0;              // of the carrier ending there, if one does
  bool known_carrier = false;
  uint32_t f = sweep.if_low_khz;
  while (f < sweep.if_high_khz && run.used < sweep.budget && !tally.stopped && !halted(run)) {
    uint32_t step_end = f + window(run);
    carrier_view x = look(run, f, sweep.sr_max, kMaxRetries, step_end);
    if (!x.valid) {
      if (step_end > known_to) known_to = step_end, known_carrier = false;
      f = step_end + 2 * narrow_reach_khz(run);
      continue;
    }
    // Gaps end with the sweep: a carrier reported past it leaves none to search.
    uint32_t top = x.lower < sweep.if_high_khz ? x.lower : sweep.if_high_khz;
    if (top > known_to && top - known_to >= sweep.sr_min / 1000u && gaps.count < kMaxPendingGaps)
      gaps.gaps[gaps.count++] = {known_to, top, x.skirt + (known_carrier ? known_skirt : 0), known_carrier, false,
                                 index};
    if (x.upper > known_to) known_to = x.upper, known_skirt = x.skirt, known_carrier = true;
    // The next carrier's centre lies at least half the narrowest rate above
    // this one's symbol-rate band (their roll-off skirts may overlap): a
    // window from there has it.
    uint32_t after = x.upper - x.skirt + sweep.sr_min / 2000u;
    // A carrier listed before, even below the rate cap, means nothing new in
    // this window: the next one starts where it ends.
    uint32_t least = x.fresh ? f + kMinAdvanceKHz : step_end;
    uint32_t next = after > least ? after : least;
    // Short steps only while the rest of the sweep stays affordable.
    if (next < step_end && !affordable(run, windows_left(run, next) - windows_left(run, step_end), step_end))
      next = step_end;
    f = next;
  }
}

bool gaps_left(const gap_list &gaps, uint8_t index, uint32_t min_khz) {
  for (int i = 0; i < gaps.count; ++i) {
    const gap &g = gaps.gaps[i];
    if (!g.done && g.sweep == index && g.high - g.low >= min_khz) return true;
  }
  return false;
}

void fill_gaps(const sweep_setup &sweep, uint8_t index, uint32_t min_khz, const scan_driver &driver,
               const scan_sink &sink, transponder_list &book, scan_tally &tally, gap_list &gaps) {
  sweep_run run = {sweep, driver, sink, book, tally, 0};
  for (;;) {
    gap *widest = nullptr;
    for (int i = 0; i < gaps.count; ++i) {
      gap &g = gaps.gaps[i];
      if (g.done || g.sweep != index || g.high - g.low < min_khz) continue;
      if (widest == nullptr || g.high - g.low > widest->high - widest->low) widest = &g;
    }
    if (widest == nullptr || !affordable(run, 1, sweep.if_high_khz)) return;
    widest->done = true;
    fill_gap(run, *widest, sweep.if_high_khz);
    // A tuner given up leaves the gap whole to another.
    if (halted(run)) widest->done = false;
  }
}
