// The household-data service login page. Remembers the last credentials:
// the user name and the encrypted password in "Crypted.txt" under the
// user's application data, the pass phrase in the user's registry.
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

    // The store: folder, credential file and its records.
    static std::string StoreFolder();
    std::string FindEntryInFile(const std::string& recordName);
    void RemoveStoredCredentials(const std::string& recordName);
    void AddEntryToFile(const std::string& sName, const std::string& sUser, const std::string& sValue);

protected:
    void CreateControls() override;

private:
    void UpdateNextButton();
    void NextButton_Click();
};

}  // namespace pxcp
