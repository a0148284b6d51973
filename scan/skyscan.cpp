// skyscan: blind scan of a whole satellite in one run. Sets the LNB through
// the tuner's frontend node for each sweep (polarisation and band, and the
// DiSEqC switches when asked), or commands a single-cable LNB through a
// user band (single_cable.h), searches each sweep with the strategy of
// strategy.h on /dev/blindscanN, and prints every carrier found once, as
// soon as it is found, on standard output in skysweep's line format.
// Progress goes to standard error while it is a terminal, and one summary
// line at the end.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <csignal>
#include <getopt.h>
#include <iterator>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "crew.h"
#include "nim_sockets.h"
#include "satellite.h"
#include "single_cable.h"

static const char kFrontendPath[] = "/dev/dvb/adapter0/frontend%d";
static const char kBlindscanPath[] = "/dev/blindscan%d";
constexpr unsigned kSettleSeconds = 2;   // the driver wants a pause before the first search
constexpr long kLnbSettleNs = 100000000;  // the LNB's supply and oscillator after a switch
constexpr long kProgressNs = 200000000;   // at most five progress updates a second
constexpr double kEventSeconds = 1.0;     // at most one progress event a second
constexpr long kIdleNs = 50000000;        // a tuner with nothing to do yet looks again after this

static const char kUsage[] =
    "Usage: skyscan [OPTION]...\n"
    "Blind-scans a whole satellite on one tuner or several at once: sets the LNB for\n"
    "each sweep and prints every carrier found on standard output, one line each, as\n"
    "skysweep does.\n"
    "\n"
    "  -f, --frequencies=LOW-HIGH  dish frequencies in MHz (default: what the LNB\n"
    "                              delivers, 10700-12750 for a universal LNB)\n"
    "  -s, --symbol-rates=MIN-MAX  symbol rates in Msym/s (default: 2-45)\n"
    "  -p, --polarisation=h|v|hv   polarisations to sweep (default: hv)\n"
    "  -b, --band=low|high|both    bands of a universal LNB (default: both)\n"
    "  -t, --tuner=LIST            tuner numbers (default: 0): 0,1 for tuners on\n"
    "                              cables of their own, 0+1 for tuner 1 looped\n"
    "                              through from tuner 0 or a second demodulator\n"
    "                              on its input (tuner 0 sets the LNB)\n"
    "  -d, --diseqc=SWITCHES       DiSEqC switch ports: A-D (1.0), U1-U16 (1.1),\n"
    "                              mini-A or mini-B (tone burst), or a cascade\n"
    "                              such as B,U3\n"
    "  -u, --user-band=STD:N:MHZ[:POSITION[:PIN]]\n"
    "                              scan through single-cable user band N (from 1)\n"
    "                              at MHZ, standard 50494 or 50607; once per\n"
    "                              tuner, in the order of -t\n"
    "  -l, --lnb=universal|MHZ     universal LNB (9750/10600 MHz, default) or the\n"
    "                              oscillator frequency of a single-oscillator LNB\n"
    "  -q, --quiet                 no progress and no summary\n"
    "  -e, --events=FD             progress events for programs, a line each, on\n"
    "                              file descriptor FD (2: standard error)\n"
    "  -h, --help                  show this help and exit\n"
    "  -V, --version               show the version and exit\n"
    "\n"
    "Exit status: 0 when the scan ran, even if it found nothing; 1 when it could\n"
    "not scan; 2 for a command-line error.\n";

struct options {
  scan_request request;
  const char *range_text;  // -f as given, or nullptr
  const char *band_text;   // -b as given, or nullptr
  int tuner;               // the first of tuners[]
  int tuners[kMaxCrew];
  uint8_t cable_of[kMaxCrew];  // tuners joined by '+' share one
  int tuner_count;
  switch_route route;
  user_band band;          // the first of bands[]
  user_band bands[kMaxCrew];
  int band_count;
  const char *cable_text;  // -u as given: through a user band, or nullptr
  bool quiet;
  int events_fd;           // -1: none
};

static const char kTryHelp[] = "Try 'skyscan --help' for more information.\n";

// "skyscan: band 'mid' is not low, high or both" and where to look.
static int usage_error(const char *what, const char *text, const char *expected) {
  (void)fprintf(stderr, "skyscan: %s '%s'%s%s\n%s", what, text, *expected != '\0' ? " " : "", expected, kTryHelp);
  return 2;
}

// getopt's own complaints would start with the program's path; these start
// with its name, as every other message does.
static int option_error(int c, const char *given) {
  if (c == ':')
    (void)fprintf(stderr, "skyscan: option '%s' requires an argument\n%s", given, kTryHelp);
  else if (optopt != 0)
    (void)fprintf(stderr, "skyscan: invalid option -- '%c'\n%s", optopt, kTryHelp);
  else
    (void)fprintf(stderr, "skyscan: unrecognized option '%s'\n%s", given, kTryHelp);
  return 2;
}

// A whole number from min to max, digits only.
static bool read_number(const char *text, long min, long max, long *out) {
  if (*text < '0' || *text > '9') return false;
  char *end = nullptr;
  errno = 0;
  long v = strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || v < min || v > max) return false;
  *out = v;
  return true;
}

// "LOW-HIGH" with LOW < HIGH (LOW <= HIGH when equal is allowed).
static bool read_range(const char *text, long min, long max, bool equal_ok, long *low, long *high) {
  char copy[32];
  if (strlen(text) >= sizeof copy) return false;
  memcpy(copy, text, strlen(text) + 1);
  char *dash = strchr(copy, '-');
  if (dash == nullptr) return false;
  *dash = '\0';
  if (!read_number(copy, min, max, low) || !read_number(dash + 1, min, max, high)) return false;
  return equal_ok ? *low <= *high : *low < *high;
}

