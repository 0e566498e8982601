// The household-data client against services that mean harm or are set up
// wrong: job ids made to change the address or the terminal, certificates
// for other hosts, CA files that are missing or hold nothing, result tables
// larger than a reply or cut short; and the wizard's working folder with
// links planted in it.
#include <gtest/gtest.h>

#include <httplib.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "host/framework/DataManager.h"
#include "service/HouseholdDataClient.h"

namespace fs = std::filesystem;
using pxcp::HouseholdDataClient;

namespace {

const char* kGatewayPath = "velmar/QuISAPISOAPGateWay.dll";
const std::string kGateway = std::string("/") + kGatewayPath;

bool HasControl(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7f) return true;
    return false;
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The bytes of a dBASE table with the fields of a result and rows rows of
// recordLength bytes (blank).
std::string DbfHeader(unsigned long rows, unsigned recordLength) {
    std::string h(32, '\0');
    h[0] = 3;
    for (int i = 0; i < 4; ++i) h[4 + i] = static_cast<char>((rows >> (8 * i)) & 0xff);
    unsigned header = 32 + 3 * 32 + 1;
    h[8] = static_cast<char>(header & 0xff);
    h[9] = static_cast<char>(header >> 8);
    h[10] = static_cast<char>(recordLength & 0xff);
    h[11] = static_cast<char>(recordLength >> 8);
    for (const char* name : {"GEOG", "TQ", "TOTAL"}) {
        std::string field(32, '\0');
        field.replace(0, std::string(name).size(), name);
        field[11] = 'C';
        field[16] = static_cast<char>(recordLength / 3);
        h += field;
    }
    return h + "\x0d";
}

// A service of the test's own on 127.0.0.1: it answers a submission with
// the job id it is given, and keeps the address and login of every request.
class FakeService {
public:
    FakeService() {
        server_.Post(kGateway + "/submit", [this](const httplib::Request& req, httplib::Response& res) {
            Note(req);
            res.set_content("status=1\njob=" + job + "\n", "text/plain");
        });
        server_.Get(kGateway + "/status", [this](const httplib::Request& req, httplib::Response& res) {
            Note(req);
            res.set_content("status=1\n", "text/plain");
        });
        server_.Get(kGateway + "/result", [this](const httplib::Request& req, httplib::Response& res) {
            Note(req);
            if (table) table(res);
            else res.set_content(DbfHeader(0, 30) + "\x1a", "application/x-dbase");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ~FakeService() {
        server_.stop();
        thread_.join();
    }
    std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }
    std::vector<std::pair<std::string, std::string>> Requests() {
        std::lock_guard<std::mutex> lock(mu_);
        return requests_;
    }

    std::string job = "HH0123456789ABCDEF";
    std::function<void(httplib::Response&)> table;

private:
    void Note(const httplib::Request& req) {
        std::lock_guard<std::mutex> lock(mu_);
        requests_.emplace_back(req.target, req.get_header_value("Authorization"));
    }
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    std::mutex mu_;
    std::vector<std::pair<std::string, std::string>> requests_;  // address, Authorization
};

class ClientTest : public ::testing::Test {
protected:
    void TearDown() override { unsetenv("PLEXA_CA_FILE"); }
    // Submits a small waiting query to host; returns the status text.
    std::string Submit(HouseholdDataClient& client, const std::string& host, const std::string& areas = "\"37001\"") {
        client.SetGeography("COUNTY", areas);
        client.SetQuery("AGE", "1,2");
        return client.Submit(host, kGatewayPath, dir / "result.dbf", "EXPERIAN", true, "demo", "s3cret", "Test");
    }
    pxtest::ScratchDir dir;
};

}  // namespace

// ---- job ids and texts from a hostile service

TEST_F(ClientTest, AJobIdThatIsNoneIsRefusedAndNeverPutIntoAnAddress) {
    FakeService service;
    for (std::string id : std::vector<std::string>{"HH1&user=eve", "HH1?wait=0", "\x1b[31mHH1", "../HH1", "HH 1", "HH1%0d%0aX:y",
                           std::string(65, 'A')}) {
        service.job = id;
        HouseholdDataClient client;
        EXPECT_EQ(Submit(client, service.Host()), "0") << id;
        EXPECT_EQ(client.GetJobID(), "");
        EXPECT_NE(client.LastMessage().find("not a job id"), std::string::npos) << client.LastMessage();
        EXPECT_FALSE(HasControl(client.LastMessage())) << client.LastMessage();
    }
    // Only the submissions reached the service, each logged in by its
    // header; the password is in no address.
    auto requests = service.Requests();
    EXPECT_EQ(requests.size(), 7u);
    for (auto& [target, auth] : requests) {
        EXPECT_EQ(target, kGateway + "/submit");
        EXPECT_EQ(auth.rfind("Basic ", 0), 0u);
    }

    // A good id goes through, encoded, for status and result.
    service.job = "HH0123456789ABCDEF";
    HouseholdDataClient client;
    ASSERT_EQ(Submit(client, service.Host()), "1") << client.LastMessage();
    EXPECT_EQ(client.GetStatus(), 1);
    requests = service.Requests();
    ASSERT_EQ(requests.size(), 10u);
    EXPECT_EQ(requests[8].first, kGateway + "/status?job=HH0123456789ABCDEF&wait=1000");
    EXPECT_EQ(requests[9].first, kGateway + "/result?job=HH0123456789ABCDEF");
    for (auto& [target, auth] : requests) {
        EXPECT_EQ(target.find("s3cret"), std::string::npos) << target;
        EXPECT_EQ(target.find("password"), std::string::npos) << target;
        EXPECT_FALSE(auth.empty());
    }

    // An id typed for a later fetch is held to the same form.
    try {
        HouseholdDataClient::FetchResult(service.Host(), kGatewayPath, "\x1b]0;owned\x07HH1", dir / "later.dbf", "demo",
                                         "s3cret");
        ADD_FAILURE() << "a hostile id was fetched";
    } catch (const std::exception& e) {
        EXPECT_NE(std::string(e.what()).find("is not a job id"), std::string::npos) << e.what();
        EXPECT_FALSE(HasControl(e.what())) << e.what();
    }
    EXPECT_EQ(service.Requests().size(), 10u);
}

TEST(ClientReplies, TextsFromARepliesAreShownWithoutControlCharacters) {
    EXPECT_EQ(pxcp::Printable("plain text, ünïcode"), "plain text, ünïcode");
    EXPECT_EQ(pxcp::Printable("\x1b[2Jgone\x07\r\n"), "?[2Jgone???");
    EXPECT_EQ(pxcp::Printable("C1 \xc2\x9b" "31m and a lone \x9b byte"), "C1 ?31m and a lone ? byte");
    EXPECT_EQ(pxcp::Printable(std::string(1000, 'x')).size(), 200u);
    // Whole characters only, also where the text is cut.
    EXPECT_EQ(pxcp::Printable("ab\xc3\xa9", 3), "ab\xc3\xa9");
    EXPECT_EQ(pxcp::UrlComponent("HH-1_a.b~"), "HH-1_a.b~");
    EXPECT_EQ(pxcp::UrlComponent("a&b=c d/é"), "a%26b%3Dc%20d%2F%C3%A9");
    EXPECT_TRUE(pxcp::ValidJobId("HH0123456789ABCDEF"));
    EXPECT_FALSE(pxcp::ValidJobId(""));
    EXPECT_FALSE(pxcp::ValidJobId("HH.1"));

    auto refused = pxcp::ReadSubmitReply("status=0\nmessage=\x1b[31mno\x1b[0m\n");
    EXPECT_EQ(refused.message, "The household-data service refused the query: ?[31mno?[0m");
    EXPECT_EQ(pxcp::RefusalMessage(400, "status=0\nmessage=bad\x1b]2;x\x07\n", "demo", 1, 10),
              "The household-data service refused the query (HTTP 400): bad?]2;x?.");
    EXPECT_EQ(pxcp::JobRefusal(500, "", "demo", "HH1"),
              "The household-data service failed while answering for job HH1 (HTTP 500).");
    EXPECT_EQ(pxcp::JobRefusal(503, "", "demo", "HH1"),
              "The household-data service is too busy to answer for job HH1 (HTTP 503). Try again later.");
}

// ---- result tables: larger than a reply, or not whole

TEST_F(ClientTest, AResultTableLargerThanAReplyGoesToTheDiskForALargeLevel) {
    FakeService service;
    // 300,000 areas: a table of 72 MB, more than any other reply may hold.
    const unsigned long rows = 300000;
    const unsigned recordLength = 240;
    std::string header = DbfHeader(rows, recordLength);
    uint64_t size = header.size() + uint64_t{rows} * recordLength + 1;
    service.table = [&](httplib::Response& res) {
        res.set_content_provider(size, "application/x-dbase", [&, size](size_t offset, size_t length, httplib::DataSink& sink) {
            std::string block(std::min<size_t>(length, 1 << 16), ' ');
            if (offset < header.size()) block.replace(0, std::min(block.size(), header.size() - offset), header.substr(offset, block.size()));
            if (offset + block.size() == size) block.back() = '\x1a';
            return sink.write(block.data(), block.size());
        });
    };
    std::string areas;
    for (unsigned long i = 0; i < rows; ++i) areas += i ? ",\"1\"" : "\"1\"";
    HouseholdDataClient client;
    ASSERT_EQ(Submit(client, service.Host(), areas), "1") << client.LastMessage();
    EXPECT_EQ(client.GetStatus(), 1);
    EXPECT_EQ(fs::file_size(dir / "result.dbf"), size);
    EXPECT_EQ(HouseholdDataClient::DbfProblem(ReadAll(dir / "result.dbf"), {"GEOG", "TQ", "TOTAL"}), "");

    // The same table for a level of two areas is beyond what it may be.
    HouseholdDataClient small;
    ASSERT_EQ(Submit(small, service.Host(), "\"1\",\"2\""), "1");
    try {
        small.GetStatus();
        ADD_FAILURE() << "a table of 72 MB was taken for two areas";
    } catch (const std::exception& e) {
        EXPECT_NE(std::string(e.what()).find("larger than 64 MB"), std::string::npos) << e.what();
    }
}

TEST_F(ClientTest, ATableCutShortOrRunningOnLeavesTheOldOneAndNoScratch) {
    FakeService service;
    std::ofstream(dir / "later.dbf") << "the old table";
    std::string body;
    service.table = [&](httplib::Response& res) { res.set_content(body, "application/x-dbase"); };
    auto fetch = [&] {
        try {
            HouseholdDataClient::FetchResult(service.Host(), kGatewayPath, "HH1", dir / "later.dbf", "demo", "s3cret");
        } catch (const std::exception& e) {
            return std::string(e.what());
        }
        return std::string("(fetched)");
    };
    body = DbfHeader(10, 30) + std::string(100, ' ');
    EXPECT_NE(fetch().find("the table is cut short"), std::string::npos);
    body = DbfHeader(1, 30) + std::string(30 + 1 + 4096, ' ');
    EXPECT_NE(fetch().find("went on past the end of the table"), std::string::npos);
    EXPECT_EQ(ReadAll(dir / "later.dbf"), "the old table");
    body = DbfHeader(1, 30) + std::string(30, ' ') + "\x1a";
    EXPECT_EQ(fetch(), "(fetched)");
    EXPECT_EQ(ReadAll(dir / "later.dbf"), body);
    long files = std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator());
    EXPECT_EQ(files, 1);
}

// ---- HTTPS: what is wrong, said in words

TEST_F(ClientTest, CertificateProblemsSayWhatIsWrong) {
    auto make = [&](const std::string& name, const std::string& san) {
        std::string cert = dir / (name + ".pem"), key = dir / (name + ".key");
        std::string cmd = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 -subj /CN=" +
                          name + " -addext subjectAltName=" + san + " -keyout '" + key + "' -out '" + cert +
                          "' > /dev/null 2>&1";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        return std::make_pair(cert, key);
    };
    auto [other, otherKey] = make("elsewhere.example", "DNS:elsewhere.example");
    auto [local, localKey] = make("127.0.0.1", "IP:127.0.0.1");
    auto message = [&](const std::string& host) {
        HouseholdDataClient client;
        EXPECT_EQ(Submit(client, "https://" + host), "0");
        return client.LastMessage();
    };

    {
        // Trusted, but for another name.
        pxtest::ServiceProcess service({"--cert", other, "--key", otherKey});
        setenv("PLEXA_CA_FILE", other.c_str(), 1);
        std::string m = message(service.Host());
        EXPECT_NE(m.find("its certificate is for another host name than 127.0.0.1"), std::string::npos) << m;
        EXPECT_EQ(m.find("PLEXA_CA_FILE"), std::string::npos) << m;
    }
    pxtest::ServiceProcess service({"--cert", local, "--key", localKey});
    setenv("PLEXA_CA_FILE", (dir / "missing.pem").c_str(), 1);
    std::string m = message(service.Host());
    EXPECT_NE(m.find("the CA file " + (dir / "missing.pem") + " (PLEXA_CA_FILE) cannot be read: No such file"),
              std::string::npos) << m;
    std::ofstream(dir / "empty.pem") << "no certificate here\n";
    setenv("PLEXA_CA_FILE", (dir / "empty.pem").c_str(), 1);
    m = message(service.Host());
    EXPECT_NE(m.find("holds no certificate that can be read"), std::string::npos) << m;
    // Signed by nobody the given file vouches for, or nobody at all.
    setenv("PLEXA_CA_FILE", other.c_str(), 1);
    m = message(service.Host());
    EXPECT_NE(m.find("its certificate is not vouched for by the CA file " + other), std::string::npos) << m;
    unsetenv("PLEXA_CA_FILE");
    m = message(service.Host());
    EXPECT_NE(m.find("its certificate is not trusted ("), std::string::npos) << m;
    for (const char* code : {"SSLLoadingCerts", "SSLServerVerification", "SSLConnection"})
        EXPECT_EQ(m.find(code), std::string::npos) << m;
    // And with the right one it goes through.
    setenv("PLEXA_CA_FILE", local.c_str(), 1);
    HouseholdDataClient client;
    EXPECT_EQ(Submit(client, "https://" + service.Host()), "0");  // the service knows demo:demo only
    EXPECT_NE(client.LastMessage().find("did not accept the login of demo (HTTP 401)"), std::string::npos)
        << client.LastMessage();
}

// ---- the wizard's working folder

TEST(WorkingFolder, LinksPlantedInTheAnalysesFolderAreNotFollowed) {
    pxtest::ScratchDir root, elsewhere;
    fs::create_directories(root / "analyses");
    std::ofstream(elsewhere / "victim.hhq") << "someone else's file";
    host::DataManager dm({}, root / "analyses");

    // The working folder is a link to another place.
    fs::create_directory_symlink(elsewhere.Path(), root / "analyses/.working");
    std::string path = dm.WorkingPath();
    fs::path working = fs::path(path).parent_path();
    EXPECT_EQ(working, root / "analyses/.working");
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(working)));
    struct stat st {};
    ASSERT_EQ(stat(working.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    std::ofstream(path + ".hhq") << "the query";
    EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere.Path()), fs::directory_iterator()), 1);

    // A working file is a link to someone else's file.
    fs::remove(path + ".hhq");
    fs::create_symlink(elsewhere / "victim.hhq", path + ".hhq");
    EXPECT_EQ(dm.WorkingPath(), path);
    EXPECT_FALSE(fs::exists(fs::symlink_status(path + ".hhq")));
    std::ofstream(path + ".hhq") << "the query";
    EXPECT_EQ(ReadAll(elsewhere / "victim.hhq"), "someone else's file");

    // Something that is no folder takes the name: the user gets one of
    // their own beside it.
    fs::remove_all(working);
    std::ofstream(root / "analyses/.working") << "not a folder";
    std::string own = dm.WorkingPath();
    EXPECT_EQ(fs::path(own).parent_path().filename().string().rfind(".working-", 0), 0u) << own;
    EXPECT_EQ(ReadAll(root / "analyses/.working"), "not a folder");
}
