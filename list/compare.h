// A scan compared with known lists. An entry matches a known carrier on the
// same polarisation (circular as linear) whose centre is closer than the
// merge rule's distance, a quarter of their two symbol rates; of several,
// the nearest. Its status:
//   unchanged  it matches a carrier of the satellite's own lists;
//   changed    it does, but a field both sides know differs: the symbol rate
//              by more than 1 % (a measurement is good to far less), the
//              system, modulation, FEC or roll-off (AUTO counts as not
//              known);
//   new        it matches none;
//   neighbour  it matches no own carrier but a neighbouring satellite's:
//              a dish catches strong carriers of a satellite a few degrees
//              away in the gaps of its own.
// Each own carrier within the band scanned, on a polarisation the scan
// has, that no entry matched, is added as missing: not gone, as a blind
// scan can miss.
#pragma once

#include "transponders.h"

enum entry_status : uint8_t {
  STATUS_NONE,  // no comparison made
  STATUS_UNCHANGED,
  STATUS_CHANGED,
  STATUS_NEW,
  STATUS_NEIGHBOUR,
  STATUS_MISSING,
  kStatuses,
};

enum change_bit : uint8_t {
  CHANGE_SYMBOL_RATE = 1,
  CHANGE_SYSTEM = 2,
  CHANGE_MODULATION = 4,
  CHANGE_FEC = 8,
  CHANGE_ROLLOFF = 16,
};
constexpr int kChangeKinds = 5;

// "unchanged", "changed", ...; "symbol_rate", "delivery_system", ...
const char *status_word(uint8_t status);
const char *change_word(int bit_index);

// Whether a scan entry and a known carrier are the same carrier.
bool matches(const list_entry &scanned, const list_entry &known);

// Gives every entry of `scan` its status and adds the missing own carriers
// between low_khz and high_khz. False when the list is full.
bool compare_lists(transponder_list &scan, const transponder_list &own, const transponder_list &neighbours,
                   int32_t low_khz, int32_t high_khz);
