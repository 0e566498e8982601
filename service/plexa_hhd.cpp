// plexa-hhd: a household-data service for tests and demonstrations. It
// keeps synthetic household records per area (the same area and query
// always give the same counts), checks the account, runs each job for a few
// status polls and serves the result table (GEOG, TQ, TOTAL) as a DBF.
//
//   plexa-hhd [--port N] [--accounts FILE] [--user NAME:PASSWORD]...
//             [--cert FILE --key FILE] [--delay-ms N] [--job-polls N]
//             [--job-seconds N] [--fault malformed|baddbf|html|huge|drip|die]
//   plexa-hhd --hash-password NAME      (reads the password from stdin)
//
// Every page but the registration page needs a login: HTTP basic
// authentication, or the "user" and "password" fields of a submission.
// A job belongs to the account that submitted it; other accounts are told
// there is no such job. An accounts file holds one "user:salt:hash" line
// per account, hash being the hex SHA-256 of salt followed by password;
// --hash-password prints such a line. Without --accounts or --user the
// service knows the account demo with the password demo.
//
// --cert and --key (PEM files) make it speak HTTPS. --port 0 picks a free
// port; the first line on standard output is always
// "listening on 127.0.0.1:PORT".
//
// Faults for testing clients: malformed (an unreadable submission reply),
// baddbf and html (a result that is no table), huge (a result without
// end), drip (a status reply of one byte a second), die (the service
// exits in the middle of a status reply).
#include <algorithm>
#include <gdal_priv.h>
#include <httplib.h>
#include <ogrsf_frmts.h>
#include <openssl/evp.h>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char* kGateway = "/velmar/QuISAPISOAPGateWay.dll";

struct Job {
    std::string geog, qfields, qlist, analysis;
    // Shared: a level's areas may be millions, and a job is copied to be served.
    std::shared_ptr<const std::vector<std::string>> areas;
    int pollsLeft = 0;
    std::chrono::steady_clock::time_point doneAt;
    // Jobs that are not waited for deliver the table people link later, in
    // which TOTAL holds the households read and TQ the matches; a waiting
    // client gets TQ read and TOTAL matching.
    bool linkLayout = false;
    std::string owner;
};

struct Account {
    std::string salt, hash;  // hash: hex SHA-256 of salt + password
};

struct Options {
    int port = 8360;
    std::map<std::string, Account> users;
    std::string cert, key;
    int delayMs = 0;
    int jobPolls = 2;
    int jobSeconds = 1;
    std::string fault;
};

uint64_t Fnv(const std::string& s) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

// Households read in an area, and how many of them match the query.
std::pair<long, long> Households(const std::string& key, const Job& job) {
    long read = 200 + static_cast<long>(Fnv("households:" + key) % 4800);
    double share = static_cast<double>(Fnv(key + "|" + job.qfields + "|" + job.qlist) % 1000) / 1000.0 * 0.6;
    return {read, static_cast<long>(read * share)};
}

std::shared_ptr<const std::vector<std::string>> SplitAreas(const std::string& list) {
    auto out = std::make_shared<std::vector<std::string>>();
    out->reserve(static_cast<size_t>(std::count(list.begin(), list.end(), ',')) + 1);
    std::string cur;
    for (size_t at = 0; at <= list.size(); ++at) {
        char c = at < list.size() ? list[at] : ',';
        if (c == ',') {
            if (!cur.empty()) out->push_back(cur);
            cur.clear();
        } else if (c != '"') {
            cur += c;
        }
    }
    return out;
}

// A field of a submission: a part of a multipart body (as the client sends
// it, of any size and compressed or not) or a form field (a small form).
std::string Field(const httplib::Request& req, const std::string& name) {
    if (req.has_file(name)) return req.get_file_value(name).content;
    return req.get_param_value(name);
}

// The result table as the bytes of a dBASE file.
std::string ResultTable(const Job& job, bool broken) {
    if (broken) return "this is not a dBASE table";
    fs::path dir = fs::temp_directory_path() / ("plexa-hhd-" + std::to_string(Fnv(job.analysis + job.qlist) ^ std::hash<std::thread::id>()(std::this_thread::get_id())));
    fs::create_directories(dir);
    std::string path = (dir / "result.dbf").string();
    auto* drv = GetGDALDriverManager()->GetDriverByName("ESRI Shapefile");
    GDALDataset* ds = drv->Create(path.c_str(), 0, 0, 0, GDT_Unknown, nullptr);
    OGRLayer* layer = ds->CreateLayer("result", nullptr, wkbNone, nullptr);
    OGRFieldDefn geog("GEOG", OFTString);
    geog.SetWidth(12);
    layer->CreateField(&geog);
    for (const char* n : {"TQ", "TOTAL"}) {
        OGRFieldDefn f(n, OFTInteger);
        f.SetWidth(11);
        layer->CreateField(&f);
    }
    OGRFeature feature(layer->GetLayerDefn());
    for (auto& key : *job.areas) {
        auto [read, total] = Households(key, job);
        feature.SetFID(OGRNullFID);
        feature.SetField(0, key.c_str());
        feature.SetField(1, static_cast<int>(job.linkLayout ? total : read));
        feature.SetField(2, static_cast<int>(job.linkLayout ? read : total));
        if (layer->CreateFeature(&feature) != OGRERR_NONE) {
            GDALClose(ds);
            fs::remove_all(dir);
            return "the result table could not be written";
        }
    }
    GDALClose(ds);
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    fs::remove_all(dir);
    return bytes;
}

