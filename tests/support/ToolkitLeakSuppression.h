#pragma once

// Include from exactly one source file of a test binary that runs the toolkit or the web
// engine.
//
// The toolkit and the engine keep caches for the life of the process; only the program's own
// allocations count as leaks.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libwebkit2gtk\n"
           "leak:libjavascriptcoregtk\n"
           "leak:libgtk-3\n"
           "leak:libgdk-3\n"
           "leak:libglib-2.0\n"
           "leak:libgobject-2.0\n"
           "leak:libgio-2.0\n"
           "leak:libfontconfig\n"
           "leak:libpango\n"
           "leak:libcairo\n"
           "leak:libharfbuzz\n"
           "leak:libX11\n"
           "leak:libdbus\n"
           "leak:libsoup\n"
           "leak:libatk\n"
           "leak:libatspi\n"
           "leak:libgdk_pixbuf\n"
           "leak:libEGL\n"
           "leak:libGLX\n"
           "leak:libepoxy\n";
}
