// The one place that includes the Windows headers, with the settings every backend file shares.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
// Vista is the oldest system the program runs on (GetLocaleInfoEx); later calls are looked up.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#endif

#include <windows.h>

#include <objbase.h>
#include <oleauto.h>
#include <shlobj.h>
#include <aclapi.h>
