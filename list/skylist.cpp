// skylist: merges blind-scan result lines ("OK ..." as skysweep prints them;
// several sweeps, in any order, from files or standard input) into one
// transponder list, written to standard output as a DVBv5 channel file,
// JSON Lines or an SVG map. Bad lines are reported on standard error.
// Exit status: 0; 1 when lines were skipped; 2 when no list was written.
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "formats.h"

static transponder_list g_list;  // the run's one list, in fixed memory

struct output_format {
  const char *name;
  void (*write)(const transponder_list &, FILE *);
};
static const output_format kFormats[] = {
    {"dvbv5", write_dvbv5},  // 0, the default
    {"jsonl", write_jsonl},  // 1
    {"svg", write_svg},      // 2
};

static void print_usage() {
  fputs("usage: skylist [-f dvbv5|jsonl|svg] [FILE...]\n"
        "Merges blind-scan result lines (standard input without FILE) into one\n"
        "transponder list on standard output.\n",
        stderr);
}

enum read_status { READ_OK, READ_FAILED };

// Reads one stream line by line. A line longer than the buffer cannot be a
// result line: it counts as one bad line. Empty lines are passed over.
static read_status read_stream(FILE *in, const char *name, int &skipped) {
  char line[256];
  long number = 0;
  bool in_long_line = false;
  while (fgets(line, sizeof line, in) != nullptr) {
    size_t length = strlen(line);
    bool whole = length > 0 && line[length - 1] == '\n';
    if (in_long_line) {
      in_long_line = !whole;
      continue;
    }
    ++number;
    if (whole) line[--length] = '\0';
    in_long_line = !whole && length == sizeof line - 1;
    if (length == 0) continue;
    hit h;
    if (in_long_line || !read_hit(line, h)) {
      fprintf(stderr, "skylist: %s:%ld: not a result line, skipped\n", name, number);
      ++skipped;
      continue;
    }
    if (!add_hit(g_list, h)) {
      fprintf(stderr, "skylist: %s:%ld: more than %d transponders; no list written\n", name, number,
              kMaxTransponders);
      return READ_FAILED;
    }
  }
  if (ferror(in) == 0) return READ_OK;
  fprintf(stderr, "skylist: %s: read error\n", name);
  return READ_FAILED;
}

static read_status read_file(const char *path, int &skipped) {
  if (strcmp(path, "-") == 0) return read_stream(stdin, "-", skipped);
  FILE *in = fopen(path, "r");
  if (in == nullptr) {
    fprintf(stderr, "skylist: %s: cannot open\n", path);
    return READ_FAILED;
  }
  read_status status = read_stream(in, path, skipped);
  fclose(in);  // read only: nothing to lose on close
  return status;
}

int main(int argc, char **argv) {
  const output_format *format = &kFormats[0];
  for (int opt; (opt = getopt(argc, argv, "f:")) != -1;) {
    const output_format *chosen = nullptr;
    for (const output_format &f : kFormats)
      if (opt == 'f' && strcmp(optarg, f.name) == 0) chosen = &f;
    if (chosen == nullptr) {
      print_usage();
      return 2;
    }
    format = chosen;
  }
  int skipped = 0;
  if (optind == argc && read_stream(stdin, "-", skipped) != READ_OK) return 2;
  for (int i = optind; i < argc; ++i)
    if (read_file(argv[i], skipped) != READ_OK) return 2;

  format->write(g_list, stdout);
  if (fflush(stdout) != 0 || ferror(stdout) != 0) {
    fputs("skylist: cannot write the list\n", stderr);
    return 2;
  }
  return skipped > 0 ? 1 : 0;
}
