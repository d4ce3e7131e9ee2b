// The one include for the Win32 API.  On Windows it is the SDK; elsewhere it
// is our own implementation of the subset the server uses, with the same
// names, semantics and error codes (see src/platform/posix/).
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#else
#include "platform/posix/win32_types.h"
#include "platform/posix/win32_base.h"
#include "platform/posix/win32_profile.h"
#include "platform/posix/win32_file.h"
#include "platform/posix/win32_socket.h"
#endif
