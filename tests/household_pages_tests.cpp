// The pages of the household way: the query and its file, the login page
// with its credential store, and the open-way page.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <pugixml.hpp>

#include "TestSupport.h"
#include "host/framework/ErrorHandler.h"
#include "host/platform/Locale.h"
#include "crypto/CCrypto.h"
#include "crypto/PXCryptoUtils.h"
#include "host/platform/Registry.h"
#include "host/platform/TextFile.h"
#include "i18n/modi18N.h"
#include "pages/LoginToQuillonDialog.h"
#include "pages/SelectHouseholdDataDialog.h"
#include "pages/SelectOpenHHWayDialog.h"

using namespace host;
using namespace pxcp;
namespace fs = std::filesystem;

namespace {

TaskEntryPtr HouseholdEntry() {
    auto task = std::make_shared<TaskEntry>();
    task->levelName = "County";
    auto add = [&](const std::string& id, std::vector<std::pair<std::string, std::string>> targets) {
        auto c = std::make_shared<CategoryDef>();
        c->id = id;
        c->caption = id + " caption";
        for (auto& [tid, caption] : targets) {
            auto t = std::make_shared<TargetDef>();
            t->name = tid;
            t->caption = caption;
            c->targets.push_back(t);
        }
        task->categories.push_back(c);
    };
    add("A", {{"x", "X households"}, {"y", "Y households"}});
    add("B", {{"z", "Z households"}});
    add("MEDN_AGE", {{"-1", "25-34"}, {"-2", "35-44"}, {"-3", "45-54"}, {"-4", "55-64"}, {"070", "70"}});
    return task;
}

struct HouseholdPageTest : ::testing::Test {
    void SetUp() override {
        RegisterHostClasses();
        driver = std::make_shared<forms::ScriptedDriver>();
        forms::SetDriver(driver);
        forms::MessageLog().clear();
        dm = std::make_shared<DataManager>(std::vector<DatasetPtr>{}, dir / "analyses");
    }
    std::shared_ptr<SelectHouseholdDataDialog> Page(PropertySetPtr ps = nullptr) {
        auto p = std::make_shared<SelectHouseholdDataDialog>();
        p->mainTask = HouseholdEntry();
        p->dataManager = dm;
        p->mainLayerName = "US.Demography.Counties";
        p->studyAreaDataset = "NC";
        p->ReadFromPropertySet(ps);
        p->InitializeDialog();
        return p;
    }
    void Show(forms::Form& p, std::function<void(forms::Form&)> f) {
        driver->On(p.Name(), std::move(f));
        p.ShowModal();
    }
    pxtest::ScratchDir dir;
    std::shared_ptr<forms::ScriptedDriver> driver;
    DataManagerPtr dm;
};

TEST_F(HouseholdPageTest, QueryStringsPackCategoriesAndAgeBands) {
    auto p = Page();
    Show(*p, [](forms::Form& f) {
        f.UserSelectItem("CategoryList", 0, true);
        f.UserSelectItem("TargetList", 0, true);
        f.UserSelectItem("TargetList", 1, true);
        f.UserSelectItem("CategoryList", 1, true);
        f.UserSelectItem("TargetList", 0, true);
        f.UserType("MinimumTargetText", -1, "50");
        f.UserClick("NextButton");
    });
    EXPECT_EQ(p->result, 1);
    EXPECT_EQ(p->geogField, "COUNTY");
    EXPECT_EQ(p->qFields, "A,B");
    EXPECT_EQ(p->qList, "\"x\",\"y\";\"z\"");
    EXPECT_EQ(p->ShowQuery(), "You will be searching for counties where at least 50 households match the following "
                              "criteria:\r\n\r\nA caption is\r\n\tX households\r\n\tor Y households\r\n"
                              "and B caption is\r\n\tZ households");

    auto ages = Page();
    Show(*ages, [](forms::Form& f) {
        f.UserSelectItem("CategoryList", 2, true);
        for (int n : {1, 2, 4}) f.UserSelectItem("TargetList", n, true);
        f.UserClick("PercentageOption");
        f.UserType("MinimumTargetText", -1, "10");
        f.UserClick("NextButton");
    });
    EXPECT_EQ(ages->qFields, "MEDN_AGE");
    EXPECT_EQ(ages->qList, "\"041\",\"042\",\"043\",\"044\",\"045\",\"046\",\"047\",\"048\",\"049\",\"050\","
                           "\"052\",\"053\",\"054\",\"055\",\"056\",\"057\",\"058\",\"059\",\"060\",070");
    EXPECT_EQ(ages->qList.find("051"), std::string::npos);
    const std::string first =
        "You will be searching for counties where at least 10 percent of households match the following criteria:\r\n";
    EXPECT_EQ(ages->ShowQuery().substr(0, first.size()), first);
}

TEST_F(HouseholdPageTest, MinimumIsCheckedBeforeTheQueryIsBuilt) {
    auto p = Page();
    Show(*p, [&](forms::Form& f) {
        f.UserClick("NextButton");  // nothing targeted
        EXPECT_EQ(forms::MessageLog().back().text, FindString(197));
        f.UserSelectItem("CategoryList", 1, true);
        f.UserSelectItem("TargetList", 0, true);
        f.UserClick("NextButton");  // no minimum
        EXPECT_EQ(forms::MessageLog().back().text, FindString(235));
        f.UserType("MinimumTargetText", -1, "-3");
        EXPECT_FALSE(f.Ctl("NextButton").enabled);
        f.UserType("MinimumTargetText", -1, "abc");
        EXPECT_FALSE(f.Ctl("NextButton").enabled);  // not a number: unchanged
        f.UserType("MinimumTargetText", -1, "100.5");
        EXPECT_TRUE(f.Ctl("NextButton").enabled);
        f.UserClick("PercentageOption");
        f.UserClick("NextButton");
        EXPECT_EQ(forms::MessageLog().back().text, FindString(236));
        EXPECT_TRUE(f.IsVisible());
        f.UserType("MinimumTargetText", -1, "100");
        f.UserClick("NextButton");
    });
    EXPECT_EQ(p->result, 1);
}

TEST_F(HouseholdPageTest, ClickingATargetedCategoryKeepsItsTargets) {
    auto p = Page();
    Show(*p, [](forms::Form& f) {
        f.UserSelectItem("CategoryList", 0, true);
        f.UserSelectItem("TargetList", 1, true);
        f.UserSelectItem("CategoryList", 1, true);  // look at B
        f.UserSelectItem("CategoryList", 0, false);  // a click on A that would unselect it
        EXPECT_TRUE(f.Ctl("CategoryList").Selected(0));
        EXPECT_TRUE(f.Ctl("TargetList").Selected(1));
        EXPECT_FALSE(f.Ctl("CategoryList").Selected(1));  // B has nothing targeted
        f.UserClick("SelectNoneTargetsButton");
        EXPECT_FALSE(f.Ctl("CategoryList").Selected(0));
        f.UserClick("CancelButton");
    });
    EXPECT_TRUE(SelectHouseholdDataDialog::IsCategoryEmpty(*p->Categories()[0]));
}

TEST_F(HouseholdPageTest, QueryFileRoundTripAndForeignDatasets) {
    auto p = Page();
    Show(*p, [](forms::Form& f) {
        f.UserSelectItem("CategoryList", 1, true);
        f.UserSelectItem("TargetList", 0, true);
        f.UserClick("PercentageOption");
        f.UserClick("DontWaitOption");
        f.UserType("MinimumTargetText", -1, "12,5");
        f.UserClick("CancelButton");
    });
    std::string file = dir / "q.hhq";
    p->SaveHHQFile(file);
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file(file.c_str(), pugi::parse_default | pugi::parse_comments));
    auto root = doc.child("CPHHQFILE");
    EXPECT_STREQ(root.first_child().value(), "this file was generated by Velmar Plexa. Do not edit it");
    EXPECT_EQ(std::distance(root.child("CATEGORIES").children("CATEGORY").begin(),
                            root.child("CATEGORIES").children("CATEGORY").end()), 3);  // untargeted ones too
    EXPECT_STREQ(root.child("CATEGORIES").first_child().child("TARGETS").first_child().attribute("value").value(), "0");

