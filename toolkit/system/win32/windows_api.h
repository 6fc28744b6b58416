// The Windows API for the toolkit's Windows files. Include it after the toolkit's own headers:
// their constants (WM_SYSCOMMAND, RT_BITMAP, CF_TEXT, GMEM_MOVEABLE, ...) carry the platform's
// names, which <windows.h> defines as macros. The function macros whose names the toolkit uses
// for its own functions and methods are removed; the files call the A or W forms by name.
#pragma once

#include <windows.h>
#include <shellapi.h>

#undef CreateWindow
#undef DrawText
#undef FindResource
#undef GetObject
#undef LoadLibrary
#undef MessageBox
#undef SendMessage
