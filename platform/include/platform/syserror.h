// System error numbers: the Win32 numbers the programs report and show
// ("Error # 5: Access is denied."), the calling thread's last error, and the
// description of a number.
//
// Our platform calls answer these numbers. An operating-system error that
// has no Win32 counterpart is carried as kErrnoBase + errno and described by
// the C library.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

using DWORD = std::uint32_t;
using LSTATUS = long;

constexpr LSTATUS ERROR_SUCCESS = 0;
constexpr LSTATUS ERROR_FILE_NOT_FOUND = 2;
constexpr LSTATUS ERROR_PATH_NOT_FOUND = 3;
constexpr LSTATUS ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr LSTATUS ERROR_ACCESS_DENIED = 5;
constexpr LSTATUS ERROR_INVALID_HANDLE = 6;
constexpr LSTATUS ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr LSTATUS ERROR_WRITE_PROTECT = 19;
constexpr LSTATUS ERROR_GEN_FAILURE = 31;
constexpr LSTATUS ERROR_SHARING_VIOLATION = 32;
constexpr LSTATUS ERROR_FILE_EXISTS = 80;
constexpr LSTATUS ERROR_INVALID_PARAMETER = 87;
constexpr LSTATUS ERROR_DISK_FULL = 112;
constexpr LSTATUS ERROR_INVALID_NAME = 123;
constexpr LSTATUS ERROR_BUSY = 170;
constexpr LSTATUS ERROR_ALREADY_EXISTS = 183;
constexpr LSTATUS ERROR_FILENAME_EXCED_RANGE = 206;
constexpr LSTATUS ERROR_MORE_DATA = 234;
constexpr LSTATUS WAIT_TIMEOUT = 258;
constexpr LSTATUS ERROR_NO_MORE_ITEMS = 259;
constexpr LSTATUS ERROR_BADDB = 1009;
constexpr LSTATUS ERROR_CANTOPEN = 1011;
constexpr LSTATUS ERROR_CANTREAD = 1012;
constexpr LSTATUS ERROR_CANTWRITE = 1013;
constexpr LSTATUS ERROR_KEY_DELETED = 1018;
constexpr LSTATUS ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr LSTATUS ERROR_CLIPBOARD_NOT_OPEN = 1418;
constexpr LSTATUS ERROR_TIMEOUT = 1460;
constexpr LSTATUS ERROR_UNSUPPORTED_TYPE = 1630;
constexpr LSTATUS RPC_S_SERVER_UNAVAILABLE = 1722;
constexpr LSTATUS ERROR_INVALID_PRINTER_NAME = 1801;

constexpr DWORD kErrnoBase = 0x20000000;

// The calling thread's last error (GetLastError / SetLastError).
DWORD GetLastError();
void SetLastError(DWORD code);
// The number for an errno value; also sets it as the last error.
DWORD SetLastErrorFromErrno(int errnoValue);
DWORD ErrorFromErrno(int errnoValue);

// The description of a number, without a trailing line break; "" for a
// number the platform has no text for.
std::string FormatSystemMessage(DWORD code);

}  // namespace platform