    auto q = Page();
    q->LoadHHQFile(file);
    EXPECT_EQ(q->Ctl("MinimumTargetText").Text(), "12,5");
    EXPECT_TRUE(q->Ctl("PercentageOption").Value());
    EXPECT_TRUE(q->Ctl("DontWaitOption").Value());
    EXPECT_FALSE(SelectHouseholdDataDialog::IsCategoryEmpty(*q->Categories()[1]));
    EXPECT_TRUE(q->Ctl("CategoryList").Selected(1));

    auto other = Page();
    other->studyAreaDataset = "Elsewhere";
    other->LoadHHQFile(file);
    EXPECT_EQ(forms::MessageLog().back().text, FindString(231));
    EXPECT_TRUE(SelectHouseholdDataDialog::IsCategoryEmpty(*other->Categories()[1]));
}

TEST_F(HouseholdPageTest, AMinimumSavedWithAPointIsReadAsADecimalUnderACommaLocale) {
    auto p = Page();
    Show(*p, [](forms::Form& f) {
        f.UserSelectItem("CategoryList", 1, true);
        f.UserSelectItem("TargetList", 0, true);
        f.UserClick("PercentageOption");
        f.UserType("MinimumTargetText", -1, "12.5");
        f.UserClick("CancelButton");
    });
    std::string file = dir / "point.hhq";
    p->SaveHHQFile(file);

    // Opened where "," is the decimal point: 12.5 percent, not 125 percent,
    // which the page would refuse as more than 100.
    auto saved = platform::CurrentLocale();
    platform::SetCurrentLocale({1031, ',', '.'});
    forms::MessageLog().clear();
    auto q = Page();
    q->LoadHHQFile(file);
    auto loaded = forms::MessageLog();
    Show(*q, [](forms::Form& f) { f.UserClick("NextButton"); });
    platform::SetCurrentLocale(saved);
    EXPECT_EQ(q->Ctl("MinimumTargetText").Text(), "12.5");
    EXPECT_EQ(forms::MessageLog().size(), loaded.size()) << forms::MessageLog().back().text;
    EXPECT_EQ(q->result, 1);
    // One warning says how the file was read.
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].style, forms::vbExclamation);
    EXPECT_NE(loaded[0].text.find("\"12.5\" as 12,5"), std::string::npos) << loaded[0].text;
}

