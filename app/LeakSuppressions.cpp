// For builds with LeakSanitizer: x265 keeps one allocation of its own until
// x265_cleanup(), which libavcodec never calls, so it is not the program's.
// The report of suppressions stays off: tests read the program's stderr.
extern "C" const char* __lsan_default_suppressions() { return "leak:x265_malloc\n"; }
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
