// The host's reading of what the browser sends: framing, JSON and addresses,
// with broken and hostile input.
#include "native_messaging.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace {

using namespace navlet;

// A pipe whose reading end is handed to the code under test.
struct Pipe {
    Pipe() {
        if (pipe(fd) != 0) abort();
    }
    ~Pipe() {
        CloseWrite();
        close(fd[0]);
    }
    void Put(const std::string& bytes) { ASSERT_EQ(write(fd[1], bytes.data(), bytes.size()), ssize_t(bytes.size())); }
    void PutLength(std::uint32_t n) { Put(std::string(reinterpret_cast<const char*>(&n), sizeof n)); }
    void CloseWrite() {
        if (fd[1] >= 0) close(fd[1]);
        fd[1] = -1;
    }
    int fd[2];
};

TEST(NativeMessaging, FramesRoundTripAndTheStreamEnds) {
    Pipe p;
    ASSERT_TRUE(WriteMessage(p.fd[1], R"({"url":"http://a/"})"));
    ASSERT_TRUE(WriteMessage(p.fd[1], ""));
    p.Put("\x05\x00");  // a length cut short
    p.CloseWrite();
    std::string body;
    EXPECT_EQ(ReadMessage(p.fd[0], &body), ReadResult::Message);
    EXPECT_EQ(body, R"({"url":"http://a/"})");
    EXPECT_EQ(ReadMessage(p.fd[0], &body), ReadResult::Message);
    EXPECT_EQ(body, "");
    EXPECT_EQ(ReadMessage(p.fd[0], &body), ReadResult::End);
}

TEST(NativeMessaging, HugeLengthsAreSkippedWithoutStoringThem) {
    Pipe p;
    std::thread writer([&] {
        p.PutLength(kMaxRequestBytes + 1);
        p.Put(std::string(kMaxRequestBytes + 1, '['));
        p.PutLength(2);
        p.Put("{}");
        p.PutLength(0xFFFFFFFFu);  // announced, never sent
        p.Put("xyz");
        p.CloseWrite();
    });
    std::string body;
    EXPECT_EQ(ReadMessage(p.fd[0], &body), ReadResult::TooLarge);
    EXPECT_EQ(body, "");
    EXPECT_EQ(ReadMessage(p.fd[0], &body), ReadResult::Message);  // still in step
    EXPECT_EQ(body, "{}");
    EXPECT_EQ(ReadMessage(p.fd[0], &body), ReadResult::End);
    writer.join();
}

TEST(NativeMessaging, RequestsGiveTheirAddress) {
    std::string url, why;
    ASSERT_TRUE(ParseRequest(R"({"url": "https://example.org/a b?c=\u00e9"})", &url, &why)) << why;
    EXPECT_EQ(url, "https://example.org/a b?c=\xC3\xA9");
    ASSERT_TRUE(ParseRequest(R"({"id": 4, "extra": {"url": 5, "x": [1, {"y": null}]}, "url": "file:///tmp/x.html"})",
                             &url, &why))
        << why;
    EXPECT_EQ(url, "file:///tmp/x.html");
}

TEST(NativeMessaging, BrokenAndHostileRequestsAreRefusedWithAReason) {
    const std::string deep = "{\"a\":" + std::string(100000, '[') + std::string(100000, ']') + "}";
    struct Case {
        std::string body, reason;
    } cases[] = {
        {"", "not valid JSON"},
        {"{\"url\": \"http://a/\"", "not valid JSON"},
        {"{\"url\": \"http://a/\"} trailing", "not valid JSON"},
        {"[\"http://a/\"]", "not a JSON object"},
        {"\"http://a/\"", "not a JSON object"},
        {"{}", "no \"url\""},
        {"{\"url\": 5}", "not a string"},
        {"{\"url\": [\"http://a/\"]}", "not a string"},
        {"{\"url\": \"http://a/\", \"url\": \"http://b/\"}", "twice"},
        {"{\"url\": \"http://a/\xff\"}", "not valid JSON"},
        {"{\"url\": \"http://a/\\ud800\"}", "not valid JSON"},
        {deep, "nests too deeply"},
        {"{\"url\": \"javascript:alert(1)\"}", "only http, https and file"},
        {"{\"url\": \"HTTP://a/\"}", "only http, https and file"},
        {"{\"url\": \"chrome://settings\"}", "only http, https and file"},
        {"{\"url\": \" http://a/\"}", "only http, https and file"},
        {"{\"url\": \"\"}", "only http, https and file"},
        {"{\"url\": \"http://a/\\u0000b\"}", "control characters"},
        {"{\"url\": \"http://a/\\nb\"}", "control characters"},
    };
    for (const Case& c : cases) {
        std::string url = "unchanged", why;
        EXPECT_FALSE(ParseRequest(c.body, &url, &why)) << c.body.substr(0, 60);
        EXPECT_NE(why.find(c.reason), std::string::npos) << c.body.substr(0, 60) << " -> " << why;
        EXPECT_EQ(url, "unchanged");
    }
}

}  // namespace

int FuzzHostStream(const std::uint8_t* data, std::size_t size);

// The fuzz target's seeds, replayed as an ordinary test.
TEST(NativeMessaging, FuzzSeedsReplay) {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(VM_HOST_CORPUS)) {
        std::ifstream in(e.path(), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        SCOPED_TRACE(e.path().string());
        FuzzHostStream(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        ++n;
    }
    EXPECT_GT(n, 0);
}
