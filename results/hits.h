// One result line of a blind scan read back: "OK POL KHZ SR" and six words,
// as skysweep prints them on standard error. Frequencies in kHz at the dish,
// symbol rates in symbols per second.
#pragma once

#include <cstddef>
#include <cstdint>

// The six words in the order the line gives them.
enum word_field { F_SYSTEM, F_INVERSION, F_PILOT, F_FEC, F_MODULATION, F_ROLLOFF, kWordFields };

constexpr uint8_t kUnknown = 0xFF;  // "UNKNOWN" on the line: no table row
constexpr int kLanes = 3;           // horizontal, vertical, unknown polarisation
constexpr int kUnknownLane = 2;
constexpr int kLineFields = 10;     // "OK" and nine fields

struct hit {
  uint8_t lane;                // row of szPolarization, or kUnknownLane
  uint8_t words[kWordFields];  // table rows, or kUnknown
  int32_t khz;
  int32_t symbol_rate;
  // Not on a result line: a line read leaves them 0.
  uint8_t source = 0;  // the file of a known list's entry
  uint8_t status = 0;  // entry_status of an entry it starts (compare.h)
};

// Why a line is not a result line, and where.
enum line_fault_kind {
  LINE_NOT_RESULT,    // does not start with "OK": other text
  LINE_FIELD_COUNT,   // cut off, or more than ten fields
  LINE_NOT_NUMBER,    // a number field with other characters
  LINE_NEGATIVE,      // a number field with a minus sign
  LINE_LEADING_ZERO,  // "011141000": skysweep never prints one
  LINE_TOO_LARGE,     // past a 32-bit int
  LINE_ZERO,          // a frequency or symbol rate of 0: no signal
  LINE_UNKNOWN_WORD,  // a word outside its table
};

struct line_fault {
  line_fault_kind kind;
  int field;         // 1 to 9: polarisation, frequency, symbol rate, the six words
  int fields;        // how many the line has (LINE_FIELD_COUNT), up to 11
  const char *text;  // the field's text in the line, `length` bytes
  size_t length;
};

// Reads one line (without its newline). Fields are separated by any run of
// spaces, tabs or carriage returns, which may also lead and trail the line.
// Returns false when it is not a result line, with the reason in *fault
// when given.
bool read_hit(const char *line, hit &out, line_fault *fault = nullptr);

// "symbol rate '27500x' is not a number": the reason as one phrase.
void describe_fault(const line_fault &fault, char *text, size_t size);

// The word of a field's row as the line prints it ("UNKNOWN" for kUnknown).
const char *hit_word(int field, uint8_t row);
const char *lane_word(uint8_t lane);
