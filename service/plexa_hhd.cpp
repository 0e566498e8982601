// plexa-hhd: a household-data service for tests and demonstrations. It
// keeps synthetic household records per area (the same area and query
// always give the same counts), checks the account, runs each job for a few
// status polls and serves the result table (GEOG, TQ, TOTAL) as a DBF.
//
//   plexa-hhd [--port N] [--accounts FILE] [--user NAME:PASSWORD]...
//             [--cert FILE --key FILE] [--delay-ms N] [--job-polls N]
//             [--job-seconds N] [--job-expiry SECONDS] [--request-seconds N]
//             [--threads N] [--fault malformed|baddbf|html|huge|drip|die]
//   plexa-hhd --hash-password NAME      (reads the password from stdin)
//
// Every page but the registration page needs a login: HTTP basic
// authentication, and nothing else. A request that carries a password in
// its address or its body is refused (400), whatever its login.
// A job belongs to the account that submitted it; other accounts are told
// there is no such job. An accounts file holds one "user:salt:hash" line
// per account, hash being the hex SHA-256 of salt followed by password;
// --hash-password prints such a line. Without --accounts or --user the
// service knows the account demo with the password demo.
//
// A job is kept, fetched or not, for --job-expiry seconds after it is done
// (PLEXA_HHD_JOB_EXPIRY when the option is not given; a day by default),
// then forgotten with its memory. A request must arrive whole within
// --request-seconds (10), and its head may hold 100 header lines and
// 32 KB; --threads (64) connections are served at once. Result tables are
// made in a private folder (mode 0700, named at random) under $TMPDIR or
// /tmp, removed when the service ends.
//
// --cert and --key (PEM files) make it speak HTTPS. --port 0 picks a free
// port; the first line on standard output is always
// "listening on 127.0.0.1:PORT".
//
// Faults for testing clients: malformed (an unreadable submission reply),
// baddbf and html (a result that is no table), huge (a result without
// end), drip (a status reply of one byte a second), die (the service
// exits in the middle of a status reply).
#include <cpl_error.h>
#include <gdal_priv.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "service/hhd/Accounts.h"
#include "service/hhd/HttpLimits.h"
#include "service/hhd/Jobs.h"
#include "service/hhd/ResultTable.h"
#include "service/hhd/Scratch.h"

using namespace hhd;

