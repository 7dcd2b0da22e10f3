#include "tool_support.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace pdftest {

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/pdflib_test.XXXXXX";
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("cannot make a temporary folder");
    dir_ = tmpl;
}

TempDir::~TempDir() {
    if (std::getenv("VM_KEEP_TEST_FILES")) return;  // for looking at what a test wrote
    std::error_code ec;
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(dir_, ec);
}

}  // namespace pdftest

namespace pdftest {
std::string Field(const std::string& out, const std::string& name) {
    size_t pos = 0;
    while ((pos = out.find(name + ":", pos)) != std::string::npos) {
        if (pos == 0 || out[pos - 1] == '\n') {
            size_t v = out.find_first_not_of(' ', pos + name.size() + 1);
            size_t end = out.find('\n', v);
            return out.substr(v, end == std::string::npos ? std::string::npos : end - v);
        }
        pos += name.size();
    }
    return "";
}
}  // namespace pdftest

namespace pdftest {
std::string Squeeze(const std::string& json) {
    std::string out;
    for (size_t i = 0; i < json.size(); ++i) {
        if (json[i] == '\n') {
            while (i + 1 < json.size() && json[i + 1] == ' ') ++i;
            continue;
        }
        out.push_back(json[i]);
    }
    return out;
}
}  // namespace pdftest
