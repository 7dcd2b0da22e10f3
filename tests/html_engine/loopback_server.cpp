#include "loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace testing_http {

LoopbackServer::LoopbackServer() {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    ::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listen_, 16);
    socklen_t len = sizeof addr;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

LoopbackServer::~LoopbackServer() {
    stop_ = true;
    thread_.join();
    for (auto& w : workers_) w.join();
    ::close(listen_);
}

void LoopbackServer::Route(const std::string& path, Response r) {
    std::lock_guard<std::mutex> g(lock_);
    routes_[path] = std::move(r);
}

std::string LoopbackServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> LoopbackServer::Requests() {
    std::lock_guard<std::mutex> g(lock_);
    return requests_;
}

void LoopbackServer::Serve() {
    while (!stop_) {
        pollfd p{listen_, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        workers_.emplace_back([this, fd] { Answer(fd); });
    }
}

void LoopbackServer::Answer(int fd) {
    std::string req;
    char buf[4096];
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (req.find("\r\n\r\n") == std::string::npos && std::chrono::steady_clock::now() < until && !stop_) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        req.append(buf, static_cast<std::size_t>(n));
    }
    std::string path;
    if (auto sp = req.find(' '); sp != std::string::npos) path = req.substr(sp + 1, req.find(' ', sp + 1) - sp - 1);
    Response r;
    {
        std::lock_guard<std::mutex> g(lock_);
        requests_.push_back(req);
        auto it = routes_.find(path);
        if (it != routes_.end()) r = it->second;
        else r = {404, "text/html", "<p>not here</p>", "", 0};
    }
    std::string head = "HTTP/1.0 " + std::to_string(r.status) + (r.status < 400 ? " OK" : " Error") + "\r\n";
    head += "Content-Type: " + r.contentType + "\r\n";
    if (!r.location.empty()) head += "Location: " + r.location + "\r\n";
    if (r.stallMs == 0) head += "Content-Length: " + std::to_string(r.body.size()) + "\r\n";
    head += "Connection: close\r\n\r\n";
    std::string all = head + r.body;
    ::send(fd, all.data(), all.size(), MSG_NOSIGNAL);
    auto stallEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(r.stallMs);
    while (!stop_ && std::chrono::steady_clock::now() < stallEnd) ::usleep(20000);
    ::close(fd);
}

}  // namespace testing_http
