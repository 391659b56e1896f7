// What systemd and logind see of a run: the step it is at (sd_notify STATUS=), and a logind delay
// lock for shutdown and sleep held while a script runs, by the agent and by the helper. logind
// is the stand-in on a private system bus; the booted-container test shows the real one.
#include <gtest/gtest.h>
#include <cstdlib>

#include "platform/system/run_lock.h"
#include "tests/e2e/agent_harness.h"
#include "tests/e2e/helper_fixture.h"
#include "tests/support/paths.h"
#include "tests/support/private_bus.h"
#include "tests/support/user_systemd.h"

namespace shelvo::test {
namespace {

namespace fs = std::filesystem;

// What a script prints of the locks logind holds.
constexpr const char* kListInhibitors =
    "busctl --address=\"$DBUS_SYSTEM_BUS_ADDRESS\" call org.freedesktop.login1 "
    "/org/freedesktop/login1 org.freedesktop.login1.Manager ListInhibitors";

std::string heldBy(const std::string& who) {
  return "a(ssssuu) 1 \"shutdown:sleep\" \"" + who +
         "\" \"A script installing or updating apps is running\" \"delay\" 0 0";
}

// logind's stand-in on a system bus of the test's own.
class Logind {
 public:
  Logind() : process_(startStandIn(kFakeLogindBinary, {}, bus_.address(), scratch_.path())) {}
  const std::string& address() const { return bus_.address(); }
  std::string inhibitors() const {
    auto listed =
        runProgram({"sh", "-c", kListInhibitors}, {{"DBUS_SYSTEM_BUS_ADDRESS", address()}});
    return listed.out.substr(0, listed.out.find('\n'));
  }

 private:
  TempDir scratch_;
  PrivateBus bus_;
  std::unique_ptr<BackgroundProcess> process_;
};

using ServiceRunTest = ServedAgentTest;

TEST_F(ServiceRunTest, SystemdIsToldEachStepOfTheRun) {
  NotifySocket notify(scratch / "notify");
  agent.environment["NOTIFY_SOCKET"] = notify.path().string();
  service.addScript("com.example.app", "echo ok\n");
  // Another run holds the lock until this one has said that it waits.
  std::optional<platform::RunLock> lock;
  auto opened = platform::RunLock::open(agent.root / "run/shelvo/agent.lock");
  ASSERT_TRUE(opened);
  lock = std::move(*opened);
  ASSERT_TRUE(*lock->tryLock());
  ASSERT_TRUE(lock->writeHolder("pid 1, shelvo --update"));  // not a shelvo: not named
  BackgroundProcess run({kAgentBinary, "--install", "com.example.app"}, agent.environment);
  EXPECT_EQ(notify.next(), "STATUS=Waiting for the run in progress to end");
  lock.reset();
  EXPECT_EQ(run.waitForExit(std::chrono::seconds(30)), 0);
  EXPECT_EQ(notify.next(), "STATUS=Requesting install information");
  EXPECT_EQ(notify.next(), "STATUS=Checking the script");
  EXPECT_EQ(notify.next(), "STATUS=Running the script");
}

TEST_F(ServiceRunTest, TheAgentHoldsBackShutdownWhileItsScriptRuns) {
  Logind logind;
  agent.environment["DBUS_SYSTEM_BUS_ADDRESS"] = logind.address();
  service.addScript("com.example.app", std::string(kListInhibitors) + "\n");
  auto result = agent.run({"--install", "com.example.app"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, heldBy("shelvo") + "\n");
  EXPECT_EQ(logind.inhibitors(), "a(ssssuu) 0") << "released when the script has ended";
}

TEST_F(HelperTest, TheHelperHoldsBackShutdownWhileAScriptRuns) {
  Logind logind;
  // The helper takes the test's environment, with this bus in it.
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", logind.address().c_str(), 1);
  startHelper();
  auto result = run("good", {std::string("run:") + kListInhibitors});
  ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
  EXPECT_EQ(result.out, "reply 0\n");
  EXPECT_EQ(helper->waitForExit(std::chrono::seconds(30)), 0);
  EXPECT_TRUE(hasLogged("default", heldBy("ShelvoHelper")));
  EXPECT_EQ(logind.inhibitors(), "a(ssssuu) 0");
}

}  // namespace
}  // namespace shelvo::test