TEST_F(HouseholdPageTest, FileButtonNamesTheOptionPageForHouseholdQueries) {
    auto p = Page();
    std::string file = dir / "mine.hhq";
    Show(*p, [&](forms::Form& f) {
        f.UserSelectItem("CategoryList", 0, true);
        f.UserSelectItem("TargetList", 1, true);
        driver->On("FileOptionDialog", [](forms::Form& o) {
            EXPECT_EQ(o.caption, FindString(230));
            o.UserSelectItem("FileOptionList", 1);
            o.UserClick("OKButton");
        });
        driver->ChooseFile(file);
        f.UserClick("FileButton");
        f.UserClick("SelectNoneCategoriesButton");
        driver->On("FileOptionDialog", [](forms::Form& o) {
            EXPECT_EQ(o.caption, FindString(230));
            o.UserClick("OKButton");
        });
        driver->ChooseFile(file);
        f.UserClick("FileButton");
        EXPECT_TRUE(f.Ctl("CategoryList").Selected(0));
        EXPECT_TRUE(f.Ctl("TargetList").Selected(1));
        f.UserClick("CancelButton");
    });
    EXPECT_TRUE(driver->Problems().empty());
    ASSERT_EQ(driver->fileRequests.size(), 2u);
    EXPECT_EQ(driver->fileRequests[0].title, "Save Household Query File(*.hhq)");
    EXPECT_EQ(driver->fileRequests[1].title, "Open Household Query File");
}

