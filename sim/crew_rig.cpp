// The in-process rig for scans on several tuners; see crew_rig.h.
#include "crew_rig.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>

#include "tuner_clocks.h"

namespace {

constexpr uint32_t kSrMin = 2000000, kSrMax = 45000000;
constexpr uint32_t kPauseMs = 50;  // skyscan's look-again interval

struct rig;

struct rig_tuner {
  rig *r;
  int index;
  uint32_t searches;
};

struct rig {
  grid_model *model;
  rig_wiring wiring;
  rig_fault fault;
  tuner_clocks clocks;
  rig_tuner tuners[kMaxCrew];
  uint8_t lane[kMaxCrew];  // per cable, as its LNB is set
  bool high[kMaxCrew];
  uint32_t draw;
  uint32_t switches[kMaxCrew];  // per member: each counts its own
  rig_result *out;
};

search_outcome search(void *context, uint32_t window_hz, uint32_t sr_min, uint32_t sr_max, blindscan_result *result) {
  auto &t = *static_cast<rig_tuner *>(context);
  rig &r = *t.r;
  // Only this tuner runs now: the others wait in their timed calls.
  if (r.fault.tuner == t.index && t.searches++ >= r.fault.after) {
    clocks_spend(r.clocks, t.index, 0);
    return SEARCH_REFUSED;
  }
  int cable = t.index / r.wiring.per_cable;
  grid_tune(*r.model, r.lane[cable], r.high[cable]);
  uint32_t words[8];
  bool locked = grid_search(*r.model, window_hz / 1000u, sr_min, sr_max, r.draw++, words);
  if (locked) memcpy(result, words, sizeof words);
  clocks_spend(r.clocks, t.index, locked ? kRigLockedMs : kRigEmptyMs);
  return locked ? SEARCH_LOCKED : SEARCH_EMPTY;
}

void print(void *context, const blindscan_result &result, int32_t khz, uint8_t lane) {
  static_cast<rig *>(context)->out->lines.push_back({khz, lane, static_cast<int32_t>(result.symbol_rate / 1000u * 1000u)});
}

bool set_lnb(void *context, int member, const planned_sweep &p, int) {
  auto &r = *static_cast<rig *>(context);
  int cable = member / r.wiring.per_cable;
  r.lane[cable] = p.setup.lane;
  r.high[cable] = p.high_band;
  r.switches[member]++;
  clocks_spend(r.clocks, member, kRigSwitchMs);
  return true;
}

// Every member waits for its turn before it chooses work, so the first
// choices go in tuner order, as every later one goes in the order of time.
void begin(void *context, int member) { clocks_spend(static_cast<rig *>(context)->clocks, member, 0); }

void pause(void *context, int member) { clocks_spend(static_cast<rig *>(context)->clocks, member, kPauseMs); }

void ended(void *context, int member, bool) { clocks_close(static_cast<rig *>(context)->clocks, member); }

void progress(void *, int, int, uint32_t, bool) {}

}  // namespace

void rig_scan(grid_model &model, const rig_wiring &wiring, const demodulator_habits *habits, const rig_fault &fault,
              rig_result &out) {
  // One of each per thread that runs scans: too large for a stack.
  thread_local std::unique_ptr<crew_room> room(new crew_room);
  thread_local std::unique_ptr<satellite_state> state(new satellite_state);
  thread_local std::unique_ptr<rig> r(new rig);
  *state = {};
  if (habits != nullptr) state->tally.habits = *habits;
  out = {};
  r->model = &model;
  r->wiring = wiring;
  r->fault = fault;
  r->draw = 0;
  memset(r->switches, 0, sizeof r->switches);
  r->out = &out;
  clocks_init(r->clocks);
  clocks_spend(r->clocks, -1, kRigOpeningMs);

  scan_request request = {0, 0, kSrMin, kSrMax, {true, true}, {true, true}, kUniversalLnb};
  default_range(request.lnb, &request.low_khz, &request.high_khz);
  planned_sweep sweeps[4];
  crew_plan plan = {sweeps, plan_sweeps(request, sweeps), {}, wiring.tuners, {}};
  std::fill(std::begin(plan.cable_setting), std::end(plan.cable_setting), kCableFree);
  for (int i = 0; i < wiring.tuners; ++i) {
    r->tuners[i] = {r.get(), i, 0};
    plan.members[i] = {{search, &r->tuners[i]}, static_cast<uint8_t>(i / wiring.per_cable), nullptr};
    clocks_open(r->clocks, i);
  }
  scan_sink sink = {print, nullptr, r.get()};
  crew_hooks hooks = {begin, set_lnb, pause, ended, progress, r.get()};
  (void)scan_with_crew(plan, sink, hooks, *state, *room, out.report);
  out.duration_ms = clocks_now(r->clocks, -1);
  for (int i = 0; i < wiring.tuners; ++i) out.busy_ms[i] = r->clocks.busy_ms[i];
  out.searches = state->tally.searches;
  for (uint32_t n : r->switches) out.switches += n;
  clocks_destroy(r->clocks);
}
