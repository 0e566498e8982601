// The household-data service and its client under faults: logins on every
// page, jobs private to their account, replies that are too large, too
// slow or cut off, cancellation in the middle of a reply, and HTTPS.
#include <gtest/gtest.h>

#include <httplib.h>
#include <openssl/evp.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <thread>

#include "TestSupport.h"
#include "service/HouseholdDataClient.h"

namespace fs = std::filesystem;
using pxcp::HouseholdDataClient;
using Clock = std::chrono::steady_clock;

namespace {

const char* kGatewayPath = "velmar/QuISAPISOAPGateWay.dll";
const std::string kGateway = std::string("/") + kGatewayPath;

class ServiceTest : public ::testing::Test {
protected:
    void TearDown() override {
        HouseholdDataClient::SetCancelCheck(nullptr);
        for (const char* v : {"PLEXA_HOUSEHOLD_DEADLINE_MS", "PLEXA_HOUSEHOLD_TIMEOUT_MS", "PLEXA_CA_FILE"}) unsetenv(v);
    }

    // A client whose job was accepted by the service at host.
    std::unique_ptr<HouseholdDataClient> Submitted(const std::string& host, const std::string& user = "demo",
                                                   const std::string& password = "demo", bool wait = true,
                                                   const std::string& fields = "AGE") {
        auto client = std::make_unique<HouseholdDataClient>();
        EXPECT_EQ(client->SetGeography("COUNTY", "\"37001\",\"37003\""), "1");
        EXPECT_EQ(client->SetQuery(fields, "1,2"), "1");
        std::string status =
            client->Submit(host, kGatewayPath, dir / "result.dbf", "EXPERIAN", wait, user, password, "Test");
        EXPECT_EQ(status, "1") << client->LastMessage();
        return client;
    }

    // The message GetStatus raises, and how long it took.
    static std::pair<std::string, double> StatusFailure(HouseholdDataClient& client) {
        auto start = Clock::now();
        try {
            client.GetStatus();
        } catch (const std::exception& e) {
            return {e.what(), std::chrono::duration<double>(Clock::now() - start).count()};
        }
        return {"(no failure)", std::chrono::duration<double>(Clock::now() - start).count()};
    }

    pxtest::ScratchDir dir;
};

httplib::Result Get(const pxtest::ServiceProcess& service, const std::string& path, const std::string& user = "",
                    const std::string& password = "") {
    httplib::Client http("http://" + service.Host());
    if (!user.empty()) http.set_basic_auth(user, password);
    return http.Get(path);
}

long MaxRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Under AddressSanitizer freed blocks wait in its quarantine instead of
// being reused, so the peak size of the process says nothing of what the
// client held.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPeakShowsWhatIsHeld = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kPeakShowsWhatIsHeld = false;
#else
constexpr bool kPeakShowsWhatIsHeld = true;
#endif
#else
constexpr bool kPeakShowsWhatIsHeld = true;
#endif

std::string Shell(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[512];
        while (fgets(buf, sizeof buf, p)) out += buf;
        pclose(p);
    }
    return out;
}

}  // namespace

// ---- logins and the privacy of jobs

TEST_F(ServiceTest, EveryPageButRegistrationNeedsALogin) {
    pxtest::ServiceProcess service({"--job-seconds", "0"});
    auto client = Submitted(service.Host());
    std::string job = client->GetJobID();
    for (std::string path : {kGateway + "/status?job=" + job, kGateway + "/result?job=" + job, std::string("/")}) {
        auto anonymous = Get(service, path);
        ASSERT_TRUE(anonymous) << path;
        EXPECT_EQ(anonymous->status, 401) << path;
        EXPECT_TRUE(anonymous->has_header("WWW-Authenticate")) << path;
        auto wrong = Get(service, path, "demo", "Demo");
        ASSERT_TRUE(wrong);
        EXPECT_EQ(wrong->status, 401) << path;
        auto right = Get(service, path, "demo", "demo");
        ASSERT_TRUE(right);
        EXPECT_EQ(right->status, 200) << path;
    }
    auto registration = Get(service, "/velmarweb/VELMAR_Reg.asp");
    ASSERT_TRUE(registration);
    EXPECT_EQ(registration->status, 200);
}

