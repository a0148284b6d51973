// Several tuners on one satellite; see crew.h for the rules.
#include "crew.h"

#include <new>
#include <pthread.h>

namespace {

// Gaps are searched in rounds, widest first, as on one tuner.
constexpr uint32_t kGapTiers[] = {4, 2, 1};
constexpr uint32_t kSearchesAPieceStart = 2;
constexpr int kMaxPieces = 4 * 2 * kMaxCrew + kMaxCrew;  // every sweep cut, and one left over per failure

enum piece_state : uint8_t { PIECE_OPEN, PIECE_TAKEN, PIECE_DONE };

struct piece {
  uint32_t low, high;  // IF kHz
  uint8_t sweep;
  piece_state state;
};

enum job_kind : uint8_t { JOB_NONE, JOB_PIECE, JOB_GAPS, JOB_SWITCH, JOB_WAIT, JOB_END };

struct job {
  job_kind kind;
  int index;  // the piece, or the sweep
  int tier;   // of the gaps: kGapTiers[tier] times the narrowest rate wide
};

struct crew;

// One member's thread and what it is doing.
struct member_run {
  crew *c;
  int index;
  scan_driver driver;  // the member's, wrapped to let the lock go
  scan_sink sink;      // the caller's, wrapped to tell whose progress it is
  job current;
  bool halted;          // its tuner failed: the strategy stops at once
  bool ended;
  uint32_t streak;      // windows refused in a row
  uint32_t streak_from; // the first of them, IF kHz
  uint32_t last_window; // IF kHz
  uint32_t reached;     // IF kHz its piece is stepped through to
  pthread_t thread;
  bool started;         // its thread runs, to be joined
};

struct cable_run {
  int setting;  // the sweep it shows now, or -1
  int working;  // members of it searching
  bool failed;
};

struct crew {
  const crew_plan *plan;
  const scan_sink *sink;
  const crew_hooks *hooks;
  satellite_state *state;
  crew_report *report;
  pthread_mutex_t lock;
  piece pieces[kMaxPieces];
  int piece_count;
  int open_pieces[4];  // per sweep: pieces not yet done
  uint32_t budget;  // of the whole scan, as one tuner would have
  member_run members[kMaxCrew];
  cable_run cables[kMaxCrew];
};

bool alone(const crew &c, int index) {
  for (int i = 0; i < c.plan->member_count; ++i)
    if (i != index && !c.members[i].ended && !c.members[i].halted) return false;
  return true;
}

// ---- the lock, let go around every request ----------------------------------

search_outcome search_unlocked(void *context, uint32_t window_hz, uint32_t sr_min, uint32_t sr_max,
                               blindscan_result *result) {
  auto &m = *static_cast<member_run *>(context);
  crew &c = *m.c;
  const crew_member &given = c.plan->members[m.index];
  m.last_window = window_hz / 1000u;
  c.report->searches[m.index]++;
  pthread_mutex_unlock(&c.lock);
  search_outcome outcome = given.driver.search(given.driver.context, window_hz, sr_min, sr_max, result);
  pthread_mutex_lock(&c.lock);
  if (outcome != SEARCH_REFUSED) {
    m.streak = 0;
  } else if (m.streak++ == 0) {
    m.streak_from = window_hz / 1000u;
  }
  // A dead tuner refuses everything: its windows go to a tuner that works.
  bool broken = given.broken != nullptr && *given.broken;
  if ((broken || m.streak >= kRefusalsToFail) && !alone(c, m.index)) m.halted = true;
  return outcome;
}

void carrier_of(void *context, const blindscan_result &r, int32_t khz, uint8_t lane) {
  auto &m = *static_cast<member_run *>(context);
  m.c->sink->carrier(m.c->sink->context, r, khz, lane);
}

void progress_of(void *context, uint32_t if_khz) {
  auto &m = *static_cast<member_run *>(context);
  crew &c = *m.c;
  bool gaps = m.current.kind == JOB_GAPS;
  int sweep = gaps ? m.current.index : c.pieces[m.current.index].sweep;
  if (!gaps) {
    const piece &p = c.pieces[m.current.index];
    uint32_t reached = if_khz < p.high ? if_khz : p.high;
    if (reached > m.reached) c.report->swept_khz += reached - m.reached, m.reached = reached;
  }
  if (c.hooks->progress != nullptr) c.hooks->progress(c.hooks->context, m.index, sweep, if_khz, gaps);
}

// ---- choosing what a member does next ---------------------------------------

uint32_t tier_khz(const crew &c, int sweep, int tier) {
  return c.plan->sweeps[sweep].setup.sr_min / 1000u * kGapTiers[tier];
}

bool gaps_open(const crew &c, int sweep, int tier) {
  return c.open_pieces[sweep] == 0 && c.state->tally.searches < c.budget &&
         gaps_left(c.state->gaps, static_cast<uint8_t>(sweep), tier_khz(c, sweep, tier));
}

// The widest gaps come first over every sweep a cable may show, as on one
// tuner: the round of the widest left, or -1.
int gap_round(const crew &c, int cable) {
  int fixed = c.plan->cable_setting[cable];
  for (int tier = 0; tier < 3; ++tier)
    for (int s = 0; s < c.plan->count; ++s)
      if ((fixed < 0 || s == fixed) && gaps_open(c, s, tier)) return tier;
  return -1;
}

int first_open_piece(const crew &c, int sweep) {
  for (int i = 0; i < c.piece_count; ++i)
    if (c.pieces[i].sweep == sweep && c.pieces[i].state == PIECE_OPEN) return i;
  return -1;
}

int count_open(const crew &c, int sweep) {
  int n = 0;
  for (int i = 0; i < c.piece_count; ++i) n += c.pieces[i].sweep == sweep && c.pieces[i].state == PIECE_OPEN;
  return n;
}

int cables_on(const crew &c, int sweep) {
  int n = 0;
  for (int i = 0; i < kMaxCrew; ++i) n += c.cables[i].setting == sweep;
  return n;
}

bool anyone_working(const crew &c) {
  for (int i = 0; i < c.plan->member_count; ++i)
    if (!c.members[i].ended && c.members[i].current.kind != JOB_NONE && c.members[i].current.kind != JOB_WAIT)
      return true;
  return false;
}

// The sweep a cable with nobody searching moves to: the one with the most
// pieces left, shared by the fewest cables; else one with gaps left.
int next_sweep(const crew &c, int cable) {
  int fixed = c.plan->cable_setting[cable];
  int best = -1;
  for (int s = 0; s < c.plan->count; ++s) {
    if (fixed >= 0 && s != fixed) continue;
    int open = count_open(c, s);
    if (open == 0) continue;
    if (best < 0 || open - cables_on(c, s) > count_open(c, best) - cables_on(c, best)) best = s;
  }
  if (best >= 0) return best;
  int tier = gap_round(c, cable);
  for (int s = 0; tier >= 0 && s < c.plan->count; ++s)
    if ((fixed < 0 || s == fixed) && gaps_open(c, s, tier)) return s;
  return -1;
}

job choose(const crew &c, const member_run &m) {
  int cable = c.plan->members[m.index].cable;
  const cable_run &k = c.cables[cable];
  if (m.halted || k.failed || c.state->tally.stopped || c.plan->cable_setting[cable] == kCableNothing)
    return {JOB_END, 0, 0};
  if (k.setting >= 0) {
    int open = first_open_piece(c, k.setting);
    if (open >= 0) return {JOB_PIECE, open, 0};
    int tier = gap_round(c, cable);
    // Gaps go sweep by sweep in the plan's order, round by round, as on one
    // tuner: the order decides what the scan has learned at each.
    if (tier >= 0 && gaps_open(c, k.setting, tier) && next_sweep(c, cable) == k.setting)
      return {JOB_GAPS, k.setting, tier};
  }
  // The cable's setting changes only while none of its members searches.
  if (k.working > 0) return {JOB_WAIT, 0, 0};
  int next = next_sweep(c, cable);
  if (next >= 0) return {next == k.setting ? JOB_WAIT : JOB_SWITCH, next, 0};
  // Nothing for now; a piece still running may leave gaps, or come back.
  return anyone_working(c) ? job{JOB_WAIT, 0, 0} : job{JOB_END, 0, 0};
}

// ---- doing it ---------------------------------------------------------------

// Windows of IF [low, high).
uint32_t windows_of(uint32_t low, uint32_t high) { return high > low ? (high - low + kWindowKHz - 1) / kWindowKHz : 0; }

// What a piece may search, as on one tuner: the plain sweep's searches
// less those made and the windows every other piece still needs, shared
// with the members that may draw on them at the same time.
uint32_t piece_budget(const crew &c, const member_run &self, const sweep_setup &piece) {
  uint64_t needed = c.state->tally.searches + windows_of(piece.if_low_khz, piece.if_high_khz);
  for (int i = 0; i < c.piece_count; ++i)
    if (c.pieces[i].state == PIECE_OPEN) needed += windows_of(c.pieces[i].low, c.pieces[i].high);
  uint32_t sharing = 1;
  for (int i = 0; i < c.plan->member_count; ++i) {
    const member_run &m = c.members[i];
    if (&m == &self || m.current.kind != JOB_PIECE || c.pieces[m.current.index].state != PIECE_TAKEN) continue;
    needed += windows_of(m.reached, c.pieces[m.current.index].high);
    sharing++;
  }
  uint32_t own = windows_of(piece.if_low_khz, piece.if_high_khz);
  uint32_t spare = needed < c.budget ? static_cast<uint32_t>(c.budget - needed) : 0;
  return own + spare / sharing;
}

void run_piece(crew &c, member_run &m, int index) {
  piece &q = c.pieces[index];  // the list may grow meanwhile; it never moves
  sweep_setup setup = c.plan->sweeps[q.sweep].setup;
  setup.if_low_khz = q.low;
  setup.if_high_khz = q.high;
  m.reached = q.low;
  setup.budget = piece_budget(c, m, setup);
  setup.halted = &m.halted;
  run_sweep(setup, q.sweep, m.driver, m.sink, c.state->book, c.state->tally, c.state->gaps);
  q.state = PIECE_DONE;
  c.report->swept_khz += q.high - m.reached;
  if (!m.halted) {
    c.open_pieces[q.sweep]--;
    return;
  }
  // What the failed tuner had left goes back, from its first refused window.
  uint32_t from = m.streak > 0 ? m.streak_from : m.last_window;
  if (from < q.low) from = q.low;
  if (from >= q.high || c.piece_count == kMaxPieces) {
    c.open_pieces[q.sweep]--;
    return;
  }
  c.report->swept_khz -= q.high - from;
  c.pieces[c.piece_count++] = {from, q.high, q.sweep, PIECE_OPEN};
}

void run_gaps(crew &c, member_run &m, int sweep, int tier) {
  sweep_setup setup = c.plan->sweeps[sweep].setup;
  setup.halted = &m.halted;
  setup.budget = c.budget - c.state->tally.searches;
  fill_gaps(setup, static_cast<uint8_t>(sweep), tier_khz(c, sweep, tier), m.driver, m.sink, c.state->book,
            c.state->tally, c.state->gaps);
}

bool switch_cable(crew &c, member_run &m, int sweep) {
  int cable = c.plan->members[m.index].cable;
  cable_run &k = c.cables[cable];
  k.working++;  // its mates wait while it moves
  pthread_mutex_unlock(&c.lock);
  bool set = c.hooks->set_lnb(c.hooks->context, m.index, c.plan->sweeps[sweep], sweep);
  pthread_mutex_lock(&c.lock);
  k.working--;
  if (!set) {
    k.failed = true;
    c.report->lnb_failed[cable] = true;
    return false;
  }
  k.setting = sweep;
  return true;
}

void pause_unlocked(crew &c, member_run &m) {
  pthread_mutex_unlock(&c.lock);
  c.hooks->pause(c.hooks->context, m.index);
  pthread_mutex_lock(&c.lock);
}

void *work(void *context) {
  auto &m = *static_cast<member_run *>(context);
  crew &c = *m.c;
  int cable = c.plan->members[m.index].cable;
  if (c.hooks->begin != nullptr) c.hooks->begin(c.hooks->context, m.index);
  pthread_mutex_lock(&c.lock);
  for (;;) {
    job next = choose(c, m);
    if (next.kind == JOB_END) break;
    if (next.kind == JOB_WAIT) {
      m.current = next;
      pause_unlocked(c, m);
      continue;
    }
    if (next.kind == JOB_SWITCH) {
      (void)switch_cable(c, m, next.index);
      continue;
    }
    m.current = next;
    c.cables[cable].working++;
    if (next.kind == JOB_PIECE) {
      c.pieces[next.index].state = PIECE_TAKEN;
      run_piece(c, m, next.index);
    } else {
      run_gaps(c, m, next.index, next.tier);
    }
    c.cables[cable].working--;
    m.current = {JOB_NONE, 0, 0};
  }
  m.ended = true;
  m.current = {JOB_END, 0, 0};
  c.report->failed[m.index] = m.halted;
  pthread_mutex_unlock(&c.lock);
  c.hooks->member_ended(c.hooks->context, m.index, m.halted);
  return nullptr;
}

// Pieces of whole windows from the sweep's start.
void cut_sweeps(crew &c, int per_sweep) {
  for (int s = 0; s < c.plan->count; ++s) {
    const sweep_setup &w = c.plan->sweeps[s].setup;
    uint32_t count = sweep_windows(w);
    auto pieces = static_cast<uint32_t>(per_sweep) < count ? static_cast<uint32_t>(per_sweep) : count;
    for (uint32_t i = 0; i < pieces; ++i) {
      uint32_t first = count * i / pieces, last = count * (i + 1) / pieces;
      uint32_t high = i + 1 == pieces ? w.if_high_khz : w.if_low_khz + last * kWindowKHz;
      c.pieces[c.piece_count++] = {w.if_low_khz + first * kWindowKHz, high, static_cast<uint8_t>(s), PIECE_OPEN};
      c.open_pieces[s]++;
    }
    c.report->sweep_khz += w.if_high_khz - w.if_low_khz;
  }
  c.report->pieces = static_cast<uint32_t>(c.piece_count);
}

}  // namespace