// "0", "0,1" or "0+1,2": tuner numbers, '+' joining tuners on one cable,
// each tuner once.
static bool read_tuners(const char *text, options &o) {
  o.tuner_count = 0;
  uint8_t cable = 0;
  for (const char *c = text;; ++c) {
    if (*c < '0' || *c >= '0' + kSocketCount || o.tuner_count == kMaxCrew) return false;
    int tuner = *c++ - '0';
    for (int i = 0; i < o.tuner_count; ++i)
      if (o.tuners[i] == tuner) return false;
    o.tuners[o.tuner_count] = tuner;
    o.cable_of[o.tuner_count++] = cable;
    if (*c == '\0') break;
    if (*c != ',' && *c != '+') return false;
    cable += *c == ',';
  }
  o.tuner = o.tuners[0];
  return true;
}

// Whether some tuner shares its cable with another.
static bool cables_shared(const options &o) {
  for (int i = 1; i < o.tuner_count; ++i)
    if (o.cable_of[i] == o.cable_of[i - 1]) return true;
  return false;
}

// "50494:1:1210" or "50607:3:1420:2:123": the standard, the user band and
// the position from 1, the band's frequency in MHz, the PIN.
static bool read_user_band(const char *text, user_band *band) {
  char copy[48];
  if (strlen(text) >= sizeof copy) return false;
  memcpy(copy, text, strlen(text) + 1);
  long v[5] = {0, 0, 0, 1, -1};
  int n = 0;
  for (char *part = copy; part != nullptr; ++n) {
    char *colon = strchr(part, ':');
    if (colon != nullptr) *colon = '\0';
    if (n == 5 || !read_number(part, 0, 99999, &v[n])) return false;
    part = colon != nullptr ? colon + 1 : nullptr;
  }
  if (n < 3 || (v[0] != 50494 && v[0] != 50607)) return false;
  auto standard = v[0] == 50494 ? CABLE_EN50494 : CABLE_EN50607;
  // The user band's passband must lie within what the tuner reaches.
  constexpr auto kLowestMHz = static_cast<long>((kIfLowKHz + kPassbandKHz / 2) / 1000);
  constexpr auto kHighestMHz = static_cast<long>((kIfHighKHz - kPassbandKHz / 2) / 1000);
  if (v[1] < 1 || v[1] > user_band_count(standard) || v[2] < kLowestMHz || v[2] > kHighestMHz || v[3] < 1 ||
      v[3] > position_count(standard) || v[4] > 255)
    return false;
  *band = {standard, static_cast<uint8_t>(v[1] - 1), static_cast<uint8_t>(v[3] - 1), v[4] >= 0,
           static_cast<uint8_t>(v[4] >= 0 ? v[4] : 0), static_cast<uint32_t>(v[2]) * 1000u};
  return true;
}

// A request that would search nothing is refused, saying what the LNB or
// the band offers instead: an empty scan must never read as an empty sky.
static int check_request(const options &o) {
  const lnb_type &lnb = o.request.lnb;
  uint32_t low = 0, high = 0;
  char offered[96];
  if (o.cable_text != nullptr && lnb.high_khz == 0)
    return usage_error("user band", o.cable_text, "needs a universal LNB: a single-cable LNB has its bands");
  // On a single cable every tuner commands a user band of its own.
  if (o.cable_text != nullptr && (o.band_count != o.tuner_count || cables_shared(o))) {
    (void)snprintf(offered, sizeof offered, "is one of %d; each of the %d tuners needs one, and none loops through",
                   o.band_count, o.tuner_count);
    return usage_error("user band", o.cable_text, offered);
  }
  if (o.band_text != nullptr && lnb.high_khz == 0)
    return usage_error("band", o.band_text, "does not apply: a single-oscillator LNB has one band");
  default_range(lnb, &low, &high);
  if (o.request.high_khz <= low || o.request.low_khz >= high) {
    (void)snprintf(offered, sizeof offered, "are outside what the LNB delivers, %u-%u MHz", low / 1000u, high / 1000u);
    return usage_error("frequencies", o.range_text, offered);
  }
  planned_sweep sweeps[4];
  if (plan_sweeps(o.request, sweeps) > 0) return -1;
  // Within the LNB's range, only a named band can miss it.
  band_range(lnb, o.request.bands[1], &low, &high);
  (void)snprintf(offered, sizeof offered, "is not reached by %u-%u MHz: it is %u-%u MHz", o.request.low_khz / 1000u,
                 o.request.high_khz / 1000u, low / 1000u, high / 1000u);
  return usage_error("band", o.band_text != nullptr ? o.band_text : "", offered);
}

