// Modelled time under the simulated receiver. Rule:
//  - Each tuner's clock runs on by the modelled cost of every timed call
//    (request or wait) of the thread bound to it: the thread that last made
//    a blind-scan request on its device. Its busy time counts those alone.
//  - Once the tool has started a thread, threads take turns: a call takes
//    effect when it is the earliest to start, and returns when it is the
//    earliest to end, of every tuner whose device is open (ties go to the
//    lower tuner). So a run is the same whatever the host's scheduling,
//    and tuners overlap as on a receiver.
//  - Calls of the main thread bound to none run on the base clock that
//    tuners start from. A worker's calls before its first search take turns
//    too, after every tuner (ties by the order the workers were started),
//    and are added to its tuner's clock when it binds; a tuner opened and
//    not yet worked waits for one of them.
//  - A tuner whose worker ended, or moved to another tuner, holds no one.
#include "turns.h"

#include <dlfcn.h>
#include <pthread.h>

#include "description.h"

#define SIM_EXPORT extern "C" __attribute__((visibility("default")))

// Whether a thread works a tuner: none yet, one, or none any more.
enum claim { UNCLAIMED, CLAIMED, RELEASED };

struct tuner_clock {
  uint64_t clock_ms;  // when its thread's current or last timed call ends
  uint64_t busy_ms;   // in requests and waits, not waiting for others
  bool open;          // its blind-scan device
  bool used;          // a thread made requests on it
  bool waiting;       // its thread waits in a timed call ending at clock_ms
  claim worked;
};

// A thread the tool started, from its start until it ends.
struct worker {
  bool alive;
  bool waiting;
  int tuner;            // it works, or -1 before its first search
  uint64_t pending_ms;  // its calls before then, for that tuner's clock
  void *(*start)(void *);
  void *arg;
};
constexpr int kMaxWorkers = 32;

struct turn {
  uint64_t end;
  int order;  // the tuner, or past the tuners, a worker not yet bound
};

static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t g_turn = PTHREAD_COND_INITIALIZER;  // someone waits, or leaves
static tuner_clock g_clocks[kMaxTuners];
static uint64_t g_base_ms;  // the main thread's calls before it works a tuner
static bool g_started;      // the threads started from now on are workers
static bool g_threaded;     // the tool started a thread: threads take turns
static worker g_workers[kMaxWorkers];
static int g_worker_count;
static pthread_key_t g_worker_key;      // its value: the worker
static thread_local int t_bound = -1;   // the tuner this thread works
static thread_local int t_worker = -1;  // which worker this thread is, if it is one

void turns_lock() { pthread_mutex_lock(&g_lock); }
void turns_unlock() { pthread_mutex_unlock(&g_lock); }

static bool later(turn other, turn me) { return other.end > me.end || (other.end == me.end && other.order > me.order); }

uint64_t latest_ms() {
  uint64_t ms = g_base_ms;
  for (int n = 0; n < kMaxTuners; ++n)
    if (g_clocks[n].clock_ms > ms) ms = g_clocks[n].clock_ms;
  return ms;
}

// The calling thread's place in modelled time; order -1: it takes no turns.
static turn my_turn() {
  if (t_bound >= 0) return {g_clocks[t_bound].clock_ms, t_bound};
  if (t_worker >= 0) return {g_base_ms + g_workers[t_worker].pending_ms, kMaxTuners + t_worker};
  return {latest_ms(), -1};
}

uint64_t now_ms() { return my_turn().end; }

// Whether every other tuner and worker waits in a call that ends later, and
// every tuner opened and not yet worked has a worker to come.
static bool in_turn(turn me) {
  int unclaimed = 0, unbound = me.order >= kMaxTuners ? 1 : 0;
  for (int n = 0; n < kMaxTuners; ++n) {
    const tuner_clock &t = g_clocks[n];
    if (n == me.order || !t.open || t.worked == RELEASED) continue;
    if (t.worked == UNCLAIMED) ++unclaimed;
    else if (!t.waiting || !later({t.clock_ms, n}, me)) return false;
  }
  for (int w = 0; w < g_worker_count; ++w) {
    const worker &k = g_workers[w];
    if (!k.alive || k.tuner >= 0 || kMaxTuners + w == me.order) continue;
    ++unbound;
    if (!k.waiting || !later({g_base_ms + k.pending_ms, kMaxTuners + w}, me)) return false;
  }
  return unclaimed <= unbound;
}

