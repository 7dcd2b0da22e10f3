// The entry of the progress window module (libvm_progress_window.so).
#pragma once

#include <cstdint>
#include <string>

inline constexpr std::uint32_t kProgressWindowAbi = 1;
inline constexpr char kProgressWindowModule[] = "libvm_progress_window.so";

// Shows the job's name and page count in a window of class "Vellumate
// progress indicator" until it receives WM_CLOSE; answers the exit status.
extern "C" {
using ProgressWindowFn = int(int argc, char** argv, const std::string& title, const std::string& jobName,
                            int jobPages);
}