std::string Hex(const unsigned char* bytes, size_t n) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

std::string Sha256Hex(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &n, EVP_sha256(), nullptr) != 1) {
        std::cerr << "plexa-hhd: SHA-256 is not available\n";
        std::exit(1);
    }
    return Hex(digest, n);
}

// Random hex digits from the system's entropy source.
std::string RandomHex(size_t digits, bool upper) {
    static std::random_device device;
    static std::mutex mu;
    std::lock_guard<std::mutex> lock(mu);
    std::string out;
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    while (out.size() < digits) {
        unsigned v = device();
        for (int i = 0; i < 8 && out.size() < digits; ++i, v >>= 4) out += set[v & 15];
    }
    return out;
}

Account MakeAccount(const std::string& password) {
    Account a;
    a.salt = RandomHex(32, false);
    a.hash = Sha256Hex(a.salt + password);
    return a;
}

bool SameText(const std::string& a, const std::string& b) {
    // Takes as long for a near miss as for a far one.
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
    return diff == 0;
}

// Reads "user:salt:hash" lines; blank lines and lines starting with # are
// skipped. Returns false with a message on the first bad line.
bool ReadAccounts(const std::string& path, std::map<std::string, Account>& users, std::string& why) {
    std::ifstream in(path);
    if (!in) {
        why = "cannot read " + path;
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        size_t a = line.find(':'), b = a == std::string::npos ? a : line.find(':', a + 1);
        std::string hash = b == std::string::npos ? "" : line.substr(b + 1);
        bool hex = hash.size() == 64 && hash.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
        if (a == 0 || b == std::string::npos || !hex) {
            why = path + ":" + std::to_string(number) + ": not a user:salt:sha256-hex line";
            return false;
        }
        for (auto& c : hash) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        users[line.substr(0, a)] = Account{line.substr(a + 1, b - a - 1), hash};
    }
    return true;
}

std::string Base64Decode(const std::string& in) {
    std::string out;
    int bits = 0;
    unsigned value = 0;
    for (unsigned char c : in) {
        int d;
        if (c >= 'A' && c <= 'Z') d = c - 'A';
        else if (c >= 'a' && c <= 'z') d = c - 'a' + 26;
        else if (c >= '0' && c <= '9') d = c - '0' + 52;
        else if (c == '+') d = 62;
        else if (c == '/') d = 63;
        else break;
        value = (value << 6) | static_cast<unsigned>(d);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((value >> bits) & 0xFF);
        }
    }
    return out;
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
    "                 [--delay-ms N] [--job-polls N] [--job-seconds N]\n"
    "                 [--fault malformed|baddbf|html|huge|drip|die]\n"
    "       plexa-hhd --hash-password NAME   (reads the password from standard input)\n";

