// Analyses folders shared by several processes: a name held by one run is
// refused to every other until that run lets go (or its process ends in any
// way), folders are reserved by making them, and what a run left behind is
// tidied away only by the one that next holds its name. A second data
// manager on the same folder stands for a second process; the flock tool
// stands for one that is killed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "TestSupport.h"
#include "host/framework/DataManager.h"
#include "host/framework/NameLock.h"

using namespace host;
using pxtest::ScratchDir;
namespace fs = std::filesystem;

namespace {

// Another process holding a name's lock, until it is killed.
class LockingProcess {
public:
    LockingProcess(const std::string& root, const std::string& name) {
        std::string file = NameLock::FileOf(root, name);
        fs::create_directories(fs::path(file).parent_path());
        pid_ = fork();
        if (pid_ == 0) {
            setpgid(0, 0);
            execlp("flock", "flock", "-o", file.c_str(), "sleep", "30", static_cast<char*>(nullptr));
            _exit(127);
        }
        // Until the tool has the lock (a loaded machine can take seconds to start it).
        for (int i = 0; i < 2000 && NameLock::Try(root, name); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~LockingProcess() { Kill(); }
    pid_t Pid() const { return pid_; }
    void Kill() {
        if (pid_ <= 0) return;
        // The group: flock and the sleep it runs.
        kill(-pid_, SIGKILL);
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

}  // namespace

TEST(NameLock, OneHolderAtATimeWhateverTheCaseAndNoneAfterItEnds) {
    ScratchDir dir;
    std::string root = dir / "analyses";
    auto first = NameLock::Try(root, "High SIDS");
    ASSERT_TRUE(first);
    EXPECT_FALSE(NameLock::Try(root, "high sids"));
    // Names that make the same folder name are still names of their own.
    EXPECT_TRUE(NameLock::Try(root, "High_SIDS"));
    first.reset();
    EXPECT_TRUE(NameLock::Try(root, "HIGH SIDS"));
    // Names of any length and any character make a file.
    EXPECT_TRUE(NameLock::Try(root, std::string(300, 'x') + "/\\:*?"));

    LockingProcess other(root, "Same");
    EXPECT_FALSE(NameLock::Try(root, "Same"));
    other.Kill();  // as by kill -9: the lock goes with the process
    EXPECT_TRUE(NameLock::Try(root, "Same"));
}

TEST(SharedFolder, ARunHoldingANameKeepsEveryOtherFromMakingReplacingOrRemovingIt) {
    ScratchDir dir;
    fs::path root = dir.Path() / "analyses";
    DataManager mine({}, root), theirs({}, root);
    mine.CreateAnalysis("Same")->AddLayer((root / "Same/Result.shp").string());

    // While the first run is at it (it holds the name until it ends) the
    // other is refused with one line that says why.
    try {
        theirs.CreateAnalysis("same");
        ADD_FAILURE() << "a name held by another run was made again";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(std::string(e.what()), NameHeldText("same"));
    }
    EXPECT_FALSE(theirs.TryHoldName("SAME"));
    EXPECT_FALSE(theirs.RemoveAnalysis("Same"));
    EXPECT_THROW(theirs.SetAside("Same"), RuntimeError);

    // Once it ends, the other holds the name and sees what it made.
    mine.EndRun(true);
    EXPECT_FALSE(theirs.AnalysisExists("Same"));  // read before the first run made it
    ASSERT_TRUE(theirs.TryHoldName("Same"));
    EXPECT_TRUE(theirs.AnalysisExists("Same"));
    EXPECT_FALSE(mine.TryHoldName("Same"));
    EXPECT_THROW(theirs.CreateAnalysis("Same"), RuntimeError);  // taken
    theirs.EndRun(true);
    ASSERT_TRUE(mine.RemoveAnalysis("Same"));
    EXPECT_FALSE(mine.HoldsName("Same"));  // held for the removal only
    EXPECT_FALSE(fs::exists(root / "Same"));
}

TEST(SharedFolder, NamesThatMakeOneFolderNameGetAFolderEach) {
    ScratchDir dir;
    fs::path root = dir.Path() / "analyses";
    DataManager one({}, root), two({}, root);
    auto a = one.CreateAnalysis("Sales 1");
    auto b = two.CreateAnalysis("Sales_1");
    EXPECT_NE(a->Folder(), b->Folder());
    one.EndRun(true);
    two.EndRun(true);
    DataManager reader({}, root);
    EXPECT_EQ(reader.AnalysisNames(), (std::vector<std::string>{"Sales 1", "Sales_1"}));
}

TEST(SharedFolder, AFailedRunRemovesOnlyWhatItMadeAndPutsTheOldAnalysisBack) {
    ScratchDir dir;
    fs::path root = dir.Path() / "analyses";
    {
        DataManager setup({}, root);
        auto a = setup.CreateAnalysis("Same");
        std::ofstream(a->Folder() + "Report.txt") << "old\n";
        a->AddLayer(a->Folder() + "Result.shp");
        setup.CreateAnalysis("Other")->AddLayer((root / "Other/Result.shp").string());
        setup.EndRun(true);
    }
    DataManager run({}, root);
    run.SetAside("Same");
    ASSERT_TRUE(run.RemoveAnalysis("Same"));
    run.CreateAnalysis("Same");
    run.CreateAnalysis("Fresh");
    // Another process's analysis that appeared during the run is not the
    // run's to remove.
    DataManager({}, root).CreateAnalysis("Theirs")->AddLayer((root / "Theirs/Result.shp").string());
    run.EndRun(false);
    DataManager after({}, root);
    EXPECT_EQ(after.AnalysisNames(), (std::vector<std::string>{"Other", "Same", "Theirs"}));
    std::ifstream report(root / "Same/Report.txt");
    std::string line;
    std::getline(report, line);
    EXPECT_EQ(line, "old");
    EXPECT_FALSE(fs::exists(root / ".replaced") && !fs::is_empty(root / ".replaced"));
}

TEST(SharedFolder, LeftoversOfAKilledRunWaitWhileAnotherHoldsTheNameThenGo) {
    ScratchDir dir;
    fs::path root = dir.Path() / "analyses";
    {
        DataManager setup({}, root);
        setup.CreateAnalysis("Same")->AddLayer((root / "Same/Result.shp").string());
        setup.EndRun(true);
    }
    // A run of another process kept the old analysis aside and had begun
    // the new one (its marker names that process) when it was killed.
    fs::create_directories(root / ".replaced");
    fs::copy(root / "Same", root / ".replaced/Same.999999", fs::copy_options::recursive);
    std::ofstream(root / "Same/.incomplete") << "999999\n";
    {
        // While a live process holds the name, nothing of it is touched.
        LockingProcess other(root.string(), "Same");
        DataManager reader({}, root);
        EXPECT_TRUE(fs::exists(root / ".replaced/Same.999999"));
        EXPECT_TRUE(fs::exists(root / "Same/.incomplete"));
    }
    // Once it has gone, the next reader puts the old analysis back.
    DataManager reader({}, root);
    EXPECT_TRUE(reader.AnalysisExists("Same"));
    EXPECT_FALSE(fs::exists(root / "Same/.incomplete"));
    EXPECT_FALSE(fs::exists(root / ".replaced/Same.999999"));
}
