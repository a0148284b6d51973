// simrx-steps: turns a receiver description into the step table that the
// driver model in the kernel loads (through /proc/simrx/receiver): its
// tuners, its listing, its faults, and what the search finds at each step of
// one sweep, computed by the same model as the preload simulator. With
// --answers, instead of a sweep's steps, what each search read from standard
// input finds ("query HZ SR_MIN SR_MAX"), with the LNB as the frontend
// requests before it set it ("voltage 13|18|off", "tone on|off", "diseqc
// XX..", "burst A|B"): the searches a tool makes when it sets the LNB
// itself. Each answer names the voltage, tone and the number of switch
// commands before it, as the driver model in the kernel counts them.
//   simrx-steps DESCRIPTION "BAND POL"|- START_MHZ END_MHZ START_SR END_SR
//   simrx-steps DESCRIPTION --answers < QUERIES
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "description.h"


static receiver g_rx;  // too large for the stack

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

// The answer to each query that finds a carrier.
static void print_answers() {
  char line[256];
  unsigned commands = 0;
  while (fgets(line, sizeof line, stdin) != nullptr) {
    char *word[8] = {};
    int n = 0;
    for (char *w = strtok(line, " \n"); w != nullptr && n < 8; w = strtok(nullptr, " \n")) word[n++] = w;
    if (n == 0) continue;
    if (n != 4 || strcmp(word[0], "query") != 0) {
      apply_request(word, n, &commands);
      continue;
    }
    auto number = [&word](int i) { return static_cast<unsigned>(strtoul(word[i], nullptr, 10)); };
    unsigned hz = number(1), sr_min = number(2), sr_max = number(3);
    const receiver &seen = tuner_view(g_rx);
    const transponder *tp = find_signal(seen, hz / 1000u, g_rx.window_khz, sr_min, sr_max);
    if (tp == nullptr) continue;
    uint32_t words[8];
    result_words(seen, *tp, hz / 1000u, words);
    printf("answer %c %u %u %u %u %u", g_rx.polarisation, g_rx.high_band ? 1u : 0u, commands, hz, sr_min, sr_max);
    print_words(words);
  }
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
  if (!load_description(argv[1], lnb, g_rx, error, sizeof error)) {
    fprintf(stderr, "simrx-steps: %s: %s\n", argv[1], error);
    return 1;
  }

  puts("reset");
  for (int n = 0; n < kMaxTuners; ++n)
    if (g_rx.frontend[n]) printf("frontend %d\n", n);
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
