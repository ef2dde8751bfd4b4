// The shared library's own source file. Everything in it comes from the
// zusms_core archive; its load-time entry point on Windows (DllMain) is in
// the platform layer, store/PlatformWindows.cpp.