TEST_F(HouseholdPageTest, DamagedQueryFilesStopWithMessagesThatFitHouseholds) {
    auto p = Page();
    std::string file = dir / "bad.hhq";
    const std::string common =
        "<COMMONPROPERTIES><COMMONPROPERTY name=\"StudyAreaDataset\" value=\"nc\"/></COMMONPROPERTIES>";
    std::vector<std::pair<std::string, int>> cases = {
        {"<OTHER/>", 116},
        {"<CPHHQFILE/>", 117},
        {"<CPHHQFILE><COMMONPROPERTIES><COMMONPROPERTY name=\"NumbersOption\" value=\"true\"/></COMMONPROPERTIES></CPHHQFILE>", 201},
        {"<CPHHQFILE><COMMONPROPERTIES><COMMONPROPERTY name=\"WaitForResult\" value=\"1\"/></COMMONPROPERTIES></CPHHQFILE>", 232},
        {"<CPHHQFILE>" + common + "</CPHHQFILE>", 203},
        {"<CPHHQFILE>" + common + "<CATEGORIES><CATEGORY id=\"a\"/></CATEGORIES></CPHHQFILE>", 204},
    };
    for (auto& [body, message] : cases) {
        forms::MessageLog().clear();
        std::ofstream(file) << body;
        p->LoadHHQFile(file);
        ASSERT_EQ(forms::MessageLog().size(), 1u) << body;
        const std::string& text = forms::MessageLog()[0].text;
        EXPECT_EQ(text, FindString(message)) << body;
        EXPECT_EQ(text.find("emographic"), std::string::npos) << text;
    }
    // Nothing targeted: the reminder speaks of targets, not of floors.
    forms::MessageLog().clear();
    Show(*p, [](forms::Form& f) {
        f.UserClick("NextButton");
        f.UserClick("CancelButton");
    });
    ASSERT_EQ(forms::MessageLog().size(), 1u);
    EXPECT_EQ(forms::MessageLog()[0].text, FindString(197));
    EXPECT_EQ(forms::MessageLog()[0].text.find("floor"), std::string::npos);
}

TEST_F(HouseholdPageTest, ClosingRemembersTheQueryForTheNextOpening) {
    auto ps = std::make_shared<PropertySet>();
    auto p = Page(ps);
    Show(*p, [](forms::Form& f) {
        f.UserSelectItem("CategoryList", 0, true);
        f.UserSelectItem("TargetList", 0, true);
        f.UserType("MinimumTargetText", -1, "7");
        f.UserClick("BackButton");
    });
    p->WriteToPropertySet(ps);
    ASSERT_TRUE(fs::exists(ps->GetProperty("HHQFileFullPath").ToString()));
    auto again = Page(ps);
    EXPECT_EQ(again->Ctl("MinimumTargetText").Text(), "7");
    EXPECT_FALSE(SelectHouseholdDataDialog::IsCategoryEmpty(*again->Categories()[0]));
}

// ---------------- login and credentials ----------------

struct LoginTest : HouseholdPageTest {
    void SetUp() override {
        HouseholdPageTest::SetUp();
        setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
        setenv("PLEXA_REGISTRY", (dir / "registry.ini").c_str(), 1);
    }
    void TearDown() override {
        unsetenv("XDG_CONFIG_HOME");
        unsetenv("PLEXA_REGISTRY");
    }
    std::string CredentialFile() { return LoginToQuillonDialog::StoreFolder() + "/Crypted.txt"; }
    void SignIn(const std::string& user, const std::string& password) {
        LoginToQuillonDialog page;
        page.InitializeDialog();
        Show(page, [&](forms::Form& f) {
            f.UserType("UserNameText", -1, user);
            f.UserType("PasswordText", -1, password);
            f.UserClick("NextButton");
        });
        EXPECT_EQ(page.result, 1);
        EXPECT_EQ(page.m_sUserName, user);
    }
};

TEST_F(LoginTest, SavingKeepsOneRecordAndOtherRecordsSurvive) {
    fs::create_directories(LoginToQuillonDialog::StoreFolder());
    platform::WriteUnicodeLines(CredentialFile(), {"Other", "someone", "ABCD", "Third", "x", "0123"});
    SignIn("ann", "password");
    SignIn("bob", "12345678");
    auto lines = platform::ReadUnicodeLines(CredentialFile());
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 6),
              (std::vector<std::string>{"Other", "someone", "ABCD", "Third", "x", "0123"}));
    EXPECT_EQ(lines[6], kLoginRecordName);
    EXPECT_EQ(lines[7], "bob");
    EXPECT_EQ(lines[8].size(), 32u);  // 8 characters: 16 cipher bytes
    std::string phrase = ReadRegistryString(platform::HKEY_CURRENT_USER, kSecurityKey, kLoginRecordName);
    EXPECT_EQ(phrase.size(), 32u);
    EXPECT_EQ(CCrypto().Decrypt(lines[8], phrase, true, 1), "12345678");
    EXPECT_FALSE(fs::exists(LoginToQuillonDialog::StoreFolder() + "/tmp.txt"));

    // The file is UTF-16 with its byte-order mark and CR LF lines.
    std::ifstream in(CredentialFile(), std::ios::binary);
    std::string head(4, '\0');
    in.read(head.data(), 4);
    EXPECT_EQ(head, std::string("\xff\xfeO\0", 4));

    LoginToQuillonDialog again;
    again.InitializeDialog();
    EXPECT_EQ(again.Ctl("UserNameText").Text(), "bob");
    EXPECT_EQ(again.Ctl("PasswordText").Text(), "12345678");
}