static int read_options(int argc, char **argv, options &o) {
  static const option kLong[] = {
      {"frequencies", required_argument, nullptr, 'f'}, {"symbol-rates", required_argument, nullptr, 's'},
      {"polarisation", required_argument, nullptr, 'p'}, {"band", required_argument, nullptr, 'b'},
      {"tuner", required_argument, nullptr, 't'},       {"diseqc", required_argument, nullptr, 'd'},
      {"lnb", required_argument, nullptr, 'l'},         {"quiet", no_argument, nullptr, 'q'},
      {"user-band", required_argument, nullptr, 'u'},  {"events", required_argument, nullptr, 'e'},
      {"help", no_argument, nullptr, 'h'},              {"version", no_argument, nullptr, 'V'},
      {nullptr, 0, nullptr, 0}};
  o = {};
  o.request = {0, 0, 2000000, 45000000, {true, true}, {true, true}, kUniversalLnb};
  o.route = kNoSwitch;
  o.tuner_count = 1;
  o.events_fd = -1;
  long low = 0, high = 0, n = 0;
  int c;
  opterr = 0;
  while ((c = getopt_long(argc, argv, ":f:s:p:b:t:d:l:u:e:qhV", kLong, nullptr)) != -1) {
    switch (c) {
      case 'f':
        if (!read_range(optarg, 1, 4000000, false, &low, &high))
          return usage_error("frequencies", optarg, "are not LOW-HIGH in MHz");
        o.request.low_khz = static_cast<uint32_t>(low) * 1000u;
        o.request.high_khz = static_cast<uint32_t>(high) * 1000u;
        o.range_text = optarg;
        break;
      case 's':
        if (!read_range(optarg, 1, 100, true, &low, &high))
          return usage_error("symbol rates", optarg, "are not MIN-MAX in Msym/s (1-100)");
        o.request.sr_min = static_cast<uint32_t>(low) * 1000000u;
        o.request.sr_max = static_cast<uint32_t>(high) * 1000000u;
        break;
      case 'p':
        o.request.lanes[0] = strchr(optarg, 'h') != nullptr;
        o.request.lanes[1] = strchr(optarg, 'v') != nullptr;
        if (strspn(optarg, "hv") != strlen(optarg) || !(o.request.lanes[0] || o.request.lanes[1]))
          return usage_error("polarisation", optarg, "is not h, v or hv");
        break;
      case 'b':
        if (strcmp(optarg, "low") != 0 && strcmp(optarg, "high") != 0 && strcmp(optarg, "both") != 0)
          return usage_error("band", optarg, "is not low, high or both");
        o.request.bands[0] = strcmp(optarg, "high") != 0;
        o.request.bands[1] = strcmp(optarg, "low") != 0;
        o.band_text = optarg;
        break;
      case 't':
        if (!read_tuners(optarg, o))
          return usage_error("tuners", optarg, "are not tuner numbers 0 to 7, each once, joined by , or +");
        break;
      case 'e':
        if (!read_number(optarg, 1, 1023, &n) || fcntl(static_cast<int>(n), F_GETFD) < 0)
          return usage_error("events", optarg, "are not an open file descriptor");
        o.events_fd = static_cast<int>(n);
        break;
      case 'd':
        if (!read_route(optarg, &o.route))
          return usage_error("DiSEqC switches", optarg, "are not A-D, U1-U16, mini-A or mini-B, one of each at most");
        break;
      case 'u':
        if (o.band_count == kMaxCrew || !read_user_band(optarg, &o.bands[o.band_count]))
          return usage_error("user band", optarg,
                             "is not STD:N:MHZ[:POSITION[:PIN]] (50494: N 1-8, POSITION 1-2; 50607: N 1-32, "
                             "POSITION 1-64; MHZ 970-2130; PIN 0-255)");
        if (o.band_count++ == 0) o.band = o.bands[0], o.cable_text = optarg;
        break;
      case 'l':
        if (strcmp(optarg, "universal") == 0) {
          o.request.lnb = kUniversalLnb;
        } else if (read_number(optarg, 1, 4000000, &n)) {
          o.request.lnb = {static_cast<uint32_t>(n) * 1000u, 0, 0};
        } else {
          return usage_error("LNB", optarg, "is not 'universal' or an oscillator frequency in MHz");
        }
        break;
      case 'q': o.quiet = true; break;
      case 'h': (void)fputs(kUsage, stdout); return 0;
      case 'V': (void)printf("skyscan %s\n", RECEIVER_VERSION); return 0;
      default: return option_error(c, argv[optind - 1]);
    }
  }
  if (optind < argc) return usage_error("unexpected argument", argv[optind], "");
  if (o.range_text == nullptr) default_range(o.request.lnb, &o.request.low_khz, &o.request.high_khz);
  return check_request(o);
}

// ---- progress and output ---------------------------------------------------

// One tuner of the scan: its nodes and, with -u, its user band.
struct tuner_slot {
  cable_tuner cable;              // with -u: the searches go through it
  int index;                      // in the order of -t
  int number;
  int frontend_fd, blindscan_fd;  // -1 when not open
  lnb_step cable_failed;          // the request a command failed at
  bool busy;                      // another program uses it: left out
  bool line_set;                  // with -u: 13 V, tone off and the switches are set
};

struct scan_run {
  const options *given;  // the command line
  tuner_slot *slots;     // one per tuner given, in the order of -t
  const planned_sweep *plan;
  bool progress;  // standard error is a terminal and -q was not given
  bool banded;    // a universal LNB: sweeps are named by their band too
  int write_error;  // errno of a result line that could not be written
  timespec started, shown;
  int sweep, sweeps;
  const planned_sweep *current;
  uint64_t span_done_khz, span_total_khz;
  // In the gaps' rounds, the searches made and those the scan may still make.
  scan_tally *tally;
  uint32_t budget;
  bool in_gaps;
  uint32_t found;
  double evented;      // seconds, when the last progress event went out
  crew_report *crew;   // on several tuners: what each has done
};

static double seconds_since(const timespec &t) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec - t.tv_sec) + static_cast<double>(now.tv_nsec - t.tv_nsec) / 1e9;
}

