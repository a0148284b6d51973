// skyscan: blind scan of a whole satellite in one run. Sets the LNB through
// the tuner's frontend node for each sweep (polarisation and band, and the
// DiSEqC switches when asked), or commands a single-cable LNB through a
// user band (single_cable.h), searches each sweep with the strategy of
// strategy.h on /dev/blindscanN, and prints every carrier found once, as
// soon as it is found, on standard output in skysweep's line format.
// Progress goes to standard error while it is a terminal, and one summary
// line at the end.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <csignal>
#include <getopt.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "nim_sockets.h"
#include "satellite.h"
#include "single_cable.h"

static const char kFrontendPath[] = "/dev/dvb/adapter0/frontend%d";
static const char kBlindscanPath[] = "/dev/blindscan%d";
constexpr unsigned kSettleSeconds = 2;   // the driver wants a pause before the first search
constexpr long kLnbSettleNs = 100000000;  // the LNB's supply and oscillator after a switch
constexpr long kProgressNs = 200000000;   // at most five progress updates a second

static const char kUsage[] =
    "Usage: skyscan [OPTION]...\n"
    "Blind-scans a whole satellite on one tuner: sets the LNB for each sweep and\n"
    "prints every carrier found on standard output, one line each, as skysweep does.\n"
    "\n"
    "  -f, --frequencies=LOW-HIGH  dish frequencies in MHz (default: what the LNB\n"
    "                              delivers, 10700-12750 for a universal LNB)\n"
    "  -s, --symbol-rates=MIN-MAX  symbol rates in Msym/s (default: 2-45)\n"
    "  -p, --polarisation=h|v|hv   polarisations to sweep (default: hv)\n"
    "  -b, --band=low|high|both    bands of a universal LNB (default: both)\n"
    "  -t, --tuner=N               tuner number (default: 0)\n"
    "  -d, --diseqc=SWITCHES       DiSEqC switch ports: A-D (1.0), U1-U16 (1.1),\n"
    "                              mini-A or mini-B (tone burst), or a cascade\n"
    "                              such as B,U3\n"
    "  -u, --user-band=STD:N:MHZ[:POSITION[:PIN]]\n"
    "                              scan through single-cable user band N (from 1)\n"
    "                              at MHZ, standard 50494 or 50607\n"
    "  -l, --lnb=universal|MHZ     universal LNB (9750/10600 MHz, default) or the\n"
    "                              oscillator frequency of a single-oscillator LNB\n"
    "  -q, --quiet                 no progress and no summary\n"
    "  -h, --help                  show this help and exit\n"
    "  -V, --version               show the version and exit\n"
    "\n"
    "Exit status: 0 when the scan ran, even if it found nothing; 1 when it could\n"
    "not scan; 2 for a command-line error.\n";

