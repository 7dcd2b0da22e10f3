// A tiny HTTP/1.0 server on 127.0.0.1 for the engine's network tests. Each
// route answers with a status, headers and a body; a route may send its body
// slowly and stall, to test time-outs. The server stops when destroyed and
// never waits longer than its stall bound.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_http {

struct Response {
    int status = 200;
    std::string contentType = "text/html";
    std::string body;
    std::string location;    // for redirects
    int stallMs = 0;         // after sending `body`, hold the connection this long
};

class LoopbackServer {
public:
    LoopbackServer();
    ~LoopbackServer();
    void Route(const std::string& path, Response r);
    int Port() const { return port_; }
    std::string Url(const std::string& path) const;
    // Request headers seen, one string per request ("GET /x HTTP/1.1\r\nUser-Agent: ...").
    std::vector<std::string> Requests();

private:
    void Serve();
    void Answer(int fd);
    int listen_ = -1, port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::map<std::string, Response> routes_;
    std::vector<std::string> requests_;
    std::vector<std::thread> workers_;
    std::thread thread_;
};

}  // namespace testing_http
