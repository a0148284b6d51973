// The SVG map of the list: the band its entries occupy across (a universal
// LNB's 10700 to 12750 MHz, C band's 3400 or 3000 to 4200 MHz, else the
// entries' own span), one lane per polarisation down. Each carrier is drawn
// in kHz, as wide as the band it occupies, with its full entry as a
// tooltip. Below its lane stands a label, the frequency in MHz (rounded)
// and the symbol rate in Msym/s; labels of crowded carriers are pushed
// apart and joined to their carrier by a leader line. A crowded band
// widens the page; only past the widest page are the narrowest carriers'
// labels left out, and their tooltips stay.
#include <cstdint>
#include <cstring>

#include "compare.h"
#include "formats.h"

// The bands a map spans, in kHz at the dish: the one that holds most of the
// entries is drawn. C band reaches down to 3000 MHz only where entries do.
struct band {
  int32_t low_khz, high_khz;
  int32_t switch_khz;  // a universal LNB's low and high band meet here; 0 for none
};
static const band kKuBand = {10700000, 12750000, 11700000};
static const band kCBand = {3400000, 4200000, 0};
static const band kExtendedCBand = {3000000, 4200000, 0};
// Grid steps in MHz: the finest that draws at most 25 lines.
static const int32_t kTickSteps[] = {1, 2, 5, 10, 20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 20000, 50000, 100000};
constexpr int kMostTicks = 25;

// Page geometry in pixels: the title and the frequency axis on top, then
// per lane the carriers' strip, the leader lines and the labels.
constexpr int kPlotLeft = 100, kPlotRightMargin = 24, kAxisY = 60, kLanesTop = 70;
constexpr int kStripHeight = 40, kLeaderHeight = 28, kLabelsHeight = 72, kLaneGap = 12;
constexpr int kLaneHeight = kStripHeight + kLeaderHeight + kLabelsHeight + kLaneGap;
constexpr int kLegendHeight = 36;
constexpr int kLabelFont = 10;
constexpr double kLabelPitch = 12;  // px between neighbouring labels: the font's line height
constexpr double kMaxShift = 48;    // a label further from its carrier asks for a wider page
static const int kPageWidths[] = {1600, 2400, 3200, 4800, 6400};

struct carrier_class {
  const char *label;
  const char *colour;
};
static const carrier_class kClasses[] = {
    {"DVB-S QPSK", "#4e79a7"},        // 0
    {"DVB-S2 QPSK", "#59a14f"},       // 1
    {"DVB-S2 8PSK", "#f28e2b"},       // 2
    {"DVB-S2 16APSK", "#b07aa1"},     // 3
    {"DVB-S2 32APSK", "#e15759"},     // 4
    {"other or unknown", "#9c9c9c"},  // 5
};
constexpr int kClassCount = sizeof kClasses / sizeof kClasses[0];

static int class_of(const list_entry &t) {
  uint8_t system = t.words[F_SYSTEM], modulation = t.words[F_MODULATION];
  if (system == 5 && modulation == 0) return 0;
  if (system != 6) return 5;
  switch (modulation) {
    case 0: return 1;
    case 9: return 2;
    case 10: return 3;
    case 11: return 4;
    default: return 5;
  }
}

// Occupied band in kHz: symbol rate times one plus the roll-off (0.35 when
// the scan did not know it).
static double band_khz(const list_entry &t) {
  static const int kPercent[] = {35, 20, 25, 35};
  int percent = t.words[F_ROLLOFF] < 4 ? kPercent[t.words[F_ROLLOFF]] : 35;
  return static_cast<double>(entry_symbol_rate(t)) / 100000.0 * (100 + percent);
}

static band g_band = kKuBand;  // the map's, chosen by choose_band

static bool within(const list_entry &t, const band &b) {
  return entry_khz(t) >= b.low_khz && entry_khz(t) <= b.high_khz;
}
static bool in_band(const list_entry &t) { return within(t, g_band); }

static int32_t tick_mhz(const band &b) {
  int32_t span = (b.high_khz - b.low_khz) / 1000;
  size_t i = 0;
  while (i + 1 < sizeof kTickSteps / sizeof kTickSteps[0] && span / kTickSteps[i] > kMostTicks) ++i;
  return kTickSteps[i];
}

