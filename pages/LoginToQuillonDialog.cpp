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
    caption = "269";
    Add("Frame1", ControlKind::Frame);
    Add("Image1", ControlKind::Image).picture = "wizard";
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

std::string LoginToQuillonDialog::StoreFolder() {
    // The store lies two levels below the application data: "Velmar/Plexa".
    SysFolderProv folders;
    std::string base = folders.GetSystemFolder(0, platform::kFolderAppData, 0, "");
    if (base.empty()) return "";
    std::error_code ec;
    fs::create_directories(base + "/Velmar/Plexa", ec);
    return ec ? "" : base + "/Velmar/Plexa";
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
    std::string folder = StoreFolder();
    if (!folder.empty()) {
        std::string phrase = ReadRegistryString(platform::HKEY_CURRENT_USER, kSecurityKey, kLoginRecordName);
        if (!phrase.empty()) {
            std::string cipher = FindEntryInFile(kLoginRecordName);
            if (!cipher.empty()) Ctl("PasswordText").SetText(CCrypto().Decrypt(cipher, phrase, true, CCrypto::kRC2));
        }
    }
    UpdateNextButton();
    PX_CATCH(NewErrorHandler(), "InitializeDialog ")
}

std::string LoginToQuillonDialog::FindEntryInFile(const std::string& recordName) {
    auto lines = platform::ReadUnicodeLines(StoreFolder() + "/Crypted.txt");
    for (size_t i = 0; i + 2 < lines.size(); i += 3) {
        if (lines[i] == recordName) {
            Ctl("UserNameText").SetText(lines[i + 1]);
            return lines[i + 2];
        }
    }
    return "";
}

void LoginToQuillonDialog::RemoveStoredCredentials(const std::string& recordName) {
    std::string file = StoreFolder() + "/Crypted.txt", scratch = StoreFolder() + "/tmp.txt";
    auto lines = platform::ReadUnicodeLines(file);
    std::vector<std::string> kept;
    for (size_t i = 0; i < lines.size(); i += 3) {
        if (lines[i] == recordName) continue;
        for (size_t k = i; k < i + 3 && k < lines.size(); ++k) kept.push_back(lines[k]);
    }
    // The scratch copy is complete before it replaces the file, so a
    // failure on the way leaves the old records in place.
    if (!platform::WriteUnicodeLines(scratch, kept)) Raise(kErrPathNotFound, "The credential store could not be written: " + scratch);
    fs::copy_file(scratch, file, fs::copy_options::overwrite_existing);
    fs::remove(scratch);
}

void LoginToQuillonDialog::AddEntryToFile(const std::string& sName, const std::string& sUser, const std::string& sValue) {
    if (!platform::AppendUnicodeLines(StoreFolder() + "/Crypted.txt", {sName, sUser, sValue}))
        Raise(kErrPathNotFound, "The credential store could not be written in " + StoreFolder());
}

void LoginToQuillonDialog::UpdateNextButton() { Ctl("NextButton").enabled = !Ctl("UserNameText").Text().empty(); }

void LoginToQuillonDialog::NextButton_Click() {
    PX_TRY
    std::string phrase = CMD5().MD5(MakeKeySeed());
    std::string cipher = CCrypto().Encrypt(Ctl("PasswordText").Text(), phrase, true, CCrypto::kRC2);
    if (!cipher.empty()) {
        WriteRegistryString(platform::HKEY_CURRENT_USER, kSecurityKey, kLoginRecordName, phrase);
        RemoveStoredCredentials(kLoginRecordName);
        AddEntryToFile(kLoginRecordName, Ctl("UserNameText").Text(), cipher);
    }
    PX_CATCH(NewErrorHandler(), "NextButton_Click ")
    m_sUserName = Ctl("UserNameText").Text();
    m_sPassword = Ctl("PasswordText").Text();
    result = 1;
    Hide();
}

}  // namespace pxcp
