// navlet-host as the browser runs it: messages on standard input, answers
// on standard output, with the component registered in a private registry
// and a converter that records each start.
#include "navlet/navlet.h"
#include "platform/registry.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string Frame(const std::string& json) {
    auto n = static_cast<std::uint32_t>(json.size());
    return std::string(reinterpret_cast<const char*>(&n), 4) + json;
}

std::string Length(std::uint32_t n) { return std::string(reinterpret_cast<const char*>(&n), 4); }

// The answers the host wrote for `input`, and its exit status.
std::vector<std::string> RunHost(const std::string& input, int* status) {
    std::string in = fs::temp_directory_path().string() + "/navlet-host-in-XXXXXX";
    int fd = mkstemp(in.data());
    EXPECT_EQ(write(fd, input.data(), input.size()), static_cast<ssize_t>(input.size()));
    close(fd);
    std::string out = in + ".out";
    std::string cmd = std::string("'") + VM_NAVLET_HOST + "' < '" + in + "' > '" + out + "' 2>/dev/null";
    int raw = std::system(cmd.c_str());
    *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream f(out, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    fs::remove(in);
    fs::remove(out);
    std::vector<std::string> answers;
    for (std::size_t at = 0; at + 4 <= bytes.size();) {
        std::uint32_t n;
        std::memcpy(&n, bytes.data() + at, 4);
        answers.push_back(bytes.substr(at + 4, n));
        at += 4 + n;
    }
    return answers;
}

TEST(HostProgram, HostileMessagesAreAnsweredAndStartNothing) {
    std::string tmpl = fs::temp_directory_path().string() + "/navlet-host-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    const std::string dir = tmpl;
    setenv("VELLUMATE_REGISTRY", dir.c_str(), 1);
    setenv("HOME", dir.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir + "/.config").c_str(), 1);
    setenv("VELLUMATE_UI", "none", 1);
    const std::string regsvr = std::string("'") + VM_REGSVR + "' /s '" + VM_NAVLET + "'";
    ASSERT_EQ(std::system(regsvr.c_str()), 0);
    const std::string converter = dir + "/converter";
    std::ofstream(converter) << "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" << dir << "/calls'\n";
    chmod(converter.c_str(), 0755);
    ASSERT_EQ(platform::RegSetString(platform::HKEY_CURRENT_USER, navlet::kPluginKey, navlet::kConverterPathValue,
                                     converter),
              platform::ERROR_SUCCESS);

    std::string input = Length(0x7FFFFFFF) + std::string(100000, 'x');  // cut short: the stream ends in it
    int status = -1;
    std::vector<std::string> answers = RunHost(input, &status);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(answers.empty());

    input = Length(1 << 20) + std::string(1 << 20, '{') +             // too large, skipped
            Frame("{\"url\": \"http://a/\"") +                          // broken JSON
            Frame("{\"url\": \"javascript:alert(1)\"}") +               // a scheme the converter must not get
            Frame("{\"url\": \"http://127.0.0.1/a b\"}");               // a good one, to show the stream is in step
    answers = RunHost(input, &status);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(answers.size(), 4u);
    EXPECT_EQ(answers[0], R"({"outcome":"refused","message":"the request is too large"})");
    EXPECT_NE(answers[1].find(R"("outcome":"refused","message":"the request is not valid JSON)"), std::string::npos)
        << answers[1];
    EXPECT_EQ(answers[2], R"({"outcome":"refused","message":"only http, https and file addresses can be converted"})");
    EXPECT_EQ(answers[3], R"({"outcome":"converted","url":"http://127.0.0.1/a b","result":0})");
    std::ifstream calls(dir + "/calls");
    std::stringstream s;
    s << calls.rdbuf();
    EXPECT_EQ(s.str(), "/url\nhttp://127.0.0.1/a b\n");

    // Without the component registered the host says so.
    const std::string unregister = std::string("'") + VM_REGSVR + "' /u /s '" + VM_NAVLET + "'";
    ASSERT_EQ(std::system(unregister.c_str()), 0);
    answers = RunHost(Frame("{\"url\": \"https://a/\"}"), &status);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_NE(answers[0].find(R"({"outcome":"error","url":"https://a/","hresult":"0x80040154")"), std::string::npos)
        << answers[0];
    fs::remove_all(dir);
}

}  // namespace