// The entries' own span, carriers' skirts included, widened to whole grid
// steps: a band no table knows (Ka, an odd oscillator). Worked in double:
// rounded up, a frequency near the top of int32_t would overflow, and the
// receiver's build has no 64-bit division routine.
static band round_out(double low, double high) {
  band b = {static_cast<int32_t>(low), static_cast<int32_t>(high), 0};
  double step = tick_mhz(b) * 1000.0;
  low = static_cast<int32_t>(low / step) * step;
  high = (static_cast<int32_t>(high / step) + 1) * step;
  return {static_cast<int32_t>(low), static_cast<int32_t>(high < INT32_MAX ? high : INT32_MAX), 0};
}

static band own_band(const transponder_list &list) {
  double low = INT32_MAX, high = 0;
  for (int i = 0; i < list.count; ++i) {
    double half = band_khz(list.entries[i]) / 2, khz = entry_khz(list.entries[i]);
    if (khz - half < low) low = khz - half;
    if (khz + half > high) high = khz + half;
  }
  band b = round_out(low > 0 ? low : 0, high);
  // Widened by a step, the grid may call for a coarser one.
  return round_out(b.low_khz, b.high_khz - 1);
}

// Ku when most entries lie there (and for an empty list), C band when most
// lie there, else the entries' own span.
static band choose_band(const transponder_list &list) {
  int ku = 0, c = 0, low_c = 0;
  for (int i = 0; i < list.count; ++i) {
    const list_entry &t = list.entries[i];
    ku += within(t, kKuBand) ? 1 : 0;
    c += within(t, kExtendedCBand) ? 1 : 0;
    low_c += within(t, kExtendedCBand) && !within(t, kCBand) ? 1 : 0;
  }
  if (list.count == 0 || (ku > 0 && ku >= c)) return kKuBand;
  if (c > 0) return low_c > 0 ? kExtendedCBand : kCBand;
  return own_band(list);
}

// The page: its width, and which lanes it draws (unknown polarisation only
// when the list has some).
struct page {
  int width;
  int lanes;
  double plot_width() const { return width - kPlotLeft - kPlotRightMargin; }
  double pixel(double khz) const {
    return kPlotLeft + (khz - g_band.low_khz) * plot_width() / (g_band.high_khz - g_band.low_khz);
  }
  int lane_top(int lane) const { return kLanesTop + lane * kLaneHeight; }
};

// ---- label placement -----------------------------------------------------------

// Per entry of the list: whether it gets a label, and where (px).
static bool g_labelled[kMaxTransponders];
static double g_label_x[kMaxTransponders];
// One lane's labels while they are placed.
static int g_order[kMaxTransponders];
static double g_want[kMaxTransponders];
struct cluster {
  int first, count;
  double sum;  // of each member's wanted position less its offset in the cluster
};
static cluster g_clusters[kMaxTransponders];

// The entries of one lane: the list keeps them together, by frequency.
static void lane_range(const transponder_list &list, int lane, int *first, int *end) {
  *first = 0;
  while (*first < list.count && list.entries[*first].lane < lane) ++*first;
  *end = *first;
  while (*end < list.count && list.entries[*end].lane == lane) ++*end;
}

// Where a cluster of labels starts: centred on what its members want,
// within [low, high].
static double cluster_start(const cluster &c, double low, double high) {
  double start = c.sum / c.count;
  double last = high - (c.count - 1) * kLabelPitch;
  if (start > last) start = last;
  return start < low ? low : start;
}

// Places n labels that want the ascending positions g_want[0..n) at least
// kLabelPitch apart within [low, high], each as near its want as its
// neighbours allow: a run of crowded labels is centred on its wants.
// Returns the largest distance of a label from its want.
static double spread_labels(int n, double low, double high) {
  int clusters = 0;
  for (int i = 0; i < n; ++i) {
    g_clusters[clusters++] = {i, 1, g_want[i]};
    while (clusters > 1) {
      cluster &prev = g_clusters[clusters - 2];
      const cluster &last = g_clusters[clusters - 1];
      if (cluster_start(prev, low, high) + prev.count * kLabelPitch <= cluster_start(last, low, high)) break;
      prev.sum += last.sum - prev.count * kLabelPitch * last.count;
      prev.count += last.count;
      --clusters;
    }
  }
  double worst = 0;
  for (int c = 0; c < clusters; ++c) {
    double start = cluster_start(g_clusters[c], low, high);
    for (int k = 0; k < g_clusters[c].count; ++k) {
      int i = g_clusters[c].first + k;
      g_label_x[g_order[i]] = start + k * kLabelPitch;
      double shift = g_label_x[g_order[i]] - g_want[i];
      if (shift < 0) shift = -shift;
      if (shift > worst) worst = shift;
    }
  }
  return worst;
}

