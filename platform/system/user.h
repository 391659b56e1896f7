#pragma once

#include <optional>
#include <string>

namespace shelvo::platform {

// The account the process runs as: its effective uid, not $USER or $HOME, which sudo may leave
// pointing at the invoking user.
struct UserAccount {
  std::string name;  // empty when the uid has no account entry
  std::optional<std::string> home;
  std::optional<unsigned> uid = std::nullopt;  // when known: not to be looked up by name again
};

UserAccount effectiveUserAccount();

// The uid of the account named name, when there is one.
std::optional<unsigned> uidOfUser(const std::string& name);

}  // namespace shelvo::platform
