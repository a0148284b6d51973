// skylist's reader, merge and writers on arbitrary text, one line per '\n':
// a line read as a result line must print back as itself, each entry's mean
// lies within its hits, and every format is written without a fault.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "formats.h"

static transponder_list g_list;

// The line as skysweep would print it from the hit read from it: the input
// with its runs of blanks made single spaces.
static void check_round_trip(const char *input, const hit &h) {
  char line[256] = "";
  size_t length = 0;
  for (const char *p = input + strspn(input, " \t\r"); *p != '\0'; p += strspn(p, " \t\r")) {
    size_t field = strcspn(p, " \t\r");
    const char *space = length > 0 ? " " : "";
    int added = snprintf(line + length, sizeof line - length, "%s%.*s", space, static_cast<int>(field), p);
    length += static_cast<size_t>(added);
    p += field;
  }
  char again[256];
  int n = snprintf(again, sizeof again, "OK %s %d %d", lane_word(h.lane), static_cast<int>(h.khz),
                   static_cast<int>(h.symbol_rate));
  for (int f = 0; f < kWordFields; ++f) n += snprintf(again + n, sizeof again - n, " %s", hit_word(f, h.words[f]));
  if (strcmp(again, line) != 0) __builtin_trap();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  g_list = {};
  char line[256];
  for (size_t start = 0; start < size;) {
    const void *end = memchr(data + start, '\n', size - start);
    size_t length =
        end != nullptr ? static_cast<size_t>(static_cast<const uint8_t *>(end) - data) - start : size - start;
    if (length < sizeof line) {
      memcpy(line, data + start, length);
      line[length] = '\0';
      hit h;
      line_fault fault;
      char why[128];
      if (!read_hit(line, h, &fault)) {
        describe_fault(fault, why, sizeof why);
      } else {
        check_round_trip(line, h);
        if (!add_hit(g_list, h) && g_list.count != kMaxTransponders) __builtin_trap();
      }
    }
    start += length + 1;
  }
  for (int i = 0; i < g_list.count; ++i) {
    const list_entry &t = g_list.entries[i];
    if (t.hits == 0 || entry_khz(t) < t.low_khz || entry_khz(t) > t.high_khz) __builtin_trap();
  }
  FILE *out = fopen("/dev/null", "w");
  if (out == nullptr) return 0;
  list_source source = {"fuzz", "2026-12-08", false, {}};
  write_dvbv5(g_list, source, out);
  write_jsonl(g_list, source, out);
  write_svg(g_list, source, out);
  fclose(out);
  return 0;
}
