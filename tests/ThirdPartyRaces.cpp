// Compiled into every test binary. The HTTP transport hands its work to a GLib main context and
// its TLS handshakes to GLib's worker threads, through GLib's own locks and its own cache of
// freed blocks. The race checker sees neither (they are not the system's), so it would report
// what those libraries do to their objects on either side of a handover. What the libraries
// do among themselves is left to them; our own code is checked as everywhere else.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libglib-2.0.so.0\n"
           "called_from_lib:libgobject-2.0.so.0\n"
           "called_from_lib:libgio-2.0.so.0\n"
           "called_from_lib:libsoup-3.0.so.0\n"
           // Loaded and unloaded again as GLib needs them: named by the stack, not the library.
           "race:libgnutls.so.30\n"
           "race:libgiognutls.so\n"
           // Handshakes unlock on the worker a lock taken before the handover.
           "mutex:libgiognutls.so\n"
           "mutex:libgio-2.0.so.0\n";
}
