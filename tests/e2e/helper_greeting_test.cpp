// Only what the admitted program sent counts. A process keeps its pid across execve, and the
// kernel stamps queued bytes with the sender's pid when they are sent, so a user's program can
// queue a request and then execute the genuine client, or take over the pid of a client that
// ended. Each attack runs as an unprivileged user against the real helper; the helper is held
// (SIGSTOP) where an attacker would count on it being slow, so each runs the same way every
// time.
#include <signal.h>

#include <sstream>

#include "tests/e2e/helper_fixture.h"
#include "tests/support/paths.h"

namespace shelvo::test {
namespace {

namespace fs = std::filesystem;

// Whether a genuine client run by nobody has ended. Its status is not asked: in a sanitized
// build the leak check at its exit fails, as it cannot stop a process its user may not trace,
// nor read its options from that process's /proc/self/environ.
bool ended(BackgroundProcess& client) {
  return client.waitForExit(std::chrono::seconds(30)).has_value();
}

// Runs as nobody; by path, as a process started with a chosen pid is not looked up on PATH.
std::vector<std::string> attackAsNobody(std::vector<std::string> arguments) {
  auto command = asNobody(std::move(arguments));
  command.front() = "/usr/bin/setpriv";
  return command;
}

TEST_P(HelperAdmissionTest, ARequestSentBeforeExecutingTheClientIsRefused) {
  auto marker = logs / "ran";
  for (bool socketActivation : {false, true}) {
    SCOPED_TRACE(socketActivation ? "queued before the helper starts" : "the helper running");
    fs::remove(logFile);
    startHelper(socketActivation);
    // The helper looks only once the genuine client runs under the attacker's pid.
    pauseHelper();
    auto out = logs / "attack.out";
    auto go = logs / "go";
    fs::remove(out);
    fs::remove(go);
    BackgroundProcess attack(attackAsNobody({kHelperAttackerBinary, "send-then-exec", socket(),
                                             "id -u > " + marker.string(), client("good").string(),
                                             "await-file:" + go.string()}),
                             {}, out.string());
    ASSERT_TRUE(eventually([&] { return holds(out, "queued\nwaiting\n"); })) << readTextFile(out);
    resumeHelper();
    EXPECT_TRUE(eventually(
        [&] { return hasLoggedRefusal("sent before it was admitted") || fs::exists(marker); }));
    EXPECT_TRUE(hasLoggedRefusal("sent before it was admitted"));
    writeTextFile(go, "");
    EXPECT_TRUE(ended(attack)) << readTextFile(out);
    EXPECT_FALSE(fs::exists(marker));
    EXPECT_EQ(helper->waitForExit(std::chrono::seconds(30)), 0) << "nobody else was connected";
  }
}

TEST_P(HelperAdmissionTest, OnlyAClientThatWaitsForTheGreetingIsServed) {
  startHelper();
  auto genuine = startGenuine(1);
  pauseHelper();  // so the early request is surely there before the helper looks
  auto out = logs / "early.out";
  BackgroundProcess early({client("good").string(), socket(), "send-early:exit 3", "await"}, {},
                          out.string());
  ASSERT_TRUE(eventually([&] { return holds(out, "sent\n"); }));
  resumeHelper();
  EXPECT_EQ(early.waitForExit(std::chrono::seconds(30)), 0);
  EXPECT_EQ(readTextFile(out), "sent\nrefused\nno reply\n");
  EXPECT_TRUE(hasLoggedRefusal("sent before it was admitted"));
  EXPECT_EQ(run("good", {"run:exit 4"}).out, "reply 4\n");
  EXPECT_EQ(finishGenuine(*genuine), "reply 0\nwaiting\nreply 1\n");
}

// A request queued by a process that then ended, while a newcomer under the same pid number
// runs the genuine client when the helper looks: the helper must not take the one for the
// other's.
TEST_P(HelperAdmissionTest, AQueuedRequestThatMeetsAReusedPidIsRefused) {
  startHelper();
  pauseHelper();
  auto marker = logs / "ran";
  BackgroundProcess sender(
      asNobody({kHelperAttackerBinary, "send-then-exit", socket(), "id -u > " + marker.string()}));
  pid_t reused = sender.pid();
  ASSERT_EQ(sender.waitForExit(std::chrono::seconds(30)), 0);
  auto out = logs / "newcomer.out";
  auto go = logs / "go";
  BackgroundProcess newcomer(
      attackAsNobody({client("good").string(), socket(), "await-file:" + go.string()}), {},
      out.string(), reused);
  ASSERT_TRUE(eventually([&] { return holds(out, "waiting\n"); }));
  resumeHelper();
  // The kernel's pidfd names the sender, which is gone; found by number, the newcomer passes
  // every check of its own, and the queued request gives it away.
  std::string refusal = peerLookup == "pidfd"
                            ? "Unable to get the property 'auditToken' from the connection"
                            : "NSXPC client does not meet the requirements. sent before it was "
                              "admitted";
  EXPECT_TRUE(eventually([&] { return hasLogged("error", refusal) || fs::exists(marker); }));
  EXPECT_TRUE(hasLogged("error", refusal));
  writeTextFile(go, "");
  EXPECT_TRUE(ended(newcomer)) << readTextFile(out);
  EXPECT_FALSE(fs::exists(marker));
}

// An admitted client ends while another process of its user holds a copy of its connection; a
// newcomer under its pid number takes that copy, sends a request, and executes the genuine
// client before the helper reads it.
TEST_P(HelperAdmissionTest, ARequestSentUnderTheDeadClientsPidIsRefused) {
  startHelper();
  pauseHelper();  // until the genuine client runs under the pid that connected
  auto first = logs / "first.out";
  BackgroundProcess admitted(asNobody({kHelperAttackerBinary, "hold-then-exec", socket(),
                                       client("good").string(), "greeting"}),
                             {}, first.string());
  ASSERT_TRUE(eventually([&] {
    std::error_code error;
    return fs::read_symlink("/proc/" + std::to_string(admitted.pid()) + "/exe", error) ==
           client("good");
  }));
  resumeHelper();
  ASSERT_TRUE(eventually([&] { return holds(first, "greeted\n") && holds(first, "holder "); }))
      << readTextFile(first);
  pid_t reused = admitted.pid();
  ASSERT_TRUE(ended(admitted)) << readTextFile(first);
  std::istringstream holderLine(readTextFile(first).substr(readTextFile(first).find("holder ")));
  std::string word;
  pid_t holder = 0;
  int fd = -1;
  holderLine >> word >> holder >> fd;
  ASSERT_GT(holder, 0);

  pauseHelper();
  auto marker = logs / "ran";
  auto out = logs / "newcomer.out";
  auto go = logs / "go";
  BackgroundProcess newcomer(
      attackAsNobody({kHelperAttackerBinary, "send-on", std::to_string(holder), std::to_string(fd),
                      "id -u > " + marker.string(), client("good").string(), socket(),
                      "await-file:" + go.string()}),
      {}, out.string(), reused);
  ASSERT_TRUE(eventually([&] { return holds(out, "queued\nwaiting\n"); })) << readTextFile(out);
  resumeHelper();
  std::string refusal = "The admitted client has ended; refusing a message sent under its pid";
  EXPECT_TRUE(eventually([&] { return hasLogged("error", refusal) || fs::exists(marker); }));
  EXPECT_TRUE(hasLogged("error", refusal));
  writeTextFile(go, "");
  EXPECT_TRUE(ended(newcomer)) << readTextFile(out);
  ::kill(holder, SIGKILL);
  EXPECT_FALSE(fs::exists(marker));
}

}  // namespace
}  // namespace shelvo::test