// Labels the lane's carriers in the band on a page of this width: all of
// them where they fit, else all but the narrowest. Returns the largest
// shift of a label and counts the carriers left without one.
static double place_lane(const transponder_list &list, const page &p, int lane, int *left_out) {
  int first = 0, end = 0;
  lane_range(list, lane, &first, &end);
  int n = 0;
  for (int i = first; i < end; ++i) {
    g_labelled[i] = in_band(list.entries[i]);
    n += g_labelled[i] ? 1 : 0;
  }
  int room = static_cast<int>(p.plot_width() / kLabelPitch);
  for (; n > room; --n) {
    int narrowest = -1;
    for (int i = first; i < end; ++i) {
      if (!g_labelled[i]) continue;
      if (narrowest < 0 || entry_ksym(list.entries[i]) <= entry_ksym(list.entries[narrowest]))
        narrowest = i;
    }
    if (narrowest < 0) break;  // n counts labelled entries: there is one
    g_labelled[narrowest] = false;
    ++*left_out;
  }
  n = 0;
  for (int i = first; i < end; ++i) {
    if (!g_labelled[i]) continue;
    g_order[n] = i;
    g_want[n++] = p.pixel(entry_khz(list.entries[i]));
  }
  double half = kLabelPitch / 2;
  return spread_labels(n, kPlotLeft + half, p.width - kPlotRightMargin - half);
}

// The narrowest page on which no label strays far from its carrier (or the
// widest), with every lane's labels placed on it.
static page lay_out(const transponder_list &list, int *left_out) {
  page p = {kPageWidths[0], 2};
  for (int i = 0; i < list.count; ++i)
    if (list.entries[i].lane == kUnknownLane && in_band(list.entries[i])) p.lanes = 3;
  for (int width : kPageWidths) {
    p.width = width;
    *left_out = 0;
    double worst = 0;
    for (int lane = 0; lane < p.lanes; ++lane) {
      double shift = place_lane(list, p, lane, left_out);
      if (shift > worst) worst = shift;
    }
    if (worst <= kMaxShift && *left_out == 0) break;
  }
  return p;
}

// ---- drawing -----------------------------------------------------------------------

// Lines at every grid step and the band switch, down through the axis and
// the lanes' strips but not through their labels.
static void draw_grid_line(FILE *out, const page &p, double x, const char *style) {
  fprintf(out, "<path d=\"M%.1f %dV%d", x, kAxisY + 4, kLanesTop);
  for (int lane = 0; lane < p.lanes; ++lane) fprintf(out, "M%.1f %dv%d", x, p.lane_top(lane), kStripHeight);
  fprintf(out, "\" %s/>\n", style);
}

static void draw_axis(FILE *out, const page &p) {
  int32_t step = tick_mhz(g_band);
  for (int32_t mhz = (g_band.low_khz / 1000 + step - 1) / step * step; mhz <= g_band.high_khz / 1000; mhz += step) {
    double x = p.pixel(mhz * 1000.0);
    draw_grid_line(out, p, x, "stroke=\"#d4d4d4\"");
    fprintf(out, "<text x=\"%.1f\" y=\"%d\" text-anchor=\"middle\" font-size=\"11\">%d</text>\n", x, kAxisY,
            static_cast<int>(mhz));
  }
  fprintf(out, "<text x=\"%d\" y=\"%d\" text-anchor=\"end\" font-size=\"11\">MHz</text>\n", kPlotLeft - 24, kAxisY);
  if (g_band.switch_khz == 0) return;
  double x = p.pixel(g_band.switch_khz);
  draw_grid_line(out, p, x, "stroke=\"#444\" stroke-dasharray=\"6 4\"");
  fprintf(out,
          "<text x=\"%.1f\" y=\"%d\" text-anchor=\"end\" font-size=\"12\">low band</text>\n"
          "<text x=\"%.1f\" y=\"%d\" font-size=\"12\">high band</text>\n",
          x - 6, kAxisY - 17, x + 6, kAxisY - 17);
}

static void draw_lane(FILE *out, const page &p, int lane) {
  static const char *const kLaneNames[] = {"horizontal", "vertical", "unknown"};
  static_assert(sizeof kLaneNames / sizeof kLaneNames[0] == kLanes);
  if (lane < 0 || lane >= kLanes) return;
  int y = p.lane_top(lane);
  fprintf(out,
          "<rect x=\"%d\" y=\"%d\" width=\"%.0f\" height=\"%d\" fill=\"%s\"/>\n"
          "<text x=\"%d\" y=\"%d\" text-anchor=\"end\" font-size=\"14\">%s</text>\n",
          kPlotLeft, y, p.plot_width(), kStripHeight, lane % 2 == 0 ? "#f2f2f2" : "#e8e8e8", kPlotLeft - 8,
          y + kStripHeight / 2 + 5, kLaneNames[lane]);
}

