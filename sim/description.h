// The simulated receiver's description: tuners, the socket listing, what
// the LNB delivers, the carriers in view and scripted driver faults. Read
// from a small text file (see satellites/default.sat for the format) or from
// a DVBv5 channel table of real transponders. Frequencies in kHz at the dish.
#pragma once

#include <cstdint>
#include <cstdio>

#include "single_cable.h"

constexpr int kMaxTuners = 16;
constexpr int kMaxTransponders = 1024;
constexpr int kMaxNotes = 1024;
constexpr int kMaxFaults = 64;
constexpr int kMaxListingLines = 64;
constexpr int kMaxLine = 600;
constexpr int kPorts = 4;  // DiSEqC committed switch: ports A to D

// What a universal LNB delivers, and the IF range its output passes.
constexpr uint32_t kLowOscillatorKHz = 9750000;
constexpr uint32_t kHighOscillatorKHz = 10600000;
constexpr uint32_t kBandLowKHz = 10700000;
constexpr uint32_t kBandSwitchKHz = 11700000;
constexpr uint32_t kBandHighKHz = 12750000;
constexpr uint32_t kIfLowKHz = 950000;
constexpr uint32_t kIfHighKHz = 2150000;

struct transponder {
  uint32_t downlink_khz;  // at the dish; 0 for a scripted result
  uint32_t words[8];      // what BS_GET_RESULT returns, frequency filled in later
  uint32_t bandwidth_hz;  // occupied band: symbol rate times one plus roll-off
  int32_t offset_hz;      // fixed error of the driver's frequency measurement
  int32_t at_mhz;         // scripted result: the step it answers, else -1
  char polarisation;      // 'H' or 'V' (circular left and right map onto them)
  uint8_t port;           // DiSEqC port the dish behind it hangs on (0 = A), or its single-cable position
  int8_t uncommitted;     // port of an uncommitted switch behind it, -1: none
  int8_t burst;           // tone-burst switch position (0 A, 1 B), -1: none
  int8_t neighbour;       // a neighbouring satellite's carrier: its "neighbour" line, from 0; else -1
};

// Which carrier a search locks when more than one is in reach. Real
// demodulators differ here, so the model has each; "more than 5 % wider"
// counts as wider, as a demodulator tells rates apart only roughly before
// it locks.
enum demodulator_preference {
  PREFER_NEAREST,  // the one nearest the window's centre
  PREFER_WIDER,    // of the two nearest the centre, the wider; else the nearer
  PREFER_WIDEST,   // the highest symbol rate in reach, as a demodulator whose
                   // tuner sees a wide band does; the nearest of equal ones
  PREFER_RANDOM,   // any in reach, drawn afresh on every search
};

// How far past its window a search sees a carrier, in parts of the
// carrier's band: not at all, a quarter, half.
enum demodulator_reach { REACH_NONE, REACH_QUARTER, REACH_HALF };

constexpr uint32_t kDefaultWindowKHz = 10000;

// Modelled duration of each request, in milliseconds, so that a benchmark
// can tell what a scan would take on a receiver without waiting for it.
struct request_cost {
  const char *what;
  uint32_t ms;
};
enum cost_kind { COST_LOCKED, COST_EMPTY, COST_VOLTAGE, COST_TONE, COST_DISEQC, kCostKinds };
inline constexpr request_cost kRequestCosts[kCostKinds] = {
    // Blind search that locks: a spectrum pass over the window, the symbol
    // rate estimated, carrier and FEC lock, the parameters read back.
    {"locked search", 800},
    // Blind search that finds nothing: the demodulator runs through its
    // symbol-rate hypotheses until its lock timeout.
    {"empty search", 1200},
    // LNB supply slewing between 13 and 18 V.
    {"voltage switch", 20},
    // 22 kHz tone switched on or off, and the LNB's oscillator following.
    {"tone switch", 20},
    // A four-byte DiSEqC message (about 54 ms of 22 kHz bursts), the
    // pauses around it and the switch's relay.
    {"DiSEqC command", 100},
};