int main(int argc, char** argv) {
    Options o;
    bool accountsGiven = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::cerr << "plexa-hhd: " << a << " needs a value\n";
                std::exit(2);
            }
            return argv[++i];
        };
        auto number = [&]() {
            std::string v = next();
            try {
                size_t used = 0;
                int n = std::stoi(v, &used);
                if (used == v.size()) return n;
            } catch (const std::exception&) {
            }
            std::cerr << "plexa-hhd: " << a << " needs a number, not " << v << "\n";
            std::exit(2);
        };
        if (a == "--port") o.port = number();
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
        else if (a == "--delay-ms") o.delayMs = number();
        else if (a == "--job-polls") o.jobPolls = number();
        else if (a == "--job-seconds") o.jobSeconds = number();
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
    GDALAllRegister();

    std::unique_ptr<httplib::Server> server;
    if (o.cert.empty()) {
        server = std::make_unique<httplib::Server>();
    } else {
        server = std::make_unique<httplib::SSLServer>(o.cert.c_str(), o.key.c_str());
        if (!server->is_valid()) {
            std::cerr << "plexa-hhd: the certificate " << o.cert << " or the key " << o.key << " cannot be used\n";
            return 1;
        }
    }
    // The largest submission read, as sent (compressed or not): room for
    // the area list of every block group of a country (8 million keys of
    // 12 digits are 120 MB as text). A form-encoded body is still held to
    // the 8 KB of the HTTP library.
    server->set_payload_max_length(std::size_t{256} << 20);

    std::mutex mu;
    std::map<std::string, Job> jobs;
    auto pause = [&] {
        if (o.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(o.delayMs));
    };
    auto text = [](httplib::Response& res, const std::string& body, int status = 200) {
        res.status = status;
        res.set_content(body, "text/plain");
    };
    // The account a request logs in with, or empty (and a refusal sent)
    // when it does not.
    auto login = [&](const httplib::Request& req, httplib::Response& res) -> std::string {
        std::string user, password;
        std::string auth = req.get_header_value("Authorization");
        if (auth.rfind("Basic ", 0) == 0) {
            std::string pair = Base64Decode(auth.substr(6));
            size_t c = pair.find(':');
            if (c != std::string::npos) {
                user = pair.substr(0, c);
                password = pair.substr(c + 1);
            }
        }
        if (req.has_param("user") || req.has_file("user")) {
            user = Field(req, "user");
            password = Field(req, "password");
        }
        auto it = o.users.find(user);
        if (!user.empty() && it != o.users.end() && SameText(Sha256Hex(it->second.salt + password), it->second.hash))
            return user;
        res.set_header("WWW-Authenticate", "Basic realm=\"plexa-hhd\"");
        text(res, "status=0\nmessage=the user name or password is not valid\n", 401);
        return "";
    };
    // The job of the id when it belongs to the user.
    auto findJob = [&](const std::string& id, const std::string& user) -> Job* {
        auto it = jobs.find(id);
        return it == jobs.end() || it->second.owner != user ? nullptr : &it->second;
    };

    server->Post(std::string(kGateway) + "/submit", [&](const httplib::Request& req, httplib::Response& res) {
        pause();
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
        job.doneAt = std::chrono::steady_clock::now() + std::chrono::seconds(o.jobSeconds);
        job.linkLayout = Field(req, "wait") == "0";
        if (job.areas->empty() || job.qfields.empty() || job.qlist.empty())
            return text(res, "status=0\nmessage=the query has no areas or no categories\n", 400);
        std::string id;
        {
            std::lock_guard<std::mutex> lock(mu);
            do id = "HH" + RandomHex(16, true);
            while (jobs.count(id));
            jobs[id] = job;
        }
        std::cout << "job " << id << ": " << job.areas->size() << " areas, " << job.qfields << " (" << user << ")"
                  << std::endl;
        text(res, "status=1\njob=" + id + "\n");
    });
    server->Get(std::string(kGateway) + "/status", [&](const httplib::Request& req, httplib::Response& res) {
        pause();
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
                std::_Exit(3);
                return false;
            });
            return;
        }
        // A caller may ask to be answered only when the job is done or the
        // wait (at most two seconds) is over, instead of at once.
        long waitMs = std::clamp(std::atol(req.get_param_value("wait").c_str()), 0L, 2000L);
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        std::chrono::steady_clock::time_point doneAt;
        {
            std::lock_guard<std::mutex> lock(mu);
            Job* job = findJob(req.get_param_value("job"), user);
            if (!job) return text(res, "status=0\nmessage=no such job\n", 404);
            // A job is done after its polls or its time, whichever comes first.
            if (job->pollsLeft <= 0 || std::chrono::steady_clock::now() >= job->doneAt) return text(res, "status=1\n");
            --job->pollsLeft;
            doneAt = job->doneAt;
        }
        if (until > std::chrono::steady_clock::now()) std::this_thread::sleep_until(std::min(until, doneAt));
        text(res, std::chrono::steady_clock::now() >= doneAt ? "status=1\n" : "status=2\n");
    });
    server->Get(std::string(kGateway) + "/result", [&](const httplib::Request& req, httplib::Response& res) {
        pause();
        std::string user = login(req, res);
        if (user.empty()) return;
        Job job;
        {
            std::lock_guard<std::mutex> lock(mu);
            Job* found = findJob(req.get_param_value("job"), user);
            if (!found) return text(res, "no such job", 404);
            job = *found;
        }
        if (o.fault == "html") return text(res, "<html><body>Service temporarily unavailable</body></html>");
        if (o.fault == "huge") {
            res.set_chunked_content_provider("application/x-dbase", [](size_t, httplib::DataSink& sink) {
                static const std::string block(std::size_t{1} << 16, '\x03');
                return sink.write(block.data(), block.size());
            });
            return;
        }
        res.set_content(ResultTable(job, o.fault == "baddbf"), "application/x-dbase");
    });
    server->Get("/", [&](const httplib::Request& req, httplib::Response& res) {
        std::string user = login(req, res);
        if (user.empty()) return;
        std::ostringstream body;
        body << "<p>Household counts by area for Customer Prospecting.</p><p>Jobs of " << EscapeHtml(user)
             << ":</p><ul>";
        std::lock_guard<std::mutex> lock(mu);
        for (auto& [id, job] : jobs) {
            if (job.owner != user) continue;
            body << "<li>" << EscapeHtml(id) << ": " << job.areas->size() << " areas, " << EscapeHtml(job.qfields)
                 << " — <a href=\"" << kGateway << "/result?job=" << EscapeHtml(id) << "\">result table</a></li>";
        }
        body << "</ul>";
        res.set_content(Page("Quillon360 household data", body.str()), "text/html");
    });
    // Open to all: it is where people without an account go.
    server->Get("/velmarweb/VELMAR_Reg.asp", [&](const httplib::Request&, httplib::Response& res) {
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
    std::cout << "listening on 127.0.0.1:" << port << std::endl;
    server->listen_after_bind();
    return 0;
}
