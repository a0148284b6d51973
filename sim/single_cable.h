// The simulated receiver's single-cable distribution and DiSEqC switches
// between the tuner and the satellites. A single-cable LNB or multiswitch
// puts, for each user band a channel-change command lit, the commanded
// slice of one position's LNB band onto the cable at the user band's
// frequency. Frequencies in kHz.
#pragma once

#include <cstdint>

constexpr int kMaxUserBands = 32;

struct cable_band {
  uint32_t khz;  // centre on the cable; 0: no such user band
  bool has_pin;
  uint8_t pin;
  bool lit;  // a channel change is in effect
  uint32_t word;
  uint8_t position;
  bool horizontal, high;
};

struct single_cable {
  bool present;
  bool en50607;         // else EN 50494
  bool occupied;        // a carrier passes when its whole occupied band fits, not only its symbol rate's
  uint32_t passband_khz;
  cable_band bands[kMaxUserBands];
};

struct receiver;
struct transponder;

// "cable 50494|50607 [passband=KHZ] [pass=symbols|occupied]" and
// "userband N MHZ [pin=P]" (N from 1) description lines.
bool parse_cable(const char *const *fields, int count, receiver &rx);

// A DiSEqC message or a tone burst (0 A, 1 B) as the switches and the
// single-cable LNB take it: what it selects, and nothing for a wrong PIN,
// a user band that does not exist or a message the line does not carry.
void apply_diseqc(receiver &rx, const uint8_t *message, unsigned length);
void apply_burst(receiver &rx, int burst);

// Whether a carrier's switch route is the one selected.
bool routed(const receiver &rx, const transponder &tp);

// What the tuner sees: the receiver itself, or with a single cable, the
// carriers its lit user bands pass, each at its cable frequency as if a
// low-band LNB delivered it horizontally. Valid until the next call.
const receiver &tuner_view(const receiver &rx);

// Whether some tuning word passes the carrier through the first user band.
bool comes_through(const receiver &rx, const transponder &tp);