// Why an entry of the description is not a carrier of its own.
enum note_kind { NOTE_OUT_OF_VIEW, NOTE_SAME_CARRIER, NOTE_UNDER_OWN_CARRIER };

struct note {
  note_kind kind;
  uint32_t khz;       // the entry
  char polarisation;  // 'H' or 'V'
  uint32_t symbol_rate;
  uint32_t kept_khz;  // the carrier it belongs to, or lies under
};

struct fault {
  int request;     // 1, 2 or 3
  int64_t at_mhz;  // step frequency, or -1 for every step
  int ret;         // what the request returns
};

struct receiver {
  bool frontend[kMaxTuners];
  char listing[kMaxListingLines][kMaxLine];
  int listing_lines;
  bool listing_given;  // "listing" lines replace the generated text
  char tuner_type[kMaxTuners][16];
  char tuner_name[kMaxTuners][96];
  bool listed[kMaxTuners];
  // The tuner whose cable each tuner takes its signal from: itself, or
  // another's by an "input" line (loop-through, a second demodulator).
  int8_t input[kMaxTuners];
  bool busy[kMaxTuners];  // in use by another program: read-only opens alone
  bool high_band;
  char polarisation;
  int port;             // selected by a DiSEqC command
  bool diseqc_switch;   // the description has "port" lines with a committed port
  int8_t uncommitted[kPorts];  // selected behind each committed port (the one port without a switch)
  int8_t burst;         // selected by the last tone burst
  single_cable cable;
  bool lnb_powered;     // false after SEC_VOLTAGE_OFF: the LNB delivers nothing
  demodulator_preference preference;
  demodulator_reach reach;
  uint32_t window_khz;  // what a search looks at from the frequency it is given
  bool coarse;          // measurements within 1.5 MHz and 1 %, not the model's fiftieth and 0.2 %
  transponder tps[kMaxTransponders];
  int tp_count;
  int neighbour_count;  // "neighbour" lines read
  note notes[kMaxNotes];
  int note_count;
  uint32_t seed;  // of the measurement jitter
  bool jitter;    // measurements differ a little from step to step
  fault faults[kMaxFaults];
  int fault_count;
  bool fault_open;
  bool fault_listing;
  bool fault_frontend_open;  // the frontend is busy
  bool fault_frontend_lnb;   // LNB requests fail
  bool real_wait;
  bool trace_stderr;  // log the size of every write to standard error
};

// Loads a description or a DVBv5 channel table. lnb ("low H", "high V", ...)
// overrides the description's LNB state when not null.
bool load_description(const char *path, const char *lnb, receiver &rx, char *error, size_t error_size);
void write_listing(const receiver &rx, FILE *out);

// The carrier a search at step_khz (IF, window width window_khz) locks on:
// right polarisation, band and port, symbol rate within limits, caught by
// the window, chosen by the demodulator preference. `draw` numbers the
// search, for the random preference's choice.
const transponder *find_signal(const receiver &rx, uint32_t step_khz, uint32_t window_khz, uint32_t sr_min,
                               uint32_t sr_max, uint32_t draw = 0);
// The eight words request 3 returns for the carrier found at step_khz.
void result_words(const receiver &rx, const transponder &tp, uint32_t step_khz, uint32_t words[8]);
bool scripted_fault(const receiver &rx, int request, uint32_t step_mhz, int *ret);
const char *request_name(int request);
// "nearest", "wider", "widest" or "random"; false for any other word.
bool parse_preference(const char *word, demodulator_preference *out);
// "none", "quarter" or "half": how far past the window a search sees a carrier.
bool parse_reach(const char *word, demodulator_reach *out);
// A search window's width in whole MHz, 4 to 40.
bool parse_window(const char *word, uint32_t *khz);
// "model" or "coarse": how far off a measurement may be.
bool parse_error(const char *word, bool *coarse);
// Writes the carriers in view with the LNB's current setting and the notes.
void write_carriers(const receiver &rx, FILE *out);
