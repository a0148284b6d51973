// The grid benchmark: skyscan's whole-satellite scan against demodulators
// that differ where real ones do (window width, how far past the window a
// carrier is seen, which carrier locks, how precisely it is measured), on
// every satellite of a folder of DVBv5 tables, beside the plain 10 MHz
// sweep. The scan is the very code skyscan runs (scan_satellite), driven
// in-process through the simulated receiver's model, and its lines are
// merged by the list's own merge rule as skylist merges them. Prints every
// cell and the worst, and exits 1 when a cell is unsound.
//   grid_benchmark [-j THREADS] [-c CELL] [-v] [TABLES_DIR]
// With -t EVERY, the tuners axis instead: the scan on several tuners wired
// as receivers wire them, on every EVERY-th satellite, under every cell
// whose demodulator is deterministic, against one tuner's recall and time.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <getopt.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "crew_rig.h"
#include "grid_model.h"
#include "satellite.h"
#include "transponders.h"

namespace {

constexpr uint32_t kSrMin = 2000000, kSrMax = 45000000;
constexpr int32_t kBandLowKHz = 10700000, kBandHighKHz = 12750000;
// Modelled durations, ms, as the simulated receiver counts them.
constexpr uint32_t kLockedMs = 800, kEmptyMs = 1200, kSwitchMs = 20 + 20 + 100, kOpeningMs = 2000;
// Goals: of the carriers in range listed exactly once, and searches
// against the plain sweep's.
constexpr double kGoalRecall = 0.99, kGoalRecallRandom = 0.97;
constexpr double kGoalShareTotal = 0.85, kGoalShareEach = 1.10;

const uint32_t kWidths[] = {8, 10, 12, 16};
const char *const kReaches[] = {"none", "quarter", "half"};
const char *const kRules[] = {"nearest", "wider", "widest", "random"};
const char *const kErrors[] = {"model", "coarse"};
constexpr int kCells = 4 * 3 * 4 * 2;

grid_cell cell_of(int index) {
  return {kWidths[index / 24], index / 8 % 3, index / 2 % 4, index % 2 == 1};
}

void name_cell(const grid_cell &c, char *out, size_t size) {
  (void)snprintf(out, size, "%2u MHz %-7s %-7s %-6s", c.window_mhz, kReaches[c.reach], kRules[c.rule],
                 kErrors[c.coarse]);
}

struct printed {
  int32_t khz;
  uint8_t lane;
  int32_t symbol_rate;
};

// One scan's searches and lines.
bool g_verbose;  // -v: every carrier not listed once, with the lines near it

struct run {
  const char *name;
  bool verbose;
  grid_model *model;
  uint32_t draw, locked, empty, switches;
  std::vector<printed> lines;
};

search_outcome search(void *context, uint32_t window_hz, uint32_t sr_min, uint32_t sr_max, blindscan_result *out) {
  auto &r = *static_cast<run *>(context);
  uint32_t words[8];
  if (!grid_search(*r.model, window_hz / 1000u, sr_min, sr_max, r.draw++, words)) {
    r.empty++;
    return SEARCH_EMPTY;
  }
  r.locked++;
  static_assert(sizeof(blindscan_result) == sizeof words, "the record is the eight words");
  memcpy(out, words, sizeof words);
  return SEARCH_LOCKED;
}

void print(void *context, const blindscan_result &result, int32_t khz, uint8_t lane) {
  static_cast<run *>(context)->lines.push_back(
      {khz, lane, static_cast<int32_t>(result.symbol_rate / 1000u * 1000u)});
}

bool tune(void *context, const planned_sweep &p, int, bool) {
  auto &r = *static_cast<run *>(context);
  grid_tune(*r.model, p.setup.lane, p.high_band);
  r.switches++;
  return true;
}

thread_local satellite_state t_state;  // large: one per thread, not on its stack

// What a scan told the model in advance would know: the window, and how far
// apart two measurements of one carrier may lie (1.5 MHz either way for the
// coarse driver; the model's own error stays within the merge rule).
demodulator_habits told(const grid_cell &cell) {
  demodulator_habits h = {};
  h.window_khz = cell.window_mhz * 1000u;
  h.spread_khz = cell.coarse ? 3000 : 0;
  h.rate_permille = cell.coarse ? 20 : 0;
  static const uint32_t kReachPermille[] = {0, 250, 500};  // by the model's reach
  h.reach_permille = kReachPermille[cell.reach];
  h.fixed = true;
  return h;
}

void scan_with_skyscan(run &r, const demodulator_habits *habits) {
  scan_request request = {0, 0, kSrMin, kSrMax, {true, true}, {true, true}, kUniversalLnb};
  default_range(request.lnb, &request.low_khz, &request.high_khz);
  planned_sweep sweeps[4];
  int count = plan_sweeps(request, sweeps);
  memset(&t_state, 0, sizeof t_state);
  if (habits != nullptr) t_state.tally.habits = *habits;
  scan_driver driver = {search, &r};
  scan_sink sink = {print, nullptr, &r};
  satellite_hooks hooks = {tune, &r};
  (void)scan_satellite(sweeps, count, driver, sink, hooks, t_state);
}

// The four plain sweeps, as skysweep makes them with the LNB set for each.
void scan_plain(run &r) {
  for (uint8_t lane = 0; lane < 2; ++lane) {
    for (int band = 0; band < 2; ++band) {
      grid_tune(*r.model, lane, band == 1);
      for (uint32_t khz = kIfLowKHz; khz < kIfHighKHz; khz += 10000) {
        blindscan_result result;
        if (search(&r, khz * 1000u, kSrMin, kSrMax, &result) != SEARCH_LOCKED) continue;
        int32_t dish = static_cast<int32_t>(result.frequency / 1000u + (band == 1 ? 10600000u : 9750000u));
        r.lines.push_back({dish, lane, static_cast<int32_t>(result.symbol_rate / 1000u * 1000u)});
      }
    }
  }
}

enum miss_reason { MISS_DUPLICATE, MISS_WIDER_NEIGHBOUR, MISS_SIMILAR, MISS_BUDGET, kMissReasons };
const char *const kMissNames[] = {"listed twice", "beside a wider carrier", "among carriers of similar rate",
                                  "searches ran out"};

struct tally {
  uint32_t in_range, once, duplicates, phantoms, searches, plain_searches;
  uint64_t modelled_ms;
  uint32_t misses[kMissReasons];
  double worst_share;  // of one satellite's plain searches
  std::vector<int32_t> errors_khz;
};

bool in_range(const grid_carrier &c) {
  return c.symbol_rate >= kSrMin && c.symbol_rate <= kSrMax && c.khz >= kBandLowKHz && c.khz < kBandHighKHz;
}

// Whether an entry may be a measurement of a true carrier: on its lane,
// closer than a quarter of the two rates, plus what the driver may be off by.
int64_t apart_if_match(const grid_carrier &c, int32_t khz, uint8_t lane, int64_t rate, bool coarse) {
  if (c.lane != lane) return -1;
  int64_t apart = std::llabs(static_cast<int64_t>(c.khz) - khz);
  int64_t allowed = (c.symbol_rate + rate) / 4000 + (coarse ? 1500 : 0);
  return apart < allowed ? apart : -1;
}

miss_reason why_missed(const std::vector<grid_carrier> &carriers, const grid_carrier &c) {
  bool beside_wider = std::any_of(carriers.begin(), carriers.end(), [&c](const grid_carrier &o) {
    return o.lane == c.lane && o.symbol_rate > c.symbol_rate &&
           std::llabs(static_cast<int64_t>(o.khz) - c.khz) * 1000 < (o.bandwidth_hz + c.bandwidth_hz) / 2 + 10000000;
  });
  return beside_wider ? MISS_WIDER_NEIGHBOUR : MISS_SIMILAR;
}

thread_local transponder_list t_list;

// Merges a scan's lines as skylist does and scores them against the truth.
void score(const run &r, const std::vector<grid_carrier> &carriers, bool coarse, bool budget_spent, tally &t) {
  memset(&t_list, 0, sizeof t_list);
  for (const printed &p : r.lines) {
    hit h = {};
    h.lane = p.lane;
    memset(h.words, kUnknown, sizeof h.words);
    h.khz = p.khz;
    h.symbol_rate = p.symbol_rate;
    (void)add_hit(t_list, h);
  }
  // Entries and carriers are paired closest first, so that a measurement
  // that a coarse driver put nearer a neighbour still pairs with its own
  // carrier where that one is free. An entry left over is a second listing
  // of a carrier it could be; one that could be none is a phantom.
  struct pair {
    int64_t apart;
    int entry, carrier;
  };
  std::vector<pair> pairs;
  for (int i = 0; i < t_list.count; ++i) {
    const list_entry &e = t_list.entries[i];
    for (size_t c = 0; c < carriers.size(); ++c) {
      int64_t apart = apart_if_match(carriers[c], entry_khz(e), e.lane, entry_symbol_rate(e), coarse);
      if (apart >= 0) pairs.push_back({apart, i, static_cast<int>(c)});
    }
  }
  std::sort(pairs.begin(), pairs.end(), [](const pair &a, const pair &b) { return a.apart < b.apart; });
  std::vector<int> listed(carriers.size(), 0), owner(static_cast<size_t>(t_list.count), -1);
  std::vector<bool> candidate(static_cast<size_t>(t_list.count), false);
  for (const pair &p : pairs) {
    candidate[static_cast<size_t>(p.entry)] = true;
    if (owner[static_cast<size_t>(p.entry)] >= 0 || listed[static_cast<size_t>(p.carrier)] > 0) continue;
    owner[static_cast<size_t>(p.entry)] = p.carrier;
    listed[static_cast<size_t>(p.carrier)] = 1;
    t.errors_khz.push_back(static_cast<int32_t>(p.apart));
  }
  for (const pair &p : pairs) {
    if (owner[static_cast<size_t>(p.entry)] >= 0) continue;
    owner[static_cast<size_t>(p.entry)] = p.carrier;  // a second listing of the nearest it could be
    listed[static_cast<size_t>(p.carrier)]++;
  }
  for (int i = 0; i < t_list.count; ++i) t.phantoms += !candidate[static_cast<size_t>(i)];
  if (g_verbose && r.verbose) {
    for (size_t c = 0; c < carriers.size(); ++c) {
      if (listed[c] == 1 || !in_range(carriers[c])) continue;
      (void)printf("  %s %d %c %u: listed %d times;", r.name, carriers[c].khz, "HV"[carriers[c].lane],
                   carriers[c].symbol_rate, listed[c]);
      for (const printed &p : r.lines)
        if (p.lane == carriers[c].lane && std::abs(p.khz - carriers[c].khz) < 20000) (void)printf(" %d/%d", p.khz, p.symbol_rate);
      (void)printf("\n");
    }
  }
  for (size_t i = 0; i < carriers.size(); ++i) {
    if (listed[i] > 1) t.duplicates += listed[i] - 1;
    if (!in_range(carriers[i])) continue;
    t.in_range++;
    if (listed[i] == 1) {
      t.once++;
    } else {
      miss_reason why = listed[i] > 1 ? MISS_DUPLICATE : budget_spent ? MISS_BUDGET : why_missed(carriers, carriers[i]);
      t.misses[why]++;
    }
  }
}

struct satellite {
  std::string name, path;
  std::vector<grid_carrier> carriers;
};

struct cell_result {
  tally plain, scan, told;
};

constexpr uint32_t kPlainSearches = 4 * 120;

// The model's loader keeps state of its own: one thread loads at a time,
// and each thread keeps its own copy of every satellite.
std::mutex g_loading;

std::vector<grid_model *> load_models(const std::vector<satellite> &sats) {
  std::lock_guard<std::mutex> hold(g_loading);
  std::vector<grid_model *> models(sats.size());
  char error[256];
  std::transform(sats.begin(), sats.end(), models.begin(),
                 [&error](const satellite &s) { return grid_load(s.path.c_str(), error, sizeof error); });
  return models;
}

void measure_cell(const std::vector<satellite> &sats, const std::vector<grid_model *> &models, int index,
                  cell_result &out) {
  grid_cell cell = cell_of(index);
  for (size_t i = 0; i < sats.size(); ++i) {
    const satellite &s = sats[i];
    grid_model *model = models[i];
    grid_set_cell(*model, cell);
    run plain = {s.name.c_str(), false, model, 0, 0, 0, 0, {}};
    scan_plain(plain);
    score(plain, s.carriers, cell.coarse, false, out.plain);
    out.plain.searches += plain.locked + plain.empty;
    out.plain.modelled_ms += uint64_t{4} * kOpeningMs + uint64_t{plain.locked} * kLockedMs + uint64_t{plain.empty} * kEmptyMs;
    run scan = {s.name.c_str(), true, model, 0, 0, 0, 0, {}};
    scan_with_skyscan(scan, nullptr);
    uint32_t searches = scan.locked + scan.empty;
    score(scan, s.carriers, cell.coarse, searches >= kPlainSearches, out.scan);
    out.scan.searches += searches;
    out.scan.plain_searches += kPlainSearches;
    out.scan.worst_share = std::max(out.scan.worst_share, static_cast<double>(searches) / kPlainSearches);
    out.scan.modelled_ms += kOpeningMs + uint64_t{scan.switches} * kSwitchMs + uint64_t{scan.locked} * kLockedMs +
                            uint64_t{scan.empty} * kEmptyMs;
    demodulator_habits habits = told(cell);
    run knowing = {s.name.c_str(), false, model, 0, 0, 0, 0, {}};
    scan_with_skyscan(knowing, &habits);
    score(knowing, s.carriers, cell.coarse, knowing.locked + knowing.empty >= kPlainSearches, out.told);
  }
}

std::vector<satellite> read_satellites(const char *dir) {
  std::vector<satellite> sats;
  DIR *d = opendir(dir);
  if (d == nullptr) return sats;
  while (dirent *e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    satellite s;
    s.name = e->d_name;
    s.path = std::string(dir) + "/" + e->d_name;
    char error[256];
    grid_model *model = grid_load(s.path.c_str(), error, sizeof error);
    if (model == nullptr) continue;
    grid_carrier carriers[2048];
    int n = grid_carriers(*model, carriers, 2048);
    grid_free(model);
    s.carriers.assign(carriers, carriers + n);
    if (std::any_of(s.carriers.begin(), s.carriers.end(), in_range)) sats.push_back(s);
  }
  closedir(d);
  std::sort(sats.begin(), sats.end(), [](const satellite &a, const satellite &b) { return a.name < b.name; });
  return sats;
}

double share(uint32_t part, uint32_t whole) { return whole == 0 ? 0 : static_cast<double>(part) / whole; }

int median_khz(std::vector<int32_t> v) {
  if (v.empty()) return 0;
  std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
  return v[v.size() / 2];
}

// ---- the tuners axis ---------------------------------------------------------

struct wiring_row {
  const char *name;
  rig_wiring wiring;
  double goal;  // of one tuner's modelled time, or 0 for none
};
const wiring_row kWirings[] = {
    {"1 tuner, through the crew", {1, 1}, 0},  {"2 tuners, own cables", {2, 1}, 0.55},
    {"4 tuners, own cables", {4, 1}, 0.30},     {"2 tuners, one cable", {2, 2}, 0},
    {"4 tuners, one cable", {4, 4}, 0},         {"8 demodulators, one input", {8, 8}, 0.25},
};
constexpr int kWiringCount = sizeof kWirings / sizeof kWirings[0];

struct tuners_result {
  tally one;
  tally many[kWiringCount];
  uint64_t many_ms[kWiringCount];
  double worst_share[kWiringCount];  // of one satellite's time on one tuner
};

uint64_t one_tuner_ms(const run &r) {
  return kOpeningMs + uint64_t{r.switches} * kSwitchMs + uint64_t{r.locked} * kLockedMs + uint64_t{r.empty} * kEmptyMs;
}

void measure_tuners(const std::vector<satellite> &sats, const std::vector<grid_model *> &models, int index, int every,
                    tuners_result &out) {
  grid_cell cell = cell_of(index);
  for (size_t i = 0; i < sats.size(); i += static_cast<size_t>(every)) {
    grid_model *model = models[i];
    grid_set_cell(*model, cell);
    run one = {sats[i].name.c_str(), false, model, 0, 0, 0, 0, {}};
    scan_with_skyscan(one, nullptr);
    score(one, sats[i].carriers, cell.coarse, one.locked + one.empty >= kPlainSearches, out.one);
    out.one.modelled_ms += one_tuner_ms(one);
    for (int w = 0; w < kWiringCount; ++w) {
      rig_result many;
      rig_scan(*model, kWirings[w].wiring, nullptr, {-1, 0}, many);
      run lines = {sats[i].name.c_str(), false, model, 0, 0, 0, 0, {}};
      for (const rig_line &l : many.lines) lines.lines.push_back({l.khz, l.lane, l.symbol_rate});
      score(lines, sats[i].carriers, cell.coarse, many.searches >= kPlainSearches, out.many[w]);
      out.many_ms[w] += many.duration_ms;
      out.worst_share[w] = std::max(out.worst_share[w], static_cast<double>(many.duration_ms) /
                                                            static_cast<double>(one_tuner_ms(one)));
    }
  }
}

// Prints the axis; false when several tuners list a carrier twice or one
// not there where the driver measures well, which one tuner never does.
bool print_tuners(const std::vector<tuners_result> &results, size_t satellites, int every) {
  (void)printf("tuners axis: %zu satellites (every %d%s), %d cells with a deterministic demodulator; recall is of the "
               "carriers in range listed once\n\n", (satellites + static_cast<size_t>(every) - 1) / static_cast<size_t>(every),
               every, every == 1 ? ", all" : "th", kCells / 4 * 3);
  (void)printf("%-27s | recall  one     | cells below one (worst) | dup phant (one) | time vs one: total worst | goal\n",
               "wiring");
  bool sound = true;
  for (int w = 0; w < kWiringCount; ++w) {
    tally many = {}, one = {};
    uint64_t one_ms = 0, many_ms = 0;
    double worst = 0, deficit = 0;
    int below = 0;
    for (size_t i = 0; i < results.size(); ++i) {
      const tuners_result &r = results[i];
      if (cell_of(static_cast<int>(i)).rule == 3) continue;
      below += r.many[w].once < r.one.once;
      deficit = std::max(deficit, share(r.one.once, r.one.in_range) - share(r.many[w].once, r.many[w].in_range));
      if (g_verbose && r.many[w].once < r.one.once) {
        char name[64];
        name_cell(cell_of(static_cast<int>(i)), name, sizeof name);
        (void)printf("  %s, cell %zu (%s): %u listed once, one tuner %u; misses: twice %u wider %u similar %u budget "
                     "%u (one tuner: %u %u %u %u)\n", kWirings[w].name, i, name, r.many[w].once, r.one.once,
                     r.many[w].misses[0], r.many[w].misses[1], r.many[w].misses[2], r.many[w].misses[3],
                     r.one.misses[0], r.one.misses[1], r.one.misses[2], r.one.misses[3]);
      }
      many.once += r.many[w].once, many.in_range += r.many[w].in_range;
      many.duplicates += r.many[w].duplicates, many.phantoms += r.many[w].phantoms;
      one.once += r.one.once, one.in_range += r.one.in_range;
      one.duplicates += r.one.duplicates, one.phantoms += r.one.phantoms;
      one_ms += r.one.modelled_ms, many_ms += r.many_ms[w];
      worst = std::max(worst, r.worst_share[w]);
      if (!cell_of(static_cast<int>(i)).coarse) sound = sound && r.many[w].duplicates == 0 && r.many[w].phantoms == 0;
    }
    double time = static_cast<double>(many_ms) / static_cast<double>(one_ms);
    const wiring_row &row = kWirings[w];
    char goal[48] = "-";
    if (row.goal > 0) (void)snprintf(goal, sizeof goal, "%s (at most %.0f%%)", time <= row.goal ? "met" : "MISSED", 100 * row.goal);
    (void)printf("%-27s | %6.2f%% %6.2f%% | %5d (%5.2f points) | %4u %5u (%u %u) | %10.1f%% %5.1f%% | %s\n", row.name,
                 100 * share(many.once, many.in_range), 100 * share(one.once, one.in_range), below, 100 * deficit,
                 many.duplicates,
                 many.phantoms, one.duplicates, one.phantoms, 100 * time, 100 * worst, goal);
  }
  (void)printf("\n%s\n", sound ? "sound: no duplicate or phantom on several tuners where the driver measures well"
                                 : "FAULT: a duplicate or phantom on several tuners where the driver measures well");
  return sound;
}

}  // namespace

