// The error object client-side wrappers throw for failing result codes.
#include "platform/com.h"

#include <cstdio>

namespace com {

ComError::ComError(HRESULT hr, std::string description) : hr_(hr), description_(std::move(description)) {}

std::string ComError::ErrorMessage() const {
    char buf[64];
    auto code = static_cast<std::uint32_t>(hr_);
    if (code >= 0x80040200u && code <= 0x8004FFFFu)
        std::snprintf(buf, sizeof buf, "IDispatch error #%d", static_cast<int>(code - 0x80040200u));
    else
        std::snprintf(buf, sizeof buf, "Unknown error 0x%0lX", static_cast<unsigned long>(code));
    return buf;
}

std::string ComError::Description() const { return description_.empty() ? ErrorMessage() : description_; }

HRESULT Check(HRESULT hr) {
    if (FAILED(hr)) throw ComError(hr);
    return hr;
}

}  // namespace com
