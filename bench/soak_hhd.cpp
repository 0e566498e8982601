// Soak of the household-data service: many clients submitting jobs,
// asking their status and fetching their tables for a while, against a
// service started here with a short job expiry. Prints the requests per
// second, the latencies (median, 99th percentile, worst) and the service's
// resident memory at the start, at the end of the load and once the jobs
// have expired, which must come back down.
//
//   soak_hhd [--clients N] [--seconds N] [--expiry SECONDS] [--areas N] [--service PATH]
//
// Defaults: 50 clients for 60 s, jobs kept 10 s, 1,000 areas (some 8 KB)
// per submission, the plexa-hhd built beside this program.
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
const std::string kGateway = "/velmar/QuISAPISOAPGateWay.dll";

struct Service {
    pid_t pid = -1;
    int port = 0;
};

// Starts plexa-hhd on a free port; its log is read and dropped by a thread.
Service Start(const std::string& path, long expiry) {
    int out[2];
    if (pipe(out) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string e = std::to_string(expiry);
    std::vector<std::string> args = {path, "--port", "0", "--job-seconds", "0", "--job-polls", "0", "--job-expiry", e};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    Service s;
    if (posix_spawn(&s.pid, path.c_str(), &actions, nullptr, argv.data(), environ) != 0) s.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string line;
    char c;
    while (s.pid > 0 && read(out[0], &c, 1) == 1 && c != '\n') line += c;
    size_t colon = line.rfind(':');
    if (line.rfind("listening on", 0) == 0 && colon != std::string::npos) s.port = std::atoi(line.c_str() + colon + 1);
    std::thread([fd = out[0]] {
        char buf[4096];
        while (read(fd, buf, sizeof buf) > 0) {
        }
        close(fd);
    }).detach();
    return s;
}

long RssKb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

struct Tally {
    std::vector<double> ms;  // latency of each request
    long failures = 0;
};

// One client: submit, status, result, over and over until the end.
void Client(int port, const std::string& areas, Clock::time_point end, Tally& tally) {
    httplib::Client http("127.0.0.1", port);
    http.set_basic_auth("demo", "demo");
    http.set_read_timeout(10, 0);
    httplib::MultipartFormDataItems form = {{"geog", "ZIPCODE", "", ""},
                                            {"qfields", "AGE", "", ""},
                                            {"qlist", "1,2", "", ""},
                                            {"analysis", "soak", "", ""},
                                            {"areas", areas, "", ""}};
    auto timed = [&](auto call) {
        auto start = Clock::now();
        auto res = call();
        tally.ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        if (!res || res->status != 200) ++tally.failures;
        return res;
    };
    while (Clock::now() < end) {
        auto submitted = timed([&] { return http.Post((kGateway + "/submit").c_str(), form); });
        if (!submitted || submitted->status != 200) continue;
        std::string job = submitted->body.substr(submitted->body.find("job=") + 4);
        job = job.substr(0, job.find('\n'));
        timed([&] { return http.Get((kGateway + "/status?job=" + job).c_str()); });
        timed([&] { return http.Get((kGateway + "/result?job=" + job).c_str()); });
    }
}

double Percentile(std::vector<double>& v, double p) {
    if (v.empty()) return 0;
    size_t at = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())));
    std::nth_element(v.begin(), v.begin() + static_cast<long>(at), v.end());
    return v[at];
}

}  // namespace

int main(int argc, char** argv) {
    int clients = 50, areaCount = 1000;
    long seconds = 60, expiry = 10;
    std::string path = PLEXA_HHD_PATH;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (i + 1 >= argc) {
            std::cerr << "soak_hhd: " << a << " needs a value\n";
            return 2;
        }
        std::string v = argv[++i];
        if (a == "--clients") clients = std::max(1, std::atoi(v.c_str()));
        else if (a == "--seconds") seconds = std::max(1L, std::atol(v.c_str()));
        else if (a == "--expiry") expiry = std::max(1L, std::atol(v.c_str()));
        else if (a == "--areas") areaCount = std::max(1, std::atoi(v.c_str()));
        else if (a == "--service") path = v;
        else {
            std::cerr << "usage: soak_hhd [--clients N] [--seconds N] [--expiry SECONDS] [--areas N] [--service PATH]\n";
            return 2;
        }
    }
    Service service = Start(path, expiry);
    if (service.port <= 0) {
        std::cerr << "soak_hhd: " << path << " did not start\n";
        return 1;
    }
    std::string areas;
    for (int i = 0; i < areaCount; ++i) areas += (i ? ",\"" : "\"") + std::to_string(10000 + i * 7 % 90000) + "\"";

    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    long rssStart = RssKb(service.pid);
    auto start = Clock::now(), end = start + std::chrono::seconds(seconds);
    std::vector<Tally> tallies(static_cast<size_t>(clients));
    std::vector<std::thread> threads;
    for (auto& t : tallies) threads.emplace_back(Client, service.port, std::cref(areas), end, std::ref(t));
    for (auto& t : threads) t.join();
    double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    long rssLoaded = RssKb(service.pid);
    // Every job is done at once (no polls, no time): each expires `expiry`
    // after its submission; the service sweeps once a second.
    std::this_thread::sleep_for(std::chrono::seconds(expiry + 2));
    long rssAfter = RssKb(service.pid);
    kill(service.pid, SIGTERM);
    waitpid(service.pid, nullptr, 0);

    std::vector<double> all;
    long failures = 0;
    for (auto& t : tallies) {
        all.insert(all.end(), t.ms.begin(), t.ms.end());
        failures += t.failures;
    }
    double worst = all.empty() ? 0 : *std::max_element(all.begin(), all.end());
    std::printf("%d clients, %.0f s, %zu requests (submit, status, result; %zu-byte area lists), %ld failed\n", clients,
                elapsed, all.size(), areas.size(), failures);
    std::printf("%.0f requests/s; latency median %.2f ms, 99th percentile %.2f ms, worst %.1f ms\n",
                static_cast<double>(all.size()) / elapsed, Percentile(all, 0.5), Percentile(all, 0.99), worst);
    std::printf("service memory (VmRSS): %.1f MB at start, %.1f MB at the end of the load, %.1f MB %ld s later\n",
                static_cast<double>(rssStart) / 1024, static_cast<double>(rssLoaded) / 1024,
                static_cast<double>(rssAfter) / 1024, expiry + 2);
    // Back down: most of what the load added is given back.
    bool down = rssAfter - rssStart <= std::max(16L * 1024, (rssLoaded - rssStart) / 4);
    std::printf("memory back down after the jobs expired: %s\n", down ? "yes" : "NO");
    return failures == 0 && down ? 0 : 1;
}
