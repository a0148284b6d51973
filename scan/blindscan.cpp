// Blind-scan requests, and the result line built from the driver's numbers
// through the word tables of result_words.h.
#include "blindscan.h"
#include "result_words.h"

#include <cerrno>
#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

static const char kUnknownWord[] = "UNKNOWN";

// The one lookup every table goes through: rows past the end (or negative
// numbers, which arrive here as large unsigned ones) have no word.
template <size_t N>
static const char *word(const char *const (&table)[N], uint32_t row) {
  return row < N ? table[row] : kUnknownWord;
}

static const char *polarization_word(int32_t polar) {
  return polar < 0 ? kUnknownWord : word(szPolarization, static_cast<uint32_t>(polar));
}

static uint32_t oscillator_khz(int32_t band) { return band == 0 ? kLowBandOscillatorKHz : kHighBandOscillatorKHz; }

blindscan_params search_window(int32_t freq_mhz, const scan_options &o) {
  blindscan_params p = {};
  p.frequency = static_cast<uint32_t>(freq_mhz) * 1000000u;
  p.symbol_rate_min = static_cast<uint32_t>(o.start_sr) * 1000000u;
  p.symbol_rate_max = static_cast<uint32_t>(o.end_sr) * 1000000u;
  return p;
}

size_t format_result_line(char *buf, size_t size, const blindscan_result &r, int32_t polar, int32_t band) {
  // Driver reports Hz; the line wants kHz at the dish, so add the oscillator.
  // The largest sum, 4294967 + 10600000, fits an int.
  return format_result_line_at(buf, size, r, polar, static_cast<int>(r.frequency / 1000u + oscillator_khz(band)));
}

size_t format_result_line_at(char *buf, size_t size, const blindscan_result &r, int32_t polar, int frequency_khz) {
  // Symbol rate truncated to whole thousands, printed signed as plugins expect.
  int symbol_rate = static_cast<int>(r.symbol_rate / 1000u * 1000u);
  int n = snprintf(buf, size, "OK %s %d %d %s %s %s %s %s %s\n", polarization_word(polar), frequency_khz,
                   symbol_rate, word(szDeliverysystem, r.delivery_system), word(szInversion, r.inversion),
                   word(szPilot, r.pilot), word(szCoderate, r.fec), word(szModulation, r.modulation),
                   word(szRolloff, r.rolloff));
  if (n < 0 || static_cast<size_t>(n) >= size) return 0;
  return static_cast<size_t>(n);
}

bool write_all(int fd, const char *text, size_t length) {
  while (length > 0) {
    ssize_t n = write(fd, text, length);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;  // a write of a non-empty line that moves nothing
      return false;
    }
    text += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

bool blindscan_step(int fd, int32_t freq_mhz, const scan_options &o) {
  blindscan_params params = search_window(freq_mhz, o);
  if (ioctl(fd, BS_SET_PARAMS, &params) != 0) return true;
  if (ioctl(fd, BS_SEARCH) != 0) return true;
  blindscan_result result = {};
  if (ioctl(fd, BS_GET_RESULT, &result) != 0) return true;

  char line[256];
  size_t length = format_result_line(line, sizeof line, result, o.polar, o.band);
  return write_all(STDERR_FILENO, line, length);
}
