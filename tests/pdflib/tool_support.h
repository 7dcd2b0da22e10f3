// Helpers of the end-to-end tests: a private temporary folder and running the
// independent PDF tools.
#pragma once

#include <filesystem>
#include <string>

#include "platform/com.h"
#include "test_output.h"

namespace pdftest {

// A fresh folder under $TMPDIR, removed with its contents at the end (kept
// when VM_KEEP_TEST_FILES is set).
class TempDir {
public:
    TempDir();
    ~TempDir();
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    const std::filesystem::path& Dir() const { return dir_; }

private:
    std::filesystem::path dir_;
};

// Status and output (standard output and error) of a shell command line,
// arguments quoted by the caller with Quote().
using ToolResult = vmtest::ShellResult;
inline ToolResult RunTool(const std::string& command) { return vmtest::ShellWithStatus(command + " 2>&1"); }
inline std::string Quote(const std::string& arg) { return vmtest::Q(arg); }

// An owned BSTR from UTF-8.
inline com::Bstr B(const std::string& utf8) { return com::Bstr(utf8); }

}  // namespace pdftest

namespace pdftest {
// The value of a "Name:   value" line of pdfinfo's output ("" when absent).
std::string Field(const std::string& out, const std::string& name);
}  // namespace pdftest

namespace pdftest {
// JSON with its line breaks and indentation taken out: "[\n    1,\n    2\n  ]" -> "[1,2]".
std::string Squeeze(const std::string& json);
}  // namespace pdftest