// Minutes and seconds; a day at most, which no scan takes.
static void format_duration(char *buf, size_t size, double seconds) {
  unsigned s = seconds < 0 ? 0 : seconds > 86400 ? 86400 : static_cast<unsigned>(seconds);
  (void)snprintf(buf, size, "%u:%02u", s / 60 % 10000, s % 60);
}

// Where a scan is and what it may still take, for the progress line and
// the events alike.
struct progress_point {
  int tuner, sweep;  // sweep from 0
  bool gaps;
  int32_t mhz;       // at the dish
  double spent;
  double left;       // seconds; below 0 while there is nothing to tell it from
  bool bound;        // left is at most that, not about
};

static progress_point where_now(const scan_run &run, int tuner, int sweep, uint32_t if_khz, bool gaps) {
  const sweep_setup &s = run.plan[sweep].setup;
  uint32_t reached = if_khz < s.if_low_khz ? s.if_low_khz : if_khz > s.if_high_khz ? s.if_high_khz : if_khz;
  uint64_t done = run.crew != nullptr ? run.crew->swept_khz : run.span_done_khz + (reached - s.if_low_khz);
  progress_point p = {tuner, sweep, gaps, dish_khz(s, reached) / 1000, seconds_since(run.started), -1, false};
  bool every_sweep_done = run.crew != nullptr ? done >= run.span_total_khz : gaps;
  if (every_sweep_done && run.tally->searches > 0) {
    // The gaps take what they need of the searches left: a bound, not a guess.
    uint32_t left = run.budget > run.tally->searches ? run.budget - run.tally->searches : 0;
    p.left = p.spent / run.tally->searches * left;
    p.bound = true;
  } else if (done > 0) {
    p.left = p.spent * static_cast<double>(run.span_total_khz - done) / static_cast<double>(done);
  }
  return p;
}

// One line a plugin can read without parsing the progress text; see the
// manual page for its fields.
static void write_event(scan_run &run, const progress_point &p, bool now) {
  if (run.given->events_fd < 0 || (!now && p.spent - run.evented < kEventSeconds)) return;
  run.evented = p.spent;
  char line[192];
  int n = snprintf(line, sizeof line,
                   "PROGRESS tuner=%d sweep=%d/%d phase=%s mhz=%d found=%u searches=%u seconds=%u left=%d\n", p.tuner,
                   p.sweep + 1, run.sweeps, p.gaps ? "gaps" : "sweep", p.mhz, run.found, run.tally->searches,
                   static_cast<unsigned>(p.spent), p.left < 0 ? -1 : static_cast<int>(p.left));
  // Events are a courtesy too: a reader that goes away ends nothing.
  if (n > 0 && static_cast<size_t>(n) < sizeof line) (void)write_all(run.given->events_fd, line, static_cast<size_t>(n));
}

static void show_progress(scan_run &run, const progress_point &p, bool now) {
  write_event(run, p, now);
  if (!run.progress) return;
  if (!now && seconds_since(run.shown) * 1e9 < kProgressNs) return;
  clock_gettime(CLOCK_MONOTONIC, &run.shown);
  char spent[16], left[32] = "";
  format_duration(spent, sizeof spent, p.spent);
  if (p.left >= 0) {
    char t[16];
    format_duration(t, sizeof t, p.left);
    (void)snprintf(left, sizeof left, ", %s %s left", p.bound ? "at most" : "about", t);
  }
  const planned_sweep &sweep = run.plan[p.sweep];
  const char *band = !run.banded ? "" : sweep.high_band ? " high band" : " low band";
  char line[160];
  int n = 0;
  if (run.crew != nullptr) {
    auto share = static_cast<unsigned>(100 * run.crew->swept_khz / (run.span_total_khz > 0 ? run.span_total_khz : 1));
    n = snprintf(line, sizeof line, "\r\033[K%d tuners: %u%% of the sweeps%s, %u found, %s%s", run.given->tuner_count,
                 share, p.bound ? " and the gaps" : "", run.found, spent, left);
  } else {
    n = snprintf(line, sizeof line, "\r\033[K%ssweep %d/%d %s%s: %d MHz, %u found, %s%s", p.gaps ? "gaps of " : "",
                 p.sweep + 1, run.sweeps, sweep.setup.lane == 0 ? "horizontal" : "vertical", band, p.mhz, run.found,
                 spent, left);
  }
  // Progress is a courtesy: a terminal that stops taking it changes nothing.
  if (n > 0)
    (void)write_all(STDERR_FILENO, line, static_cast<size_t>(n) < sizeof line ? static_cast<size_t>(n) : sizeof line - 1);
}

// Clears the progress line, where one is shown, before a message.
static void end_progress(const scan_run &run) {
  if (run.progress) (void)write_all(STDERR_FILENO, "\r\033[K", 4);
}

static void print_carrier(void *context, const blindscan_result &r, int32_t khz, uint8_t lane) {
  auto &run = *static_cast<scan_run *>(context);
  char line[256];
  size_t length = format_result_line_at(line, sizeof line, r, lane, khz);
  // Clear the progress line first, so the carrier is not printed into it.
  if (isatty(STDOUT_FILENO)) end_progress(run);
  // A line that cannot be written ends the scan: every later one would be
  // lost too, and a count of lines nobody got would mislead.
  if (!write_all(STDOUT_FILENO, line, length)) {
    run.write_error = errno;
    run.tally->stopped = true;
    return;
  }
  run.found++;
}

static void note_progress(void *context, uint32_t if_khz) {
  auto &run = *static_cast<scan_run *>(context);
  show_progress(run, where_now(run, run.given->tuner, run.sweep, if_khz, run.in_gaps), false);
}

// ---- the driver -----------------------------------------------------------