namespace {

const char* kGateway = "/velmar/QuISAPISOAPGateWay.dll";

struct Options {
    int port = 8360;
    Accounts users;
    std::string cert, key;
    int delayMs = 0;
    int jobPolls = 2;
    int jobSeconds = 1;
    long jobExpiry = 24 * 3600;
    HttpLimits limits;
    std::string fault;
};

// A field of a submission: a part of a multipart body (as the client sends
// it, of any size and compressed or not) or a form field (a small form).
std::string Field(const httplib::Request& req, const std::string& name) {
    if (req.has_file(name)) return req.get_file_value(name).content;
    return req.get_param_value(name);
}

std::string EscapeHtml(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string Page(const std::string& title, const std::string& body) {
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + title + "</title></head><body><h1>" + title +
           "</h1>" + body + "</body></html>";
}

}  // namespace

const char* kUsage =
    "usage: plexa-hhd [--port N] [--accounts FILE] [--user NAME:PASSWORD]... [--cert FILE --key FILE]\n"
    "                 [--delay-ms N] [--job-polls N] [--job-seconds N] [--job-expiry SECONDS]\n"
    "                 [--request-seconds N] [--threads N] [--fault malformed|baddbf|html|huge|drip|die]\n"
    "       plexa-hhd --hash-password NAME   (reads the password from standard input)\n";

// A whole number in text, or false.
bool WholeNumber(const std::string& v, long& n) {
    try {
        size_t used = 0;
        n = std::stol(v, &used);
        return used == v.size();
    } catch (const std::exception&) {
        return false;
    }
}

int main(int argc, char** argv) {
    Options o;
    bool accountsGiven = false, expiryGiven = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::cerr << "plexa-hhd: " << a << " needs a value\n";
                std::exit(2);
            }
            return argv[++i];
        };
        auto number = [&](long least) {
            std::string v = next();
            long n = 0;
            if (!WholeNumber(v, n) || n < least || n > 1000000000L) {
                std::cerr << "plexa-hhd: " << a << " needs a whole number of at least " << least << ", not " << v
                          << "\n";
                std::exit(2);
            }
            return n;
        };
        if (a == "--port") o.port = static_cast<int>(number(0));
        else if (a == "--user") {
            std::string u = next();
            size_t c = u.find(':');
            o.users[u.substr(0, c)] = MakeAccount(c == std::string::npos ? "" : u.substr(c + 1));
            accountsGiven = true;
        } else if (a == "--accounts") {
            std::string why;
            if (!ReadAccounts(next(), o.users, why)) {
                std::cerr << "plexa-hhd: " << why << "\n";
                return 2;
            }
            accountsGiven = true;
        } else if (a == "--hash-password") {
            std::string name = next(), password;
            if (name.empty() || name.find(':') != std::string::npos) {
                std::cerr << "plexa-hhd: a user name may not be empty or hold ':'\n";
                return 2;
            }
            std::getline(std::cin, password);
            if (!password.empty() && password.back() == '\r') password.pop_back();
            Account account = MakeAccount(password);
            std::cout << name << ":" << account.salt << ":" << account.hash << std::endl;
            return 0;
        } else if (a == "--cert") o.cert = next();
        else if (a == "--key") o.key = next();
        else if (a == "--delay-ms") o.delayMs = static_cast<int>(number(0));
        else if (a == "--job-polls") o.jobPolls = static_cast<int>(number(0));
        else if (a == "--job-seconds") o.jobSeconds = static_cast<int>(number(0));
        else if (a == "--job-expiry") {
            o.jobExpiry = number(1);
            expiryGiven = true;
        } else if (a == "--request-seconds") o.limits.arrival = std::chrono::seconds(number(1));
        else if (a == "--threads") o.limits.threads = static_cast<size_t>(number(2));
        else if (a == "--fault") o.fault = next();
        else {
            std::cerr << kUsage;
            return 2;
        }
    }
    if (!accountsGiven) o.users["demo"] = MakeAccount("demo");
    if (o.cert.empty() != o.key.empty()) {
        std::cerr << "plexa-hhd: --cert and --key go together\n";
        return 2;
    }
    if (const char* v = std::getenv("PLEXA_HHD_JOB_EXPIRY"); v && *v && !expiryGiven) {
        if (!WholeNumber(v, o.jobExpiry) || o.jobExpiry < 1) {
            std::cerr << "plexa-hhd: PLEXA_HHD_JOB_EXPIRY needs a whole number of seconds of at least 1, not " << v
                      << "\n";
            return 2;
        }
    }
    // Before any thread starts: it routes SIGTERM and SIGINT for all.
    std::string why;
    if (!MakeScratchFolder(why)) {
        std::cerr << "plexa-hhd: " << why << "\n";
        return 1;
    }
    GDALAllRegister();
    // GDAL's messages come back through CPLGetLastErrorMsg into one line of ours.
    CPLSetErrorHandler(CPLQuietErrorHandler);

    auto server = MakeServer(o.limits, o.cert, o.key, why);
    if (!server) {
        std::cerr << "plexa-hhd: " << why << "\n";
        return 1;
    }
    // The largest submission read, as sent (compressed or not): room for
    // the area list of every block group of a country (8 million keys of
    // 12 digits are 120 MB as text). A form-encoded body is still held to
    // the 8 KB of the HTTP library.
    server->set_payload_max_length(std::size_t{256} << 20);

    JobStore jobs(std::chrono::seconds(o.jobExpiry));
    auto text = [](httplib::Response& res, const std::string& body, int status = 200) {
        res.status = status;
        res.set_content(body, "text/plain");
    };
    // Every handler starts here: the request has arrived whole.
    auto arrived = [&] {
        RequestArrived();
        if (o.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(o.delayMs));
    };
    // The account a request logs in with, or empty (and a refusal sent)
    // when it does not.
    auto login = [&](const httplib::Request& req, httplib::Response& res) -> std::string {
        if (req.has_param("password") || req.has_file("password")) {
            text(res, "status=0\nmessage=a password goes in the Authorization header, never in the address or the body\n",
                 400);
            return "";
        }
        std::string user = LoggedInUser(req.get_header_value("Authorization"), o.users);
        if (!user.empty()) return user;
        res.set_header("WWW-Authenticate", "Basic realm=\"plexa-hhd\"");
        text(res, "status=0\nmessage=the user name or password is not valid\n", 401);
        return "";
    };

    server->Post(std::string(kGateway) + "/submit", [&](const httplib::Request& req, httplib::Response& res) {
        arrived();
        if (o.fault == "malformed") return text(res, "<soap:Fault>internal gateway error");
        std::string user = login(req, res);
        if (user.empty()) return;
        Job job;
        job.owner = user;
        job.geog = Field(req, "geog");
        job.qfields = Field(req, "qfields");
        job.qlist = Field(req, "qlist");
        job.analysis = Field(req, "analysis");
        job.areas = SplitAreas(Field(req, "areas"));
        job.pollsLeft = o.jobPolls;
        job.doneAt = Clock::now() + std::chrono::seconds(o.jobSeconds);
        job.linkLayout = Field(req, "wait") == "0";
        if (job.areas->count == 0 || job.qfields.empty() || job.qlist.empty())
            return text(res, "status=0\nmessage=the query has no areas or no categories\n", 400);
        size_t areas = job.areas->count;
        std::string fields = job.qfields;
        std::string id = jobs.Add(std::move(job));
        std::cout << "job " << id << ": " << areas << " areas, " << fields << " (" << user << ")" << std::endl;
        text(res, "status=1\njob=" + id + "\n");
    });
    server->Get(std::string(kGateway) + "/status", [&](const httplib::Request& req, httplib::Response& res) {
        arrived();
        std::string user = login(req, res);
        if (user.empty()) return;
        if (o.fault == "drip") {
            res.set_chunked_content_provider("text/plain", [](size_t, httplib::DataSink& sink) {
                std::this_thread::sleep_for(std::chrono::seconds(1));
                return sink.write("\n", 1);
            });
            return;
        }
        if (o.fault == "die") {
            res.set_chunked_content_provider("text/plain", [](size_t, httplib::DataSink& sink) {
                sink.write("status=", 7);
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                std::cout << "exiting in the middle of a reply, as asked" << std::endl;
                RemoveScratchFolder();
                std::_Exit(3);
                return false;
            });
            return;
        }
        // A caller may ask to be answered only when the job is done or the
        // wait (at most two seconds) is over, instead of at once.
        long waitMs = std::clamp(std::atol(req.get_param_value("wait").c_str()), 0L, 2000L);
        auto until = Clock::now() + std::chrono::milliseconds(waitMs);
        Clock::time_point doneAt;
        switch (jobs.CountPoll(req.get_param_value("job"), user, doneAt)) {
            case JobStore::Poll::Missing: return text(res, "status=0\nmessage=no such job\n", 404);
            case JobStore::Poll::Done: return text(res, "status=1\n");
            case JobStore::Poll::Running: break;
        }
        if (until > Clock::now()) std::this_thread::sleep_until(std::min(until, doneAt));
        text(res, Clock::now() >= doneAt ? "status=1\n" : "status=2\n");
    });
    server->Get(std::string(kGateway) + "/result", [&](const httplib::Request& req, httplib::Response& res) {
        arrived();
        std::string user = login(req, res);
        if (user.empty()) return;
        std::string id = req.get_param_value("job");
        auto job = jobs.Find(id, user);
        if (!job) return text(res, "no such job", 404);
        if (o.fault == "html") return text(res, "<html><body>Service temporarily unavailable</body></html>");
        if (o.fault == "huge") {
            res.set_chunked_content_provider("application/x-dbase", [](size_t, httplib::DataSink& sink) {
                static const std::string block(std::size_t{1} << 16, '\x03');
                return sink.write(block.data(), block.size());
            });
            return;
        }
        if (o.fault == "baddbf") return res.set_content("this is not a dBASE table", "application/x-dbase");
        std::string bytes, why;
        if (!ResultTable(*job, bytes, why)) {
            std::cerr << "plexa-hhd: the result table of job " << id << " cannot be made: " << why << std::endl;
            return text(res, "status=0\nmessage=the result table could not be made\n", 500);
        }
        res.set_content(std::move(bytes), "application/x-dbase");
    });
    server->Get("/", [&](const httplib::Request& req, httplib::Response& res) {
        arrived();
        std::string user = login(req, res);
        if (user.empty()) return;
        std::ostringstream body;
        body << "<p>Household counts by area for Customer Prospecting.</p><p>Jobs of " << EscapeHtml(user)
             << ":</p><ul>";
        jobs.ForEachOf(user, [&](const std::string& id, const Job& job) {
            body << "<li>" << EscapeHtml(id) << ": " << job.areas->count << " areas, " << EscapeHtml(job.qfields)
                 << " — <a href=\"" << kGateway << "/result?job=" << EscapeHtml(id) << "\">result table</a></li>";
        });
        body << "</ul>";
        res.set_content(Page("Quillon360 household data", body.str()), "text/html");
    });
    // Open to all: it is where people without an account go.
    server->Get("/velmarweb/VELMAR_Reg.asp", [&](const httplib::Request&, httplib::Response& res) {
        arrived();
        res.set_content(Page("Register for Quillon360", "<p>Accounts of this local service are given with --accounts or --user.</p>"),
                        "text/html");
    });

    int port = o.port;
    if (port == 0) {
        port = server->bind_to_any_port("127.0.0.1");
    } else if (!server->bind_to_port("127.0.0.1", port)) {
        port = -1;
    }
    if (port < 0) {
        std::cerr << "plexa-hhd: cannot listen on 127.0.0.1:" << o.port << "\n";
        return 1;
    }
    WidenBacklog(*server);
    std::cout << "listening on 127.0.0.1:" << port << std::endl;
    server->listen_after_bind();
    return 0;
}
