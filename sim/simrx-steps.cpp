// simrx-steps: turns a receiver description into the step table that the
// driver model in the kernel loads (through /proc/simrx/receiver): its
// tuners and how they are wired, its listing, its faults, and what the
// search finds at each step of one sweep, computed by the same model as the
// preload simulator. With --answers, instead of a sweep's steps, what each
// search read from standard input finds ("query HZ SR_MIN SR_MAX"), with the
// LNB as the frontend requests before it set it ("voltage 13|18|off",
// "tone on|off", "diseqc XX..", "burst A|B"): the searches a tool makes when
// it sets the LNB itself. A line may start with "T:", the tuner whose device
// it was made on (else 0). Each answer names the cable, its voltage, tone
// and the number of switch commands before it, as the driver model in the
// kernel counts them.
//   simrx-steps DESCRIPTION "BAND POL"|- START_MHZ END_MHZ START_SR END_SR
//   simrx-steps DESCRIPTION --answers < QUERIES
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "description.h"

// How the tuners take their signal: "input N FROM" (N sees FROM's cable,
// its own LNB requests reach nothing) and "busy N" (another program holds
// N). Read here, from the description itself, so that they reach the
// driver model whether or not the model's reader takes them.
struct wiring_line {
  int line_no;
  bool busy;
  int tuner, from;
};
struct wiring {
  wiring_line lines[2 * kMaxTuners];
  int count;
  int source[kMaxTuners];  // where follower
  bool follower[kMaxTuners];
  bool busy[kMaxTuners];
};

static receiver g_rx;  // too large for the stack
static wiring g_wiring;

static bool parse_tuner_number(const char *word, int *n) {
  char *end = nullptr;
  long value = strtol(word, &end, 10);
  *n = static_cast<int>(value);
  return end != word && *end == '\0' && value >= 0 && value < kMaxTuners;
}

// A wiring line's fields; false if it is not one.
static bool wiring_fields(const char *raw, char field[4][32], int *count) {
  *count = sscanf(raw, "%31s %31s %31s %31s", field[0], field[1], field[2], field[3]);
  return *count > 0 && (strcmp(field[0], "input") == 0 || strcmp(field[0], "busy") == 0);
}

static bool parse_wiring(char field[4][32], int count, int line_no, char *error, size_t error_size) {
  if (g_wiring.count >= static_cast<int>(sizeof g_wiring.lines / sizeof g_wiring.lines[0])) {
    snprintf(error, error_size, "line %d: too many input and busy lines", line_no);
    return false;
  }
  wiring_line &w = g_wiring.lines[g_wiring.count++];
  w = {line_no, strcmp(field[0], "busy") == 0, 0, -1};
  bool ok = w.busy ? count == 2 && parse_tuner_number(field[1], &w.tuner)
                   : count == 3 && parse_tuner_number(field[1], &w.tuner) && parse_tuner_number(field[2], &w.from);
  if (!ok) snprintf(error, error_size, "line %d: not understood", line_no);
  return ok;
}

// Copies the description for the model's reader, each wiring line left as
// an empty comment so line numbers stay, and table paths relative to the
// description made relative to where it is.
static bool read_wiring(const char *path, FILE *model, char *error, size_t error_size) {
  FILE *in = fopen(path, "r");
  if (in == nullptr) {
    snprintf(error, error_size, "cannot open");
    return false;
  }
  const char *slash = strrchr(path, '/');
  int dir_length = slash == nullptr ? 0 : static_cast<int>(slash - path + 1);
  static char raw[kMaxLine + 16];
  char field[4][32], key[16], table[kMaxLine];  // %599s below: kMaxLine - 1
  int line_no = 0, count = 0;
  bool at_start = true, ok = true;
  while (ok && fgets(raw, sizeof raw, in) != nullptr) {
    if (at_start) ++line_no;
    bool starts = at_start;
    at_start = strchr(raw, '\n') != nullptr;
    if (starts && wiring_fields(raw, field, &count)) {
      ok = parse_wiring(field, count, line_no, error, error_size);
      fputs("#\n", model);
    } else if (starts && sscanf(raw, "%15s %599s", key, table) == 2 && table[0] != '/' &&
               (strcmp(key, "satellite") == 0 || strcmp(key, "neighbour") == 0)) {
      fprintf(model, "%s %.*s%s\n", key, dir_length, path, table);
    } else {
      fputs(raw, model);
    }
  }
  fclose(in);
  return ok;
}