static search_outcome search_window(void *context, uint32_t window_hz, uint32_t sr_min, uint32_t sr_max,
                                    blindscan_result *result) {
  int fd = static_cast<tuner_slot *>(context)->blindscan_fd;
  blindscan_params params = {window_hz, sr_min, sr_max, 0, 0};
  if (ioctl(fd, BS_SET_PARAMS, &params) != 0) return SEARCH_REFUSED;
  if (ioctl(fd, BS_SEARCH) != 0) return SEARCH_EMPTY;
  *result = {};
  if (ioctl(fd, BS_GET_RESULT, result) != 0) return SEARCH_EMPTY;
  return SEARCH_LOCKED;
}

static int fail(const char *what, const char *path) {
  int error = errno;
  // A tuner in use is the usual reason on a receiver: say whose it may be.
  (void)fprintf(stderr, "skyscan: %s %s: %s%s\n", what, path, strerror(error),
                error == EBUSY ? " (another program, such as the receiver's menu, may be using the tuner)" : "");
  return 1;
}

static volatile sig_atomic_t g_progress;  // a progress line may be on the terminal
// With -u, per tuner once a command went out: the release to send.
static volatile sig_atomic_t g_release_fd[kMaxCrew] = {-1, -1, -1, -1, -1, -1, -1, -1};
static cable_message g_release[kMaxCrew];

// A user band is left to the other receivers on the cable.
static void release_band(int slot) {
  int fd = g_release_fd[slot];
  g_release_fd[slot] = -1;
  if (fd >= 0) (void)send_cable_message(fd, g_release[slot]);  // nothing more to do if it fails
}

// Interrupted: end the progress line, where there is one, so the shell's
// prompt starts on a line of its own, and leave with the shell's status for
// the signal. The descriptors close with the process.
static void interrupted(int signal) {
  static const char kLine[] = "\r\033[Kskyscan: interrupted\n";
  size_t skip = g_progress != 0 ? 0 : 4;  // escape codes only to a terminal
  (void)!write(STDERR_FILENO, kLine + skip, sizeof kLine - 1 - skip);
  for (int i = 0; i < kMaxCrew; ++i) release_band(i);  // system calls and a pause only: safe here
  _exit(128 + signal);
}

// Whether the tuner list says the tuner is a satellite tuner; says why not.
static bool check_tuner(const nim_listing &listing, int tuner) {
  int32_t type = nim_type_of(listing, tuner);
  if (type == SYS_DVBS || type == SYS_DVBS2) return true;
  if (!listing.read)
    (void)fputs("skyscan: cannot read the tuner list (cat /proc/bus/nim_sockets failed)\n", stderr);
  else if (type == SYS_UNDEFINED)
    (void)fprintf(stderr, "skyscan: tuner %d is not in the tuner list /proc/bus/nim_sockets\n", tuner);
  else
    (void)fprintf(stderr, "skyscan: tuner %d is not a satellite tuner\n", tuner);
  return false;
}

// The last progress event: the summary, for a program.
static int finish(scan_run &run, int status) {
  if (run.given->events_fd < 0) return status;
  char line[160];
  int n = snprintf(line, sizeof line, "DONE found=%u sweeps=%d tuners=%d searches=%u seconds=%u status=%d\n",
                   run.found, run.sweeps, run.given->tuner_count, run.tally->searches,
                   static_cast<unsigned>(seconds_since(run.started)), status);
  if (n > 0 && static_cast<size_t>(n) < sizeof line) (void)write_all(run.given->events_fd, line, static_cast<size_t>(n));
  return status;
}

// Through a user band a window may take more than one search.
static uint32_t searches_made(const scan_run &run, const scan_tally &t) {
  if (run.given->cable_text == nullptr) return t.searches;
  uint32_t n = 0;
  for (int i = 0; i < run.given->tuner_count; ++i) n += run.slots[i].cable.searches;
  return n;
}

// What the scan came to. Every window refused is a failure with its own
// line; the rest is the summary, which -q silences.
static int summary(const options &o, const scan_run &run, const scan_tally &t) {
  end_progress(run);
  if (t.searches > 0 && t.refused == t.searches) {
    (void)fprintf(stderr, "skyscan: the driver refused every search window (request 1 failed %u times)\n", t.refused);
    return 1;
  }
  if (o.quiet) return 0;
  char spent[16], on[24] = "";
  format_duration(spent, sizeof spent, seconds_since(run.started));
  if (o.tuner_count > 1) (void)snprintf(on, sizeof on, " on %d tuners", o.tuner_count);
  uint32_t searches = searches_made(run, t);
  if (t.found == 0)
    (void)fprintf(stderr,
            "skyscan: no carrier found in %u searches over %d sweep%s%s (%s); check that the dish is aimed, the "
            "cable is connected and the LNB type is right\n",
            searches, run.sweeps, run.sweeps == 1 ? "" : "s", on, spent);
  else
    (void)fprintf(stderr, "skyscan: %u carrier%s in %d sweep%s%s, %u searches, %s\n", t.found, t.found == 1 ? "" : "s",
            run.sweeps, run.sweeps == 1 ? "" : "s", on, searches, spent);
  if (t.refused > 0)
    (void)fprintf(stderr, "skyscan: the driver refused %u of %u search windows (request 1 failed); they were not searched\n",
                  t.refused, t.searches);
  if (t.rejected > 0)
    (void)fprintf(stderr, "skyscan: %u implausible driver result%s dropped\n", t.rejected, t.rejected == 1 ? "" : "s");
  return 0;
}

