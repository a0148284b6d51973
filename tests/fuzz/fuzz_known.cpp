// The known-list reader over arbitrary files: it ends, reports each fault
// with a line within the file, and every entry it keeps has a frequency and
// a symbol rate. Compared with itself, the list is all unchanged.
#include <cstdint>
#include <cstdio>

#include "compare.h"
#include "known.h"

namespace {
transponder_list list, scan, none;
int lines;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  FILE *in = fmemopen(const_cast<uint8_t *>(data), size, "r");
  if (in == nullptr) return 0;
  list = {};
  lines = 1;
  for (size_t i = 0; i < size; ++i) lines += data[i] == '\n';
  int read = read_known(
      in, 0, list,
      [](void *, int line, const char *) {
        if (line < 1 || line > lines) __builtin_trap();
      },
      nullptr);
  fclose(in);
  if (read != list.count && read != -1) __builtin_trap();
  for (int i = 0; i < list.count; ++i)
    if (entry_khz(list.entries[i]) <= 0 || list.entries[i].sum_symbol_rate <= 0) __builtin_trap();
  scan = list;
  if (!compare_lists(scan, list, none, INT32_MIN, INT32_MAX)) return 0;  // full with carriers below 1 ksym/s
  for (int i = 0; i < scan.count; ++i) {
    const list_entry &t = scan.entries[i];
    if (t.status != STATUS_UNCHANGED && entry_ksym(t) > 0) __builtin_trap();
  }
  return 0;
}