// A status call may ask the service to hold its reply until the job is
// done: asked at once it is still running, asked to wait it is finished.
TEST_F(ServiceTest, AStatusCallThatWaitsIsAnsweredWhenTheJobIsDone) {
    pxtest::ServiceProcess service({"--job-seconds", "1", "--job-polls", "1000"});
    auto client = Submitted(service.Host(), "demo", "demo", false);
    std::string job = kGateway + "/status?job=" + client->GetJobID();
    auto now = Get(service, job, "demo", "demo");
    ASSERT_TRUE(now);
    EXPECT_EQ(now->body, "status=2\n");
    auto held = Get(service, job + "&wait=2000", "demo", "demo");
    ASSERT_TRUE(held);
    EXPECT_EQ(held->body, "status=1\n");
}

TEST_F(ServiceTest, JobsArePrivateToTheirAccountAndTheirIdsUnguessable) {
    pxtest::ServiceProcess service({"--job-seconds", "0", "--user", "alice:wonder", "--user", "bob:builder"});
    auto first = Submitted(service.Host(), "alice", "wonder", false);
    auto second = Submitted(service.Host(), "alice", "wonder", false);
    std::regex shape("HH[0-9A-F]{16}");
    EXPECT_TRUE(std::regex_match(first->GetJobID(), shape)) << first->GetJobID();
    EXPECT_TRUE(std::regex_match(second->GetJobID(), shape)) << second->GetJobID();
    EXPECT_NE(first->GetJobID(), second->GetJobID());

    std::string table = dir / "later.dbf";
    try {
        HouseholdDataClient::FetchResult(service.Host(), kGatewayPath, first->GetJobID(), table, "bob", "builder");
        ADD_FAILURE() << "another account fetched the job";
    } catch (const std::exception& e) {
        EXPECT_NE(std::string(e.what()).find("knows no job"), std::string::npos) << e.what();
    }
    auto peek = Get(service, kGateway + "/result?job=" + first->GetJobID(), "bob", "builder");
    ASSERT_TRUE(peek);
    EXPECT_EQ(peek->status, 404);
    EXPECT_FALSE(fs::exists(table));
    HouseholdDataClient::FetchResult(service.Host(), kGatewayPath, first->GetJobID(), table, "alice", "wonder");
    EXPECT_TRUE(fs::exists(table));

    // The demo account exists only when no account is given.
    auto demo = std::make_unique<HouseholdDataClient>();
    demo->SetGeography("COUNTY", "\"37001\"");
    demo->SetQuery("AGE", "1");
    EXPECT_EQ(demo->Submit(service.Host(), kGatewayPath, table, "EXPERIAN", true, "demo", "demo", "x"), "0");
    EXPECT_NE(demo->LastMessage().find("not valid"), std::string::npos) << demo->LastMessage();
}

TEST_F(ServiceTest, TheIndexShowsOnlyOwnJobsWithTheirTextEscaped) {
    pxtest::ServiceProcess service({"--job-seconds", "0", "--user", "alice:wonder", "--user", "bob:builder"});
    auto mine = Submitted(service.Host(), "alice", "wonder", true, "<script>alert('x')</script>&");
    auto theirs = Submitted(service.Host(), "bob", "builder");
    auto page = Get(service, "/", "alice", "wonder");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->body.find("<script>"), std::string::npos) << page->body;
    EXPECT_NE(page->body.find("&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;&amp;"), std::string::npos) << page->body;
    EXPECT_NE(page->body.find(mine->GetJobID()), std::string::npos);
    EXPECT_EQ(page->body.find(theirs->GetJobID()), std::string::npos);
}

TEST_F(ServiceTest, AccountsFileHoldsSaltedHashesMadeByTheHelper) {
    std::string hhd = PLEXA_HHD_PATH;
    std::string line = Shell("printf 'open sesame\\n' | '" + hhd + "' --hash-password carol");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, std::regex("carol:([0-9a-f]+):([0-9a-f]{64})\n"))) << line;
    // The line is the salted SHA-256 of the password, as the file format says.
    std::string salted = m[1].str() + "open sesame";
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned n = 0;
    ASSERT_EQ(EVP_Digest(salted.data(), salted.size(), digest, &n, EVP_sha256(), nullptr), 1);
    std::string hex;
    for (unsigned i = 0; i < n; ++i) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", digest[i]);
        hex += two;
    }
    EXPECT_EQ(m[2].str(), hex);
    // The same password gets another salt each time.
    EXPECT_NE(Shell("printf 'open sesame\\n' | '" + hhd + "' --hash-password carol"), line);

    std::ofstream(dir / "accounts") << "# accounts of the test\n\n" << line;
    pxtest::ServiceProcess service({"--job-seconds", "0", "--accounts", dir / "accounts"});
    EXPECT_EQ(Get(service, "/", "carol", "open sesame")->status, 200);
    EXPECT_EQ(Get(service, "/", "carol", "open sesame ")->status, 401);
    EXPECT_EQ(Get(service, "/", "demo", "demo")->status, 401);

    std::ofstream(dir / "broken") << "carol:nohash\n";
    EXPECT_THROW(pxtest::ServiceProcess({"--accounts", dir / "broken"}), std::runtime_error);
}

