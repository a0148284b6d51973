// Blind scan through a single cable: the tuner stays on its user band and
// a DiSEqC channel-change command moves a slice of the LNB's IF into it
// (EN 50494: 8 user bands, 2 positions, 4 MHz steps, mirrored; EN 50607: 32
// user bands, 64 positions, 1 MHz steps). The searches of the strategy go
// through an adapter that commands, translates and checks; see
// single_cable.cpp for the rule. Frequencies in kHz unless named Hz.
#pragma once

#include <cstdint>

#include "lnb.h"
#include "strategy.h"

enum cable_standard : uint8_t { CABLE_EN50494, CABLE_EN50607 };

// What a search can see of a user band: a carrier whose symbol-rate band
// is wider cannot come through whole and is not sought.
constexpr uint32_t kPassbandKHz = 40000;

struct user_band {
  cable_standard standard;
  uint8_t number;    // from 0, as sent
  uint8_t position;  // satellite position on the LNB or multiswitch, from 0
  bool has_pin;
  uint8_t pin;
  uint32_t khz;      // the band's centre on the cable, where the tuner listens
};

struct cable_message {
  uint8_t bytes[6];
  uint8_t length;
};

// How many user bands and positions a standard addresses.
uint8_t user_band_count(cable_standard standard);
uint8_t position_count(cable_standard standard);

// The tuning word that brings the transponder IF if_khz nearest the user
// band's centre, and the IF a word brings there exactly.
uint32_t tuning_word(const user_band &band, uint32_t if_khz);
uint32_t centred_if_khz(const user_band &band, uint32_t word);

// Channel change for a tuning word, lane (0 horizontal, 1 vertical) and
// LNB band; with the word 0, the band's release.
cable_message channel_command(const user_band &band, uint32_t word, uint8_t lane, bool high_band);

// Puts a command on the line: 18 V, the message, 13 V again. Returns the
// step that failed, errno telling why, or LNB_DONE.
lnb_step send_cable_message(int frontend_fd, const cable_message &message);

// The strategy's searches through a user band. `inner` searches at the
// tuner's frequencies; `send` puts a command on the line (with the voltage
// steps it needs) and says whether it could.
struct cable_tuner {
  const user_band *band;
  scan_driver inner;
  bool (*send)(void *context, const cable_message &message);
  void *send_context;
  scan_tally *tally;  // stopped when a command cannot be sent
  uint8_t lane = 0;
  bool high_band = false;
  bool commanded = false;  // `word` is in effect
  bool failed = false;     // a command could not be sent
  uint32_t word = 0;
  uint32_t last_window = 0;  // IF of the last window searched
  uint32_t covered_to = 0;   // IF below which no wide carrier can be left unseen
  uint32_t commands = 0, searches = 0, fragments = 0;
};

scan_driver cable_driver(cable_tuner &tuner);

// A new sweep: its lane and band; the next search commands afresh.
void cable_sweep(cable_tuner &tuner, uint8_t lane, bool high_band);