// A result line could not be written: the scan stops, and says why.
static int lost_output(const scan_run &run) {
  end_progress(run);
  (void)fprintf(stderr, "skyscan: cannot write the results: %s\n", strerror(run.write_error));
  return 1;
}

static satellite_state g_state;  // the carriers and gaps, too large for the stack

static void lnb_failed(const scan_run &run, const tuner_slot &slot, lnb_step failed) {
  end_progress(run);
  if (run.given->tuner_count == 1)
    (void)fprintf(stderr, "skyscan: the LNB could not be set (%s): %s\n", lnb_step_name(failed), strerror(errno));
  else
    (void)fprintf(stderr, "skyscan: the LNB could not be set through tuner %d (%s): %s; its cable is left out\n",
                  slot.number, lnb_step_name(failed), strerror(errno));
}

static bool switch_lnb(const options &o, scan_run &run, tuner_slot &slot, const planned_sweep &p) {
  if (o.cable_text != nullptr) {
    // The line idles at 13 V without tone; commands select the rest.
    cable_sweep(slot.cable, p.setup.lane, p.high_band);
    if (slot.line_set) return true;
    slot.line_set = true;
  }
  uint8_t lane = o.cable_text != nullptr ? 1 : p.setup.lane;
  lnb_step failed = set_lnb(slot.frontend_fd, lane, o.cable_text == nullptr && p.high_band, o.route);
  if (failed != LNB_DONE) {
    lnb_failed(run, slot, failed);
    return false;
  }
  timespec settle = {0, kLnbSettleNs};
  (void)nanosleep(&settle, nullptr);  // cut short, the first search may miss; nothing worse
  return true;
}

// Before each sweep and each round of its gaps: the LNB, then the progress.
static bool begin_sweep(void *context, const planned_sweep &p, int index, bool gaps) {
  auto &run = *static_cast<scan_run *>(context);
  run.sweep = index;
  run.current = &p;
  run.in_gaps = gaps;
  if (!gaps) {
    run.span_done_khz = 0;
    for (int i = 0; i < index; ++i) run.span_done_khz += run.plan[i].setup.if_high_khz - run.plan[i].setup.if_low_khz;
  }
  if (!switch_lnb(*run.given, run, run.slots[0], p)) return false;
  show_progress(run, where_now(run, run.given->tuner, index, p.setup.if_low_khz, gaps), true);
  return true;
}

static bool send_command(void *context, const cable_message &m) {
  auto &slot = *static_cast<tuner_slot *>(context);
  slot.cable_failed = send_cable_message(slot.frontend_fd, m);
  if (slot.cable_failed != LNB_DONE) return false;
  g_release_fd[slot.index] = slot.frontend_fd;
  return true;
}

// What each user band cost and could not pass.
static void cable_summary(const options &o, const scan_run &run) {
  if (o.cable_text == nullptr || o.quiet) return;
  for (int i = 0; i < o.tuner_count; ++i) {
    const cable_tuner &t = run.slots[i].cable;
    if (run.slots[i].busy) continue;
    (void)fprintf(stderr, "skyscan: through user band %u at %u MHz, %u commands", o.bands[i].number + 1u,
                  o.bands[i].khz / 1000u, t.commands);
    if (o.request.sr_max > kPassbandKHz * 1000u)
      (void)fprintf(stderr, "; above %u Msym/s no carrier comes through its %u MHz whole, none was sought",
                    kPassbandKHz / 1000u, kPassbandKHz / 1000u);
    if (t.fragments > 0) (void)fprintf(stderr, "; %u cut off at its edges dropped", t.fragments);
    (void)fputc('\n', stderr);
  }
}

static void start_run(const options &o, scan_run &run, tuner_slot *slots, planned_sweep *sweeps) {
  run.given = &o;
  run.slots = slots;
  run.plan = sweeps;
  run.progress = !o.quiet && isatty(STDERR_FILENO);
  run.banded = o.request.lnb.high_khz != 0;
  run.evented = -kEventSeconds;
  g_progress = run.progress;
  run.sweeps = plan_sweeps(o.request, sweeps);
  run.tally = &g_state.tally;
  clock_gettime(CLOCK_MONOTONIC, &run.started);
}

// The driver of a slot's searches: its device, or through its user band.
static scan_driver driver_of(const options &o, tuner_slot &slot, scan_tally *tally) {
  scan_driver driver = {search_window, &slot};
  if (o.cable_text == nullptr) return driver;
  g_release[slot.index] = channel_command(o.bands[slot.index], 0, 0, false);
  slot.cable = {&o.bands[slot.index], driver, send_command, &slot, tally};
  return cable_driver(slot.cable);
}

static int scan(const options &o, tuner_slot *slots) {
  planned_sweep sweeps[4];
  scan_run run = {};
  start_run(o, run, slots, sweeps);
  for (int i = 0; i < run.sweeps; ++i) run.span_total_khz += sweeps[i].setup.if_high_khz - sweeps[i].setup.if_low_khz;
  scan_driver driver = driver_of(o, slots[0], &g_state.tally);
  scan_sink sink = {print_carrier, note_progress, &run};
  satellite_hooks hooks = {begin_sweep, &run};
  run.budget = plain_searches(run.sweeps);
  sleep(kSettleSeconds);
  satellite_end end = scan_satellite(sweeps, run.sweeps, driver, sink, hooks, g_state);
  release_band(0);
  if (slots[0].cable.failed) lnb_failed(run, slots[0], slots[0].cable_failed);
  if (end == SATELLITE_LNB_FAILED || slots[0].cable.failed) return finish(run, 1);
  if (end == SATELLITE_STOPPED) return finish(run, lost_output(run));
  int status = summary(o, run, g_state.tally);
  if (status == 0) cable_summary(o, run);
  return finish(run, status);
}

