// skylist: merges blind-scan result lines ("OK ..." as skysweep prints them;
// several sweeps, in any order, from files or standard input) into one
// transponder list, written to standard output as a DVBv5 channel file,
// JSON Lines or an SVG map. Bad lines are reported on standard error.
// Exit status: 0; 1 when lines were skipped; 2 when no list was written.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <getopt.h>

#include "formats.h"

static transponder_list g_list;  // the run's one list, in fixed memory

struct output_format {
  const char *name;
  void (*write)(const transponder_list &, const list_source &, FILE *);
};
static const output_format kFormats[] = {
    {"dvbv5", write_dvbv5},  // 0, the default
    {"jsonl", write_jsonl},  // 1
    {"svg", write_svg},      // 2
};

static const option kOptions[] = {
    {"format", required_argument, nullptr, 'f'},
    {"title", required_argument, nullptr, 't'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

static void print_usage(FILE *out) {
  fputs("Usage: skylist [-f dvbv5|jsonl|svg] [-t TITLE] [FILE...]\n"
        "Merges blind-scan result lines from the FILEs (standard input without any,\n"
        "or for '-') into one transponder list on standard output.\n"
        "\n"
        "  -f, --format FORMAT  dvbv5: a DVBv5 channel file (default)\n"
        "                       jsonl: one JSON object per transponder\n"
        "                       svg:   a map of the band\n"
        "  -t, --title TITLE    the map's source in its title (default: the first FILE)\n"
        "  -h, --help           show this help and exit\n"
        "  -V, --version        show the version and exit\n"
        "\n"
        "Exit status: 0 when every line was read, 1 when lines were skipped,\n"
        "2 when no list was written.\n",
        out);
}

static int usage_error() {
  fputs("Try 'skylist --help' for more information.\n", stderr);
  return 2;
}

enum read_status { READ_OK, READ_FAILED };

static const char kByteOrderMark[] = "\xEF\xBB\xBF";

// Reads one stream line by line. A line longer than the buffer cannot be a
// result line: it counts as one bad line. Empty lines are passed over; a
// byte-order mark before a line (a file saved by an editor) is dropped.
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
    const char *text = strncmp(line, kByteOrderMark, 3) == 0 ? line + 3 : line;
    if (text[strspn(text, " \t\r")] == '\0') continue;
    hit h;
    line_fault fault;
    char why[128];
    if (in_long_line) {
      snprintf(why, sizeof why, "longer than %d characters", static_cast<int>(sizeof line - 1));
    } else if (!read_hit(text, h, &fault)) {
      describe_fault(fault, why, sizeof why);
    } else {
      if (add_hit(g_list, h)) continue;
      fprintf(stderr, "skylist: %s:%ld: more than %d transponders; no list written\n", name, number,
              kMaxTransponders);
      return READ_FAILED;
    }
    fprintf(stderr, "skylist: %s:%ld: %s, skipped\n", name, number, why);
    ++skipped;
  }
  if (ferror(in) == 0) return READ_OK;
  fprintf(stderr, "skylist: %s: %s\n", name, strerror(errno));
  return READ_FAILED;
}

static read_status read_file(const char *path, int &skipped) {
  if (strcmp(path, "-") == 0) return read_stream(stdin, "-", skipped);
  FILE *in = fopen(path, "r");
  if (in == nullptr) {
    fprintf(stderr, "skylist: %s: %s\n", path, strerror(errno));
    return READ_FAILED;
  }
  read_status status = read_stream(in, path, skipped);
  fclose(in);  // read only: nothing to lose on close
  return status;
}

// The file name without its folders.
static const char *base_name(const char *path) {
  const char *slash = strrchr(path, '/');
  return slash != nullptr && slash[1] != '\0' ? slash + 1 : path;
}

// The map's source and date: the title given, or the first file and how
// many more; the date of SOURCE_DATE_EPOCH when set (reproducible maps),
// else today's, in UTC.
static void describe_source(list_source &source, const char *title, int files, char *const *names) {
  if (title != nullptr)
    snprintf(source.name, sizeof source.name, "%s", title);
  else if (files == 0 || (files == 1 && strcmp(names[0], "-") == 0))
    snprintf(source.name, sizeof source.name, "standard input");
  else if (files == 1)
    snprintf(source.name, sizeof source.name, "%s", base_name(names[0]));
  else
    snprintf(source.name, sizeof source.name, "%s and %d more", base_name(names[0]), files - 1);
  const char *epoch = getenv("SOURCE_DATE_EPOCH");
  time_t when = epoch != nullptr && epoch[0] != '\0' ? static_cast<time_t>(strtoll(epoch, nullptr, 10)) : time(nullptr);
  tm utc = {};
  if (gmtime_r(&when, &utc) == nullptr || strftime(source.date, sizeof source.date, "%Y-%m-%d", &utc) == 0)
    source.date[0] = '\0';
}

int main(int argc, char **argv) {
  const output_format *format = &kFormats[0];
  const char *title = nullptr;
  for (int opt; (opt = getopt_long(argc, argv, "f:t:hV", kOptions, nullptr)) != -1;) {
    switch (opt) {
      case 'f':
        format = nullptr;
        for (const output_format &f : kFormats)
          if (strcmp(optarg, f.name) == 0) format = &f;
        if (format == nullptr) {
          fprintf(stderr, "skylist: unknown format '%s' (dvbv5, jsonl or svg)\n", optarg);
          return usage_error();
        }
        break;
      case 't': title = optarg; break;
      case 'h': print_usage(stdout); return 0;
      case 'V': puts("skylist " RECEIVER_VERSION); return 0;
      default: return usage_error();  // getopt has said what was wrong
    }
  }
  int skipped = 0;
  // Standard input only when no file is named, or as "-".
  if (optind == argc && read_stream(stdin, "-", skipped) != READ_OK) return 2;
  for (int i = optind; i < argc; ++i)
    if (read_file(argv[i], skipped) != READ_OK) return 2;

  list_source source;
  describe_source(source, title, argc - optind, argv + optind);
  format->write(g_list, source, stdout);
  if (fflush(stdout) != 0 || ferror(stdout) != 0) {
    fprintf(stderr, "skylist: cannot write the list: %s\n", strerror(errno));
    return 2;
  }
  return skipped > 0 ? 1 : 0;
}
