// skysweep: blind scan of one satellite tuner. Checks the tuner's frontend
// node /dev/dvb/adapter0/frontendN and its socket type in
// /proc/bus/nim_sockets, then sweeps the intermediate-frequency range in
// 10 MHz steps on /dev/blindscanN. Result lines go to standard error; usage
// and "unsupported device" to standard output. Exit status is always 0; a
// result line that cannot be written stops the sweep.
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "blindscan.h"
#include "nim_sockets.h"
#include "settings.h"

static const char kFrontendPath[] = "/dev/dvb/adapter0/frontend%d";
static const char kBlindscanPath[] = "/dev/blindscan%d";
constexpr int32_t kStepMHz = 10;
constexpr unsigned kSettleSeconds = 2;  // the driver wants a pause before the first search

static const char *const szUsage[] = {
    "usage: skysweep [options]",                 // 0
    "       --freq=val       (default: 950)",    // 1
    "       --freq=val       (default: 2150)",   // 2
    "       --sr=val         (default: 2)",      // 3
    "       --sr=val         (default: 45)",     // 4
    "       --polar=val      (default: 0)",      // 5
    "       --band=val      (default: 0)",       // 6
    "       --bus=val",                          // 7
};
static_assert(sizeof(szUsage) / sizeof(szUsage[0]) == 8);

static void print_usage() {
  for (const char *line : szUsage) (void)puts(line);  // nothing to do if stdout is gone
}

static bool frontend_exists(int32_t bus) {
  char path[256];
  (void)snprintf(path, sizeof path, kFrontendPath, static_cast<int>(bus));  // fits: sizeof path > 40
  struct stat st;
  return stat(path, &st) == 0;
}

static bool is_satellite_tuner(int32_t bus) {
  int32_t type = nim_type_of(read_nim_sockets(), bus);
  return type == SYS_DVBS || type == SYS_DVBS2;
}

// Steps from start_freq upward while below end_freq. The stop test runs
// before the addition, so an end_freq near INT32_MAX cannot overflow f. A
// result line that cannot be written ends the sweep: the rest would be lost
// too, and the exit status stays 0 as plugins expect.
static void sweep(int fd, const scan_options &o) {
  for (int32_t f = o.start_freq; f < o.end_freq; f += kStepMHz) {
    if (!blindscan_step(fd, f, o)) break;
    if (f > INT32_MAX - kStepMHz) break;
  }
}

int main(int argc, char **argv) {
  if (argc == 1) {
    print_usage();
    return 0;
  }
  scan_options o = read_settings(argc, argv);

  if (!frontend_exists(o.bus) || !is_satellite_tuner(o.bus)) {
    (void)puts("unsupported device");
    return 0;
  }

  char path[256];
  (void)snprintf(path, sizeof path, kBlindscanPath, static_cast<int>(o.bus));  // fits, as above
  int fd = open(path, O_RDWR);
  if (fd < 0) return 0;

  sleep(kSettleSeconds);
  sweep(fd, o);
  close(fd);
  return 0;
}
