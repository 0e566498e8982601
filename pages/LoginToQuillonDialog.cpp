#include "pages/LoginToQuillonDialog.h"

#include <filesystem>

#include "PXAnalysis/SysFolderProv.h"
#include "PXCP/PXAnalysisUtils.h"
#include "crypto/CCrypto.h"
#include "crypto/CMD5.h"
#include "crypto/PXCryptoUtils.h"
#include "host/framework/ErrorHandler.h"
#include "host/platform/Platform.h"
#include "host/platform/Registry.h"
#include "host/platform/TextFile.h"

namespace fs = std::filesystem;

namespace pxcp {

using namespace host;
using forms::ControlKind;

LoginToQuillonDialog::LoginToQuillonDialog()
    : WizardPage("LoginToQuillonDialog", 500,
                 {"UserNameText", "PasswordText", "RegisterButton", "NextButton", "BackButton", "CancelButton",
                  "HelpButton", "Frame1", "Image1", "Label1", "Label2", "Label3", "Label4"}) {}

void LoginToQuillonDialog::CreateControls() {
    WizardFrame();
    Label("Label1", 281);
    Label("Label2", 282);
    Label("Label3", 283);
    Label("Label4", 284);
    Add("UserNameText", ControlKind::TextBox).onChange = [this] { UpdateNextButton(); };
    auto& password = Add("PasswordText", ControlKind::TextBox);
    password.passwordChar = "*";
    password.onChange = [this] { UpdateNextButton(); };
    Button("RegisterButton", 285, [this] {
        auto entry = FindCustomerProspectingEntry(businessDataset);
        std::string url = entry ? entry->Param("RegisterURL") : "";
        OpenURL(Hwnd(), url.empty() ? std::string(kHouseholdServiceURL) + "velmarweb/VELMAR_Reg.asp" : url);
    });
    NavigationButtons(result, [this] { NextButton_Click(); });
}

namespace {

// The lines of the credential file, records of three: name, user, cipher. A
// missing file is made empty, readable by the user alone. Lines after the
// last whole record (a cut-off save, a stray blank line) belong to no
// record and are left out: kept, they would shift every record added after
// them off the three-line grid, where no reader finds it.
std::vector<std::string> ReadRecords(const std::string& file) {
    std::error_code ec;
    if (!fs::exists(file, ec)) {
        // Made empty, for the user alone, as the first save would make it.
        if (!platform::WriteFileAtomically(file, std::string("\xff\xfe", 2), 0600))
            Raise(kErrPathNotFound, "The credential store could not be created: " + file);
        return {};
    }
    auto lines = platform::ReadUnicodeLines(file);
    lines.resize(lines.size() - lines.size() % 3);
    return lines;
}

std::vector<std::string> WithoutRecord(const std::vector<std::string>& lines, const std::string& recordName) {
    std::vector<std::string> kept;
    for (size_t i = 0; i < lines.size(); i += 3) {
        if (lines[i] == recordName) continue;
        for (size_t k = i; k < i + 3 && k < lines.size(); ++k) kept.push_back(lines[k]);
    }
    return kept;
}

void WriteRecords(const std::string& file, const std::vector<std::string>& lines) {
    // A scratch file of its own, renamed over the old one: a full disk or a
    // concurrent save leaves either the old records or the new ones.
    if (!platform::WriteUnicodeLines(file, lines, 0600)) Raise(kErrPathNotFound, "The credential store could not be written: " + file);
}

struct StoreLock {
    explicit StoreLock(const std::string& file) : lock(file) {
        if (!lock.Locked()) Raise(kErrPathNotFound, "The credential store could not be locked: " + file);
    }
    platform::FileLock lock;
};

std::string StoreFileOrRaise() {
    std::string folder = LoginToQuillonDialog::StoreFolder();
    if (folder.empty()) Raise(kErrPathNotFound, "There is no folder for the credential store.");
    return folder + "/Crypted.txt";
}

}  // namespace

std::string LoginToQuillonDialog::StoreFolder() {
    // The store lies two levels below the application data: "Velmar/Plexa",
    // readable by the user alone.
    SysFolderProv folders;
    std::string base = folders.GetSystemFolder(0, platform::kFolderAppData, 0, "");
    if (base.empty()) return "";
    std::string folder = base + "/Velmar/Plexa";
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (!ec) fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ec);
    return ec ? "" : folder;
}

void LoginToQuillonDialog::ReadFromPropertySet(const PropertySetPtr& ps) {
    if (!ps) return;
    m_sUserName = ps->GetProperty("UserName").ToString();
    m_sPassword = ps->GetProperty("Password").ToString();
}