static void set_waiting(bool waiting) {
  if (t_bound >= 0) g_clocks[t_bound].waiting = waiting;
  else g_workers[t_worker].waiting = waiting;
}

// Until the calling thread's call is the earliest to start or to end.
static void wait_turn() {
  if (!g_threaded || my_turn().order < 0) return;
  set_waiting(true);
  pthread_cond_broadcast(&g_turn);
  while (!in_turn(my_turn())) pthread_cond_wait(&g_turn, &g_lock);
  set_waiting(false);
}

void begin_call() { wait_turn(); }

void end_call(uint64_t ms) {
  if (t_bound >= 0) {
    g_clocks[t_bound].clock_ms += ms;
    g_clocks[t_bound].busy_ms += ms;
  } else if (t_worker >= 0) {
    g_workers[t_worker].pending_ms += ms;
  } else {
    g_base_ms = latest_ms() + ms;
  }
  if (ms > 0) wait_turn();
}

void device_opened(int tuner) {
  g_clocks[tuner].open = true;
  if (g_clocks[tuner].worked == RELEASED) g_clocks[tuner].worked = UNCLAIMED;
}

void device_closed(int tuner) {
  g_clocks[tuner].open = false;
  pthread_cond_broadcast(&g_turn);  // the others no longer wait for it
}

// Its clock picks up from the base, or from the tuner the thread worked before.
void bind_thread(int tuner) {
  if (t_bound == tuner) return;
  tuner_clock &t = g_clocks[tuner];
  uint64_t from = t_bound >= 0 ? g_clocks[t_bound].clock_ms : 0;
  if (g_base_ms > from) from = g_base_ms;
  if (t.clock_ms < from) t.clock_ms = from;
  if (t_bound >= 0) g_clocks[t_bound].worked = RELEASED;
  if (t_worker >= 0) {
    worker &k = g_workers[t_worker];
    t.clock_ms += k.pending_ms;
    t.busy_ms += k.pending_ms;
    k.pending_ms = 0;
    k.tuner = tuner;
  }
  t.used = true;
  t.worked = CLAIMED;
  t_bound = tuner;
}

void write_tuners(FILE *out) {
  int used = 0;
  for (int n = 0; n < kMaxTuners; ++n) used += g_clocks[n].used;
  if (used < 2) return;  // a run on one tuner keeps the line it always had
  fprintf(out, " tuners=%d", used);
  for (int n = 0; n < kMaxTuners; ++n)
    if (g_clocks[n].used) fprintf(out, " busy_ms.%d=%llu", n, static_cast<unsigned long long>(g_clocks[n].busy_ms));
}

// A worker that ends no longer holds the others, whether or not it closed
// its device.
static void worker_ended(void *value) {
  held lock;
  worker &k = *static_cast<worker *>(value);
  k.alive = false;
  if (k.tuner >= 0) g_clocks[k.tuner].worked = RELEASED;
  pthread_cond_broadcast(&g_turn);
}

void turns_start() {
  pthread_key_create(&g_worker_key, worker_ended);
  g_started = true;
}

static void *worker_start(void *slot) {
  auto *k = static_cast<worker *>(slot);
  t_worker = static_cast<int>(k - g_workers);
  pthread_setspecific(g_worker_key, k);
  return k->start(k->arg);
}

// Each thread the tool starts is a worker, numbered in the order started,
// and counts before it runs.
SIM_EXPORT int pthread_create(pthread_t *thread, const pthread_attr_t *attr, void *(*start)(void *), void *arg) {
  using create = int (*)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);
  auto real_create = reinterpret_cast<create>(dlsym(RTLD_NEXT, "pthread_create"));
  if (!g_started || g_worker_count >= kMaxWorkers) return real_create(thread, attr, start, arg);
  worker *k = nullptr;
  {
    held lock;
    g_threaded = true;
    k = &g_workers[g_worker_count++];
    *k = {true, false, -1, 0, start, arg};
  }
  int ret = real_create(thread, attr, worker_start, k);
  if (ret != 0) {
    held lock;
    k->alive = false;
    pthread_cond_broadcast(&g_turn);
  }
  return ret;
}