// No chains: a tuner that feeds others takes its own signal.
static bool check_wiring(const bool described[kMaxTuners], char *error, size_t error_size) {
  for (int i = 0; i < g_wiring.count; ++i) {
    const wiring_line &w = g_wiring.lines[i];
    const char *problem = nullptr;
    if (!described[w.tuner] || (!w.busy && !described[w.from])) problem = "no such tuner";
    else if (w.busy) g_wiring.busy[w.tuner] = true;
    else if (w.tuner == w.from) problem = "a tuner cannot take its signal from itself";
    else if (g_wiring.follower[w.tuner]) problem = "the tuner has an input already";
    else if (g_wiring.follower[w.from]) problem = "the tuner it takes its signal from takes it from another";
    for (int k = 0; problem == nullptr && !w.busy && k < kMaxTuners; ++k)
      if (g_wiring.follower[k] && g_wiring.source[k] == w.tuner) problem = "the tuner feeds another";
    if (problem != nullptr) {
      snprintf(error, error_size, "line %d: %s", w.line_no, problem);
      return false;
    }
    if (w.busy) continue;
    g_wiring.follower[w.tuner] = true;
    g_wiring.source[w.tuner] = w.from;
  }
  return true;
}

// The cable a tuner's searches see: with a single cable, the one cable.
static int cable_of(int tuner) {
  if (g_rx.cable.present) return 0;
  return g_wiring.follower[tuner] ? g_wiring.source[tuner] : tuner;
}

// What one cable's LNB, switches and user bands were last set to.
struct cable_state {
  int port;
  unsigned commands;  // switch and single-cable commands so far
  single_cable cable;
  bool high_band;
  char polarisation;
  bool lnb_powered;
  int8_t burst;
  int8_t uncommitted[kPorts];
};
static cable_state g_cables[kMaxTuners];

static void save_cable(cable_state &c) {
  c.high_band = g_rx.high_band;
  c.polarisation = g_rx.polarisation;
  c.lnb_powered = g_rx.lnb_powered;
  c.port = g_rx.port;
  memcpy(c.uncommitted, g_rx.uncommitted, sizeof c.uncommitted);
  c.burst = g_rx.burst;
  c.cable = g_rx.cable;
}

static void use_cable(const cable_state &c) {
  g_rx.high_band = c.high_band;
  g_rx.polarisation = c.polarisation;
  g_rx.lnb_powered = c.lnb_powered;
  g_rx.port = c.port;
  memcpy(g_rx.uncommitted, c.uncommitted, sizeof c.uncommitted);
  g_rx.burst = c.burst;
  g_rx.cable = c.cable;
}

static void print_listing() {
  static char text[kMaxListingLines * kMaxLine];
  FILE *out = fmemopen(text, sizeof text - 1, "w");
  if (out == nullptr) return;
  write_listing(g_rx, out);
  fclose(out);
  for (char *line = strtok(text, "\n"); line != nullptr; line = strtok(nullptr, "\n")) printf("listing %s\n", line);
}

static void print_words(const uint32_t words[8]) {
  for (int i = 0; i < 8; ++i) printf(" %u", words[i]);
  putchar('\n');
}

// Applies one frontend request of the tool's run, as the preload did.
static void apply_request(char **word, int n, unsigned *commands) {
  if (strcmp(word[0], "voltage") == 0 && n == 2) {
    g_rx.lnb_powered = strcmp(word[1], "off") != 0;
    if (g_rx.lnb_powered) g_rx.polarisation = strcmp(word[1], "13") == 0 ? 'V' : 'H';
  } else if (strcmp(word[0], "tone") == 0 && n == 2) {
    g_rx.high_band = strcmp(word[1], "on") == 0;
  } else if (strcmp(word[0], "diseqc") == 0 && n <= 7) {
    uint8_t message[6];
    for (int i = 1; i < n; ++i) message[i - 1] = static_cast<uint8_t>(strtoul(word[i], nullptr, 16));
    apply_diseqc(g_rx, message, static_cast<unsigned>(n - 1));
    ++*commands;
  } else if (strcmp(word[0], "burst") == 0 && n == 2) {
    apply_burst(g_rx, word[1][0] == 'B');
    ++*commands;
  }
}

// The tuner a line names ("T:" before it), else 0; -1 for a bad one.
static int tuner_of(char ***word, int *n) {
  size_t length = strlen((*word)[0]);
  if (length < 2 || (*word)[0][length - 1] != ':') return 0;
  char *end = nullptr;
  long tuner = strtol((*word)[0], &end, 10);
  ++*word;
  --*n;
  return end == (*word)[-1] + length - 1 && tuner >= 0 && tuner < kMaxTuners ? static_cast<int>(tuner) : -1;
}

// One query on tuner's cable: its answer, if it finds a carrier.
static void print_answer(int cable, char **word) {
  auto number = [&word](int i) { return static_cast<unsigned>(strtoul(word[i], nullptr, 10)); };
  unsigned hz = number(1), sr_min = number(2), sr_max = number(3);
  const receiver &seen = tuner_view(g_rx);
  const transponder *tp = find_signal(seen, hz / 1000u, g_rx.window_khz, sr_min, sr_max);
  if (tp == nullptr) return;
  uint32_t words[8];
  result_words(seen, *tp, hz / 1000u, words);
  printf("answer %d %c %u %u %u %u %u", cable, g_rx.polarisation, g_rx.high_band ? 1u : 0u, g_cables[cable].commands,
         hz, sr_min, sr_max);
  print_words(words);
}

