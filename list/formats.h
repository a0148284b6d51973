// The transponder list written out: a DVBv5 channel file (as the channel
// tables of DVB tools are), JSON Lines for plugins, and an SVG map of the
// band. Frequencies in kHz, symbol rates in symbols per second.
#pragma once

#include <cstdio>

#include "transponders.h"

void write_dvbv5(const transponder_list &list, FILE *out);
void write_jsonl(const transponder_list &list, FILE *out);
void write_svg(const transponder_list &list, FILE *out);
