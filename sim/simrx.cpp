// Simulated receiver, loaded into a tool with LD_PRELOAD. It answers the
// frontend nodes /dev/dvb/adapter0/frontendN (their LNB requests set what
// later searches on the same cable see), the listing command "cat
// /proc/bus/nim_sockets" and the blind-scan devices /dev/blindscanN from a
// receiver description or channel table ($SIMRX_SAT, with the LNB state from
// $SIMRX_LNB, the demodulator preference from $SIMRX_DEMOD, its reach from
// $SIMRX_REACH, its window from $SIMRX_WINDOW and its measurement error from
// $SIMRX_ERROR when set), and logs every request the tool makes to
// $SIMRX_DIR/requests.log, a request naming its node while another tuner is
// in use, as the driver model in the kernel logs it. Each satellite tuner has a cable of its own unless
// it takes another's ("input"); a busy tuner opens read-only alone.
// Time is modelled: each tuner has a clock that its thread's requests and
// waits run on, which the tool's monotonic clock shows; threads on several
// tuners take turns in it (turns.cpp). At exit what the requests would have
// cost on a receiver is appended to $SIMRX_DIR/cost. Everything else goes on
// to the real call. Frequencies: description in kHz at the dish,
// requests in Hz of IF.
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <ctime>
#include <fcntl.h>
#include <linux/dvb/frontend.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "description.h"
#include "turns.h"

#define SIM_EXPORT extern "C" __attribute__((visibility("default")))

static const char kListingCommand[] = "cat /proc/bus/nim_sockets";
static const char kFrontendPrefix[] = "/dev/dvb/adapter0/frontend";
static const char kBlindscanPrefix[] = "/dev/blindscan";
constexpr int kBlindscanMajor = 250;  // what the receiver's driver registers
constexpr int kMaxReaders = 16;       // frontends open read-only at once

// A tuner's nodes and its last search.
struct tuner_state {
  int device_fd = -1;    // the blind-scan device
  int frontend_fd = -1;  // the frontend, opened read-write
  uint32_t params[5] = {};
  transponder locked = {};  // a copy: the view it came from is rebuilt by every search
  bool has_locked = false;
};

// What one cable's LNB delivers and where its switches stand; kept by the
// tuner that drives the cable and put into the model for each request.
struct lnb_state {
  int port;
  char polarisation;
  bool high_band, powered;
  int8_t burst;
  int8_t uncommitted[kPorts];
};

struct reader {  // a frontend opened read-only
  int fd = -1;
  int bus = -1;
};

// Shared by the tool's threads: everything below is under the turns' lock,
// except what is set before the tool starts (the description, the paths).
static receiver g_rx;
static int g_log = -1;
static char g_listing_path[512];
static FILE *g_listing_pipe;
static tuner_state g_tuners[kMaxTuners];
static lnb_state g_cables[kMaxTuners];  // by the tuner that drives the cable
static reader g_readers[kMaxReaders];
static bool g_active;  // loaded into the tool it was started for
static bool g_ready;   // and its description is loaded
static char g_dir[512];
// What the requests so far would have taken on a receiver.
static uint32_t g_cost_count[kCostKinds];
static uint64_t g_waited_ms;

