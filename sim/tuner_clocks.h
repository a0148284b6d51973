// Modelled time for a tool that searches on several tuners at once from
// threads of its own. Each tuner has a clock; a timed call (a request, a
// wait) moves its tuner's clock on by what it would take on a receiver and
// returns only when no other tuner still at work could finish earlier. So
// one thread runs at a time, in the order a receiver's tuners would finish
// their requests, and a run goes the same way every time whatever the
// host's scheduling.
#pragma once

#include <cstdint>
#include <pthread.h>

constexpr int kClockTuners = 16;

struct tuner_clocks {
  pthread_mutex_t lock;
  uint64_t base_ms;                 // what happened before any tuner was at work
  uint64_t clock_ms[kClockTuners];  // per tuner: when its last timed call ends
  uint64_t busy_ms[kClockTuners];   // the time it spent in timed calls
  bool live[kClockTuners];          // at work: its device is open
  bool waiting[kClockTuners];       // in a timed call, until its turn
  pthread_cond_t turn[kClockTuners];
};

void clocks_init(tuner_clocks &c);
void clocks_destroy(tuner_clocks &c);
// A tuner starts work, from the base clock; and ends it.
void clocks_open(tuner_clocks &c, int tuner);
void clocks_close(tuner_clocks &c, int tuner);
// A timed call of `ms` on `tuner`; with tuner < 0, before any tuner is at
// work, the base clock moves on.
void clocks_spend(tuner_clocks &c, int tuner, uint64_t ms);
// A tuner's clock, or with tuner < 0 the latest of them all: the run's
// duration so far.
uint64_t clocks_now(tuner_clocks &c, int tuner);
