// The word tables of the result line, indexed by the driver's numbers (the
// Linux DVB frontend numbering). skysweep prints these words; skylist reads
// them back, so both take them from here.
#pragma once

inline constexpr const char *const szPolarization[] = {
    "HORIZONTAL",  // 0
    "VERTICAL",    // 1
};
static_assert(sizeof(szPolarization) / sizeof(szPolarization[0]) == 2);

inline constexpr const char *const szInversion[] = {
    "INVERSION_OFF",   // 0
    "INVERSION_ON",    // 1
    "INVERSION_AUTO",  // 2
};
static_assert(sizeof(szInversion) / sizeof(szInversion[0]) == 3);

inline constexpr const char *const szCoderate[] = {
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

inline constexpr const char *const szModulation[] = {
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
inline constexpr const char *const szPilot[] = {
    "PILOT_ON",   // 0
    "PILOT_OFF",  // 1
    "PILOT_ON",   // 2
};
static_assert(sizeof(szPilot) / sizeof(szPilot[0]) == 3);

// Row 3 is the interface's automatic roll-off; it prints as "ROLLOFF_35".
inline constexpr const char *const szRolloff[] = {
    "ROLLOFF_35",  // 0
    "ROLLOFF_20",  // 1
    "ROLLOFF_25",  // 2
    "ROLLOFF_35",  // 3
};
static_assert(sizeof(szRolloff) / sizeof(szRolloff[0]) == 4);

inline constexpr const char *const szDeliverysystem[] = {
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
