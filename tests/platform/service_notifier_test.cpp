// What the programs tell systemd about themselves.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/env/posix_env.h"
#include "platform/service-management/service_notifier.h"
#include "tests/support/temp_dir.h"
#include "tests/support/user_systemd.h"

namespace shelvo::platform {
namespace {

TEST(ServiceNotifier, AStatusIsOneLineWhateverItsTextHolds) {
  test::TempDir folder;
  test::NotifySocket socket(folder / "notify");
  ::setenv("NOTIFY_SOCKET", socket.path().c_str(), 1);
  auto notifier = ServiceNotifier::fromEnvironment(PosixEnv());
  ::unsetenv("NOTIFY_SOCKET");
  notifier.status(
      "Waiting for the run in progress (pid 1, shelvo --install a\nREADY=1\r\t) to end");
  EXPECT_EQ(socket.next(),
            "STATUS=Waiting for the run in progress (pid 1, shelvo --install a "
            "READY=1  ) to end");
}

}  // namespace
}  // namespace shelvo::platform
