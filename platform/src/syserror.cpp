// Error numbers and their texts.
#include "platform/syserror.h"

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

thread_local DWORD g_lastError = 0;

}  // namespace

DWORD GetLastError() { return g_lastError; }
void SetLastError(DWORD code) { g_lastError = code; }

DWORD ErrorFromErrno(int e) {
    switch (e) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EROFS: return ERROR_WRITE_PROTECT;
    case EEXIST: return ERROR_FILE_EXISTS;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case EBUSY: return ERROR_BUSY;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ETIMEDOUT: return ERROR_TIMEOUT;
    case ECONNREFUSED: return RPC_S_SERVER_UNAVAILABLE;
    default: return kErrnoBase + static_cast<DWORD>(e);
    }
}

DWORD SetLastErrorFromErrno(int e) {
    g_lastError = ErrorFromErrno(e);
    return g_lastError;
}

std::string FormatSystemMessage(DWORD code) {
    if (code > kErrnoBase && code < kErrnoBase + 4096) {
        char buf[256];
        // The GNU strerror_r answers a pointer that may or may not be buf.
        return strerror_r(static_cast<int>(code - kErrnoBase), buf, sizeof buf);
    }
    switch (static_cast<LSTATUS>(code)) {
    case ERROR_SUCCESS: return "The operation completed successfully.";
    case ERROR_FILE_NOT_FOUND: return "The system cannot find the file specified.";
    case ERROR_PATH_NOT_FOUND: return "The system cannot find the path specified.";
    case ERROR_TOO_MANY_OPEN_FILES: return "The system cannot open the file.";
    case ERROR_ACCESS_DENIED: return "Access is denied.";
    case ERROR_INVALID_HANDLE: return "The handle is invalid.";
    case ERROR_NOT_ENOUGH_MEMORY: return "Not enough memory resources are available to process this command.";
    case ERROR_WRITE_PROTECT: return "The media is write protected.";
    case ERROR_GEN_FAILURE: return "A device attached to the system is not functioning.";
    case ERROR_SHARING_VIOLATION:
        return "The process cannot access the file because it is being used by another process.";
    case ERROR_FILE_EXISTS: return "The file exists.";
    case ERROR_INVALID_PARAMETER: return "The parameter is incorrect.";
    case ERROR_DISK_FULL: return "There is not enough space on the disk.";
    case ERROR_INVALID_NAME: return "The filename, directory name, or volume label syntax is incorrect.";
    case ERROR_BUSY: return "The requested resource is in use.";
    case ERROR_ALREADY_EXISTS: return "Cannot create a file when that file already exists.";
    case ERROR_FILENAME_EXCED_RANGE: return "The filename or extension is too long.";
    case ERROR_MORE_DATA: return "More data is available.";
    case WAIT_TIMEOUT: return "The wait operation timed out.";
    case ERROR_NO_MORE_ITEMS: return "No more data is available.";
    case ERROR_BADDB: return "The configuration registry database is corrupt.";
    case ERROR_CANTOPEN: return "The configuration registry key could not be opened.";
    case ERROR_CANTREAD: return "The configuration registry key could not be read.";
    case ERROR_CANTWRITE: return "The configuration registry key could not be written.";
    case ERROR_KEY_DELETED:
        return "Illegal operation attempted on a registry key that has been marked for deletion.";
    case ERROR_INVALID_WINDOW_HANDLE: return "Invalid window handle.";
    case ERROR_CLIPBOARD_NOT_OPEN: return "Thread does not have a clipboard open.";
    case ERROR_TIMEOUT: return "This operation returned because the timeout period expired.";
    case ERROR_UNSUPPORTED_TYPE: return "Data of this type is not supported.";
    case RPC_S_SERVER_UNAVAILABLE: return "The RPC server is unavailable.";
    case ERROR_INVALID_PRINTER_NAME: return "The printer name is invalid.";
    default: return {};
    }
}

}  // namespace platform
