// The error trap of our in-process servers. Inside a server, failures are
// exceptions; at its interface they are result codes. Every exported method
// runs its body through Trap(), so that no exception ever crosses the
// interface and the caller keeps the description of what went wrong.
//
// The taxonomy, thrown inside a body, and the code the caller gets:
//   InvalidArgument      E_INVALIDARG   arguments out of range
//   WrongState           E_UNEXPECTED   a call in the wrong state (drawing before the document began)
//   Failure              its own code   anything else with an explicit result code
//   ComError             its own code   a failure of another server passed on, with its description
//   std::bad_alloc       E_OUTOFMEMORY
//   other exceptions     E_FAIL
#pragma once

#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include "platform/com.h"

namespace com {

struct InvalidArgument : std::runtime_error {
    using std::runtime_error::runtime_error;
};
struct WrongState : std::runtime_error {
    using std::runtime_error::runtime_error;
};
struct Failure : std::runtime_error {
    Failure(HRESULT code, const std::string& what) : std::runtime_error(what), hr(code) {}
    HRESULT hr;
};

namespace detail {
// Keeping the text must not throw out of the trap either.
inline void KeepError(std::string& lastError, const char* text) noexcept {
    try {
        lastError = text;
    } catch (...) {
        lastError.clear();
    }
}
}  // namespace detail

// Runs `body` (returning an HRESULT). What it throws becomes the code above
// and its text goes to `lastError`; a body that returns, successful or not,
// clears `lastError`.
template <class F>
HRESULT Trap(std::string& lastError, F&& body) noexcept {
    try {
        HRESULT hr = std::forward<F>(body)();
        lastError.clear();
        return hr;
    } catch (const InvalidArgument& e) {
        detail::KeepError(lastError, e.what());
        return E_INVALIDARG;
    } catch (const WrongState& e) {
        detail::KeepError(lastError, e.what());
        return E_UNEXPECTED;
    } catch (const Failure& e) {
        detail::KeepError(lastError, e.what());
        return e.hr;
    } catch (const ComError& e) {
        try {
            lastError = e.Description();
        } catch (...) {
            lastError.clear();
        }
        return e.Error();
    } catch (const std::bad_alloc&) {
        detail::KeepError(lastError, "out of memory");
        return E_OUTOFMEMORY;
    } catch (const std::exception& e) {
        detail::KeepError(lastError, e.what());
        return E_FAIL;
    } catch (...) {
        detail::KeepError(lastError, "unexpected failure");
        return E_FAIL;
    }
}

}  // namespace com
