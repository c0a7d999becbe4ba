// LeakSanitizer's reading of dynamic thread-local storage breaks down in
// these tests once a hook plug-in has been loaded and a hook has thrown on a
// worker thread (the tracer faults on a stale slot and no leak check runs).
// Thread-local storage is left unscanned instead; what it holds is the
// loader's (the last dlerror text included) and GLib's own, never the engine's.
extern "C" const char* __lsan_default_options() { return "use_tls=0"; }

extern "C" const char* __lsan_default_suppressions() {
    return "leak:_dl_resize_dtv\n"
           "leak:add_to_global_resize\n"
           "leak:libglib-2.0.so\n"
           "leak:_dlerror_run\n";
}