TEST_F(ServiceTest, OversizedRequestsAreRefused) {
    pxtest::ServiceProcess service({"--job-seconds", "0"});
    httplib::Client http("http://" + service.Host());
    std::string body = "user=demo&password=demo&geog=COUNTY&qfields=AGE&qlist=1&areas=" + std::string(2 << 20, '1');
    auto res = http.Post((kGateway + "/submit").c_str(), body, "application/x-www-form-urlencoded");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 413);
}

// ---- levels of many areas

// 220,000 block groups of 12 digits: far beyond what a form-encoded body
// may hold, and every key comes back in the result table.
TEST_F(ServiceTest, ALevelOfAQuarterMillionBlockGroupsGoesThrough) {
    pxtest::ServiceProcess service({"--job-seconds", "0"});
    const int n = 220000;
    std::string areas;
    areas.reserve(n * 15);
    for (int i = 0; i < n; ++i) {
        std::string key = std::to_string(370010000000LL + 1000LL * (i / 4) + i % 4);
        areas += (i ? ",\"" : "\"") + key + "\"";
    }
    HouseholdDataClient client;
    ASSERT_EQ(client.SetGeography("CENSUSBLOCKGROUP", areas), "1");
    ASSERT_EQ(client.SetQuery("AGE", "1,2"), "1");
    ASSERT_EQ(client.Submit(service.Host(), kGatewayPath, dir / "result.dbf", "EXPERIAN", true, "demo", "demo", "Many"), "1")
        << client.LastMessage();
    while (client.GetStatus() != 1) {
    }
    std::ifstream in(dir / "result.dbf", std::ios::binary);
    std::string dbf((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(dbf.size(), 8u);
    auto u8 = [&](size_t i) { return static_cast<unsigned long>(static_cast<unsigned char>(dbf[i])); };
    EXPECT_EQ(u8(4) | u8(5) << 8 | u8(6) << 16 | u8(7) << 24, static_cast<unsigned long>(n));
    EXPECT_NE(dbf.find("370064999003"), std::string::npos);  // the last key
}

// A service of one's own that refuses the submission as the HTTP library
// of a service does, with a status and no words; or that cannot read a
// compressed body: the query is then sent as it is.
TEST_F(ServiceTest, ARefusalByTheServiceSaysWhatItMeans) {
    httplib::Server server;
    std::atomic<int> submissions{0};
    std::string refuse;
    server.Post(kGateway + "/submit", [&](const httplib::Request& req, httplib::Response& res) {
        ++submissions;
        if (refuse == "gzip" && req.get_header_value("Content-Encoding") == "gzip") {
            res.status = 415;
            return;
        }
        if (refuse == "size") {
            res.status = 413;
            return;
        }
        if (refuse == "busy") {
            res.status = 503;
            return;
        }
        res.set_content("status=1\njob=J" + std::to_string(req.get_file_value("areas").content.size()) + "\n", "text/plain");
    });
    int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { server.listen_after_bind(); });
    while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::string host = "127.0.0.1:" + std::to_string(port);
    auto submit = [&] {
        HouseholdDataClient client;
        client.SetGeography("COUNTY", "\"37001\",\"37003\",\"37005\"");
        client.SetQuery("AGE", "1,2");
        std::string status = client.Submit(host, kGatewayPath, dir / "r.dbf", "EXPERIAN", true, "demo", "demo", "Test");
        return std::make_pair(status, status == "1" ? client.GetJobID() : client.LastMessage());
    };

    refuse = "gzip";
    EXPECT_EQ(submit(), std::make_pair(std::string("1"), std::string("J23")));
    EXPECT_EQ(submissions, 2);
    refuse = "size";
    auto [status, message] = submit();
    EXPECT_EQ(status, "0");
    EXPECT_EQ(message.rfind("The household-data service refused the query as larger than it accepts (HTTP 413). 3 areas, ", 0), 0u)
        << message;
    EXPECT_NE(message.find("Choose a smaller study area"), std::string::npos) << message;
    refuse = "busy";
    EXPECT_EQ(submit().second, "The household-data service is too busy to take the query (HTTP 503). Try again later.");
    server.stop();
    serving.join();
}

// ---- replies that are too large, too slow, cut off or cancelled

TEST_F(ServiceTest, AnEndlessReplyIsRefusedWithoutBeingHeld) {
    pxtest::ServiceProcess service({"--job-seconds", "0", "--fault", "huge"});
    auto client = Submitted(service.Host());
    long before = MaxRssKb();
    auto [message, seconds] = StatusFailure(*client);
    EXPECT_NE(message.find("larger than 64 MB"), std::string::npos) << message;
    // At most the capped reply and one copy of it were ever held.
    if (kPeakShowsWhatIsHeld) {
        EXPECT_LT(MaxRssKb() - before, 160L * 1024);
    }
    EXPECT_LT(seconds, 30);
    EXPECT_FALSE(fs::exists(dir / "result.dbf"));

    client = Submitted(service.Host(), "demo", "demo", false);
    EXPECT_THROW(HouseholdDataClient::FetchResult(service.Host(), kGatewayPath, client->GetJobID(), dir / "later.dbf",
                                                  "demo", "demo"),
                 std::runtime_error);
}

TEST_F(ServiceTest, ASlowReplyEndsByTheDeadlineOrWhenCancelled) {
    pxtest::ServiceProcess service({"--job-seconds", "0", "--fault", "drip"});
    auto client = Submitted(service.Host());
    // A byte a second never trips the read timeout, only the deadline.
    setenv("PLEXA_HOUSEHOLD_DEADLINE_MS", "1500", 1);
    auto [message, seconds] = StatusFailure(*client);
    EXPECT_NE(message.find("did not finish within 1500 ms"), std::string::npos) << message;
    EXPECT_GE(seconds, 1.4);
    EXPECT_LT(seconds, 3.0);

    unsetenv("PLEXA_HOUSEHOLD_DEADLINE_MS");
    auto start = Clock::now();
    HouseholdDataClient::SetCancelCheck([start] { return Clock::now() - start > std::chrono::milliseconds(1200); });
    try {
        client->GetStatus();
        ADD_FAILURE() << "a cancelled request went on";
    } catch (const pxcp::HouseholdRequestCancelled& e) {
        EXPECT_NE(std::string(e.what()).find("cancelled"), std::string::npos);
    }
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 2.5);
}

