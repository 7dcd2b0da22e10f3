// The agent's small rules, apart from the processes and windows they steer.
#pragma once

#include "platform/windows.h"

#include <string>
#include <string_view>

namespace agent {

// The client command: "Client Application" as stored, or enclosed in double
// quotes when it holds a blank and does not begin with one.
std::string ClientCommand(std::string_view clientApplication);

// The message posted in mode 2: "Message ID" when it lies in 0x8000..0xBFFF,
// else 0x8000.
platform::UINT ClipboardMessageId(platform::DWORD messageId);

// "PreprocessingResult" equal to "Cancel" without regard to case.
bool IsCancelled(std::string_view preprocessingResult);

// The ticket path as the client gets it: the text and its terminating zero
// in a block of 260 bytes. False when the path does not fit.
bool PathBlock(std::string_view path, std::string* block);

// A file the agent may delete as a job's ticket: a regular file (not a
// link) whose name ends in ".INI". Anything else the registry names is left
// alone.
bool IsTicketFile(const std::string& path);

}  // namespace agent
