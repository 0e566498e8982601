// The household-data service login page. Remembers the last credentials:
// the user name and the encrypted password in "Crypted.txt" under the
// user's application data, the pass phrase in the user's registry. Both are
// changed and read under a lock on the credential file, so that saves from
// several processes come one after the other and a reader never pairs a
// cipher with a pass phrase it was not made with.
#pragma once

#include "host/framework/Framework.h"
#include "pages/WizardPage.h"

namespace pxcp {

inline constexpr const char* kLoginRecordName = "Quillon360_User_Login_Information";
inline constexpr const char* kSecurityKey = "Software\\Velmar\\Plexa\\Security";

class LoginToQuillonDialog : public WizardPage {
public:
    LoginToQuillonDialog();
    int result = -1;
    std::string m_sUserName, m_sPassword;
    host::DatasetPtr businessDataset;

    void ReadFromPropertySet(const host::PropertySetPtr& ps);
    void WriteToPropertySet(const host::PropertySetPtr& ps);
    void InitializeDialog();
    void ResetParams() { result = -1; }

    // The store: folder (made private to the user), credential file and
    // its records. Each change replaces the file whole and raises when it
    // cannot be written.
    static std::string StoreFolder();
    static std::string CredentialFile() { return StoreFolder() + "/Crypted.txt"; }
    std::string FindEntryInFile(const std::string& recordName);
    void RemoveStoredCredentials(const std::string& recordName);
    void AddEntryToFile(const std::string& sName, const std::string& sUser, const std::string& sValue);

    // What Next stores: a fresh pass phrase in the registry and the user with
    // the password encrypted by it as the service's record. Nothing is stored
    // for an empty password. Raises when the store cannot be written; the
    // credentials stored before are then kept.
    static void StoreCredentials(const std::string& user, const std::string& password);
    // The stored user and password; empty when none can be read.
    static std::pair<std::string, std::string> StoredCredentials();

protected:
    void CreateControls() override;

private:
    void UpdateNextButton();
    void NextButton_Click();
};

}  // namespace pxcp
