// The one door to the Windows API. Every source of the tool includes this
// header and nothing else of Windows. On Windows it brings in the SDK; on any
// other host it brings in the simulated Windows used by the tests.
#pragma once

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2spi.h>
#include <windows.h>
#include <winternl.h>
#include <conio.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <tlhelp32.h>
#else
#include "simwin/api.h"
#endif

#include <cstdio>
#include <cstring>
