// Leaks LeakSanitizer should not count against the window programs: fontconfig
// keeps its configuration and caches until the process ends (Qt's font
// database does not release them), and libdbus keeps the session bus
// connection the X11 platform opens.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:libdbus-1.so\n";
}
