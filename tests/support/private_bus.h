#pragma once

#include <memory>
#include <string>

#include "tests/support/background_process.h"
#include "tests/support/temp_dir.h"

namespace shelvo::test {

// A dbus-daemon of the test's own, on a socket in a scratch folder; every peer may own names.
class PrivateBus {
 public:
  PrivateBus();
  // Listening on socket instead, such as a user's $XDG_RUNTIME_DIR/bus under a scratch root.
  explicit PrivateBus(const std::filesystem::path& socket);
  // The address to put in DBUS_SYSTEM_BUS_ADDRESS or DBUS_SESSION_BUS_ADDRESS.
  const std::string& address() const { return address_; }

 private:
  void start(const std::filesystem::path& socket);

  TempDir folder_;
  std::string address_;
  std::unique_ptr<BackgroundProcess> daemon_;
};

}  // namespace shelvo::test
