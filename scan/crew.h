// A whole satellite on several tuners at once: the sweeps of satellite.h
// cut into pieces that the tuners take as they come free, then the gaps
// beside the carriers, every tuner knowing every carrier found. How the
// tuners are wired decides what may run together:
//  - tuners on cables of their own each set their LNB as they please;
//  - tuners on one cable (loop-through, or demodulators behind one input)
//    share its setting: they split one sweep, and the cable moves on to
//    another only when none of them is searching;
//  - a cable whose setting must not change (a busy tuner shares it) scans
//    only the sweep that setting shows, or nothing.
// Each tuner searches on a thread of its own. Only one thread at a time
// runs the strategy, which keeps the shared list, gaps and tally
// consistent; the lock is let go around every request to the driver, so
// the searches themselves overlap.
#pragma once

#include <cstddef>

#include "satellite.h"

constexpr int kMaxCrew = 8;

// A cable's setting is ours to choose, or fixed to one sweep, or nothing
// of the scan shows on it.
constexpr int kCableFree = -1;
constexpr int kCableNothing = -2;

struct crew_member {
  scan_driver driver;  // its searches
  uint8_t cable;       // members with the same cable share one LNB setting
  const bool *broken;  // set by its driver when the tuner cannot go on, or nullptr
};

struct crew_hooks {
  // A member's first act on its own thread, or nullptr: where a model of
  // the receiver lines the members up before any of them chooses work.
  void (*begin)(void *context, int member);
  // Member `member` sets its cable for sweep `index` of the plan; false
  // when it cannot, which ends the work of every member on that cable.
  bool (*set_lnb)(void *context, int member, const planned_sweep &sweep, int index);
  // Waits a moment, for a member with nothing to do yet.
  void (*pause)(void *context, int member);
  // A member's last act on its own thread: its work is done, or its tuner
  // failed and what it had left went to the others.
  void (*member_ended)(void *context, int member, bool failed);
  // After every search: which member, on which sweep, where.
  void (*progress)(void *context, int member, int sweep, uint32_t if_khz, bool gaps);
  void *context;
};

struct crew_plan {
  planned_sweep *sweeps;
  int count;
  crew_member members[kMaxCrew];
  int member_count;
  int cable_setting[kMaxCrew];  // per cable: kCableFree, kCableNothing or the one sweep it shows
};

// A tuner is given up after this many refused windows in a row while
// another tuner still works: a dead tuner refuses everything.
constexpr uint32_t kRefusalsToFail = 5;

struct crew_report {
  uint32_t searches[kMaxCrew];  // per member
  bool failed[kMaxCrew];        // stopped early; its windows went to the others
  bool unstarted[kMaxCrew];     // the system gave it no thread
  int start_error;              // and why
  bool lnb_failed[kMaxCrew];    // per cable: its setting could not be made
  uint32_t pieces;              // the sweeps were cut into
  uint64_t swept_khz, sweep_khz;  // IF stepped through so far, of all
};

// What the threads run on: too large for a stack, so callers give it
// static storage, one per scan running at a time.
#if defined(__SANITIZE_THREAD__)
constexpr size_t kCrewStackBytes = size_t{2048} * 1024;  // the thread checker keeps its own state there
#else
constexpr size_t kCrewStackBytes = size_t{256} * 1024;
#endif
struct crew_room {
  alignas(16) unsigned char stacks[kMaxCrew][kCrewStackBytes];
  alignas(16) unsigned char workspace[8192];  // the scan's own bookkeeping
};

// Scans the plan with every member; `state` starts empty. The sink's
// carrier callback runs on the members' threads, one at a time; its
// progress callback is not used (see crew_hooks::progress). Ends
// SATELLITE_LNB_FAILED only when no member could scan anything.
satellite_end scan_with_crew(const crew_plan &plan, const scan_sink &sink, const crew_hooks &hooks,
                             satellite_state &state, crew_room &room, crew_report &report);

// How the IF range of every sweep is cut for `members` tuners whose largest
// cable has `cable_size` of them: enough pieces that none idles for long.
int pieces_per_sweep(int sweeps, int members, int cable_size);