template <typename F>
static F real(const char *name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

static bool starts_with(const char *text, const char *prefix) { return strncmp(text, prefix, strlen(prefix)) == 0; }

// The node of the calling thread's request being answered, if any.
struct request_node {
  int tuner = -1;
  bool device = false;
};
static thread_local request_node t_request;

static bool in_use(int tuner) { return g_tuners[tuner].device_fd >= 0 || g_tuners[tuner].frontend_fd >= 0; }

// A request line names its node while another tuner is in use, so that
// lines of several tuners stay apart; a tool alone on one tuner logs as it
// always did.
static void node_tag(char *tag, size_t size) {
  tag[0] = '\0';
  for (int n = 0; t_request.tuner >= 0 && n < kMaxTuners; ++n) {
    if (n == t_request.tuner || !in_use(n)) continue;
    snprintf(tag, size, "%s%d ", t_request.device ? kBlindscanPrefix : kFrontendPrefix, t_request.tuner);
    return;
  }
}

// NOLINTNEXTLINE(cert-dcl50-cpp): printf-style, checked by the format attribute
static void log_line(const char *format, ...) __attribute__((format(printf, 1, 2)));
static void log_line(const char *format, ...) {  // NOLINT(cert-dcl50-cpp)
  if (g_log < 0) return;
  char line[512];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(line, sizeof line - 1, format, args);  // NOLINT(clang-analyzer-valist.Uninitialized): started above
  va_end(args);
  if (n < 0) return;
  size_t length = static_cast<size_t>(n) < sizeof line - 1 ? static_cast<size_t>(n) : sizeof line - 2;
  line[length++] = '\n';
  static const char kRequest[] = "ioctl ";
  char tag[48];
  node_tag(tag, sizeof tag);
  size_t head = tag[0] != '\0' && starts_with(line, kRequest) ? sizeof kRequest - 1 : 0;
  iovec parts[] = {{line, head}, {tag, head != 0 ? strlen(tag) : 0}, {line + head, length - head}};
  if (writev(g_log, parts, 3) < 0) return;  // nowhere left to report it
}

// The tuner number after a node prefix, or -1 when the rest is not a plain
// number.
static int node_number(const char *path, const char *prefix) {
  if (!starts_with(path, prefix)) return -1;
  const char *digits = path + strlen(prefix);
  if (*digits == '\0' || strlen(digits) > 3 || strspn(digits, "0123456789") != strlen(digits)) return -1;
  return static_cast<int>(strtol(digits, nullptr, 10));
}

static bool is_simulated_node(const char *path) {
  return starts_with(path, "/dev/dvb/") || starts_with(path, kBlindscanPrefix);
}

static void write_listing_file() {
  FILE *out = fopen(g_listing_path, "w");
  if (out == nullptr) return;
  write_listing(g_rx, out);
  fclose(out);
}

// A launcher setting the model does not know: the run stops before the tool.
[[noreturn]] static void setting_error(const char *what, const char *word, const char *expected) {
  fprintf(stderr, "simrx: %s '%s' not understood (%s)\n", what, word, expected);
  _exit(2);
}

// The LNB state given on the launcher's command line, if any.
static const char *lnb_setting() {
  const char *lnb = getenv("SIMRX_LNB");
  return lnb != nullptr && lnb[0] != '\0' ? lnb : nullptr;
}

// The carriers in view and which entries were folded into them, for tests
// and the recall benchmark: $SIMRX_DIR/carriers.
static void write_carriers_file(const char *dir) {
  char path[512];
  snprintf(path, sizeof path, "%s/carriers", dir);
  FILE *out = fopen(path, "w");
  if (out == nullptr) return;
  write_carriers(g_rx, out);
  fclose(out);
}

// ---- cables -----------------------------------------------------------------

// The cable state the model holds now.
static lnb_state model_cable() {
  lnb_state c = {g_rx.port, g_rx.polarisation, g_rx.high_band, g_rx.lnb_powered, g_rx.burst, {}};
  memcpy(c.uncommitted, g_rx.uncommitted, sizeof c.uncommitted);
  return c;
}

// Every cable starts as the description's (or the launcher's) "lnb" says.
static void start_cables() {
  for (int n = 0; n < kMaxTuners; ++n) g_cables[n] = model_cable();
}

// The model reads and switches one cable at a time: its state goes into the
// receiver for a request, and what the request changed comes back.
static void use_cable(int tuner) {
  const lnb_state &c = g_cables[g_rx.input[tuner]];
  g_rx.polarisation = c.polarisation;
  g_rx.high_band = c.high_band;
  g_rx.lnb_powered = c.powered;
  g_rx.port = c.port;
  g_rx.burst = c.burst;
  memcpy(g_rx.uncommitted, c.uncommitted, sizeof c.uncommitted);
}

static void keep_cable(int tuner) { g_cables[g_rx.input[tuner]] = model_cable(); }

__attribute__((constructor)) static void simrx_start() {
  // Loaded into a wrapper such as valgrind's launcher: stay out of its way
  // and leave LD_PRELOAD for the program it starts.
  const char *program = getenv("SIMRX_PROGRAM");
  if (program != nullptr && strcmp(program, program_invocation_short_name) != 0) return;
  // Host children (the shell behind popen) must not load this library,
  // which may be built for another processor.
  unsetenv("LD_PRELOAD");
  // From here on the receiver's nodes never reach the real system, even if
  // the description below cannot be loaded: they are simply missing then.
  g_active = true;
  const char *dir = getenv("SIMRX_DIR");
  const char *description = getenv("SIMRX_SAT");
  if (dir == nullptr || description == nullptr || strchr(dir, '\'') != nullptr) return;

  char path[512];
  snprintf(path, sizeof path, "%s/requests.log", dir);
  g_log = real<int (*)(const char *, int, ...)>("open")(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  snprintf(g_listing_path, sizeof g_listing_path, "%s/nim_sockets", dir);
  char error[256];
  if (!load_description(description, lnb_setting(), g_rx, error, sizeof error)) {
    // A scan of a receiver that does not exist is no scan: stop before
    // the tool starts, and say why.
    log_line("simrx: bad description: %s", error);
    fprintf(stderr, "simrx: %s: %s\n", description, error);
    _exit(2);
  }
  const char *demod = getenv("SIMRX_DEMOD");
  if (demod != nullptr && demod[0] != '\0' && !parse_preference(demod, &g_rx.preference))
    setting_error("demodulator preference", demod, "nearest, wider, widest or random");
  const char *reach = getenv("SIMRX_REACH");
  if (reach != nullptr && reach[0] != '\0' && !parse_reach(reach, &g_rx.reach))
    setting_error("reach", reach, "none, quarter or half");
  const char *window = getenv("SIMRX_WINDOW");
  if (window != nullptr && window[0] != '\0' && !parse_window(window, &g_rx.window_khz))
    setting_error("window", window, "4 to 40 MHz");
  const char *measure = getenv("SIMRX_ERROR");
  if (measure != nullptr && measure[0] != '\0' && !parse_error(measure, &g_rx.coarse))
    setting_error("measurement error", measure, "model or coarse");
  snprintf(g_dir, sizeof g_dir, "%s", dir);
  write_listing_file();
  write_carriers_file(dir);
  start_cables();
  turns_start();
  g_ready = true;
  log_line("simrx: ready");
}

// One line per process: the requests by kind, the waits, and the modelled
// duration until the last tuner finished, which a benchmark sums over the
// runs of one scan. With more than one tuner, how long each was busy.
__attribute__((destructor)) static void simrx_stop() {
  if (!g_ready) return;
  char path[600];
  snprintf(path, sizeof path, "%s/cost", g_dir);
  FILE *out = fopen(path, "a");
  if (out == nullptr) return;
  held lock;
  fprintf(out, "searches=%u locked=%u lnb=%u diseqc=%u waited_ms=%llu modelled_ms=%llu",
          g_cost_count[COST_LOCKED] + g_cost_count[COST_EMPTY], g_cost_count[COST_LOCKED],
          g_cost_count[COST_VOLTAGE] + g_cost_count[COST_TONE], g_cost_count[COST_DISEQC],
          static_cast<unsigned long long>(g_waited_ms), static_cast<unsigned long long>(latest_ms()));
  write_tuners(out);
  fputc('\n', out);
  fclose(out);
}

// ---- frontend nodes -------------------------------------------------------

static bool frontend_exists(const char *path) {
  int n = node_number(path, kFrontendPrefix);
  return n >= 0 && n < kMaxTuners && g_rx.frontend[n];
}

template <typename Stat>
static int fake_stat(const char *path, Stat *st) {
  if (!g_ready || !frontend_exists(path)) {
    log_line("stat %s -> -1", path);
    errno = ENOENT;
    return -1;
  }
  memset(st, 0, sizeof *st);
  st->st_mode = S_IFCHR | 0660;
  st->st_rdev = makedev(212, node_number(path, kFrontendPrefix));
  log_line("stat %s -> 0", path);
  return 0;
}

SIM_EXPORT int stat(const char *path, struct stat *st) {
  if (g_active && is_simulated_node(path)) return fake_stat(path, st);
  return real<int (*)(const char *, struct stat *)>("stat")(path, st);
}

SIM_EXPORT int stat64(const char *path, struct stat64 *st) {
  if (g_active && is_simulated_node(path)) return fake_stat(path, st);
  return real<int (*)(const char *, struct stat64 *)>("stat64")(path, st);
}

// ---- the socket listing ---------------------------------------------------

SIM_EXPORT FILE *popen(const char *command, const char *mode) {
  auto real_popen = real<FILE *(*)(const char *, const char *)>("popen");
  if (!g_active || strcmp(command, kListingCommand) != 0) return real_popen(command, mode);
  if (!g_ready || g_rx.fault_listing) {
    log_line("popen %s -> fail", command);
    errno = EMFILE;
    return nullptr;
  }
  // A real pipe from a real cat, so the tool reads the listing as it would
  // on the receiver, in whatever pieces the pipe delivers.
  char redirected[600];
  snprintf(redirected, sizeof redirected, "cat '%s'", g_listing_path);
  g_listing_pipe = real_popen(redirected, mode);
  log_line("popen %s -> %s", command, g_listing_pipe != nullptr ? "ok" : "fail");
  return g_listing_pipe;
}

SIM_EXPORT int pclose(FILE *stream) {
  if (g_listing_pipe != nullptr && stream == g_listing_pipe) {
    log_line("pclose");
    g_listing_pipe = nullptr;
  }
  return real<int (*)(FILE *)>("pclose")(stream);
}

// ---- opening the nodes ----------------------------------------------------

static int open_failed(const char *path, int flags, int error) {
  log_line("open %s flags=0x%x -> fail", path, static_cast<unsigned>(flags));
  errno = error;
  return -1;
}

// A real descriptor number, so close() and descriptor checks behave.
static int stand_in(const char *path, int flags) {
  int fd = real<int (*)(const char *, int, ...)>("open")("/dev/null", O_RDWR | O_CLOEXEC);
  log_line("open %s flags=0x%x -> ok", path, static_cast<unsigned>(flags));
  return fd;
}

// One opener per device; none while another program has the tuner.
static int open_device(const char *path, int flags) {
  int bus = node_number(path, kBlindscanPrefix);
  bool exists = g_ready && bus >= 0 && bus < kMaxTuners && g_rx.frontend[bus];
  if (!exists) return open_failed(path, flags, ENOENT);
  tuner_state &t = g_tuners[bus];
  if (g_rx.fault_open || g_rx.busy[bus] || t.device_fd >= 0) return open_failed(path, flags, EBUSY);
  t.device_fd = stand_in(path, flags);
  device_opened(bus);
  t.has_locked = false;
  return t.device_fd;
}

// Read-only opens watch a tuner, even one in use, and may be many.
static int open_reader(const char *path, int bus, int flags) {
  for (reader &r : g_readers) {
    if (r.fd >= 0) continue;
    r.fd = stand_in(path, flags);
    r.bus = bus;
    return r.fd;
  }
  return open_failed(path, flags, EMFILE);
}

// The frontend node of a described tuner, for its LNB requests; one
// read-write opener at a time, as a frontend allows.
static int open_frontend(const char *path, int flags) {
  int bus = node_number(path, kFrontendPrefix);
  bool exists = g_ready && bus >= 0 && bus < kMaxTuners && g_rx.frontend[bus];
  if (!exists) return open_failed(path, flags, ENOENT);
  if ((flags & O_ACCMODE) == O_RDONLY) return open_reader(path, bus, flags);
  tuner_state &t = g_tuners[bus];
  if (g_rx.fault_frontend_open || g_rx.busy[bus] || t.frontend_fd >= 0) return open_failed(path, flags, EBUSY);
  t.frontend_fd = stand_in(path, flags);
  return t.frontend_fd;
}

static int open_any(const char *symbol, const char *path, int flags, va_list args) {
  if (g_active && is_simulated_node(path)) {
    held lock;
    return starts_with(path, kFrontendPrefix) ? open_frontend(path, flags) : open_device(path, flags);
  }
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): the caller started it
  mode_t mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(args, mode_t) : 0;
  return real<int (*)(const char *, int, ...)>(symbol)(path, flags, mode);
}

SIM_EXPORT int open(const char *path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  int fd = open_any("open", path, flags, args);
  va_end(args);
  return fd;
}

SIM_EXPORT int open64(const char *path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  int fd = open_any("open64", path, flags, args);
  va_end(args);
  return fd;
}

static void forget(int fd) {
  for (int n = 0; n < kMaxTuners; ++n) {
    tuner_state &t = g_tuners[n];
    if (fd == t.frontend_fd) {
      log_line("close %s%d", kFrontendPrefix, n);
      t.frontend_fd = -1;
    }
    if (fd == t.device_fd) {
      log_line("close %s%d", kBlindscanPrefix, n);
      t.device_fd = -1;
      device_closed(n);
    }
  }
  for (reader &r : g_readers) {
    if (fd != r.fd) continue;
    log_line("close %s%d", kFrontendPrefix, r.bus);
    r.fd = -1;
  }
}

SIM_EXPORT int close(int fd) {
  if (g_active && fd >= 0) {
    held lock;
    forget(fd);
  }
  return real<int (*)(int)>("close")(fd);
}

// ---- the blind-scan device ------------------------------------------------

static int fail_request(int code, int ret) {
  log_line("ioctl %s -> %d", request_name(code), ret);
  errno = EIO;
  return ret;
}

static int set_params(tuner_state &t, const uint32_t *words) {
  memcpy(t.params, words, sizeof t.params);
  t.has_locked = false;
  int ret = 0;
  bool failed = scripted_fault(g_rx, 1, t.params[0] / 1000000u, &ret);
  log_line("ioctl BS_SET_PARAMS %u %u %u %u %u -> %d", words[0], words[1], words[2], words[3], words[4], ret);
  if (failed) errno = EIO;
  return ret;
}

// Its cost, which the clock runs on by, once it is known.
static int search(tuner_state &t, uint64_t *ms) {
  uint32_t mhz = t.params[0] / 1000000u;
  int ret = 0;
  if (scripted_fault(g_rx, 2, mhz, &ret)) return fail_request(2, ret);
  const transponder *found = find_signal(tuner_view(g_rx), t.params[0] / 1000u, g_rx.window_khz, t.params[1],
                                         t.params[2], g_cost_count[COST_LOCKED] + g_cost_count[COST_EMPTY]);
  cost_kind kind = found != nullptr ? COST_LOCKED : COST_EMPTY;
  g_cost_count[kind]++;
  *ms = kRequestCosts[kind].ms;
  if (found == nullptr) return fail_request(2, -1);  // nothing to lock on
  t.locked = *found;
  t.has_locked = true;
  log_line("ioctl BS_SEARCH -> 0");
  return 0;
}

static int get_result(const tuner_state &t, uint32_t *words) {
  uint32_t mhz = t.params[0] / 1000000u;
  int ret = 0;
  if (scripted_fault(g_rx, 3, mhz, &ret)) return fail_request(3, ret);
  if (!t.has_locked) return fail_request(3, -1);  // no search locked
  result_words(tuner_view(g_rx), t.locked, t.params[0] / 1000u, words);
  log_line("ioctl BS_GET_RESULT -> 0 %u %u %u %u %u %u %u %u", words[0], words[1], words[2], words[3], words[4],
           words[5], words[6], words[7]);
  return 0;
}

static int device_ioctl(int tuner, unsigned long request, void *arg) {
  bind_thread(tuner);
  begin_call();
  use_cable(tuner);
  tuner_state &t = g_tuners[tuner];
  uint64_t ms = 0;
  int ret = -1;
  switch (request) {
    case 1: ret = set_params(t, static_cast<const uint32_t *>(arg)); break;
    case 2: ret = search(t, &ms); break;
    case 3: ret = get_result(t, static_cast<uint32_t *>(arg)); break;
    default:
      log_line("ioctl 0x%lx -> -1", request);
      errno = ENOTTY;
  }
  int error = errno;
  end_call(ms);
  errno = error;
  return ret;
}

// ---- LNB requests on the frontend node -------------------------------------

static int lnb_result(const char *what, int ret, int error = EIO) {
  log_line("ioctl %s -> %d", what, ret);
  if (ret != 0) errno = error;
  return ret;
}

// What a request on a frontend may do: switch its cable, or nothing, as
// on a tuner whose input loops through from another's cable.
enum lnb_access { LNB_SWITCHES, LNB_FOLLOWS, LNB_READ_ONLY };

// The outcome of an LNB request valid in itself, by its access.
static int lnb_refused(const char *what, lnb_access access) {
  if (access == LNB_READ_ONLY) return lnb_result(what, -1, EPERM);
  if (access == LNB_FOLLOWS) return lnb_result(what, 0);  // heard by nothing
  if (g_rx.fault_frontend_lnb) return lnb_result(what, -1);
  return 1;
}

static int set_voltage(uintptr_t voltage, lnb_access access) {
  static const char *const names[] = {"SEC_VOLTAGE_13", "SEC_VOLTAGE_18", "SEC_VOLTAGE_OFF"};
  char what[64];
  snprintf(what, sizeof what, "FE_SET_VOLTAGE %s", voltage < 3 ? names[voltage] : "?");
  if (voltage > SEC_VOLTAGE_OFF) return lnb_result(what, -1);
  if (int ret = lnb_refused(what, access); ret <= 0) return ret;
  g_rx.lnb_powered = voltage != SEC_VOLTAGE_OFF;
  if (voltage != SEC_VOLTAGE_OFF) g_rx.polarisation = voltage == SEC_VOLTAGE_13 ? 'V' : 'H';
  g_cost_count[COST_VOLTAGE]++;
  return lnb_result(what, 0);
}

static int set_tone(uintptr_t tone, lnb_access access) {
  char what[64];
  snprintf(what, sizeof what, "FE_SET_TONE %s",
           tone == SEC_TONE_ON ? "SEC_TONE_ON" : tone == SEC_TONE_OFF ? "SEC_TONE_OFF" : "?");
  if (tone > SEC_TONE_OFF) return lnb_result(what, -1);
  if (int ret = lnb_refused(what, access); ret <= 0) return ret;
  g_rx.high_band = tone == SEC_TONE_ON;
  g_cost_count[COST_TONE]++;
  return lnb_result(what, 0);
}

// Switch and single-cable commands select what later searches see (see
// single_cable.h); other messages pass unanswered, as on a bus where
// nothing is addressed.
static int send_diseqc(const dvb_diseqc_master_cmd *cmd, lnb_access access) {
  char what[64];
  // At most six bytes of three characters after the name: it all fits.
  size_t n = static_cast<size_t>(snprintf(what, sizeof what, "FE_DISEQC_SEND_MASTER_CMD"));
  for (unsigned i = 0; i < cmd->msg_len && i < 6; ++i, n += 3)
    (void)snprintf(what + n, sizeof what - n, " %02x", cmd->msg[i]);
  if (cmd->msg_len < 3 || cmd->msg_len > 6) return lnb_result(what, -1);
  if (int ret = lnb_refused(what, access); ret <= 0) return ret;
  apply_diseqc(g_rx, cmd->msg, cmd->msg_len);
  g_cost_count[COST_DISEQC]++;
  return lnb_result(what, 0);
}

// A tone burst, 12.5 ms of tone or of modulated tone: costed as a tone switch.
static int send_burst(uintptr_t burst, lnb_access access) {
  char what[64];
  snprintf(what, sizeof what, "FE_DISEQC_SEND_BURST %s",
           burst == SEC_MINI_A ? "SEC_MINI_A" : burst == SEC_MINI_B ? "SEC_MINI_B" : "?");
  if (burst > SEC_MINI_B) return lnb_result(what, -1);
  if (int ret = lnb_refused(what, access); ret <= 0) return ret;
  apply_burst(g_rx, static_cast<int>(burst));
  g_cost_count[COST_TONE]++;
  return lnb_result(what, 0);
}

static uint32_t voltage_word() {
  if (!g_rx.lnb_powered) return SEC_VOLTAGE_OFF;
  return g_rx.polarisation == 'V' ? SEC_VOLTAGE_13 : SEC_VOLTAGE_18;
}

// A watcher may read how the cable is set: its voltage and tone, nothing else.
static int get_property(const dtv_properties *asked, lnb_access access) {
  char what[160];  // eight properties at most, and the name of one unknown
  size_t n = static_cast<size_t>(snprintf(what, sizeof what, "FE_GET_PROPERTY"));
  bool known = access == LNB_READ_ONLY && asked->num > 0 && asked->num <= 8;
  for (uint32_t i = 0; known && i < asked->num; ++i) {
    dtv_property &p = asked->props[i];
    known = p.cmd == DTV_VOLTAGE || p.cmd == DTV_TONE;
    if (!known) {
      (void)snprintf(what + n, sizeof what - n, " %u", p.cmd);
      break;
    }
    bool voltage = p.cmd == DTV_VOLTAGE;
    p.u.data = voltage ? voltage_word() : static_cast<uint32_t>(g_rx.high_band ? SEC_TONE_ON : SEC_TONE_OFF);
    n += static_cast<size_t>(snprintf(what + n, sizeof what - n, " %s=%u", voltage ? "DTV_VOLTAGE" : "DTV_TONE",
                                      p.u.data));
  }
  return lnb_result(what, known ? 0 : -1, EINVAL);
}

static int frontend_request(unsigned long request, void *arg, lnb_access access) {
  switch (request) {
    case FE_SET_VOLTAGE: return set_voltage(reinterpret_cast<uintptr_t>(arg), access);
    case FE_SET_TONE: return set_tone(reinterpret_cast<uintptr_t>(arg), access);
    case FE_DISEQC_SEND_MASTER_CMD: return send_diseqc(static_cast<const dvb_diseqc_master_cmd *>(arg), access);
    case FE_DISEQC_SEND_BURST: return send_burst(reinterpret_cast<uintptr_t>(arg), access);
    case FE_GET_PROPERTY: return get_property(static_cast<const dtv_properties *>(arg), access);
    default:
      log_line("ioctl 0x%lx -> -1", request);
      errno = ENOTTY;
      return -1;
  }
}

// What the LNB requests so far took, ms.
static uint64_t lnb_ms() {
  uint64_t ms = 0;
  for (int k = COST_VOLTAGE; k < kCostKinds; ++k) ms += uint64_t{g_cost_count[k]} * kRequestCosts[k].ms;
  return ms;
}

// A request in its turn on the caller's clock, which runs on by what the
// request cost; only a cable's own tuner switches it.
static int frontend_ioctl(int tuner, unsigned long request, void *arg, lnb_access access) {
  begin_call();
  use_cable(tuner);
  uint64_t before = lnb_ms();
  int ret = frontend_request(request, arg, access);
  int error = errno;
  if (access == LNB_SWITCHES) keep_cable(tuner);
  end_call(lnb_ms() - before);
  errno = error;
  return ret;
}

// The simulated node behind a descriptor: its tuner and what it may do.
static bool simulated_fd(int fd, int *tuner, bool *device, lnb_access *access) {
  for (int n = 0; n < kMaxTuners; ++n) {
    *tuner = n;
    *device = fd == g_tuners[n].device_fd;
    *access = g_rx.input[n] == n ? LNB_SWITCHES : LNB_FOLLOWS;
    if (*device || fd == g_tuners[n].frontend_fd) return true;
  }
  for (const reader &r : g_readers) {
    *tuner = r.bus;
    *device = false;
    *access = LNB_READ_ONLY;
    if (fd == r.fd) return true;
  }
  return false;
}

SIM_EXPORT int ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void *arg = va_arg(args, void *);  // as the C library does, whatever was passed
  va_end(args);
  if (g_active && fd >= 0) {
    held lock;
    int tuner = -1;
    bool device = false;
    lnb_access access = LNB_SWITCHES;
    if (simulated_fd(fd, &tuner, &device, &access)) {
      t_request = {tuner, device};
      int ret = device ? device_ioctl(tuner, request, arg) : frontend_ioctl(tuner, request, arg, access);
      t_request = {};
      return ret;
    }
  }
  return real<int (*)(int, unsigned long, void *)>("ioctl")(fd, request, arg);
}

