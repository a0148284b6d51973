// Blind-scan requests and the word tables that turn the driver's numbers
// (Linux DVB frontend numbering) into the words of the result line.
#include "blindscan.h"

#include <cerrno>
#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

static const char kUnknownWord[] = "UNKNOWN";

static const char *const szPolarization[] = {
    "HORIZONTAL",  // 0
    "VERTICAL",    // 1
};
static_assert(sizeof(szPolarization) / sizeof(szPolarization[0]) == 2);

static const char *const szInversion[] = {
    "INVERSION_OFF",   // 0
    "INVERSION_ON",    // 1
    "INVERSION_AUTO",  // 2
};
static_assert(sizeof(szInversion) / sizeof(szInversion[0]) == 3);

static const char *const szCoderate[] = {
    "FEC_NONE",  // 0
    "FEC_1_2",   // 1
    "FEC_2_3",   // 2
    "FEC_3_4",   // 3
    "FEC_4_5",   // 4
    "FEC_5_6",   // 5
    "FEC_6_7",   // 6
    "FEC_7_8",   // 7
    "FEC_8_9",   // 8
    "FEC_AUTO",  // 9
    "FEC_3_5",   // 10
    "FEC_9_10",  // 11
    "FEC_2_5",   // 12
};
static_assert(sizeof(szCoderate) / sizeof(szCoderate[0]) == 13);

static const char *const szModulation[] = {
    "QPSK",      // 0
    "QAM_16",    // 1
    "QAM_32",    // 2
    "QAM_64",    // 3
    "QAM_128",   // 4
    "QAM_256",   // 5
    "QAM_AUTO",  // 6
    "VSB_8",     // 7
    "VSB_16",    // 8
    "8PSK",      // 9
    "APSK_16",   // 10
    "APSK_32",   // 11
    "DQPSK",     // 12
    "QAM_4_NR",  // 13
};
static_assert(sizeof(szModulation) / sizeof(szModulation[0]) == 14);

// Row 2 is the interface's automatic pilot; it prints as "PILOT_ON".
static const char *const szPilot[] = {
    "PILOT_ON",   // 0
    "PILOT_OFF",  // 1
    "PILOT_ON",   // 2
};
static_assert(sizeof(szPilot) / sizeof(szPilot[0]) == 3);

// Row 3 is the interface's automatic roll-off; it prints as "ROLLOFF_35".
static const char *const szRolloff[] = {
    "ROLLOFF_35",  // 0
    "ROLLOFF_20",  // 1
    "ROLLOFF_25",  // 2
    "ROLLOFF_35",  // 3
};
static_assert(sizeof(szRolloff) / sizeof(szRolloff[0]) == 4);

static const char *const szDeliverysystem[] = {
    "UNDEFINED",     // 0
    "DVBC_ANNEX_A",  // 1
    "DVBC_ANNEX_B",  // 2
    "DVB-T",         // 3
    "DSS",           // 4
    "DVB-S",         // 5
    "DVB-S2",        // 6
    "DVB-H",         // 7
    "ISDBT",         // 8
    "ISDBS",         // 9
    "ISDBC",         // 10
    "ATSC",          // 11
    "ATSCMH",        // 12
    "DTMB",          // 13
    "CMMB",          // 14
    "DAB",           // 15
    "DVB-T2",        // 16
    "TURBO",         // 17
    "DVB-C",         // 18
};
static_assert(sizeof(szDeliverysystem) / sizeof(szDeliverysystem[0]) == 19);

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
  int frequency_khz = static_cast<int>(r.frequency / 1000u + oscillator_khz(band));
  // Symbol rate truncated to whole thousands, printed signed as plugins expect.
  int symbol_rate = static_cast<int>(r.symbol_rate / 1000u * 1000u);
  int n = snprintf(buf, size, "OK %s %d %d %s %s %s %s %s %s\n", polarization_word(polar), frequency_khz,
                   symbol_rate, word(szDeliverysystem, r.delivery_system), word(szInversion, r.inversion),
                   word(szPilot, r.pilot), word(szCoderate, r.fec), word(szModulation, r.modulation),
                   word(szRolloff, r.rolloff));
  if (n < 0 || static_cast<size_t>(n) >= size) return 0;
  return static_cast<size_t>(n);
}

// One write per line, so a plugin reading the pipe live never sees half a line.
static void write_line(const char *line, size_t length) {
  while (length > 0) {
    ssize_t n = write(STDERR_FILENO, line, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    line += n;
    length -= static_cast<size_t>(n);
  }
}

void blindscan_step(int fd, int32_t freq_mhz, const scan_options &o) {
  blindscan_params params = search_window(freq_mhz, o);
  if (ioctl(fd, BS_SET_PARAMS, &params) != 0) return;
  if (ioctl(fd, BS_SEARCH) != 0) return;
  blindscan_result result = {};
  if (ioctl(fd, BS_GET_RESULT, &result) != 0) return;

  char line[256];
  size_t length = format_result_line(line, sizeof line, result, o.polar, o.band);
  write_line(line, length);
}
