// The accounts of plexa-hhd and the login of a request.
#pragma once

#include <map>
#include <string>

namespace hhd {

struct Account {
    std::string salt, hash;  // hash: hex SHA-256 of salt + password
};

using Accounts = std::map<std::string, Account>;

// An account for the password with a fresh random salt.
Account MakeAccount(const std::string& password);

// Reads "user:salt:hash" lines; blank lines and lines starting with # are
// skipped. Returns false with a message on the first bad line.
bool ReadAccounts(const std::string& path, Accounts& users, std::string& why);

// The user an Authorization header ("Basic ...") logs in, or empty when it
// names no account or the wrong password. The password is never taken from
// anywhere else: addresses and form fields end up in logs and histories.
std::string LoggedInUser(const std::string& authorization, const Accounts& users);

// Random hex digits from the system's entropy source.
std::string RandomHex(size_t digits, bool upper);

}  // namespace hhd
