// plexa-hhd: a household-data service for tests and demonstrations. It
// keeps synthetic household records per area (the same area and query
// always give the same counts), checks the account, runs each job for a few
// status polls and serves the result table (GEOG, TQ, TOTAL) as a DBF.
//
//   plexa-hhd [--port N] [--user NAME:PASSWORD]... [--delay-ms N]
//             [--job-polls N] [--job-seconds N] [--fault malformed|baddbf|html]
//
// --port 0 picks a free port; the first line on standard output is always
// "listening on 127.0.0.1:PORT".
#include <gdal_priv.h>
#include <httplib.h>
#include <ogrsf_frmts.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
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
    std::vector<std::string> areas;
    int pollsLeft = 0;
    std::chrono::steady_clock::time_point doneAt;
    // Jobs that are not waited for deliver the table people link later, in
    // which TOTAL holds the households read and TQ the matches; a waiting
    // client gets TQ read and TOTAL matching.
    bool linkLayout = false;
};

struct Options {
    int port = 8360;
    std::map<std::string, std::string> users;
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

std::vector<std::string> SplitAreas(const std::string& list) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : list + ",") {
        if (c == ',') {
            if (!cur.empty()) out.push_back(cur);
            cur.clear();
        } else if (c != '"') {
            cur += c;
        }
    }
    return out;
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
    for (auto& key : job.areas) {
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

std::string Page(const std::string& title, const std::string& body) {
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + title + "</title></head><body><h1>" + title +
           "</h1>" + body + "</body></html>";
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::cerr << "plexa-hhd: " << a << " needs a value\n";
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--port") o.port = std::stoi(next());
        else if (a == "--user") {
            std::string u = next();
            size_t c = u.find(':');
            o.users[u.substr(0, c)] = c == std::string::npos ? "" : u.substr(c + 1);
        } else if (a == "--delay-ms") o.delayMs = std::stoi(next());
        else if (a == "--job-polls") o.jobPolls = std::stoi(next());
        else if (a == "--job-seconds") o.jobSeconds = std::stoi(next());
        else if (a == "--fault") o.fault = next();
        else {
            std::cerr << "usage: plexa-hhd [--port N] [--user NAME:PASSWORD]... [--delay-ms N] [--job-polls N] "
                         "[--job-seconds N] [--fault malformed|baddbf|html]\n";
            return 2;
        }
    }
    if (o.users.empty()) o.users["demo"] = "demo";
    GDALAllRegister();

    std::mutex mu;
    std::map<std::string, Job> jobs;
    std::atomic<long> counter{0};
    httplib::Server server;
    auto pause = [&] {
        if (o.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(o.delayMs));
    };
    auto text = [](httplib::Response& res, const std::string& body, int status = 200) {
        res.status = status;
        res.set_content(body, "text/plain");
    };

    server.Post(std::string(kGateway) + "/submit", [&](const httplib::Request& req, httplib::Response& res) {
        pause();
        if (o.fault == "malformed") return text(res, "<soap:Fault>internal gateway error");
        auto user = req.get_param_value("user"), password = req.get_param_value("password");
        auto it = o.users.find(user);
        if (it == o.users.end() || it->second != password)
            return text(res, "status=0\nmessage=the user name or password is not valid\n", 401);
        Job job;
        job.geog = req.get_param_value("geog");
        job.qfields = req.get_param_value("qfields");
        job.qlist = req.get_param_value("qlist");
        job.analysis = req.get_param_value("analysis");
        job.areas = SplitAreas(req.get_param_value("areas"));
        job.pollsLeft = o.jobPolls;
        job.doneAt = std::chrono::steady_clock::now() + std::chrono::seconds(o.jobSeconds);
        job.linkLayout = req.get_param_value("wait") == "0";
        if (job.areas.empty() || job.qfields.empty() || job.qlist.empty())
            return text(res, "status=0\nmessage=the query has no areas or no categories\n", 400);
        char id[32];
        std::snprintf(id, sizeof id, "HH%06ld", ++counter);
        {
            std::lock_guard<std::mutex> lock(mu);
            jobs[id] = job;
        }
        std::cout << "job " << id << ": " << job.areas.size() << " areas, " << job.qfields << " (" << user << ")"
                  << std::endl;
        text(res, "status=1\njob=" + std::string(id) + "\n");
    });
    server.Get(std::string(kGateway) + "/status", [&](const httplib::Request& req, httplib::Response& res) {
        pause();
        std::lock_guard<std::mutex> lock(mu);
        auto it = jobs.find(req.get_param_value("job"));
        if (it == jobs.end()) return text(res, "status=0\nmessage=no such job\n", 404);
        // A job is done after its polls or its time, whichever comes first.
        if (it->second.pollsLeft > 0 && std::chrono::steady_clock::now() < it->second.doneAt) {
            --it->second.pollsLeft;
            return text(res, "status=2\n");
        }
        text(res, "status=1\n");
    });
    server.Get(std::string(kGateway) + "/result", [&](const httplib::Request& req, httplib::Response& res) {
        pause();
        Job job;
        {
            std::lock_guard<std::mutex> lock(mu);
            auto it = jobs.find(req.get_param_value("job"));
            if (it == jobs.end()) return text(res, "no such job", 404);
            job = it->second;
        }
        if (o.fault == "html") return text(res, "<html><body>Service temporarily unavailable</body></html>");
        res.set_content(ResultTable(job, o.fault == "baddbf"), "application/x-dbase");
    });
    server.Get("/", [&](const httplib::Request&, httplib::Response& res) {
        std::ostringstream body;
        body << "<p>Household counts by area for Customer Prospecting.</p><ul>";
        std::lock_guard<std::mutex> lock(mu);
        for (auto& [id, job] : jobs)
            body << "<li>" << id << ": " << job.areas.size() << " areas, " << job.qfields << " — <a href=\"" << kGateway
                 << "/result?job=" << id << "\">result table</a></li>";
        body << "</ul>";
        res.set_content(Page("Quillon360 household data", body.str()), "text/html");
    });
    server.Get("/velmarweb/VELMAR_Reg.asp", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(Page("Register for Quillon360", "<p>Accounts of this local service are given with --user.</p>"),
                        "text/html");
    });

    int port = o.port;
    if (port == 0) {
        port = server.bind_to_any_port("127.0.0.1");
    } else if (!server.bind_to_port("127.0.0.1", port)) {
        port = -1;
    }
    if (port < 0) {
        std::cerr << "plexa-hhd: cannot listen on 127.0.0.1:" << o.port << "\n";
        return 1;
    }
    std::cout << "listening on 127.0.0.1:" << port << std::endl;
    server.listen_after_bind();
    return 0;
}