// ---- standard error ------------------------------------------------------

// With "trace stderr", each write to standard error is logged with its size,
// so a test can see whether a result line left the tool in one piece.
SIM_EXPORT ssize_t write(int fd, const void *data, size_t size) {
  if (g_ready && g_rx.trace_stderr && fd == STDERR_FILENO) log_line("write 2 %zu", size);
  return real<ssize_t (*)(int, const void *, size_t)>("write")(fd, data, size);
}

// ---- time -----------------------------------------------------------------

// A wait of the tool, in its turn on its clock, logged in the unit asked.
static void modelled_wait(uint64_t ms, bool in_seconds) {
  held lock;
  begin_call();
  if (in_seconds) log_line("sleep %llu", static_cast<unsigned long long>(ms / 1000u));
  else log_line("sleep %llu ms", static_cast<unsigned long long>(ms));
  g_waited_ms += ms;
  end_call(ms);
}

SIM_EXPORT unsigned int sleep(unsigned int seconds) {
  if (!g_ready) return real<unsigned (*)(unsigned)>("sleep")(seconds);
  modelled_wait(1000ull * seconds, true);
  return g_rx.real_wait ? real<unsigned (*)(unsigned)>("sleep")(seconds) : 0;
}

// The monotonic clock a tool reads runs ahead by the modelled time, which
// stands in for the waits and requests that take no real time here: its
// tuner's clock in a worker, the latest of all elsewhere. With "wait real"
// the waits are real and the clock is left alone.
SIM_EXPORT int clock_gettime(clockid_t id, struct timespec *t) {
  // The system call itself, not the next definition: a sanitizer's runtime
  // asks for the time before anything is set up, when looking one up would
  // allocate under it.
  int ret = static_cast<int>(syscall(SYS_clock_gettime, id, t));
  if (!g_ready || g_rx.real_wait || id != CLOCK_MONOTONIC || ret != 0) return ret;
  uint64_t ms = 0;
  {
    held lock;
    ms = now_ms();
  }
  t->tv_sec += static_cast<time_t>(ms / 1000u);
  t->tv_nsec += static_cast<long>(ms % 1000u) * 1000000L;
  if (t->tv_nsec >= 1000000000L) t->tv_sec++, t->tv_nsec -= 1000000000L;
  return ret;
}

// Settle waits of a tool, counted in the modelled time; real only with
// "wait real".
SIM_EXPORT int nanosleep(const struct timespec *wanted, struct timespec *left) {
  if (!g_ready || wanted == nullptr) return real<int (*)(const timespec *, timespec *)>("nanosleep")(wanted, left);
  uint64_t ms = static_cast<uint64_t>(wanted->tv_sec) * 1000u + static_cast<uint64_t>(wanted->tv_nsec) / 1000000u;
  modelled_wait(ms, false);
  if (g_rx.real_wait) return real<int (*)(const timespec *, timespec *)>("nanosleep")(wanted, left);
  if (left != nullptr) *left = {};
  return 0;
}
