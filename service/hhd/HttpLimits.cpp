#include "service/hhd/HttpLimits.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <functional>
#include <iostream>

namespace hhd {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kBacklog = 128;

// Reads and writes one connection, non-blocking underneath, each wait
// bounded: while a request is arriving by its deadline, else by the write
// timeout. Counts the head of each request as the library takes it.
class GuardedStream final : public httplib::Stream {
public:
    GuardedStream(int sock, const HttpLimits& limits) : sock_(sock), limits_(limits) {
        fcntl(sock, F_SETFL, fcntl(sock, F_GETFL, 0) | O_NONBLOCK);
    }
    ~GuardedStream() override {
        if (ssl_) {
            SSL_shutdown(ssl_);
            SSL_free(ssl_);
        }
    }

    // A request begins: its deadline runs from now.
    void BeginRequest() {
        deadline_ = Clock::now() + limits_.arrival;
        armed_ = inHead_ = true;
        headBytes_ = headLines_ = lineBytes_ = 0;
    }
    void Arrived() { armed_ = false; }
    bool Refused() const { return refused_; }

    bool Handshake(SSL_CTX* ctx) {
        ssl_ = SSL_new(ctx);
        if (!ssl_ || SSL_set_fd(ssl_, sock_) != 1) return false;
        return Ssl([&] { return SSL_accept(ssl_); }, true) > 0;
    }

    // Whether another request begins within the idle time.
    bool NextRequest() const {
        if (next_ < end_ || (ssl_ && SSL_pending(ssl_) > 0)) return true;
        return Poll(POLLIN, limits_.idle);
    }

    bool is_readable() const override { return NextRequest(); }
    bool is_writable() const override { return Poll(POLLOUT, limits_.write); }

