// A tool on several tuners, as the simulated receiver serves one: the main
// thread opens each tuner's frontend and blind-scan device, pauses 2 s and
// starts a thread per tuner, which sets its cable's polarisation and then
// searches N steps of 10 MHz from IF 1180 MHz with a 50 ms wait after each.
// Every search prints "TUNER STEP_MHZ RATE|- MS" (RATE: the symbol rate
// found; MS: modelled time the thread's clock shows), the end "total MS".
// With --watch, it looks at a tuner another program uses instead.
//   tuner_threads TUNER=V|H*N ...
//   tuner_threads --watch TUNER [DRIVER]   (DRIVER first set to 18 V, tone on)
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/dvb/frontend.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr int kMaxThreads = 8;

struct job {
  int tuner;
  char polarisation;
  int steps;
  int frontend, device;
};

pthread_mutex_t g_print = PTHREAD_MUTEX_INITIALIZER;
int64_t g_offset_ms;

// The monotonic clock runs ahead of the raw one by the modelled time alone.
int64_t modelled_ms() {
  timespec shifted{}, raw{};
  clock_gettime(CLOCK_MONOTONIC, &shifted);
  clock_gettime(CLOCK_MONOTONIC_RAW, &raw);
  int64_t us = (shifted.tv_sec - raw.tv_sec) * 1000000LL + (shifted.tv_nsec - raw.tv_nsec) / 1000;
  return (us + 500) / 1000 - g_offset_ms;
}

// Whether the search at step_mhz locks, and on what rate.
uint32_t search(int device, uint32_t step_mhz) {
  uint32_t params[5] = {step_mhz * 1000000u, 2000000, 45000000, 0, 0};
  uint32_t words[8] = {};
  if (ioctl(device, 1, params) != 0 || ioctl(device, 2, nullptr) != 0) return 0;
  return ioctl(device, 3, words) == 0 ? words[1] : 0;
}

void *work(void *arg) {
  const job &j = *static_cast<const job *>(arg);
  ioctl(j.frontend, FE_SET_VOLTAGE, j.polarisation == 'V' ? SEC_VOLTAGE_13 : SEC_VOLTAGE_18);
  for (int i = 0; i < j.steps; ++i) {
    uint32_t step = 1180u + 10u * static_cast<uint32_t>(i);
    uint32_t rate = search(j.device, step);
    pthread_mutex_lock(&g_print);
    if (rate != 0) printf("%d %u %u %lld\n", j.tuner, step, rate, static_cast<long long>(modelled_ms()));
    else printf("%d %u - %lld\n", j.tuner, step, static_cast<long long>(modelled_ms()));
    fflush(stdout);
    pthread_mutex_unlock(&g_print);
    timespec wait = {0, 50000000};
    nanosleep(&wait, nullptr);
  }
  close(j.device);
  return nullptr;
}

int open_node(const char *prefix, int tuner, int flags) {
  char path[64];
  snprintf(path, sizeof path, "%s%d", prefix, tuner);
  return open(path, flags);
}

const char *outcome(int ret) { return ret >= 0 ? "ok" : errno == EBUSY ? "EBUSY" : errno == EINVAL ? "EINVAL" : "other"; }

// What a tool may do with a tuner in use: look, not touch.
int watch(int tuner, int driver) {
  if (driver >= 0) {
    int fe = open_node("/dev/dvb/adapter0/frontend", driver, O_RDWR);
    ioctl(fe, FE_SET_VOLTAGE, SEC_VOLTAGE_18);
    ioctl(fe, FE_SET_TONE, SEC_TONE_ON);
    close(fe);
  }
  printf("frontend read-write %s\n", outcome(open_node("/dev/dvb/adapter0/frontend", tuner, O_RDWR)));
  printf("blind-scan device %s\n", outcome(open_node("/dev/blindscan", tuner, O_RDWR)));
  int fe = open_node("/dev/dvb/adapter0/frontend", tuner, O_RDONLY);
  printf("frontend read-only %s\n", outcome(fe));
  dtv_property props[2] = {};
  props[0].cmd = DTV_VOLTAGE;
  props[1].cmd = DTV_TONE;
  dtv_properties asked = {2, props};
  int ret = ioctl(fe, FE_GET_PROPERTY, &asked);
  printf("voltage and tone %s %u %u\n", outcome(ret), props[0].u.data, props[1].u.data);
  props[0].cmd = DTV_FREQUENCY;
  printf("frequency %s\n", outcome(ioctl(fe, FE_GET_PROPERTY, &asked)));
  close(fe);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc >= 3 && strcmp(argv[1], "--watch") == 0) return watch(atoi(argv[2]), argc > 3 ? atoi(argv[3]) : -1);
  g_offset_ms = modelled_ms();
  job jobs[kMaxThreads] = {};
  int count = 0;
  for (int i = 1; i < argc && count < kMaxThreads; ++i) {
    job &j = jobs[count++];
    if (sscanf(argv[i], "%d=%c*%d", &j.tuner, &j.polarisation, &j.steps) != 3) return 2;
    j.frontend = open_node("/dev/dvb/adapter0/frontend", j.tuner, O_RDWR);
    j.device = open_node("/dev/blindscan", j.tuner, O_RDWR);
    if (j.frontend < 0 || j.device < 0) return 1;
  }
  sleep(2);  // the driver's settle pause
  pthread_t threads[kMaxThreads];
  for (int i = 0; i < count; ++i) pthread_create(&threads[i], nullptr, work, &jobs[i]);
  for (int i = 0; i < count; ++i) pthread_join(threads[i], nullptr);
  printf("total %lld\n", static_cast<long long>(modelled_ms()));
  return 0;
}