void LoginToQuillonDialog::WriteToPropertySet(const PropertySetPtr& ps) {
    if (!ps) return;
    ps->SetProperty("UserName", Ctl("UserNameText").Text());
    ps->SetProperty("Password", Ctl("PasswordText").Text());
}

void LoginToQuillonDialog::InitializeDialog() {
    PX_TRY
    auto [user, password] = StoredCredentials();
    if (!user.empty()) Ctl("UserNameText").SetText(user);
    if (!password.empty()) Ctl("PasswordText").SetText(password);
    UpdateNextButton();
    PX_CATCH(NewErrorHandler(), "InitializeDialog ")
}

std::pair<std::string, std::string> LoginToQuillonDialog::StoredCredentials() {
    if (StoreFolder().empty()) return {};
    std::string file = CredentialFile();
    StoreLock lock(file);  // the pass phrase and the cipher of one save
    std::string phrase = ReadRegistryString(platform::HKEY_CURRENT_USER, kSecurityKey, kLoginRecordName);
    if (phrase.empty()) return {};
    auto lines = ReadRecords(file);
    for (size_t i = 0; i + 2 < lines.size(); i += 3)
        if (lines[i] == kLoginRecordName) {
            std::string password = lines[i + 2].empty() ? "" : CCrypto().Decrypt(lines[i + 2], phrase, true, CCrypto::kRC2);
            return {lines[i + 1], password};
        }
    return {};
}

std::string LoginToQuillonDialog::FindEntryInFile(const std::string& recordName) {
    std::string file = StoreFileOrRaise();
    std::vector<std::string> lines;
    {
        StoreLock lock(file);
        lines = ReadRecords(file);
    }
    for (size_t i = 0; i + 2 < lines.size(); i += 3) {
        if (lines[i] == recordName) {
            Ctl("UserNameText").SetText(lines[i + 1]);
            return lines[i + 2];
        }
    }
    return "";
}

void LoginToQuillonDialog::RemoveStoredCredentials(const std::string& recordName) {
    std::string file = StoreFileOrRaise();
    StoreLock lock(file);
    WriteRecords(file, WithoutRecord(ReadRecords(file), recordName));
}

void LoginToQuillonDialog::AddEntryToFile(const std::string& sName, const std::string& sUser, const std::string& sValue) {
    std::string file = StoreFileOrRaise();
    StoreLock lock(file);
    auto lines = ReadRecords(file);
    lines.insert(lines.end(), {sName, sUser, sValue});
    WriteRecords(file, lines);
}

void LoginToQuillonDialog::StoreCredentials(const std::string& user, const std::string& password) {
    std::string phrase = CMD5().MD5(MakeKeySeed());
    std::string cipher = CCrypto().Encrypt(password, phrase, true, CCrypto::kRC2);
    if (cipher.empty()) return;
    std::string file = StoreFileOrRaise();
    // One save at a time, from reading the records to the last write.
    StoreLock lock(file);
    auto lines = WithoutRecord(ReadRecords(file), kLoginRecordName);
    lines.insert(lines.end(), {kLoginRecordName, user, cipher});
    std::string oldPhrase = ReadRegistryString(platform::HKEY_CURRENT_USER, kSecurityKey, kLoginRecordName);
    if (!WriteRegistryString(platform::HKEY_CURRENT_USER, kSecurityKey, kLoginRecordName, phrase))
        Raise(kErrPathNotFound, "The pass phrase of the credential store could not be written to " + platform::RegistryFile());
    if (!platform::WriteUnicodeLines(file, lines, 0600)) {
        // Put the old pass phrase back, so that the old record still opens.
        if (oldPhrase.empty()) platform::RegDeleteValue(platform::HKEY_CURRENT_USER, kSecurityKey, kLoginRecordName);
        else WriteRegistryString(platform::HKEY_CURRENT_USER, kSecurityKey, kLoginRecordName, oldPhrase);
        Raise(kErrPathNotFound, "The credential store could not be written: " + file);
    }
}

void LoginToQuillonDialog::UpdateNextButton() { Ctl("NextButton").enabled = !Ctl("UserNameText").Text().empty(); }

void LoginToQuillonDialog::NextButton_Click() {
    PX_TRY
    StoreCredentials(Ctl("UserNameText").Text(), Ctl("PasswordText").Text());
    PX_CATCH(NewErrorHandler(), "NextButton_Click ")
    m_sUserName = Ctl("UserNameText").Text();
    m_sPassword = Ctl("PasswordText").Text();
    result = 1;
    Hide();
}

}  // namespace pxcp