// ---- several tuners ---------------------------------------------------------

static crew_room g_room;
static crew_report g_report;
static int g_member_slot[kMaxCrew];  // the slots that scan, in member order
static scan_tally g_cable_tallies[kMaxCrew];  // a user band that fails ends its own tuner only

// The slot that sets a cable's LNB: the first tuner given on it, the one
// the LNB is connected to.
static tuner_slot &driving_slot(const scan_run &run, int cable) {
  int i = 0;
  while (i + 1 < run.given->tuner_count && run.given->cable_of[i] != cable) ++i;
  return run.slots[i];
}

static bool set_cable(void *context, int member, const planned_sweep &p, int /*index*/) {
  auto &run = *static_cast<scan_run *>(context);
  return switch_lnb(*run.given, run, driving_slot(run, run.given->cable_of[g_member_slot[member]]), p);
}

// A pause of no length: on a receiver nothing, on the simulated one the
// tuners line up in the order of -t before the first of them chooses work.
static void line_up(void * /*context*/, int /*member*/) {
  timespec t = {0, 0};
  (void)nanosleep(&t, nullptr);
}

static void idle(void * /*context*/, int /*member*/) {
  timespec t = {0, kIdleNs};
  (void)nanosleep(&t, nullptr);
}

static void member_ended(void *context, int member, bool /*failed*/) {
  auto &run = *static_cast<scan_run *>(context);
  tuner_slot &slot = run.slots[g_member_slot[member]];
  release_band(slot.index);
  // Its device is let go at once, for whoever waits for the tuner.
  if (slot.blindscan_fd >= 0) close(slot.blindscan_fd);
  slot.blindscan_fd = -1;
}

static void member_progress(void *context, int member, int sweep, uint32_t if_khz, bool gaps) {
  auto &run = *static_cast<scan_run *>(context);
  show_progress(run, where_now(run, run.slots[g_member_slot[member]].number, sweep, if_khz, gaps), false);
}

// The setting a busy tuner holds its cable at: the sweep of the plan it
// shows, or kCableNothing when it cannot be read or shows none of them.
static int held_sweep(const options &o, const tuner_slot &busy, const planned_sweep *sweeps, int count) {
  char path[64];
  (void)snprintf(path, sizeof path, kFrontendPath, busy.number);
  int fd = open(path, O_RDONLY);
  if (fd < 0) return kCableNothing;
  uint8_t lane = 0;
  bool high = false;
  bool read = read_lnb(fd, &lane, &high);
  close(fd);
  if (!read) return kCableNothing;
  high = high && o.request.lnb.high_khz != 0;
  for (int i = 0; i < count; ++i)
    if (sweeps[i].setup.lane == lane && sweeps[i].high_band == high) return i;
  return kCableNothing;
}

// "horizontal high band", as the progress names sweeps.
static void name_setting(char *buf, size_t size, const options &o, const planned_sweep &p) {
  (void)snprintf(buf, size, "%s%s", p.setup.lane == 0 ? "horizontal" : "vertical",
                 o.request.lnb.high_khz == 0 ? "" : p.high_band ? " high band" : " low band");
}

// A cable a busy tuner shares keeps its setting: says what is scanned there.
static int hold_cable(const options &o, const scan_run &run, int cable, const planned_sweep *sweeps) {
  int busy = -1, mates = 0;
  for (int i = 0; i < o.tuner_count; ++i) {
    if (o.cable_of[i] != cable) continue;
    if (run.slots[i].busy && busy < 0) busy = i;
    mates += !run.slots[i].busy;
  }
  if (busy < 0) return kCableFree;
  if (mates == 0) return kCableNothing;
  int held = held_sweep(o, run.slots[busy], sweeps, run.sweeps);
  if (held >= 0) {
    char setting[40];
    name_setting(setting, sizeof setting, o, sweeps[held]);
    (void)fprintf(stderr, "skyscan: tuner %d shares its cable and holds it at %s: only that sweep is scanned there\n",
                  run.slots[busy].number, setting);
  } else {
    (void)fprintf(stderr, "skyscan: tuner %d shares its cable, and its setting %s: nothing is scanned there\n",
                  run.slots[busy].number, "cannot be read or is not one this scan asks for");
  }
  return held;
}

// Sweeps no cable can reach are dropped from the plan: only those the held
// cables show are left when no cable is free.
static int reachable_sweeps(crew_plan &plan, planned_sweep *sweeps) {
  bool free_cable = false, shown[4] = {};
  for (int i = 0; i < plan.member_count; ++i) {
    int setting = plan.cable_setting[plan.members[i].cable];
    free_cable |= setting == kCableFree;
    if (setting >= 0) shown[setting] = true;
  }
  if (free_cable) return plan.count;
  int kept = 0, moved[4] = {};
  for (int s = 0; s < plan.count; ++s)
    if (shown[s]) moved[s] = kept, sweeps[kept++] = sweeps[s];
  std::transform(std::begin(plan.cable_setting), std::end(plan.cable_setting), std::begin(plan.cable_setting),
                 [&moved](int setting) { return setting >= 0 ? moved[setting] : setting; });
  return plan.count = kept;
}