// A store whose last record is cut short (or that ends in a stray line)
// must not shift the records saved after it off the three-line grid.
TEST_F(LoginTest, ALineAfterTheLastRecordDoesNotHideLaterSaves) {
    fs::create_directories(LoginToQuillonDialog::StoreFolder());
    platform::WriteUnicodeLines(CredentialFile(), {"Other", "someone", "ABCD", ""});
    SignIn("bob", "12345678");
    LoginToQuillonDialog again;
    again.InitializeDialog();
    EXPECT_EQ(again.Ctl("UserNameText").Text(), "bob");
    EXPECT_EQ(again.Ctl("PasswordText").Text(), "12345678");

    // The same through the record routines of the page.
    again.AddEntryToFile("Third", "x", "0123");
    EXPECT_EQ(again.FindEntryInFile("Third"), "0123");
    auto lines = platform::ReadUnicodeLines(CredentialFile());
    EXPECT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[0], "Other");
}

TEST_F(LoginTest, NextNeedsAUserNameAndAnEmptyPasswordStoresNothing) {
    LoginToQuillonDialog page;
    page.InitializeDialog();
    EXPECT_FALSE(page.Ctl("NextButton").enabled);
    Show(page, [](forms::Form& f) {
        f.UserType("UserNameText", -1, "ann");
        EXPECT_TRUE(f.Ctl("NextButton").enabled);
        f.UserClick("NextButton");
    });
    EXPECT_EQ(page.result, 1);
    EXPECT_TRUE(platform::ReadUnicodeLines(CredentialFile()).empty());
    // A pass phrase that does not fit the cipher leaves the password empty.
    SignIn("ann", "secret");
    WriteRegistryString(platform::HKEY_CURRENT_USER, kSecurityKey, kLoginRecordName, "0123456789ABCDEF0123456789ABCDEF");
    LoginToQuillonDialog again;
    again.InitializeDialog();
    EXPECT_EQ(again.Ctl("UserNameText").Text(), "ann");
    EXPECT_EQ(again.Ctl("PasswordText").Text(), "");
}

