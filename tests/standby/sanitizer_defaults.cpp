// Linked into wakenap in sanitizer builds only. The sandbox starts programs
// with a clean environment, and its stand-in /proc has no /proc/<pid>/task
// for LeakSanitizer to stop threads with; the program allocates nothing, so
// leak checking is switched off here.
extern "C" __attribute__((visibility("default"))) const char *__asan_default_options() { return "detect_leaks=0:abort_on_error=1"; }