// How a compared entry is drawn, to be read at a glance: a new carrier gets
// a thick red outline and a red marker above it, a changed one a dark
// outline and an open marker, a neighbour's is hatched grey, a missing one
// a dashed ghost. Fills go in the strip's stretched units; outlines,
// hatching and markers over it in page pixels, so a narrow carrier's
// outline stays a line and its marker a triangle.
struct status_style {
  const char *label;
  const char *paint;    // the fill's attributes after its colour
  bool own_fill;        // filled with the class colour
  const char *outline;  // over the strip: fill and stroke attributes
  const char *marker;   // a triangle above the strip, or nullptr
};
// A white edge sets a carrier apart from a wide one it stands in.
static const char kEdge[] = "fill=\"none\" stroke=\"#fff\" stroke-width=\"0.8\"";
static const status_style kStatusStyles[] = {
    {"", "fill-opacity=\"0.8\"", true, kEdge, nullptr},           // none
    {"unchanged", "fill-opacity=\"0.8\"", true, kEdge, nullptr},  // unchanged
    {"changed", "fill-opacity=\"0.8\"", true, "fill=\"none\" stroke=\"#222\" stroke-width=\"2\"",
     "fill=\"#fff\" stroke=\"#222\" stroke-width=\"1.5\""},
    {"new", "fill-opacity=\"1\"", true, "fill=\"none\" stroke=\"#d00000\" stroke-width=\"2.5\"", "fill=\"#d00000\""},
    {"neighbour", "fill=\"#9c9c9c\" fill-opacity=\"0.2\"", false, "fill=\"url(#hatch)\" stroke=\"#8c8c8c\"", nullptr},
    {"missing", "fill=\"none\"", false, "fill=\"none\" stroke=\"#555\" stroke-width=\"1.2\" stroke-dasharray=\"4 3\"",
     nullptr},
};
static_assert(sizeof kStatusStyles / sizeof kStatusStyles[0] == kStatuses);

static const status_style &style_of(const list_entry &t) { return kStatusStyles[t.status < kStatuses ? t.status : 0]; }

// Neighbours' hatching, in page pixels: grey stripes across the strip's
// own grey, so a neighbour's carrier never reads as empty band.
static const char kHatch[] =
    "<defs><pattern id=\"hatch\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\" "
    "patternTransform=\"rotate(45)\"><path d=\"M0 0v6\" stroke=\"#8c8c8c\" stroke-width=\"2.5\"/>"
    "</pattern></defs>\n";

// A carrier's outline (a white edge, or its status) and marker, in page
// pixels over its strip. They let the pointer through to the carrier and its tooltip.
static void draw_outline(FILE *out, const page &p, const list_entry &t) {
  const status_style &style = style_of(t);
  double band = band_khz(t), left = p.pixel(entry_khz(t) - band / 2), right = p.pixel(entry_khz(t) + band / 2);
  if (right - left < 3) left -= 1.5, right += 1.5;
  int top = p.lane_top(t.lane);
  fprintf(out, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" pointer-events=\"none\" %s/>\n", left,
          top + kStripHeight * 0.1, right - left, kStripHeight * 0.8, style.outline);
  if (style.marker != nullptr)
    fprintf(out, "<path d=\"M%.1f %dh10l-5 8z\" %s/>\n", p.pixel(entry_khz(t)) - 5, top - 9, style.marker);
}

// A carrier in the strip's own units, kHz across and one unit down.
static void draw_carrier(FILE *out, const list_entry &t) {
  double band = band_khz(t);
  const status_style &style = style_of(t);
  fprintf(out, "<rect x=\"%.0f\" y=\"0.1\" width=\"%.0f\" height=\"0.8\" ", entry_khz(t) - band / 2,
          band >= 1 ? band : 1);
  if (style.own_fill) fprintf(out, "fill=\"%s\" ", kClasses[class_of(t)].colour);
  fprintf(out, "%s><title>%d kHz %s %lld sym/s", style.paint,
          static_cast<int>(entry_khz(t)), lane_word(t.lane), static_cast<long long>(entry_symbol_rate(t)));
  for (int f = 0; f < kWordFields; ++f) fprintf(out, " %s", hit_word(f, t.words[f]));
  if (t.status != STATUS_NONE) fprintf(out, ", %s", style.label);
  fprintf(out, ", %u hits</title></rect>\n", t.status == STATUS_MISSING ? 0u : static_cast<unsigned>(t.hits));
}

