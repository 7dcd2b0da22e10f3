// How the driver and the format converters tell whose call failed: failing
// calls on the add-on and on the PDF document throw two kinds of
// com::ComError, and the messages shown for them.
#pragma once

#include <string>

#include "context.h"
#include "platform/com.h"

namespace vellumate {

// Failing calls on the two objects throw these, so a step can tell whose
// error it was. Both are com::ComError.
struct AddonComError : com::ComError {
    using com::ComError::ComError;
};
struct PdfComError : com::ComError {
    using com::ComError::ComError;
};
inline void AddonCheck(com::HRESULT hr) {
    if (com::FAILED(hr)) throw AddonComError(hr);
}
inline void PdfCheck(com::HRESULT hr) {
    if (com::FAILED(hr)) throw PdfComError(hr);
}

// An error box (caption "Error"), only when the run is interactive.
void ShowError(const RunSetup& setup, const std::string& text);
// "<who> has thrown an exception:\n\ncom error: %d - %s"
std::string ComErrorText(const char* who, const com::ComError& e);

}  // namespace vellumate