TEST_F(ServiceTest, ASilentServiceIsCancelledWithoutWaitingForTheTimeout) {
    pxtest::ServiceProcess service({"--job-seconds", "0", "--delay-ms", "20000"});
    auto client = std::make_unique<HouseholdDataClient>();
    client->SetGeography("COUNTY", "\"37001\"");
    client->SetQuery("AGE", "1");
    std::atomic<bool> cancelled{false};
    HouseholdDataClient::SetCancelCheck([&] { return cancelled.load(); });
    auto start = Clock::now();
    std::thread press([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        cancelled = true;
    });
    std::string status = client->Submit(service.Host(), kGatewayPath, dir / "r.dbf", "EXPERIAN", true, "demo", "demo", "x");
    press.join();
    EXPECT_EQ(status, "0");
    EXPECT_NE(client->LastMessage().find("cancelled"), std::string::npos) << client->LastMessage();
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 1.5);
}

TEST_F(ServiceTest, AServiceThatDiesIsReportedAsGoneNotAsSlow) {
    {
        // Killed between two polls of a long job.
        auto service = std::make_unique<pxtest::ServiceProcess>(
            std::vector<std::string>{"--job-seconds", "100", "--job-polls", "100"});
        auto client = Submitted(service->Host());
        EXPECT_EQ(client->GetStatus(), 2);
        service.reset();
        auto [message, seconds] = StatusFailure(*client);
        EXPECT_NE(message.find("stopped answering"), std::string::npos) << message;
        EXPECT_NE(message.find("refused"), std::string::npos) << message;
        EXPECT_LT(seconds, 2);
    }
    {
        // Gone in the middle of a reply.
        pxtest::ServiceProcess service({"--job-seconds", "0", "--fault", "die"});
        auto client = Submitted(service.Host());
        auto [message, seconds] = StatusFailure(*client);
        EXPECT_NE(message.find("stopped answering"), std::string::npos) << message;
        EXPECT_NE(message.find("closed the connection"), std::string::npos) << message;
        EXPECT_EQ(message.find("in time"), std::string::npos) << message;
        EXPECT_LT(seconds, 5);
    }
}

