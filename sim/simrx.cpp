// Simulated receiver, loaded into a tool with LD_PRELOAD. It answers the
// frontend nodes /dev/dvb/adapter0/frontendN, the listing command
// "cat /proc/bus/nim_sockets" and the blind-scan devices /dev/blindscanN from
// a receiver description or channel table ($SIMRX_SAT, with the LNB state
// from $SIMRX_LNB when set), and logs every request the tool makes
// to $SIMRX_DIR/requests.log. Everything else goes on to the real call.
// Frequencies: description in kHz at the dish, requests in Hz of IF.
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "description.h"

#define SIM_EXPORT extern "C" __attribute__((visibility("default")))

static const char kListingCommand[] = "cat /proc/bus/nim_sockets";
static const char kFrontendPrefix[] = "/dev/dvb/adapter0/frontend";
static const char kBlindscanPrefix[] = "/dev/blindscan";
constexpr int kBlindscanMajor = 250;  // what the receiver's driver registers
constexpr uint32_t kStepWindowKHz = 10000;

// The simulation is one process with one thread: plain statics suffice.
static receiver g_rx;
static int g_log = -1;
static char g_listing_path[512];
static FILE *g_listing_pipe;
static int g_device_fd = -1;
static int g_device_bus = -1;
static uint32_t g_params[5];
static const transponder *g_locked;
static bool g_active;  // loaded into the tool it was started for
static bool g_ready;   // and its description is loaded

template <typename F>
static F real(const char *name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
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
  if (write(g_log, line, length) < 0) return;  // nowhere left to report it
}

static bool starts_with(const char *text, const char *prefix) { return strncmp(text, prefix, strlen(prefix)) == 0; }

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
  write_listing_file();
  write_carriers_file(dir);
  g_ready = true;
  log_line("simrx: ready");
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

// ---- the blind-scan device ------------------------------------------------

static int open_device(const char *path, int flags) {
  int bus = node_number(path, kBlindscanPrefix);
  bool exists = g_ready && bus >= 0 && bus < kMaxTuners && g_rx.frontend[bus];
  if (!exists || g_rx.fault_open || g_device_fd >= 0) {
    log_line("open %s flags=0x%x -> fail", path, static_cast<unsigned>(flags));
    errno = exists ? EBUSY : ENOENT;
    return -1;
  }
  // A real descriptor number, so close() and descriptor checks behave.
  g_device_fd = real<int (*)(const char *, int, ...)>("open")("/dev/null", O_RDWR | O_CLOEXEC);
  g_device_bus = bus;
  g_locked = nullptr;
  log_line("open %s flags=0x%x -> ok", path, static_cast<unsigned>(flags));
  return g_device_fd;
}

static int open_any(const char *symbol, const char *path, int flags, va_list args) {
  if (g_active && is_simulated_node(path)) return open_device(path, flags);
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

SIM_EXPORT int close(int fd) {
  if (fd >= 0 && fd == g_device_fd) {
    log_line("close %s%d", kBlindscanPrefix, g_device_bus);
    g_device_fd = -1;
  }
  return real<int (*)(int)>("close")(fd);
}

static int fail_request(int code, int ret) {
  log_line("ioctl %s -> %d", request_name(code), ret);
  errno = EIO;
  return ret;
}

static int set_params(const uint32_t *words) {
  memcpy(g_params, words, sizeof g_params);
  g_locked = nullptr;
  int ret = 0;
  bool failed = scripted_fault(g_rx, 1, g_params[0] / 1000000u, &ret);
  log_line("ioctl BS_SET_PARAMS %u %u %u %u %u -> %d", words[0], words[1], words[2], words[3], words[4], ret);
  if (failed) errno = EIO;
  return ret;
}

static int search() {
  uint32_t mhz = g_params[0] / 1000000u;
  int ret = 0;
  if (scripted_fault(g_rx, 2, mhz, &ret)) return fail_request(2, ret);
  g_locked = find_signal(g_rx, g_params[0] / 1000u, kStepWindowKHz, g_params[1], g_params[2]);
  if (g_locked == nullptr) return fail_request(2, -1);  // nothing to lock on
  log_line("ioctl BS_SEARCH -> 0");
  return 0;
}

static int get_result(uint32_t *words) {
  uint32_t mhz = g_params[0] / 1000000u;
  int ret = 0;
  if (scripted_fault(g_rx, 3, mhz, &ret)) return fail_request(3, ret);
  if (g_locked == nullptr) return fail_request(3, -1);  // no search locked
  result_words(g_rx, *g_locked, g_params[0] / 1000u, words);
  log_line("ioctl BS_GET_RESULT -> 0 %u %u %u %u %u %u %u %u", words[0], words[1], words[2], words[3], words[4],
           words[5], words[6], words[7]);
  return 0;
}

SIM_EXPORT int ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void *arg = va_arg(args, void *);  // as the C library does, whatever was passed
  va_end(args);
  if (fd < 0 || fd != g_device_fd) return real<int (*)(int, unsigned long, void *)>("ioctl")(fd, request, arg);

  switch (request) {
    case 1: return set_params(static_cast<const uint32_t *>(arg));
    case 2: return search();
    case 3: return get_result(static_cast<uint32_t *>(arg));
    default:
      log_line("ioctl 0x%lx -> -1", request);
      errno = ENOTTY;
      return -1;
  }
}

// ---- standard error ------------------------------------------------------

// With "trace stderr", each write to standard error is logged with its size,
// so a test can see whether a result line left the tool in one piece.
SIM_EXPORT ssize_t write(int fd, const void *data, size_t size) {
  if (g_ready && g_rx.trace_stderr && fd == STDERR_FILENO) log_line("write 2 %zu", size);
  return real<ssize_t (*)(int, const void *, size_t)>("write")(fd, data, size);
}

// ---- time -----------------------------------------------------------------

SIM_EXPORT unsigned int sleep(unsigned int seconds) {
  if (!g_ready) return real<unsigned (*)(unsigned)>("sleep")(seconds);
  log_line("sleep %u", seconds);
  return g_rx.real_wait ? real<unsigned (*)(unsigned)>("sleep")(seconds) : 0;
}
