#pragma once

#include <string>
#include <string_view>

#include "platform/env/env.h"

namespace shelvo::platform {

// Tells systemd what the service is doing (sd_notify's STATUS=, shown by systemctl status), when
// systemd started the program with a notification socket; says nothing otherwise.
class ServiceNotifier {
 public:
  ServiceNotifier() = default;
  // From NOTIFY_SOCKET.
  static ServiceNotifier fromEnvironment(const Env& env);

  void status(std::string_view text) const;

 private:
  std::string socket_;
};

}  // namespace shelvo::platform
