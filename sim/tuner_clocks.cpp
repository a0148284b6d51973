// Conservative ordering of the tuners' timed calls; see tuner_clocks.h.
#include "tuner_clocks.h"

void clocks_init(tuner_clocks &c) {
  c.base_ms = 0;
  for (int t = 0; t < kClockTuners; ++t) {
    c.clock_ms[t] = c.busy_ms[t] = 0;
    c.live[t] = c.waiting[t] = false;
  }
  pthread_mutex_init(&c.lock, nullptr);
  for (int t = 0; t < kClockTuners; ++t) pthread_cond_init(&c.turn[t], nullptr);
}

void clocks_destroy(tuner_clocks &c) {
  for (int t = 0; t < kClockTuners; ++t) pthread_cond_destroy(&c.turn[t]);
  pthread_mutex_destroy(&c.lock);
}

// The tuner whose call ends first, once every tuner at work waits in one;
// -1 while one is still running. Ties go to the lower tuner number.
static int next_turn(const tuner_clocks &c) {
  int first = -1;
  for (int t = 0; t < kClockTuners; ++t) {
    if (!c.live[t]) continue;
    if (!c.waiting[t]) return -1;
    if (first < 0 || c.clock_ms[t] < c.clock_ms[first]) first = t;
  }
  return first;
}

static void wake_next(tuner_clocks &c) {
  int next = next_turn(c);
  if (next >= 0) pthread_cond_signal(&c.turn[next]);
}

void clocks_open(tuner_clocks &c, int tuner) {
  pthread_mutex_lock(&c.lock);
  c.live[tuner] = true;
  c.waiting[tuner] = false;
  c.clock_ms[tuner] = c.base_ms;
  pthread_mutex_unlock(&c.lock);
}

void clocks_close(tuner_clocks &c, int tuner) {
  pthread_mutex_lock(&c.lock);
  c.live[tuner] = false;
  c.waiting[tuner] = false;
  wake_next(c);
  pthread_mutex_unlock(&c.lock);
}

void clocks_spend(tuner_clocks &c, int tuner, uint64_t ms) {
  pthread_mutex_lock(&c.lock);
  if (tuner < 0 || !c.live[tuner]) {
    c.base_ms += ms;
    pthread_mutex_unlock(&c.lock);
    return;
  }
  c.clock_ms[tuner] += ms;
  c.busy_ms[tuner] += ms;
  c.waiting[tuner] = true;
  wake_next(c);
  while (next_turn(c) != tuner) pthread_cond_wait(&c.turn[tuner], &c.lock);
  c.waiting[tuner] = false;
  pthread_mutex_unlock(&c.lock);
}

uint64_t clocks_now(tuner_clocks &c, int tuner) {
  pthread_mutex_lock(&c.lock);
  uint64_t now = c.base_ms;
  if (tuner >= 0 && c.live[tuner]) {
    now = c.clock_ms[tuner];
  } else {
    for (int t = 0; t < kClockTuners; ++t)
      if (c.clock_ms[t] > now) now = c.clock_ms[t];
  }
  pthread_mutex_unlock(&c.lock);
  return now;
}
