// Named events and mutexes shared between processes, with the Win32 answers
// (ERROR_ALREADY_EXISTS on creation, WAIT_OBJECT_0 / WAIT_TIMEOUT /
// WAIT_FAILED from the waits).
//
// Each object is a file: "Global\NAME" in GlobalObjectFolder(), any other
// name (a leading "Local\" dropped) in the runtime folder's "objects". Names
// are case-sensitive. An object exists while a process holds a handle to it
// (a shared flock on its file); when the last handle closes, the object is
// gone and a new Create starts it afresh. A process that dies releases its
// handles with it.
//
// An event's state is one byte of its file, changed under a byte-range lock.
// Waits watch the files with inotify and sleep in poll: a waiting process
// uses no CPU until an event it waits for is set or its time-out comes.
//
// Ownership: handles are owned by the caller (unique_ptr); a handle may be
// used from several threads at once.
#pragma once

#include "platform/syserror.h"

#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace platform {

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
// WAIT_TIMEOUT (258) is in syserror.h.

class NamedEvent {
public:
    // CreateEvent: creates the event, or opens it when it exists (then the
    // reset kind and initial state given here are ignored and
    // *alreadyExisted is true, GetLastError ERROR_ALREADY_EXISTS). Null on
    // failure, with GetLastError.
    static std::unique_ptr<NamedEvent> Create(std::string_view name, bool manualReset, bool initialState,
                                              bool* alreadyExisted = nullptr);
    // OpenEvent: null with ERROR_FILE_NOT_FOUND when no process holds it.
    static std::unique_ptr<NamedEvent> Open(std::string_view name);
    ~NamedEvent();
    NamedEvent(const NamedEvent&) = delete;
    NamedEvent& operator=(const NamedEvent&) = delete;

    bool Set();
    bool Reset();
    // WAIT_OBJECT_0 when signalled (an auto-reset event is reset by the
    // wait that takes it), WAIT_TIMEOUT, or WAIT_FAILED.
    DWORD Wait(DWORD timeoutMs = INFINITE);
    bool IsManualReset() const;
    const std::string& Path() const;

    struct Members;
    explicit NamedEvent(std::unique_ptr<Members> m);

private:
    friend DWORD WaitForMultipleEvents(std::span<NamedEvent* const>, bool, DWORD);
    std::unique_ptr<Members> m_;
};

// WaitForMultipleObjects on events: with waitAll false, WAIT_OBJECT_0 + the
// index of the first signalled event; with waitAll true, WAIT_OBJECT_0 once
// all are signalled at the same moment (auto-reset ones are then reset
// together). WAIT_TIMEOUT, or WAIT_FAILED (no events, a null entry, or more
// than 64).
DWORD WaitForMultipleEvents(std::span<NamedEvent* const> events, bool waitAll, DWORD timeoutMs = INFINITE);

class NamedMutex {
public:
    // CreateMutex: as NamedEvent::Create; with initialOwner the calling
    // thread owns a new mutex (not one that already existed).
    static std::unique_ptr<NamedMutex> Create(std::string_view name, bool initialOwner,
                                              bool* alreadyExisted = nullptr);
    static std::unique_ptr<NamedMutex> Open(std::string_view name);
    ~NamedMutex();  // releases an ownership still held
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    // Takes ownership (recursively for the owning thread): WAIT_OBJECT_0,
    // WAIT_TIMEOUT or WAIT_FAILED. A mutex whose owner died is free again.
    DWORD Wait(DWORD timeoutMs = INFINITE);
    // False (ERROR_NOT_OWNER) when the calling thread does not own it.
    bool Release();

    struct Members;
    explicit NamedMutex(std::unique_ptr<Members> m);

private:
    std::unique_ptr<Members> m_;
};

constexpr LSTATUS ERROR_NOT_OWNER = 288;

}  // namespace platform
