// Modelled time of a tool under the simulated receiver, on one tuner or on
// several at once from one thread each: every tuner's clock, the turns its
// threads take, and the lock that everything the preload shares is under.
// Times in ms of modelled time since the tool started.
#pragma once

#include <cstdint>
#include <cstdio>

void turns_lock();
void turns_unlock();

// Holds the lock for a scope.
struct held {
  held() { turns_lock(); }
  ~held() { turns_unlock(); }
  held(const held &) = delete;
  held &operator=(const held &) = delete;
};

// Once the description is loaded: from then on the threads a tool starts
// are its workers.
void turns_start();

// All below under the lock.
// A tuner's blind-scan device opened or closed: while it is open, the
// others wait for its worker.
void device_opened(int tuner);
void device_closed(int tuner);
// The calling thread searches on this tuner from now on.
void bind_thread(int tuner);
// A timed call (request or wait) of the calling thread: it takes effect
// after begin_call and returns after end_call with its cost.
void begin_call();
void end_call(uint64_t ms);
// What the calling thread's clock shows, and when the last tuner finished.
uint64_t now_ms();
uint64_t latest_ms();
// " tuners=N busy_ms.T=MS..." for a run on more than one tuner, else nothing.
void write_tuners(FILE *out);
