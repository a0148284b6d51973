// simrx-steps: turns a receiver description into the step table that the
// driver model in the kernel loads (through /proc/simrx/receiver): its
// tuners, its listing, its faults, and what the search finds at each step of
// one sweep, computed by the same model as the preload simulator. With
// --answers, instead of a sweep's steps, what each search read from standard
// input ("query POL BAND PORT HZ SR_MIN SR_MAX", the LNB as set before it)
// finds: the searches a tool makes when it sets the LNB itself.
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

// The answer to each query that finds a carrier.
static void print_answers() {
  char line[256];
  while (fgets(line, sizeof line, stdin) != nullptr) {
    // "query POL BAND PORT HZ SR_MIN SR_MAX"
    char *word[7] = {};
    int n = 0;
    for (char *w = strtok(line, " \n"); w != nullptr && n < 7; w = strtok(nullptr, " \n")) word[n++] = w;
    if (n != 7 || strcmp(word[0], "query") != 0) continue;
    char polarisation = word[1][0];
    auto number = [&word](int i) { return static_cast<unsigned>(strtoul(word[i], nullptr, 10)); };
    unsigned high = number(2), port = number(3), hz = number(4), sr_min = number(5), sr_max = number(6);
    g_rx.polarisation = polarisation;
    g_rx.high_band = high != 0;
    g_rx.port = static_cast<int>(port);
    const transponder *tp = find_signal(g_rx, hz / 1000u, g_rx.window_khz, sr_min, sr_max);
    if (tp == nullptr) continue;
    uint32_t words[8];
    result_words(g_rx, *tp, hz / 1000u, words);
    printf("answer %c %u %u %u %u %u", polarisation, high, port, hz, sr_min, sr_max);
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