int pieces_per_sweep(int sweeps, int members, int cable_size) {
  // Four pieces a tuner keeps the last one short; a cable's members need a
  // piece each of the one sweep they share, and no more: every piece's
  // start is a window searched knowing nothing of the one below.
  int across = sweeps > 0 ? (4 * members + sweeps - 1) / sweeps : 1;
  int within = cable_size;
  int n = across > within ? across : within;
  return members == 1 ? 1 : n;
}

satellite_end scan_with_crew(const crew_plan &plan, const scan_sink &sink, const crew_hooks &hooks,
                             satellite_state &state, crew_room &room, crew_report &report) {
  static_assert(sizeof(crew) <= sizeof room.workspace && alignof(crew) <= 16);
  // A fresh crew in the caller's storage (the checker takes placement new
  // for a read of what it makes).
  // cppcheck-suppress legacyUninitvar
  auto *fresh = ::new (static_cast<void *>(room.workspace)) crew();
  crew &c = *fresh;
  c.plan = &plan;
  c.sink = &sink;
  c.hooks = &hooks;
  c.state = &state;
  c.report = &report;
  report = {};
  pthread_mutex_init(&c.lock, nullptr);
  c.budget = plain_searches(plan.count);
  int cable_size[kMaxCrew] = {}, largest = 1;
  for (int i = 0; i < plan.member_count; ++i) {
    int n = ++cable_size[plan.members[i].cable];
    largest = n > largest ? n : largest;
  }
  // A cable fixed to one sweep shows it already: it is never set.
  for (int k = 0; k < kMaxCrew; ++k) c.cables[k].setting = plan.cable_setting[k] >= 0 ? plan.cable_setting[k] : -1;
  cut_sweeps(c, pieces_per_sweep(plan.count, plan.member_count, largest));
  // A piece starts as a sweep does, knowing nothing of the one below: what
  // that costs is searched on top of what the plain sweep would make.
  c.budget += kSearchesAPieceStart * static_cast<uint32_t>(c.piece_count - plan.count);
  for (int i = 0; i < plan.member_count; ++i) {
    member_run &m = c.members[i];
    m.c = &c;
    m.index = i;
    m.driver = {search_unlocked, &m};
    m.sink = {carrier_of, progress_of, &m};
  }
  // The threads start together: none runs before every one is made.
  int started = 0;
  pthread_mutex_lock(&c.lock);
  for (int i = 0; i < plan.member_count; ++i) {
    member_run &m = c.members[i];
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstack(&attr, room.stacks[i], kCrewStackBytes);
    int error = pthread_create(&m.thread, &attr, work, &m);
    pthread_attr_destroy(&attr);
    m.started = error == 0;
    started += m.started;
    // A thread the system will not give is a member less.
    m.ended = !m.started;
    report.unstarted[i] = !m.started;
    if (!m.started) report.start_error = error;
  }
  pthread_mutex_unlock(&c.lock);
  for (int i = 0; i < plan.member_count; ++i)
    if (report.unstarted[i]) hooks.member_ended(hooks.context, i, true);
  for (int i = 0; i < plan.member_count; ++i)
    if (c.members[i].started) (void)pthread_join(c.members[i].thread, nullptr);
  pthread_mutex_destroy(&c.lock);
  if (state.tally.stopped) return SATELLITE_STOPPED;
  return started > 0 && state.tally.searches > 0 ? SATELLITE_DONE : SATELLITE_LNB_FAILED;
}
