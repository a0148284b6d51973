// The transponder list written out: a DVBv5 channel file (as the channel
// tables of DVB tools are), JSON Lines for plugins, and an SVG map of the
// band. Frequencies in kHz, symbol rates in symbols per second.
#pragma once

#include <cstdio>

#include "transponders.h"

// Where the list came from, for the map's title.
struct list_source {
  char name[128];  // a title given, or the scan's file name
  char date[16];   // YYYY-MM-DD, or empty
  bool compared;   // entries carry statuses against known lists
  const char *neighbours[32];  // a neighbour entry's source, by its number
};

void write_dvbv5(const transponder_list &list, const list_source &source, FILE *out);
void write_jsonl(const transponder_list &list, const list_source &source, FILE *out);
void write_svg(const transponder_list &list, const list_source &source, FILE *out);