struct options {
  scan_request request;
  const char *range_text;  // -f as given, or nullptr
  const char *band_text;   // -b as given, or nullptr
  int tuner;
  switch_route route;
  user_band band;
  const char *cable_text;  // -u as given: through a user band, or nullptr
  bool quiet;
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
      {"user-band", required_argument, nullptr, 'u'},
      {"help", no_argument, nullptr, 'h'},              {"version", no_argument, nullptr, 'V'},
      {nullptr, 0, nullptr, 0}};
  o = {};
  o.request = {0, 0, 2000000, 45000000, {true, true}, {true, true}, kUniversalLnb};
  o.route = kNoSwitch;
  long low = 0, high = 0, n = 0;
  int c;
  opterr = 0;
  while ((c = getopt_long(argc, argv, ":f:s:p:b:t:d:l:u:qhV", kLong, nullptr)) != -1) {
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
        if (!read_number(optarg, 0, kSocketCount - 1, &n)) return usage_error("tuner", optarg, "is not 0 to 7");
        o.tuner = static_cast<int>(n);
        break;
      case 'd':
        if (!read_route(optarg, &o.route))
          return usage_error("DiSEqC switches", optarg, "are not A-D, U1-U16, mini-A or mini-B, one of each at most");
        break;
      case 'u':
        if (!read_user_band(optarg, &o.band))
          return usage_error("user band", optarg,
                             "is not STD:N:MHZ[:POSITION[:PIN]] (50494: N 1-8, POSITION 1-2; 50607: N 1-32, "
                             "POSITION 1-64; MHZ 970-2130; PIN 0-255)");
        o.cable_text = optarg;
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

struct scan_run {
  const options *given;  // the command line
  int frontend_fd, blindscan_fd;
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
  cable_tuner cable;   // with -u: the searches go through it
  lnb_step cable_failed;  // the request a command failed at
  bool line_set;       // with -u: 13 V, tone off and the switches are set
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

static void show_progress(scan_run &run, uint32_t if_khz, bool now) {
  if (!run.progress) return;
  if (!now && seconds_since(run.shown) * 1e9 < kProgressNs) return;
  clock_gettime(CLOCK_MONOTONIC, &run.shown);
  const sweep_setup &s = run.current->setup;
  uint32_t reached = if_khz < s.if_low_khz ? s.if_low_khz : if_khz > s.if_high_khz ? s.if_high_khz : if_khz;
  uint64_t done = run.span_done_khz + (reached - s.if_low_khz);
  double elapsed = seconds_since(run.started);
  char spent[16], left[32] = "";
  format_duration(spent, sizeof spent, elapsed);
  char t[16];
  if (run.in_gaps && run.tally->searches > 0) {
    // The gaps take what they need of the searches left: a bound, not a guess.
    double per_search = elapsed / run.tally->searches;
    format_duration(t, sizeof t, per_search * (run.budget - run.tally->searches));
    (void)snprintf(left, sizeof left, ", at most %s left", t);
  } else if (done > 0) {
    format_duration(t, sizeof t, elapsed * static_cast<double>(run.span_total_khz - done) / static_cast<double>(done));
    (void)snprintf(left, sizeof left, ", about %s left", t);
  }
  const char *band = !run.banded ? "" : run.current->high_band ? " high band" : " low band";
  char line[160];
  int n = snprintf(line, sizeof line, "\r\033[K%ssweep %d/%d %s%s: %d MHz, %u found, %s%s",
                   run.in_gaps ? "gaps of " : "", run.sweep + 1, run.sweeps, s.lane == 0 ? "horizontal" : "vertical",
                   band, dish_khz(s, reached) / 1000, run.found, spent, left);
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
  show_progress(*static_cast<scan_run *>(context), if_khz, false);
}

// ---- the driver -----------------------------------------------------------

static search_outcome search_window(void *context, uint32_t window_hz, uint32_t sr_min, uint32_t sr_max,
                                    blindscan_result *result) {
  int fd = static_cast<scan_run *>(context)->blindscan_fd;
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
static volatile sig_atomic_t g_release_fd = -1;  // with -u, once a command went out
static cable_message g_release;

// The user band is left to the other receivers on the cable.
static void release_band() {
  if (g_release_fd >= 0) (void)send_cable_message(g_release_fd, g_release);  // nothing more to do if it fails
  g_release_fd = -1;
}


// Interrupted: end the progress line, where there is one, so the shell's
// prompt starts on a line of its own, and leave with the shell's status for
// the signal. The descriptors close with the process.
static void interrupted(int signal) {
  static const char kLine[] = "\r\033[Kskyscan: interrupted\n";
  size_t skip = g_progress != 0 ? 0 : 4;  // escape codes only to a terminal
  (void)!write(STDERR_FILENO, kLine + skip, sizeof kLine - 1 - skip);
  release_band();  // system calls and a pause only: safe here
  _exit(128 + signal);
}

// Whether the tuner list says the tuner is a satellite tuner; says why not.
static bool check_tuner(int tuner) {
  nim_listing listing = read_nim_sockets();
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

// What the scan came to. Every window refused is a failure with its own
// line; the rest is the summary, which -q silences.
static int summary(const options &o, const scan_run &run, const scan_tally &t) {
  end_progress(run);
  if (t.searches > 0 && t.refused == t.searches) {
    (void)fprintf(stderr, "skyscan: the driver refused every search window (request 1 failed %u times)\n", t.refused);
    return 1;
  }
  if (o.quiet) return 0;
  char spent[16];
  format_duration(spent, sizeof spent, seconds_since(run.started));
  // Through a user band a window may take more than one search.
  uint32_t searches = o.cable_text != nullptr ? run.cable.searches : t.searches;
  if (t.found == 0)
    (void)fprintf(stderr,
            "skyscan: no carrier found in %u searches over %d sweep%s (%s); check that the dish is aimed, the "
            "cable is connected and the LNB type is right\n",
            searches, run.sweeps, run.sweeps == 1 ? "" : "s", spent);
  else
    (void)fprintf(stderr, "skyscan: %u carrier%s in %d sweep%s, %u searches, %s\n", t.found, t.found == 1 ? "" : "s",
            run.sweeps, run.sweeps == 1 ? "" : "s", searches, spent);
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

static void lnb_failed(const scan_run &run, lnb_step failed) {
  end_progress(run);
  (void)fprintf(stderr, "skyscan: the LNB could not be set (%s): %s\n", lnb_step_name(failed), strerror(errno));
}

static bool switch_lnb(const options &o, scan_run &run, const planned_sweep &p) {
  if (o.cable_text != nullptr) {
    // The line idles at 13 V without tone; commands select the rest.
    cable_sweep(run.cable, p.setup.lane, p.high_band);
    if (run.line_set) return true;
    run.line_set = true;
  }
  uint8_t lane = o.cable_text != nullptr ? 1 : p.setup.lane;
  lnb_step failed = set_lnb(run.frontend_fd, lane, o.cable_text == nullptr && p.high_band, o.route);
  if (failed != LNB_DONE) {
    lnb_failed(run, failed);
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
  if (!switch_lnb(*run.given, run, p)) return false;
  show_progress(run, p.setup.if_low_khz, true);
  return true;
}


static bool send_command(void *context, const cable_message &m) {
  auto &run = *static_cast<scan_run *>(context);
  run.cable_failed = send_cable_message(run.frontend_fd, m);
  if (run.cable_failed != LNB_DONE) return false;
  g_release_fd = run.frontend_fd;
  return true;
}

// What the user band cost and could not pass.
static void cable_summary(const options &o, const cable_tuner &t) {
  if (o.cable_text == nullptr || o.quiet) return;
  (void)fprintf(stderr, "skyscan: through user band %u at %u MHz, %u commands", o.band.number + 1u,
                o.band.khz / 1000u, t.commands);
  if (o.request.sr_max > kPassbandKHz * 1000u)
    (void)fprintf(stderr, "; above %u Msym/s no carrier comes through its %u MHz whole, none was sought",
                  kPassbandKHz / 1000u, kPassbandKHz / 1000u);
  if (t.fragments > 0) (void)fprintf(stderr, "; %u cut off at its edges dropped", t.fragments);
  (void)fputc('\n', stderr);
}

static int scan(const options &o, int frontend_fd, int blindscan_fd) {
  planned_sweep sweeps[4];
  scan_run run = {};
  run.given = &o;
  run.frontend_fd = frontend_fd;
  run.blindscan_fd = blindscan_fd;
  run.plan = sweeps;
  run.progress = !o.quiet && isatty(STDERR_FILENO);
  run.banded = o.request.lnb.high_khz != 0;
  g_progress = run.progress;
  run.sweeps = plan_sweeps(o.request, sweeps);
  for (int i = 0; i < run.sweeps; ++i) run.span_total_khz += sweeps[i].setup.if_high_khz - sweeps[i].setup.if_low_khz;
  clock_gettime(CLOCK_MONOTONIC, &run.started);
  scan_driver driver = {search_window, &run};
  if (o.cable_text != nullptr) {
    g_release = channel_command(o.band, 0, 0, false);
    run.cable = {&o.band, driver, send_command, &run, &g_state.tally};
    driver = cable_driver(run.cable);
  }
  scan_sink sink = {print_carrier, note_progress, &run};
  satellite_hooks hooks = {begin_sweep, &run};
  run.tally = &g_state.tally;
  run.budget = plain_searches(run.sweeps);
  sleep(kSettleSeconds);
  satellite_end end = scan_satellite(sweeps, run.sweeps, driver, sink, hooks, g_state);
  release_band();
  if (run.cable.failed) lnb_failed(run, run.cable_failed);
  if (end == SATELLITE_LNB_FAILED || run.cable.failed) return 1;
  if (end == SATELLITE_STOPPED) return lost_output(run);
  int status = summary(o, run, g_state.tally);
  if (status == 0) cable_summary(o, run.cable);
  return status;
}

int main(int argc, char **argv) {
  options o;
  int status = read_options(argc, argv, o);
  if (status >= 0) return status;

  char frontend[64], blindscan[64];
  (void)snprintf(frontend, sizeof frontend, kFrontendPath, o.tuner);  // fits: tuner < 8
  (void)snprintf(blindscan, sizeof blindscan, kBlindscanPath, o.tuner);
  struct stat st;
  if (stat(frontend, &st) != 0) return fail("no frontend node", frontend);
  if (!check_tuner(o.tuner)) return 1;
  struct sigaction on_signal = {};
  on_signal.sa_handler = interrupted;
  (void)sigaction(SIGINT, &on_signal, nullptr);
  (void)sigaction(SIGTERM, &on_signal, nullptr);
  int frontend_fd = open(frontend, O_RDWR);
  if (frontend_fd < 0) return fail("cannot open", frontend);
  int blindscan_fd = open(blindscan, O_RDWR);
  if (blindscan_fd < 0) {
    status = fail("cannot open", blindscan);
    close(frontend_fd);
    return status;
  }
  status = scan(o, frontend_fd, blindscan_fd);
  close(blindscan_fd);
  close(frontend_fd);
  return status;
}