int main(int argc, char **argv) {
  int threads = 2, only = -1, every = 0, c;
  while ((c = getopt(argc, argv, "j:c:t:vh")) != -1) {
    if (c == 'v') g_verbose = true;
    else if (c == 't') every = std::max(1, static_cast<int>(strtol(optarg, nullptr, 10)));
    else if (c == 'j') threads = std::max(1, static_cast<int>(strtol(optarg, nullptr, 10)));
    else if (c == 'c') only = static_cast<int>(strtol(optarg, nullptr, 10));
    else {
      (void)fputs("usage: grid_benchmark [-j THREADS] [-c CELL] [-t EVERY] [-v] [TABLES_DIR]\n", c == 'h' ? stdout : stderr);
      return c == 'h' ? 0 : 2;
    }
  }
  if (only >= kCells) {
    (void)fprintf(stderr, "grid_benchmark: cell %d: the grid has cells 0 to %d\n", only, kCells - 1);
    return 2;
  }
  const char *dir = optind < argc ? argv[optind] : "/usr/share/dvb/dvb-s";
  std::vector<satellite> sats = read_satellites(dir);
  if (sats.empty()) {
    (void)fprintf(stderr, "grid_benchmark: %s: no satellite tables\n", dir);
    return 2;
  }
  std::atomic<int> next{only >= 0 ? only : 0};
  if (every > 0) {
    std::vector<tuners_result> results(kCells);
    std::vector<std::thread> pool;
    pool.reserve(static_cast<size_t>(threads));
    for (int i = 0; i < threads; ++i)
      pool.emplace_back([&] {
        std::vector<grid_model *> models = load_models(sats);
        for (int cell; (cell = next++) < kCells;)
          if (cell_of(cell).rule != 3) measure_tuners(sats, models, cell, every, results[cell]);
        for (grid_model *m : models) grid_free(m);
      });
    for (std::thread &t : pool) t.join();
    return print_tuners(results, sats.size(), every) ? 0 : 1;
  }
  std::vector<cell_result> results(kCells);
  int last = only >= 0 ? only + 1 : kCells;
  std::vector<std::thread> pool;
  pool.reserve(static_cast<size_t>(threads));
  for (int i = 0; i < threads; ++i)
    pool.emplace_back([&] {
      std::vector<grid_model *> models = load_models(sats);
      for (int cell; (cell = next++) < last;) measure_cell(sats, models, cell, results[cell]);
      for (grid_model *m : models) grid_free(m);
    });
  for (std::thread &t : pool) t.join();

  (void)printf("%zu satellites of %s, in-process; recall is of the carriers in range (2-45 Msym/s) listed once\n\n",
               sats.size(), dir);
  (void)printf("cell  window  reach   rule    error  | plain   | skyscan  dup phant | told    | searches total worst "
               "| time | median error kHz | misses: twice wider similar budget\n");
  // The goal of every cell is reported; what fails the run is what must
  // hold under any demodulator: never fewer carriers than the plain sweep,
  // no satellite over its share of searches, and no duplicate or phantom
  // where the driver measures as well as the merge rule assumes.
  bool ok = true;
  int worst = -1, met_count = 0, cells = 0;
  for (int i = (only >= 0 ? only : 0); i < last; ++i) {
    const cell_result &r = results[i];
    grid_cell cell = cell_of(i);
    double recall = share(r.scan.once, r.scan.in_range);
    double goal = cell.rule == 3 ? kGoalRecallRandom : kGoalRecall;
    double total = share(r.scan.searches, r.scan.plain_searches);
    bool within = total <= kGoalShareTotal && r.scan.worst_share <= kGoalShareEach;
    bool met = recall >= goal && r.scan.duplicates == 0 && r.scan.phantoms == 0 && within;
    bool sound = recall >= share(r.plain.once, r.plain.in_range) && r.scan.worst_share <= kGoalShareEach &&
                 (cell.coarse || (r.scan.duplicates == 0 && r.scan.phantoms == 0));
    ok = ok && sound;
    met_count += met;
    cells++;
    if (worst < 0 || recall < share(results[worst].scan.once, results[worst].scan.in_range)) worst = i;
    char name[64];
    name_cell(cell, name, sizeof name);
    (void)printf("%4d  %s | %6.2f%% | %7.2f%% %4u %5u | %6.2f%% | %14.3f %5.2f | %4.2f | %7d / %-7d | %5u %5u %7u %6u%s%s\n",
                 i, name, 100 * share(r.plain.once, r.plain.in_range), 100 * recall, r.scan.duplicates,
                 r.scan.phantoms, 100 * share(r.told.once, r.told.in_range), total, r.scan.worst_share,
                 static_cast<double>(r.scan.modelled_ms) / static_cast<double>(r.plain.modelled_ms),
                 median_khz(r.scan.errors_khz), median_khz(r.plain.errors_khz), r.scan.misses[MISS_DUPLICATE],
                 r.scan.misses[MISS_WIDER_NEIGHBOUR], r.scan.misses[MISS_SIMILAR], r.scan.misses[MISS_BUDGET],
                 met ? "" : "  below goal", sound ? "" : "  FAULT");
  }
  if (worst < 0) return 2;  // no cell measured
  char name[64];
  name_cell(cell_of(worst), name, sizeof name);
  (void)printf("\nworst cell: %d (%s), %.2f%% listed once\n", worst, name,
               100 * share(results[worst].scan.once, results[worst].scan.in_range));
  (void)printf("goal (%.0f%% listed once, %.0f%% with the random rule, no duplicate or phantom, at most %.0f%% of the plain "
               "searches in total and %.0f%% on any satellite) met in %d of %d cells\n",
               100 * kGoalRecall, 100 * kGoalRecallRandom, 100 * kGoalShareTotal, 100 * kGoalShareEach, met_count, cells);
  (void)printf("%s\n", ok ? "every cell sound: never below the plain sweep, no satellite over 110% of its searches, "
                            "no duplicate or phantom where the driver measures well"
                          : "FAULT in the cells marked");
  return ok ? 0 : 1;
}
