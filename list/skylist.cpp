// skylist: merges blind-scan result lines ("OK ..." as skysweep prints them;
// several sweeps, in any order, from files or standard input) into one
// transponder list, written to standard output as a DVBv5 channel file,
// JSON Lines or an SVG map. With known lists (the satellite's own, and its
// neighbours'), every entry gets a status (compare.h) and the known carriers
// not found are added as missing. Bad lines are reported on standard error.
// Exit status: 0; 1 when lines were skipped or a known list was empty; 2
// when no list was written (a closed pipe ends it by SIGPIPE, as any filter).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <getopt.h>

#include "compare.h"
#include "formats.h"
#include "known.h"

static transponder_list g_list;        // the run's one list, in fixed memory
static transponder_list g_own;         // the satellite's known lists
static transponder_list g_neighbours;  // its neighbours' lists
constexpr int kMaxNeighbourFiles = 32;

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
    {"known", required_argument, nullptr, 'k'},
    {"neighbour", required_argument, nullptr, 'n'},
    {"only", required_argument, nullptr, 'o'},
    {"range", required_argument, nullptr, 'r'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

static void print_usage(FILE *out) {
  fputs("Usage: skylist [-f dvbv5|jsonl|svg] [-t TITLE] [-k KNOWN]... [-n NEIGHBOUR]...\n"
        "               [-o STATUSES] [-r LOW-HIGH] [FILE...]\n"
        "Merges blind-scan result lines from the FILEs (standard input without any,\n"
        "or for '-') into one transponder list on standard output.\n"
        "\n"
        "  -f, --format FORMAT  dvbv5: a DVBv5 channel file (default)\n"
        "                       jsonl: one JSON object per transponder\n"
        "                       svg:   a map of the band\n"
        "  -t, --title TITLE    the map's source in its title (default: the first FILE)\n"
        "  -k, --known FILE     a DVBv5 list of the satellite: each entry becomes\n"
        "                       unchanged, changed or new, and what was not found missing\n"
        "  -n, --neighbour FILE a DVBv5 list of a neighbouring satellite: entries that\n"
        "                       match it and no own carrier become neighbour\n"
        "  -o, --only STATUSES  write only these: unchanged,changed,new,neighbour,missing\n"
        "  -r, --range LOW-HIGH the band scanned, MHz, for missing (default: 10700-12750)\n"
        "  -h, --help           show this help and exit\n"
        "  -V, --version        show the version and exit\n"
        "\n"
        "Exit status: 0 when every line was read, 1 when lines were skipped or a\n"
        "known list was empty, 2 when no list was written.\n",
        out);
}

static int usage_error() {
  fputs("Try 'skylist --help' for more information.\n", stderr);
  return 2;
}

enum read_status { READ_OK, READ_FAILED };


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
    const char *text = has_byte_order_mark(line) ? line + 3 : line;
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
  const char *slash = nullptr;
  for (const char *c = path; *c != '\0'; ++c)
    if (*c == '/') slash = c;
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

struct known_report {
  const char *name;
  int *skipped;
};

static void report_known(void *context, int line, const char *reason) {
  auto &r = *static_cast<known_report *>(context);
  fprintf(stderr, "skylist: %s:%d: %s, skipped\n", r.name, line, reason);
  ++*r.skipped;
}

// One known list into `list`, its entries marked with `source`.
static read_status read_known_file(const char *path, uint8_t source, transponder_list &list, int &skipped) {
  FILE *in = fopen(path, "r");
  if (in == nullptr) {
    fprintf(stderr, "skylist: %s: %s\n", path, strerror(errno));
    return READ_FAILED;
  }
  known_report report = {path, &skipped};
  int read = read_known(in, source, list, report_known, &report);
  bool failed = ferror(in) != 0;
  fclose(in);
  if (failed) fprintf(stderr, "skylist: %s: %s\n", path, strerror(errno));
  if (read < 0) fprintf(stderr, "skylist: %s: more than %d known carriers\n", path, kMaxTransponders);
  if (failed || read < 0) return READ_FAILED;
  // An empty list would call every entry new: wrong path, wrong format.
  if (read == 0) {
    fprintf(stderr, "skylist: %s: no transponders read\n", path);
    ++skipped;
  }
  return READ_OK;
}

// "new,changed" as a set of statuses; 0 for a word that is none.
static unsigned read_statuses(const char *text) {
  unsigned mask = 0;
  char copy[128];
  snprintf(copy, sizeof copy, "%s", text);
  for (char *word = strtok(copy, ","); word != nullptr; word = strtok(nullptr, ",")) {
    unsigned bit = 0;
    for (uint8_t s = STATUS_UNCHANGED; s < kStatuses; ++s)
      if (strcmp(word, status_word(s)) == 0) bit = 1u << s;
    if (bit == 0) return 0;
    mask |= bit;
  }
  return mask;
}

// Keeps the entries whose status is in `mask`.
static void keep_only(transponder_list &list, unsigned mask) {
  int kept = 0;
  for (int i = 0; i < list.count; ++i)
    if ((mask >> list.entries[i].status & 1u) != 0) list.entries[kept++] = list.entries[i];
  list.count = kept;
}

int main(int argc, char **argv) {
  const output_format *format = &kFormats[0];
  const char *title = nullptr;
  const char *known[kMaxNeighbourFiles], *neighbours[kMaxNeighbourFiles];
  int known_count = 0, neighbour_count = 0;
  unsigned only = 0;
  int32_t low_khz = 10700000, high_khz = 12750000;
  // getopt names the program by argv[0], a path when run as one.
  static char name[] = "skylist";
  argv[0] = name;
  for (int opt; (opt = getopt_long(argc, argv, "f:t:k:n:o:r:hV", kOptions, nullptr)) != -1;) {
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
      case 'k':
      case 'n':
        if ((opt == 'k' ? known_count : neighbour_count) >= kMaxNeighbourFiles) {
          fprintf(stderr, "skylist: more than %d %s lists\n", kMaxNeighbourFiles, opt == 'k' ? "known" : "neighbour");
          return usage_error();
        }
        (opt == 'k' ? known[known_count++] : neighbours[neighbour_count++]) = optarg;
        break;
      case 'o':
        only = read_statuses(optarg);
        if (only == 0) {
          fprintf(stderr, "skylist: statuses '%s' not understood (unchanged,changed,new,neighbour,missing)\n",
                  optarg);
          return usage_error();
        }
        break;
      case 'r': {
        unsigned low = 0, high = 0;
        char end = 0;
        if (sscanf(optarg, "%u-%u%c", &low, &high, &end) != 2 || low >= high || high > 2000000) {  // NOLINT(cert-err34-c): bounds checked
          fprintf(stderr, "skylist: range '%s' is not LOW-HIGH in MHz\n", optarg);
          return usage_error();
        }
        low_khz = static_cast<int32_t>(low * 1000);
        high_khz = static_cast<int32_t>(high * 1000);
        break;
      }
      case 'h': print_usage(stdout); return 0;
      case 'V': fputs("skylist " RECEIVER_VERSION "\n", stdout); return 0;
      default: return usage_error();  // getopt has said what was wrong
    }
  }
  if (only != 0 && known_count + neighbour_count == 0) {
    fputs("skylist: --only needs --known or --neighbour lists to compare with\n", stderr);
    return usage_error();
  }
  int skipped = 0;
  // Standard input only when no file is named, or as "-".
  if (optind == argc && read_stream(stdin, "-", skipped) != READ_OK) return 2;
  for (int i = optind; i < argc; ++i)
    if (read_file(argv[i], skipped) != READ_OK) return 2;
  for (int i = 0; i < known_count; ++i)
    if (read_known_file(known[i], static_cast<uint8_t>(i), g_own, skipped) != READ_OK) return 2;
  for (int i = 0; i < neighbour_count; ++i)
    if (read_known_file(neighbours[i], static_cast<uint8_t>(i), g_neighbours, skipped) != READ_OK) return 2;
  if (known_count + neighbour_count > 0 && !compare_lists(g_list, g_own, g_neighbours, low_khz, high_khz)) {
    fprintf(stderr, "skylist: more than %d transponders with the missing ones; no list written\n", kMaxTransponders);
    return 2;
  }
  if (only != 0) keep_only(g_list, only);

  list_source source = {};
  describe_source(source, title, argc - optind, argv + optind);
  for (int i = 0; i < neighbour_count; ++i) source.neighbours[i] = base_name(neighbours[i]);
  source.compared = known_count + neighbour_count > 0;
  format->write(g_list, source, stdout);
  if (fflush(stdout) != 0 || ferror(stdout) != 0) {
    fprintf(stderr, "skylist: cannot write the list: %s\n", strerror(errno));
    return 2;
  }
  return skipped > 0 ? 1 : 0;
}