// The lane's carriers in the band, widest first, so that a narrow one is
// drawn over the skirt of a wide one beside it.
static int by_width(const transponder_list &list, int first, int end) {
  int n = 0;
  for (int i = first; i < end; ++i) {
    if (!in_band(list.entries[i])) continue;
    int k = n++;
    for (; k > 0 && band_khz(list.entries[g_order[k - 1]]) < band_khz(list.entries[i]); --k) g_order[k] = g_order[k - 1];
    g_order[k] = i;
  }
  return n;
}

// The symbol rate in Msym/s with no trailing zeros: "27.5", "2.222", "45".
static void format_msym(int32_t ksym, char *text, size_t size) {
  int n = snprintf(text, size, "%d.%03d", static_cast<int>(ksym / 1000), static_cast<int>(ksym % 1000));
  while (n > 0 && text[n - 1] == '0') text[--n] = '\0';
  if (n > 0 && text[n - 1] == '.') text[--n] = '\0';
}

// A label reads upwards, its glyphs centred on x: the baseline sits a
// third of the font size to the right.
static void draw_label(FILE *out, const page &p, const list_entry &t, double x) {
  int strip_bottom = p.lane_top(t.lane) + kStripHeight;
  char msym[24];
  format_msym(entry_ksym(t), msym, sizeof msym);
  int mhz = static_cast<int>(entry_mhz(t));
  fprintf(out,
          "<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" stroke=\"#777\" stroke-width=\"0.6\"/>"
          "<text transform=\"translate(%.1f %d) rotate(-90)\" text-anchor=\"end\" font-size=\"%d\">%d %s</text>\n",
          p.pixel(entry_khz(t)), strip_bottom, x, strip_bottom + kLeaderHeight - 3,
          x + kLabelFont / 3.0, strip_bottom + kLeaderHeight, kLabelFont, mhz, msym);
}

// Entries in the band by status (none counted as STATUS_NONE).
static void count_statuses(const transponder_list &list, int counts[kStatuses]) {
  for (int i = 0; i < list.count; ++i)
    if (in_band(list.entries[i])) counts[list.entries[i].status < kStatuses ? list.entries[i].status : 0]++;
}

static void draw_legend(FILE *out, const transponder_list &list, int y) {
  bool present[kClassCount] = {};
  for (int i = 0; i < list.count; ++i)
    if (in_band(list.entries[i]) && style_of(list.entries[i]).own_fill)
      present[class_of(list.entries[i])] = true;
  int x = kPlotLeft;
  for (int c = 0; c < kClassCount; ++c) {
    if (!present[c]) continue;
    fprintf(out,
            "<rect x=\"%d\" y=\"%d\" width=\"14\" height=\"14\" fill=\"%s\"/>"
            "<text x=\"%d\" y=\"%d\" font-size=\"13\">%s</text>\n",
            x, y, kClasses[c].colour, x + 20, y + 12, kClasses[c].label);
    x += 180;
  }
  int counts[kStatuses] = {};
  count_statuses(list, counts);
  for (int s = STATUS_CHANGED; s < kStatuses; ++s) {
    if (counts[s] == 0) continue;
    const status_style &style = kStatusStyles[s];
    fprintf(out, "<rect x=\"%d\" y=\"%d\" width=\"28\" height=\"14\" %s %s/>", x, y,
            style.own_fill ? "fill=\"#4e79a7\"" : "", style.paint);
    fprintf(out, "<rect x=\"%d\" y=\"%d\" width=\"28\" height=\"14\" %s/>", x, y, style.outline);
    if (style.marker != nullptr) fprintf(out, "<path d=\"M%d %dh10l-5 8z\" %s/>", x + 9, y - 9, style.marker);
    fprintf(out, "<text x=\"%d\" y=\"%d\" font-size=\"13\">%s</text>\n", x + 34, y + 12, style.label);
    x += 130;
  }
}

