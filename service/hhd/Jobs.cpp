#include "service/hhd/Jobs.h"

#include <algorithm>
#include <iostream>
#include <vector>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "service/hhd/Accounts.h"

namespace hhd {

void Areas::ForEach(const std::function<void(const std::string&)>& f) const {
    std::string key;
    for (size_t at = 0, end; at < keys.size(); at = end + 1) {
        end = keys.find('\n', at);
        key.assign(keys, at, end - at);
        f(key);
    }
}

std::shared_ptr<const Areas> SplitAreas(const std::string& list) {
    auto out = std::make_shared<Areas>();
    out->keys.reserve(list.size());
    bool inKey = false;
    for (size_t at = 0; at <= list.size(); ++at) {
        char c = at < list.size() ? list[at] : ',';
        if (c == ',' || c == '\n') {
            if (inKey) {
                out->keys += '\n';
                ++out->count;
            }
            inKey = false;
        } else if (c != '"') {
            out->keys += c;
            inKey = true;
        }
    }
    out->keys.shrink_to_fit();
    return out;
}

JobStore::JobStore(std::chrono::seconds keep) : keep_(keep), sweeper_([this] { Sweep(); }) {}

JobStore::~JobStore() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        stopping_ = true;
    }
    wake_.notify_all();
    sweeper_.join();
}

std::string JobStore::Add(Job job) {
    std::lock_guard<std::mutex> lock(mu_);
    std::string id;
    do id = "HH" + RandomHex(16, true);
    while (jobs_.count(id));
    auto expiresAt = job.doneAt + keep_;
    auto at = byExpiry_.emplace(expiresAt, id);
    jobs_.emplace(id, Entry{std::move(job), expiresAt});
    if (at == byExpiry_.begin()) wake_.notify_all();
    return id;
}

Job* JobStore::Live(const std::string& id, const std::string& user) {
    auto it = jobs_.find(id);
    if (it == jobs_.end() || it->second.job.owner != user || it->second.expiresAt <= Clock::now()) return nullptr;
    return &it->second.job;
}

std::optional<Job> JobStore::Find(const std::string& id, const std::string& user) {
    std::lock_guard<std::mutex> lock(mu_);
    Job* job = Live(id, user);
    if (!job) return std::nullopt;
    return *job;
}

JobStore::Poll JobStore::CountPoll(const std::string& id, const std::string& user, Clock::time_point& doneAt) {
    std::lock_guard<std::mutex> lock(mu_);
    Job* job = Live(id, user);
    if (!job) return Poll::Missing;
    doneAt = job->doneAt;
    // A job is done after its polls or its time, whichever comes first.
    if (job->pollsLeft <= 0 || Clock::now() >= job->doneAt) return Poll::Done;
    --job->pollsLeft;
    return Poll::Running;
}

void JobStore::ForEachOf(const std::string& user, const std::function<void(const std::string&, const Job&)>& f) {
    std::lock_guard<std::mutex> lock(mu_);
    std::vector<const std::string*> ids;
    for (auto& [id, entry] : jobs_)
        if (entry.job.owner == user && entry.expiresAt > Clock::now()) ids.push_back(&id);
    std::sort(ids.begin(), ids.end(), [](auto* a, auto* b) { return *a < *b; });
    for (auto* id : ids) f(*id, jobs_.at(*id).job);
}

size_t JobStore::Size() {
    std::lock_guard<std::mutex> lock(mu_);
    return jobs_.size();
}

// Drops the expired jobs, at most once a second so that a stream of jobs
// expiring one by one costs one pass a second.
void JobStore::Sweep() {
    std::unique_lock<std::mutex> lock(mu_);
    Clock::time_point last;
    while (!stopping_) {
        if (byExpiry_.empty()) {
            wake_.wait(lock);
            continue;
        }
        auto next = std::max(byExpiry_.begin()->first, last + std::chrono::seconds(1));
        if (Clock::now() < next) {
            wake_.wait_until(lock, next);
            continue;
        }
        last = Clock::now();
        std::vector<Job> dropped;
        while (!byExpiry_.empty() && byExpiry_.begin()->first <= last) {
            auto it = jobs_.find(byExpiry_.begin()->second);
            dropped.push_back(std::move(it->second.job));
            jobs_.erase(it);
            byExpiry_.erase(byExpiry_.begin());
        }
        size_t kept = jobs_.size(), count = dropped.size();
        lock.unlock();
        dropped.clear();
        // Freed blocks stay in the allocator's arenas unless handed back.
#ifdef __GLIBC__
        malloc_trim(0);
#endif
        std::cout << "expired " << count << " jobs, " << kept << " kept" << std::endl;
        lock.lock();
    }
}

}  // namespace hhd
