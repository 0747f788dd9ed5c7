#include "support/local_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

namespace korvel::test {

namespace {

bool SendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool SendText(int fd, const std::string& text) { return SendAll(fd, text.data(), text.size()); }

// Reads the head and, by its Content-Length, the body.
std::string ReadRequest(int fd) {
    std::string text;
    char buffer[4096];
    std::size_t need = std::string::npos;
    while (true) {
        const std::size_t headEnd = text.find("\r\n\r\n");
        if (headEnd != std::string::npos && need == std::string::npos) {
            need = headEnd + 4;
            const std::size_t at = text.find("Content-Length: ");
            if (at != std::string::npos && at < headEnd) need += std::strtoul(text.c_str() + at + 16, nullptr, 10);
        }
        if (need != std::string::npos && text.size() >= need) return text;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 2000) <= 0) return text;
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return text;
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

}  // namespace

LocalHttpServer::LocalHttpServer(Handler handler) : handler_(std::move(handler)) {
    listenFd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listenFd_, 8) != 0)
        std::abort();
    socklen_t length = sizeof address;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Run(); });
}

LocalHttpServer::~LocalHttpServer() {
    stop_.store(true);
    thread_.join();
    close(listenFd_);
}

std::string LocalHttpServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> LocalHttpServer::Requests() {
    std::lock_guard<std::mutex> hold(lock_);
    return requests_;
}

void LocalHttpServer::Run() {
    while (!stop_.load()) {
        pollfd p{listenFd_, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        const int fd = accept(listenFd_, nullptr, nullptr);
        if (fd < 0) continue;
        const std::string request = ReadRequest(fd);
        {
            std::lock_guard<std::mutex> hold(lock_);
            requests_.push_back(request);
        }
        handler_(*this, fd, request);
        close(fd);
    }
}

void LocalHttpServer::Respond(int fd, int status, const std::string& body, const std::string& extraHeaders) {
    SendText(fd, "HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Length: " + std::to_string(body.size()) +
                     "\r\nConnection: close\r\n" + extraHeaders + "\r\n" + body);
}

void LocalHttpServer::Stall(int fd) {
    SendText(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\n");
    // Until the client gives up (its end reads as closed) or the server stops.
    while (!stop_.load()) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20) > 0) {
            char byte;
            if (recv(fd, &byte, 1, 0) <= 0) return;
        }
    }
}

void LocalHttpServer::Endless(int fd) {
    SendText(fd, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
    const std::string chunk(16384, 'x');
    while (!stop_.load() && SendText(fd, chunk)) {
    }
}

void LocalHttpServer::CloseMidBody(int fd, std::size_t length, std::size_t sent) {
    SendText(fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(length) + "\r\nConnection: close\r\n\r\n" +
                     std::string(sent, 'x'));
}

}  // namespace korvel::test