// The answer to each query that finds a carrier, each on its tuner's cable.
static void print_answers() {
  for (cable_state &c : g_cables) save_cable(c);
  char line[256];
  while (fgets(line, sizeof line, stdin) != nullptr) {
    char *words[9] = {};
    int n = 0;
    for (char *w = strtok(line, " \n"); w != nullptr && n < 9; w = strtok(nullptr, " \n")) words[n++] = w;
    if (n == 0) continue;
    char **word = words;
    int tuner = tuner_of(&word, &n);
    if (tuner < 0 || n == 0) continue;
    int cable = cable_of(tuner);
    use_cable(g_cables[cable]);
    if (n == 4 && strcmp(word[0], "query") == 0) {
      print_answer(cable, word);
    } else if (!g_wiring.follower[tuner]) {  // a follower's requests reach nothing
      apply_request(word, n, &g_cables[cable].commands);
      save_cable(g_cables[cable]);
    }
  }
}

static void print_wiring() {
  printf("lnb %c %d\n", g_rx.polarisation, g_rx.high_band ? 1 : 0);
  if (g_rx.cable.present) puts("single cable");
  for (int n = 0; n < kMaxTuners; ++n)
    if (g_wiring.follower[n]) printf("input %d %d\n", n, g_wiring.source[n]);
  for (int n = 0; n < kMaxTuners; ++n)
    if (g_wiring.busy[n]) printf("busy %d\n", n);
}

// The description, with its wiring lines read here when the model's own
// reader does not take them.
static bool load(const char *path, const char *lnb, char *error, size_t error_size) {
  char model_path[] = "/tmp/simrx-steps-XXXXXX";
  int fd = mkstemp(model_path);
  if (fd < 0) {
    snprintf(error, error_size, "cannot make a temporary file");
    return false;
  }
  FILE *model = fdopen(fd, "w");
  bool read = model != nullptr && read_wiring(path, model, error, error_size);
  if (model != nullptr) fclose(model);
  else close(fd);
  bool ok = read && load_description(g_wiring.count ? model_path : path, lnb, g_rx, error, error_size) &&
            check_wiring(g_rx.frontend, error, error_size);
  unlink(model_path);
  return ok;
}

int main(int argc, char **argv) {
  bool answers = argc == 3 && strcmp(argv[2], "--answers") == 0;
  if (argc != 7 && !answers) {
    fputs("usage: simrx-steps DESCRIPTION \"BAND POL\"|- START_MHZ END_MHZ START_SR END_SR\n"
          "       simrx-steps DESCRIPTION --answers < QUERIES\n",
          stderr);
    return 2;
  }
  char error[256];
  const char *lnb = answers || strcmp(argv[2], "-") == 0 ? nullptr : argv[2];
  if (!load(argv[1], lnb, error, sizeof error)) {
    fprintf(stderr, "simrx-steps: %s: %s\n", argv[1], error);
    return 1;
  }

  puts("reset");
  for (int n = 0; n < kMaxTuners; ++n)
    if (g_rx.frontend[n]) printf("frontend %d\n", n);
  print_wiring();
  print_listing();
  if (g_rx.fault_open) puts("fault open");
  if (g_rx.fault_listing) puts("fault listing");
  if (g_rx.fault_frontend_open) puts("fault frontend open");
  if (g_rx.fault_frontend_lnb) puts("fault frontend lnb");
  for (int i = 0; i < g_rx.fault_count; ++i)
    printf("fault %d %lld %d\n", g_rx.faults[i].request, static_cast<long long>(g_rx.faults[i].at_mhz),
           g_rx.faults[i].ret);
  if (answers) {
    print_answers();
    return 0;
  }
  long start = strtol(argv[3], nullptr, 10), end = strtol(argv[4], nullptr, 10);
  // As the tool computes them: 32-bit products, wrapping.
  uint32_t sr_min = static_cast<uint32_t>(strtol(argv[5], nullptr, 10)) * 1000000u;
  uint32_t sr_max = static_cast<uint32_t>(strtol(argv[6], nullptr, 10)) * 1000000u;
  for (long mhz = start; mhz < end; mhz += 10) {
    uint32_t step_khz = static_cast<uint32_t>(mhz) * 1000u;
    const transponder *tp = find_signal(g_rx, step_khz, g_rx.window_khz, sr_min, sr_max);
    if (tp == nullptr) continue;
    uint32_t words[8];
    result_words(g_rx, *tp, step_khz, words);
    printf("step %ld", mhz);
    print_words(words);
  }
  return 0;
}
