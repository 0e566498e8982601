// The jobs plexa-hhd holds: each belongs to the account that submitted it
// and is forgotten, memory and all, a set time after it is done.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>

namespace hhd {

using Clock = std::chrono::steady_clock;

// The area keys of a job in one string, each key ended by a newline: a
// level's areas may be millions, and a string per key would cost some 40
// bytes each beside the key.
struct Areas {
    std::string keys;
    size_t count = 0;

    // Calls f with each key in the order submitted.
    void ForEach(const std::function<void(const std::string&)>& f) const;
};

// The keys of an area list as the client sends it: "k1","k2",... (quotes
// optional, empty keys left out).
std::shared_ptr<const Areas> SplitAreas(const std::string& list);

struct Job {
    std::string owner, geog, qfields, qlist, analysis;
    // Shared: a job is copied to be served while the store may drop it.
    std::shared_ptr<const Areas> areas;
    int pollsLeft = 0;
    Clock::time_point doneAt;
    // Jobs that are not waited for deliver the table people link later, in
    // which TOTAL holds the households read and TQ the matches; a waiting
    // client gets TQ read and TOTAL matching.
    bool linkLayout = false;
};

// A thread-safe map of job ids to jobs. A job stays, fetched or not, until
// `keep` after it is done; then a sweeper thread drops it and hands the
// memory back to the system.
class JobStore {
public:
    explicit JobStore(std::chrono::seconds keep);
    ~JobStore();
    JobStore(const JobStore&) = delete;
    JobStore& operator=(const JobStore&) = delete;

    // Stores the job under a new random id and returns the id.
    std::string Add(Job job);

    // A copy of the job when it exists, belongs to user and has not expired.
    std::optional<Job> Find(const std::string& id, const std::string& user);

    enum class Poll { Missing, Done, Running };
    // One status poll of the job: counts it down and gives when it is done.
    Poll CountPoll(const std::string& id, const std::string& user, Clock::time_point& doneAt);

    // Calls f for each live job of user, in id order, under the store's lock.
    void ForEachOf(const std::string& user, const std::function<void(const std::string&, const Job&)>& f);

    size_t Size();

private:
    Job* Live(const std::string& id, const std::string& user);
    void Sweep();

    const std::chrono::seconds keep_;
    std::mutex mu_;
    std::condition_variable wake_;
    struct Entry {
        Job job;
        Clock::time_point expiresAt;
    };
    std::unordered_map<std::string, Entry> jobs_;
    std::multimap<Clock::time_point, std::string> byExpiry_;
    bool stopping_ = false;
    std::thread sweeper_;
};

}  // namespace hhd
