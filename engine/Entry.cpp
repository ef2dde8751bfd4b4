// The library's load-time entry point. It has nothing to do: the connection
// is opened by the first store that opens, not when the library loads.
#if defined(_WIN32)
#include <windows.h>
BOOL APIENTRY DllMain(HMODULE, DWORD, LPVOID) { return TRUE; }
#endif