    ssize_t read(char* ptr, size_t size) override {
        if (refused_) return -1;
        if (next_ == end_) {
            ssize_t n = Receive(buf_, sizeof buf_);
            if (n <= 0) return n;
            next_ = 0;
            end_ = static_cast<size_t>(n);
        }
        size_t n = std::min(size, end_ - next_);
        for (size_t i = 0; inHead_ && i < n; ++i) {
            if (!CountHead(buf_[next_ + i])) {
                Refuse();
                return -1;
            }
        }
        std::copy(buf_ + next_, buf_ + next_ + n, ptr);
        next_ += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, size_t size) override {
        // After a refusal the library answers the failed read with a 400 of
        // its own: the 431 has gone out already.
        if (refused_) return static_cast<ssize_t>(size);
        return Send(ptr, size);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override { Address(getpeername, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { Address(getsockname, ip, port); }
    socket_t socket() const override { return sock_; }

private:
    // Takes one byte of the head; false when the head passes a cap.
    bool CountHead(char c) {
        ++headBytes_;
        if (c == '\n') {
            if (lineBytes_ == 0) inHead_ = false;  // the empty line that ends the head
            else ++headLines_;
            lineBytes_ = 0;
        } else if (c != '\r') {
            ++lineBytes_;
        }
        return headBytes_ <= limits_.headBytes && headLines_ <= limits_.headLines + 1;
    }

    // Sends the 431 at once, ends the reply and reads on for a moment (at
    // most a second and a megabyte, thrown away) so that a peer still
    // sending gets to read the refusal instead of a reset.
    void Refuse() {
        refused_ = true;
        armed_ = inHead_ = false;
        std::string ip;
        int port = 0;
        get_remote_ip_and_port(ip, port);
        std::cerr << "plexa-hhd: refused a request from " << ip << ": its head passed " << limits_.headLines
                  << " lines or " << limits_.headBytes << " bytes" << std::endl;
        static const std::string body = "the header of the request is too large\n";
        static const std::string reply = "HTTP/1.1 431 Request Header Fields Too Large\r\nContent-Type: text/plain\r\n"
                                         "Content-Length: " + std::to_string(body.size()) +
                                         "\r\nConnection: close\r\n\r\n" + body;
        for (size_t at = 0; at < reply.size();) {
            ssize_t n = Send(reply.data() + at, reply.size() - at);
            if (n <= 0) break;
            at += static_cast<size_t>(n);
        }
        if (ssl_) SSL_shutdown(ssl_);
        shutdown(sock_, SHUT_WR);
        auto until = Clock::now() + std::chrono::seconds(1);
        for (size_t drained = 0; drained < (1u << 20);) {
            auto left = std::chrono::duration_cast<milliseconds>(until - Clock::now());
            if (left.count() <= 0 || !Poll(POLLIN, left)) break;
            ssize_t n = recv(sock_, buf_, sizeof buf_, 0);
            if (n <= 0) break;
            drained += static_cast<size_t>(n);
        }
    }

    ssize_t Receive(char* to, size_t size) {
        if (ssl_) return Ssl([&] { return SSL_read(ssl_, to, static_cast<int>(std::min<size_t>(size, INT_MAX))); }, true);
        for (;;) {
            ssize_t n = recv(sock_, to, size, 0);
            if (n >= 0) return n;
            if (errno == EINTR) continue;
            if ((errno != EAGAIN && errno != EWOULDBLOCK) || !Wait(POLLIN, true)) return -1;
        }
    }

    ssize_t Send(const char* from, size_t size) {
        if (size == 0) return 0;
        if (ssl_) return Ssl([&] { return SSL_write(ssl_, from, static_cast<int>(std::min<size_t>(size, INT_MAX))); }, false);
        for (;;) {
            ssize_t n = send(sock_, from, size, MSG_NOSIGNAL);
            if (n >= 0) return n;
            if (errno == EINTR) continue;
            if ((errno != EAGAIN && errno != EWOULDBLOCK) || !Wait(POLLOUT, false)) return -1;
        }
    }

    // Runs an OpenSSL call until it gets through, waiting for the socket
    // as it asks; 0 when the peer closed the connection, -1 on failure.
    template <class Call>
    int Ssl(Call call, bool reading) {
        for (;;) {
            int r = call();
            if (r > 0) return r;
            switch (SSL_get_error(ssl_, r)) {
                case SSL_ERROR_WANT_READ:
                    if (!Wait(POLLIN, reading)) return -1;
                    break;
                case SSL_ERROR_WANT_WRITE:
                    if (!Wait(POLLOUT, reading)) return -1;
                    break;
                case SSL_ERROR_ZERO_RETURN: return 0;
                default: return -1;
            }
        }
    }

    // Waits for the socket: a read while the request is arriving until its
    // deadline, anything else for the write timeout.
    bool Wait(short events, bool reading) {
        if (!reading || !armed_) return Poll(events, limits_.write);
        auto left = std::chrono::duration_cast<milliseconds>(deadline_ - Clock::now());
        if (left.count() > 0 && Poll(events, left + milliseconds(1))) return true;
        if (Clock::now() >= deadline_) {
            std::string ip;
            int port = 0;
            get_remote_ip_and_port(ip, port);
            std::cerr << "plexa-hhd: a request from " << ip << " did not arrive within " << limits_.arrival.count()
                      << " ms; connection closed" << std::endl;
            armed_ = false;
        }
        return false;
    }

    bool Poll(short events, milliseconds limit) const {
        pollfd p{sock_, events, 0};
        int ms = static_cast<int>(std::min<long long>(limit.count(), INT_MAX));
        int r;
        do r = poll(&p, 1, ms);
        while (r < 0 && errno == EINTR);
        return r > 0;
    }

    template <class Get>
    void Address(Get get, std::string& ip, int& port) const {
        sockaddr_storage addr{};
        socklen_t len = sizeof addr;
        ip.clear();
        port = 0;
        if (get(sock_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return;
        char text[INET6_ADDRSTRLEN] = "";
        if (addr.ss_family == AF_INET) {
            auto* a = reinterpret_cast<sockaddr_in*>(&addr);
            inet_ntop(AF_INET, &a->sin_addr, text, sizeof text);
            port = ntohs(a->sin_port);
        } else if (addr.ss_family == AF_INET6) {
            auto* a = reinterpret_cast<sockaddr_in6*>(&addr);
            inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof text);
            port = ntohs(a->sin6_port);
        }
        ip = text;
    }

    const int sock_;
    const HttpLimits& limits_;
    SSL* ssl_ = nullptr;
    char buf_[4096];
    size_t next_ = 0, end_ = 0;  // the bytes of buf_ not yet taken
    Clock::time_point deadline_;
    bool armed_ = false, inHead_ = false, refused_ = false;
    size_t headBytes_ = 0, headLines_ = 0, lineBytes_ = 0;
};

thread_local GuardedStream* tCurrent = nullptr;

using Process = std::function<bool(httplib::Stream&, bool closeConnection, bool& connectionClosed)>;

// Serves the requests of one connection, then closes it.
void Serve(int sock, SSL_CTX* ctx, const HttpLimits& limits, const Process& process) {
    {
        GuardedStream stream(sock, limits);
        stream.BeginRequest();
        if (!ctx || stream.Handshake(ctx)) {
            for (size_t n = 1;; ++n) {
                bool last = n >= limits.requestsPerConnection, closed = false;
                tCurrent = &stream;
                bool ok = process(stream, last, closed);
                tCurrent = nullptr;
                if (!ok || closed || last || stream.Refused() || !stream.NextRequest()) break;
                stream.BeginRequest();
            }
        }
    }
    shutdown(sock, SHUT_RDWR);
    close(sock);
}

struct Backlog {
    virtual ~Backlog() = default;
    virtual void Widen() = 0;
};

void Configure(httplib::Server& server, const HttpLimits& limits) {
    server.set_keep_alive_max_count(limits.requestsPerConnection);
    server.set_keep_alive_timeout(std::max<time_t>(1, static_cast<time_t>(limits.idle.count() / 1000)));
    size_t threads = limits.threads;
    server.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
}

class PlainServer final : public httplib::Server, public Backlog {
public:
    explicit PlainServer(const HttpLimits& limits) : limits_(limits) { Configure(*this, limits_); }
    void Widen() override { ::listen(svr_sock_, kBacklog); }

private:
    bool process_and_close_socket(socket_t sock) override {
        Serve(sock, nullptr, limits_, [this](httplib::Stream& strm, bool close, bool& closed) {
            return process_request(strm, close, closed, nullptr);
        });
        return true;
    }
    HttpLimits limits_;
};

class TlsServer final : public httplib::SSLServer, public Backlog {
public:
    TlsServer(const HttpLimits& limits, const std::string& cert, const std::string& key)
        : SSLServer(cert.c_str(), key.c_str()), limits_(limits) {
        Configure(*this, limits_);
    }
    void Widen() override { ::listen(svr_sock_, kBacklog); }

private:
    bool process_and_close_socket(socket_t sock) override {
        Serve(sock, ssl_context(), limits_, [this](httplib::Stream& strm, bool close, bool& closed) {
            return process_request(strm, close, closed, nullptr);
        });
        return true;
    }
    HttpLimits limits_;
};

}  // namespace

std::unique_ptr<httplib::Server> MakeServer(const HttpLimits& limits, const std::string& cert, const std::string& key,
                                            std::string& why) {
    if (cert.empty()) return std::make_unique<PlainServer>(limits);
    auto server = std::make_unique<TlsServer>(limits, cert, key);
    if (!server->is_valid()) {
        why = "the certificate " + cert + " or the key " + key + " cannot be used";
        return nullptr;
    }
    return server;
}

void WidenBacklog(httplib::Server& server) {
    if (auto* backlog = dynamic_cast<Backlog*>(&server)) backlog->Widen();
}

void RequestArrived() {
    if (tCurrent) tCurrent->Arrived();
}

}  // namespace hhd