TEST_F(LoginTest, SavesFromSeveralProcessesLeaveAStoreThatOpens) {
    SignIn("user9", "pw-9-0");
    // Every writer saves its own user with passwords that name the user, while
    // this process reads: each state read must pair a user with its own
    // password, decrypted with the pass phrase stored beside it.
    const int writers = 4, saves = 40;
    std::vector<pid_t> children;
    for (int w = 0; w < writers; ++w) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            size_t errors = ErrorHandler::Log().size();
            int failed = 0;
            for (int i = 0; i < saves; ++i) {
                LoginToQuillonDialog page;
                page.InitializeDialog();
                driver->On(page.Name(), [&](forms::Form& f) {
                    f.UserType("UserNameText", -1, "user" + std::to_string(w));
                    f.UserType("PasswordText", -1, "pw-" + std::to_string(w) + "-" + std::to_string(i));
                    f.UserClick("NextButton");
                });
                page.ShowModal();
                if (ErrorHandler::Log().size() != errors || page.result != 1) ++failed;
                errors = ErrorHandler::Log().size();
            }
            _exit(failed == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    int reads = 0, torn = 0, failedWriters = 0;
    std::string example;
    for (size_t left = children.size(); left > 0;) {
        LoginToQuillonDialog reader;
        reader.InitializeDialog();
        std::string user = reader.Ctl("UserNameText").Text(), password = reader.Ctl("PasswordText").Text();
        ++reads;
        if (user.size() != 5 || password.rfind("pw-" + user.substr(4) + "-", 0) != 0) {
            ++torn;
            example = user + " / " + password;
        }
        for (pid_t& pid : children) {
            int status = 0;
            if (pid > 0 && waitpid(pid, &status, WNOHANG) == pid) {
                if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failedWriters;
                pid = 0;
                --left;
            }
        }
    }
    EXPECT_EQ(torn, 0) << "of " << reads << " reads, e.g. " << example;
    EXPECT_EQ(failedWriters, 0);
    auto lines = platform::ReadUnicodeLines(CredentialFile());
    ASSERT_EQ(lines.size(), 3u);
    LoginToQuillonDialog last;
    last.InitializeDialog();
    EXPECT_EQ(last.Ctl("PasswordText").Text(), "pw-" + lines[1].substr(4) + "-" + std::to_string(saves - 1));
}

TEST_F(LoginTest, TheStoreIsTheUsersAlone) {
    mode_t saved = umask(022);
    fs::create_directories(dir / "config");
    std::string folder = LoginToQuillonDialog::StoreFolder();
    chmod(folder.c_str(), 0755);  // as an earlier version left it
    SignIn("ann", "secret");
    umask(saved);
    struct stat st{};
    ASSERT_EQ(stat(CredentialFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(stat(platform::RegistryFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(LoginTest, AFailedSaveKeepsTheStoredPassword) {
    // Other records large enough that the credential file cannot be written
    // under a file-size limit that the registry's small file stays below,
    // as on a disk that fills up between the two writes.
    std::string big(60000, 'x');
    fs::create_directories(LoginToQuillonDialog::StoreFolder());
    platform::WriteUnicodeLines(CredentialFile(), {"Other", "someone", big});
    SignIn("ann", "first");
    size_t errors = ErrorHandler::Log().size();
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 100000;
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    SignIn("bob", "second");
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);
    ASSERT_GT(ErrorHandler::Log().size(), errors);  // the failure is reported
    EXPECT_NE(ErrorHandler::Log().back().description.find("credential store"), std::string::npos)
        << ErrorHandler::Log().back().description;
    // The pass phrase was put back with the record it belongs to.
    LoginToQuillonDialog again;
    again.InitializeDialog();
    EXPECT_EQ(again.Ctl("UserNameText").Text(), "ann");
    EXPECT_EQ(again.Ctl("PasswordText").Text(), "first");
    EXPECT_EQ(platform::ReadUnicodeLines(CredentialFile())[2], big);
}

// ---------------- open way ----------------

TEST_F(HouseholdPageTest, OpenWayOffersTheServiceTableAndDropsMissingFiles) {
    fs::create_directories(dir / "old");
    std::ofstream(dir / "old/tmp.dbf") << "x";
    auto ps = std::make_shared<PropertySet>();
    SelectOpenHHWayDialog page;
    page.sourceAnalysisFolder = (dir / "old") + "/";
    page.ReadFromPropertySet(ps);
    page.InitializeDialog();
    EXPECT_EQ(page.Ctl("DBFFileText").Text(), (dir / "old") + "/tmp.dbf");
    EXPECT_TRUE(page.Ctl("ChangeQueryRBT").Value());
    EXPECT_FALSE(page.Ctl("LinkDBFFrame").enabled);

    ps->SetProperty("OpenWay", "False");
    ps->SetProperty("DBFFilePath", dir / "gone.dbf");
    SelectOpenHHWayDialog second;
    second.sourceAnalysisFolder = (dir / "old") + "/";
    second.ReadFromPropertySet(ps);
    second.InitializeDialog();
    EXPECT_TRUE(second.Ctl("LinkDBFRBT").Value());
    EXPECT_EQ(second.Ctl("DBFFileText").Text(), "");
    EXPECT_FALSE(second.Ctl("NextButton").enabled);
    Show(second, [&](forms::Form& f) {
        driver->ChooseFile(dir / "old/tmp.dbf");
        f.UserClick("BrowseCommand");
        EXPECT_TRUE(f.Ctl("NextButton").enabled);
        f.UserClick("ChangeQueryRBT");
        EXPECT_FALSE(f.Ctl("LinkDBFFrame").enabled);
        f.UserClick("LinkDBFRBT");
        f.UserClick("NextButton");
    });
    second.WriteToPropertySet(ps);
    EXPECT_EQ(ps->GetProperty("OpenWay").ToString(), "False");
    EXPECT_EQ(ps->GetProperty("DBFFilePath").ToString(), dir / "old/tmp.dbf");
}

}  // namespace
