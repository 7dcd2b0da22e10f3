// The clipboard of the user's session: a store in the runtime folder
// ("clipboard"), one file per format, opened by one process at a time.
//
// Formats are numbers from RegisterClipboardFormat (the same table as
// RegisterWindowMessage). The store holds the bytes a program set; nothing
// is converted between formats.
#pragma once

#include "platform/windows.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

UINT RegisterClipboardFormat(std::string_view name);

class Clipboard {
public:
    // OpenClipboard: null (GetLastError ERROR_ACCESS_DENIED) while another
    // process or Clipboard holds it open.
    static std::unique_ptr<Clipboard> Open();
    ~Clipboard();  // CloseClipboard
    Clipboard(const Clipboard&) = delete;
    Clipboard& operator=(const Clipboard&) = delete;

    bool Empty();  // EmptyClipboard: every format removed
    bool SetData(UINT format, std::string_view bytes);
    std::optional<std::string> GetData(UINT format) const;
    bool IsFormatAvailable(UINT format) const;

    struct Members;
    explicit Clipboard(std::unique_ptr<Members> m);

private:
    std::unique_ptr<Members> m_;
};

}  // namespace platform