// Length of the UTF-8 sequence at s, or 0 when it is not a valid one.
static int utf8_length(const unsigned char *s) {
  auto cont = [](unsigned char c, unsigned char low, unsigned char high) { return c >= low && c <= high; };
  if (s[0] < 0x80) return 1;
  if (cont(s[0], 0xC2, 0xDF)) return cont(s[1], 0x80, 0xBF) ? 2 : 0;
  if (cont(s[0], 0xE0, 0xEF)) {
    unsigned char low = s[0] == 0xE0 ? 0xA0 : 0x80, high = s[0] == 0xED ? 0x9F : 0xBF;  // no overlong, no surrogate
    return cont(s[1], low, high) && cont(s[2], 0x80, 0xBF) ? 3 : 0;
  }
  if (cont(s[0], 0xF0, 0xF4)) {
    unsigned char low = s[0] == 0xF0 ? 0x90 : 0x80, high = s[0] == 0xF4 ? 0x8F : 0xBF;
    return cont(s[1], low, high) && cont(s[2], 0x80, 0xBF) && cont(s[3], 0x80, 0xBF) ? 4 : 0;
  }
  return 0;
}

// Text from outside (a title, a file name) as XML character data: markup
// characters escaped, and control characters and bytes that are not UTF-8,
// which no XML reader takes, written as '?'.
static void write_xml_text(FILE *out, const char *text) {
  const auto *s = reinterpret_cast<const unsigned char *>(text);
  while (*s != '\0') {
    int length = utf8_length(s);
    if (*s == '&') fputs("&amp;", out);
    else if (*s == '<') fputs("&lt;", out);
    else if (*s == '>') fputs("&gt;", out);
    else if (length == 0 || *s < 0x20) fputc('?', out);
    else fprintf(out, "%.*s", length, reinterpret_cast<const char *>(s));
    s += length > 0 ? length : 1;
  }
}

void write_svg(const transponder_list &list, const list_source &source, FILE *out) {
  g_band = choose_band(list);
  int left_out = 0;
  page p = lay_out(list, &left_out);
  int counts[kStatuses] = {}, drawn = 0;
  count_statuses(list, counts);
  // cppcheck-suppress useStlAlgorithm ; six numbers, and no library code in what ships
  for (int n : counts) drawn += n;
  int height = p.lane_top(p.lanes) + kLegendHeight;
  fprintf(out,
          "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" "
          "font-family=\"sans-serif\">\n<rect width=\"%d\" height=\"%d\" fill=\"#fff\"/>\n"
          "<text x=\"%d\" y=\"22\" font-size=\"15\">",
          p.width, height, p.width, height, p.width, height, kPlotLeft);
  write_xml_text(out, source.name);
  fprintf(out, "%s%s: %d transponder%s", source.date[0] ? ", " : "", source.date, drawn, drawn == 1 ? "" : "s");
  if (drawn < list.count)
    fprintf(out, "; %d more outside %d-%d MHz, not drawn", list.count - drawn,
            static_cast<int>(g_band.low_khz / 1000), static_cast<int>(g_band.high_khz / 1000));
  if (left_out > 0) fprintf(out, "; %d narrow carriers unlabelled", left_out);
  if (source.compared) {
    for (int s = STATUS_UNCHANGED; s < kStatuses; ++s)
      fprintf(out, "%s %d %s", s == STATUS_UNCHANGED ? ";" : ",", counts[s], kStatusStyles[s].label);
  }
  fputs("</text>\n", out);
  if (source.compared) fputs(kHatch, out);
  for (int lane = 0; lane < p.lanes; ++lane) draw_lane(out, p, lane);
  draw_axis(out, p);
  for (int lane = 0; lane < p.lanes; ++lane) {
    int first = 0, end = 0;
    lane_range(list, lane, &first, &end);
    fprintf(out,
            "<svg x=\"%d\" y=\"%d\" width=\"%.0f\" height=\"%d\" viewBox=\"%d 0 %d 1\" preserveAspectRatio=\"none\">\n",
            kPlotLeft, p.lane_top(lane), p.plot_width(), kStripHeight, static_cast<int>(g_band.low_khz),
            static_cast<int>(g_band.high_khz - g_band.low_khz));
    int n = by_width(list, first, end);
    for (int k = 0; k < n; ++k) draw_carrier(out, list.entries[g_order[k]]);
    fputs("</svg>\n", out);
    for (int k = 0; k < n; ++k) draw_outline(out, p, list.entries[g_order[k]]);
    for (int i = first; i < end; ++i)
      if (g_labelled[i]) draw_label(out, p, list.entries[i], g_label_x[i]);
  }
  draw_legend(out, list, p.lane_top(p.lanes));
  fputs("</svg>\n", out);
}