static int scan_on_crew(const options &o, tuner_slot *slots) {
  static planned_sweep sweeps[4];
  static crew_plan plan;
  scan_run run = {};
  start_run(o, run, slots, sweeps);
  plan = {sweeps, run.sweeps, {}, 0, {}};
  std::fill(std::begin(plan.cable_setting), std::end(plan.cable_setting), kCableNothing);
  for (int i = 0; i < o.tuner_count; ++i) plan.cable_setting[o.cable_of[i]] = kCableFree;
  for (int i = 0; i < o.tuner_count; ++i)
    if (slots[i].busy) plan.cable_setting[o.cable_of[i]] = hold_cable(o, run, o.cable_of[i], sweeps);
  for (int i = 0; i < o.tuner_count; ++i) {
    if (slots[i].busy || plan.cable_setting[o.cable_of[i]] == kCableNothing) continue;
    g_member_slot[plan.member_count] = i;
    plan.members[plan.member_count++] = {driver_of(o, slots[i], &g_cable_tallies[i]), o.cable_of[i],
                                         o.cable_text != nullptr ? &slots[i].cable.failed : nullptr};
  }
  if (plan.member_count == 0) {
    (void)fputs("skyscan: none of the tuners given can scan now\n", stderr);
    return finish(run, 1);
  }
  run.sweeps = reachable_sweeps(plan, sweeps);
  for (int i = 0; i < run.sweeps; ++i) run.span_total_khz += sweeps[i].setup.if_high_khz - sweeps[i].setup.if_low_khz;
  run.budget = plain_searches(run.sweeps);
  run.crew = &g_report;
  scan_sink sink = {print_carrier, nullptr, &run};
  crew_hooks hooks = {line_up, set_cable, idle, member_ended, member_progress, &run};
  sleep(kSettleSeconds);
  satellite_end end = scan_with_crew(plan, sink, hooks, g_state, g_room, g_report);
  for (int i = 0; i < plan.member_count; ++i) {
    const tuner_slot &slot = slots[g_member_slot[i]];
    if (g_report.unstarted[i])
      (void)fprintf(stderr, "skyscan: tuner %d was left out: the system gave it no thread (%s)\n", slot.number,
                    strerror(g_report.start_error));
    else if (slot.cable.failed) lnb_failed(run, slot, slot.cable_failed);
    else if (g_report.failed[i])
      (void)fprintf(stderr, "skyscan: tuner %d refused %u windows in a row and was given up; the others searched "
                    "what it had left\n", slot.number, kRefusalsToFail);
  }
  if (end == SATELLITE_STOPPED) return finish(run, lost_output(run));
  if (end == SATELLITE_LNB_FAILED) return finish(run, 1);
  int status = summary(o, run, g_state.tally);
  if (status == 0) cable_summary(o, run);
  return finish(run, status);
}

// ---- opening the tuners -----------------------------------------------------

static tuner_slot g_slots[kMaxCrew];

// Opens a tuner's frontend and blind-scan device. One of several that
// another program holds is left out with a message; anything else ends the
// scan (status 1).
static int open_tuner(const options &o, tuner_slot &slot) {
  char frontend[64], blindscan[64];
  (void)snprintf(frontend, sizeof frontend, kFrontendPath, slot.number);  // fits: tuner < 8
  (void)snprintf(blindscan, sizeof blindscan, kBlindscanPath, slot.number);
  slot.frontend_fd = open(frontend, O_RDWR);
  if (slot.frontend_fd >= 0) slot.blindscan_fd = open(blindscan, O_RDWR);
  if (slot.frontend_fd >= 0 && slot.blindscan_fd >= 0) return 0;
  bool busy = errno == EBUSY && o.tuner_count > 1;
  int status = busy ? 0 : fail("cannot open", slot.frontend_fd < 0 ? frontend : blindscan);
  if (busy)
    (void)fprintf(stderr, "skyscan: tuner %d is in use (another program, such as the receiver's menu, may be "
                  "watching it); it is left out\n", slot.number);
  if (slot.frontend_fd >= 0) close(slot.frontend_fd);
  slot.frontend_fd = -1;
  slot.busy = busy;
  return status;
}

static void close_tuners(const options &o) {
  for (int i = 0; i < o.tuner_count; ++i) {
    if (g_slots[i].blindscan_fd >= 0) close(g_slots[i].blindscan_fd);
    if (g_slots[i].frontend_fd >= 0) close(g_slots[i].frontend_fd);
  }
}

int main(int argc, char **argv) {
  options o;
  int status = read_options(argc, argv, o);
  if (status >= 0) return status;

  for (int i = 0; i < o.tuner_count; ++i) {
    char frontend[64];
    (void)snprintf(frontend, sizeof frontend, kFrontendPath, o.tuners[i]);
    struct stat st;
    if (stat(frontend, &st) != 0) return fail("no frontend node", frontend);
  }
  nim_listing listing = read_nim_sockets();
  for (int i = 0; i < o.tuner_count; ++i)
    if (!check_tuner(listing, o.tuners[i])) return 1;
  struct sigaction on_signal = {};
  on_signal.sa_handler = interrupted;
  (void)sigaction(SIGINT, &on_signal, nullptr);
  (void)sigaction(SIGTERM, &on_signal, nullptr);
  for (int i = 0; i < o.tuner_count; ++i) {
    g_slots[i] = {};
    g_slots[i].index = i;
    g_slots[i].number = o.tuners[i];
    g_slots[i].frontend_fd = g_slots[i].blindscan_fd = -1;
    if (open_tuner(o, g_slots[i]) != 0) {
      close_tuners(o);
      return 1;
    }
  }
  status = o.tuner_count == 1 ? scan(o, g_slots) : scan_on_crew(o, g_slots);
  close_tuners(o);
  return status;
}