// ---- HTTPS

TEST_F(ServiceTest, HttpsWithACertificateCheckedAgainstTheGivenCa) {
    std::string cert = dir / "cert.pem", key = dir / "key.pem";
    std::string made = Shell("openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 "
                           "-addext subjectAltName=IP:127.0.0.1 -keyout '" + key + "' -out '" + cert + "' 2>&1");
    ASSERT_TRUE(fs::exists(cert) && fs::exists(key)) << made;
    pxtest::ServiceProcess service({"--job-seconds", "0", "--cert", cert, "--key", key});
    std::string host = "https://" + service.Host();

    setenv("PLEXA_CA_FILE", cert.c_str(), 1);
    auto client = Submitted(host);
    long status = 2;
    for (int i = 0; i < 10 && status != 1; ++i) status = client->GetStatus();
    EXPECT_EQ(status, 1);
    EXPECT_EQ(HouseholdDataClient::DbfProblem(
                  [&] {
                      std::ifstream in(dir / "result.dbf", std::ios::binary);
                      return std::string(std::istreambuf_iterator<char>(in), {});
                  }(),
                  {"GEOG", "TQ", "TOTAL"}),
              "");

    // A certificate nobody vouches for is refused.
    unsetenv("PLEXA_CA_FILE");
    auto untrusted = std::make_unique<HouseholdDataClient>();
    untrusted->SetGeography("COUNTY", "\"37001\"");
    untrusted->SetQuery("AGE", "1");
    EXPECT_EQ(untrusted->Submit(host, kGatewayPath, dir / "r.dbf", "EXPERIAN", true, "demo", "demo", "x"), "0");
    EXPECT_NE(untrusted->LastMessage().find("certificate"), std::string::npos) << untrusted->LastMessage();

    // Plain HTTP to it gets nowhere.
    auto plain = Get(service, "/", "demo", "demo");
    EXPECT_TRUE(!plain || plain->status != 200);
}

// The replies as the client reads them, without a service: the texts the
// service sends and the ways a reply can fall short.
TEST(ServiceReplies, ASubmissionIsAcceptedOnlyWithAJob) {
    auto accepted = pxcp::ReadSubmitReply("job=HH17\r\nstatus=1.0\r\n");
    EXPECT_TRUE(accepted.read);
    EXPECT_EQ(accepted.status, "1.0");
    EXPECT_EQ(accepted.job, "HH17");
    EXPECT_EQ(accepted.message, "");

    auto noJob = pxcp::ReadSubmitReply("status=1\njob=\n");
    EXPECT_EQ(noJob.status, "0");
    EXPECT_NE(noJob.message.find("named no job"), std::string::npos);

    auto refused = pxcp::ReadSubmitReply("status=0\nmessage=the user name or password is not valid\n");
    EXPECT_EQ(refused.status, "0");
    EXPECT_EQ(refused.message, "The household-data service refused the query: the user name or password is not valid");

    // A page of some other server is no answer at all: it names no job.
    auto other = pxcp::ReadSubmitReply("<html>job=HH1</html>\njob=HH2\n");
    EXPECT_FALSE(other.read);
    EXPECT_EQ(other.status, "0");
    EXPECT_EQ(other.job, "");
}

TEST(ServiceReplies, AJobIsFinishedOnlyOnStatusOne) {
    EXPECT_EQ(pxcp::ReadJobState("status=1\r\n"), pxcp::JobState::Finished);
    EXPECT_EQ(pxcp::ReadJobState("status=2\n"), pxcp::JobState::Running);
    EXPECT_EQ(pxcp::ReadJobState("status=0\nmessage=no such job\n"), pxcp::JobState::Lost);
    EXPECT_EQ(pxcp::ReadJobState("Status=1\n"), pxcp::JobState::Unreadable);
    EXPECT_EQ(pxcp::ReadJobState(""), pxcp::JobState::Unreadable);
}
