// The credential store: the registry file that holds the pass phrase and
// the credential file with its records of three lines, read as the login
// page reads them, then a save over them. What is saved must read back.
//
// Input: the first byte is the length of the registry file's text that
// follows; the rest is the credential file.
#include <filesystem>
#include <string>

#include "FuzzSupport.h"
#include "crypto/CCrypto.h"
#include "host/platform/Registry.h"
#include "host/platform/TextFile.h"
#include "pages/LoginToQuillonDialog.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    pxfuzz::SetUpHost();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    size_t registryLength = std::min<size_t>(data[0], size - 1);
    pxfuzz::WriteInput("registry.ini", data + 1, registryLength);
    std::string store = pxcp::LoginToQuillonDialog::StoreFolder();
    if (store.empty()) pxfuzz::Violated("no folder for the credential store");
    std::string file = pxcp::LoginToQuillonDialog::CredentialFile();
    {
        std::error_code ec;
        fs::remove(file, ec);
    }
    std::string records(reinterpret_cast<const char*>(data + 1 + registryLength), size - 1 - registryLength);
    pxfuzz::WriteInput("config/Velmar/Plexa/Crypted.txt", reinterpret_cast<const uint8_t*>(records.data()), records.size());

    try {
        auto [user, password] = pxcp::LoginToQuillonDialog::StoredCredentials();
        // The cipher text itself, as any pass phrase would meet it.
        pxcp::CCrypto crypto;
        (void)crypto.Decrypt(records, user, true, pxcp::CCrypto::kRC2);
        (void)crypto.Decrypt(records, user, false, pxcp::CCrypto::kRC4);

        std::string newUser = user.empty() ? "fuzz" : user, newPassword = password.empty() ? records.substr(0, 40) : password;
        pxcp::LoginToQuillonDialog::StoreCredentials(newUser, newPassword);
        if (!newPassword.empty()) {
            auto [userBack, passwordBack] = pxcp::LoginToQuillonDialog::StoredCredentials();
            if (passwordBack != newPassword) pxfuzz::Violated("a stored password reads back otherwise");
            // The store is UTF-16: a name that is no UTF-8 comes back with U+FFFD in it.
            bool utf8 = host::platform::Utf16ToUtf8(host::platform::Utf8ToUtf16(newUser)) == newUser;
            if (utf8 && userBack != newUser) pxfuzz::Violated("a stored user name reads back otherwise");
        }
    } catch (const host::RuntimeError&) {
        // The store cannot be written or locked: reported to the analyst.
    }
    pxfuzz::ForgetLogs();
    return 0;
}
