// Conversion of the command line into scan settings.
#include "settings.h"

#include <cstdlib>

int32_t to_setting(const char *text) {
  // strtol clamps to the range of long, which is wider than int32_t on a
  // 64-bit host; clamp again so every machine agrees with the receiver.
  long value = strtol(text, nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

scan_options read_settings(int argc, char **argv) {
  scan_options o = {950, 2150, 2, 45, 0, 0, 0};
  int32_t *slots[kSettingCount] = {&o.start_freq, &o.end_freq, &o.start_sr, &o.end_sr,
                                   &o.polar,      &o.band,     &o.bus};
  for (int i = 1; i < argc && i <= kSettingCount; ++i) *slots[i - 1] = to_setting(argv[i]);
  return o;
}
