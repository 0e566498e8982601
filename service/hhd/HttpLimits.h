// The HTTP server of plexa-hhd with limits the HTTP library lacks: a
// request must arrive as a whole (TLS handshake, head and body) within a
// set time, however slowly its bytes trickle in, and its head may hold only
// so many lines and bytes. A head past those caps is refused with 431 as
// soon as the cap is passed, without reading the rest.
//
// The library reads a connection through its Stream interface: each
// connection here is read through a stream of our own that keeps the
// deadline and counts the head as the library takes it, byte by byte. The
// library's own reading (a timeout that restarts with every byte, no cap
// on the count of header lines) is left unused.
#pragma once

#include <httplib.h>

#include <chrono>
#include <memory>
#include <string>

namespace hhd {

struct HttpLimits {
    // From the connection (or, on a kept-alive one, the next request's first
    // byte) to the whole request having arrived.
    std::chrono::milliseconds arrival{10000};
    // A kept-alive connection waits this long for its next request.
    std::chrono::milliseconds idle{5000};
    // One wait for the peer to take a piece of the reply.
    std::chrono::milliseconds write{5000};
    size_t headBytes = 32 * 1024;  // request line and header lines
    size_t headLines = 100;        // header lines, the request line not counted
    size_t requestsPerConnection = 100;
    // Workers: each serves one connection at a time, so this many slow
    // connections at once delay the others until their deadlines pass.
    size_t threads = 64;
};

// A plain (cert empty) or HTTPS server with the limits; null with why when
// the certificate or key cannot be used.
std::unique_ptr<httplib::Server> MakeServer(const HttpLimits& limits, const std::string& cert, const std::string& key,
                                            std::string& why);

// Lets the listening socket of a bound server queue more connections than
// the library's five (a burst of clients would otherwise wait for SYN
// retries).
void WidenBacklog(httplib::Server& server);

// Called by a handler: the request of this worker has arrived whole, and
// its deadline no longer applies while the handler works.
void RequestArrived();

}  // namespace hhd
