// The result line built from eight arbitrary driver words and any polar and
// band: always "OK" and nine fields, printable ASCII, one newline at the end.
// A read past a word table is caught by AddressSanitizer.
#include <cstdint>
#include <cstring>

#include "blindscan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  blindscan_result result;
  int32_t polar = 0;
  int32_t band = 0;
  if (size < sizeof result + sizeof polar + sizeof band) return 0;
  memcpy(&result, data, sizeof result);
  memcpy(&polar, data + sizeof result, sizeof polar);
  memcpy(&band, data + sizeof result + sizeof polar, sizeof band);

  char line[256];
  size_t length = format_result_line(line, sizeof line, result, polar, band);
  if (length < 4 || memcmp(line, "OK ", 3) != 0 || line[length - 1] != '\n') __builtin_trap();
  int spaces = 0;
  for (size_t i = 0; i + 1 < length; ++i) {
    unsigned char c = static_cast<unsigned char>(line[i]);
    if (c < 0x20 || c > 0x7E) __builtin_trap();
    if (c == ' ') {
      if (i + 1 < length && line[i + 1] == ' ') __builtin_trap();  // no empty field
      ++spaces;
    }
  }
  if (spaces != 9) __builtin_trap();
  return 0;
}
