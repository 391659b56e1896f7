// The root agent meets files, answers and script output that other users control: FIFOs and
// deep property lists where preferences and bundles should be, managed settings others may
// write, a credential that would add headers, and scripts that rely on SIGPIPE
// or split characters across writes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/plist/plist.h"
#include "tests/e2e/agent_harness.h"
#include "tests/support/deep_plist.h"

namespace shelvo::test {
namespace {

namespace fs = std::filesystem;

class UntrustedInputTest : public ServedAgentTest {
 protected:
  void SetUp() override { service.addScript("com.example.app", "echo installed\n"); }
  // The Authorization header of each request the service saw.
  std::vector<std::string> credentialsSent() const {
    std::vector<std::string> sent;
    for (const auto& request : service.requests()) {
      auto found = request["headers"].find("Authorization");
      sent.push_back(found == request["headers"].end() ? "" : found->get<std::string>());
    }
    return sent;
  }
};

TEST_F(UntrustedInputTest, AFifoWhereALayerShouldBeIsSkipped) {
  fs::create_directories(agent.root / "etc/shelvo/managed");
  ASSERT_EQ(::mkfifo((agent.root / "etc/shelvo/managed/ostrel.shelvo.plist").c_str(), 0644), 0);
  auto result = agent.run({"--install", "com.example.app"});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(result.out, "installed\n");
}

TEST_F(UntrustedInputTest, AManagedLayerOthersMayWriteIsSkippedAndNamed) {
  fs::path managed = agent.root / "etc/shelvo/managed/ostrel.shelvo.plist";
  writeTextFile(managed, credentialPlist("planted-by-a-user"));
  fs::permissions(managed.parent_path(), fs::perms(0777));
  auto result = agent.run({"--install", "com.example.app"});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(credentialsSent(), std::vector<std::string>{"Basic demo-credential"});
  EXPECT_TRUE(agent.logged("error", "Skipping the preference file " + managed.string() +
                                        ": the folder " + managed.parent_path().string() +
                                        " is not owned by root or is writable by group or "
                                        "others"));
  // A file others may write, in a folder that is fine, is skipped the same way.
  fs::permissions(managed.parent_path(), fs::perms(0755));
  fs::permissions(managed, fs::perms(0666));
  result = agent.run({"--install", "com.example.app"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, "installed\n");
  EXPECT_EQ(credentialsSent().back(), "Basic demo-credential");
  const std::string reason = "the file is not owned by root or is writable by group or others";
  EXPECT_EQ(result.err, "shelvo: skipping " + managed.string() + ": " + reason + "\n");
  EXPECT_TRUE(
      agent.logged("error", "Skipping the preference file " + managed.string() + ": " + reason));
}

TEST_F(UntrustedInputTest, ACredentialWithAControlCharacterIsRefusedAndNothingIsSent) {
  // A line break would add headers of its own; DEL and a tab are no header value either.
  for (const char* credential :
       {"abc\r\nX-Injected: yes", "abc\x7FX-Injected", "abc\tX-Injected"}) {
    agent.storeAuthorization(credential);
    auto result = agent.run({"--install", "com.example.app"});
    EXPECT_EQ(result.exitStatus, 10) << credential;
    EXPECT_EQ(result.out, "Error: Authorization contains a control character and cannot be sent\n");
    EXPECT_TRUE(service.requests().empty()) << credential;
    EXPECT_EQ(result.err.find("X-Injected"), std::string::npos);
  }
}

TEST_F(UntrustedInputTest, ScriptsDieOfSigpipeAsTheyWouldInATerminal) {
  service.addScript("com.example.app", "yes | head -n1 > /dev/null\necho \"${pipestatus[*]}\"\n");
  auto result = agent.run({"--install", "com.example.app"});
  EXPECT_EQ(result.out, "141 0\n") << result.err;
}

TEST_F(UntrustedInputTest, ALeadByteNeverCompletedCostsOnlyItself) {
  // Each write waits until the agent has logged the one before, so each is a read of its own.
  service.addScript("com.example.app", R"(log=${SHELVO_LOG#file:}
await() { until grep -q "\"message\":\"$1\"" $log; do sleep 0.02; done }
printf 'abc\xe2'; await abc
printf hello; await hello
printf world
)");
  auto result = agent.run({"--install", "com.example.app"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_TRUE(agent.logged("default", "abc"));
  EXPECT_TRUE(agent.logged("default", "hello"));
  EXPECT_TRUE(agent.logged("default", "world"));
}

TEST_F(UntrustedInputTest, AFifoOrADeepInfoPlistInAUsersFolderLeavesTheOtherAppsReported) {
  writeTextFile(agent.root / "Applications/Good.app/Contents/Info.plist",
                R"(<plist version="1.0"><dict><key>CFBundleIdentifier</key>
                   <string>com.example.good</string><key>CFBundleShortVersionString</key>
                   <string>1.0</string></dict></plist>)");
  fs::create_directories(agent.root / "Users/bob/Applications/Fifo.app/Contents");
  ASSERT_EQ(
      ::mkfifo((agent.root / "Users/bob/Applications/Fifo.app/Contents/Info.plist").c_str(), 0644),
      0);
  writeTextFile(agent.root / "Users/bob/Applications/Evil.app/Contents/Info.plist",
                deepBinaryPlist(160'000));
  service.setAppList(R"([{"bundle_id": "com.example.good", "name": "Good", "version": "2.0"}])");
  // A FIFO opened for reading would hold the check until the run's time limit.
  auto result = agent.run({"--check-updates"});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_NE(result.out.find("- Good, 1.0 > 2.0"), std::string::npos) << result.out;
}

}  // namespace
}  // namespace shelvo::test
