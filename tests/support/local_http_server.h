#pragma once
// A loopback HTTP server on a thread of its own, for the HTTP client's and
// the update check's tests: it accepts on 127.0.0.1 at a free port and
// answers each connection with the test's handler. No test reaches past the
// loopback interface.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace korvel::test {

class LocalHttpServer {
public:
    // Called on the server's thread with the connection and the request's
    // head and body as received.
    using Handler = std::function<void(LocalHttpServer& server, int fd, const std::string& request)>;

    explicit LocalHttpServer(Handler handler);
    ~LocalHttpServer();  // stops the handlers' waits and joins
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    std::string Url(const std::string& path = "/releases/changelog.json") const;
    bool stopping() const { return stop_.load(); }
    std::vector<std::string> Requests();  // every request so far

    // Canned answers.
    static void Respond(int fd, int status, const std::string& body,
                        const std::string& extraHeaders = "");
    // Sends the head and nothing more until the server stops.
    void Stall(int fd);
    // A 200 without a length whose body never ends.
    void Endless(int fd);
    // Announces `length` bytes and closes after `sent` of them.
    static void CloseMidBody(int fd, std::size_t length, std::size_t sent);

private:
    void Run();
    Handler handler_;
    int listenFd_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

}  // namespace korvel::test
