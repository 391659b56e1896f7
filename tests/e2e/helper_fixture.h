#pragma once

// ShelvoHelper as its clients meet it: a test PKI made with the openssl command line, copies of
// the test client signed in several ways and installed as the package installs the desktop app
// (setgid root:shelvo-client in folders only root may change), and the real helper bound by
// itself or started by systemd-socket-activate, with its anchors under a scratch root.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/agent_harness.h"

namespace shelvo::test {

class HelperTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  void SetUp() override;
  // Shows the helper's log when a test failed.
  void TearDown() override;

  static std::filesystem::path pki(const std::string& name);
  static std::filesystem::path client(const std::string& name);
  // Copies the test client to path, signs it and installs it setgid root:shelvo-client.
  static void makeClient(const std::filesystem::path& path, const std::string& identifier,
                         const std::string& leaf, const std::string& chain);

  std::string socket() const;
  // Starts the helper (bound by itself, or handed its socket by systemd-socket-activate) and
  // waits until its socket listens.
  void startHelper(bool socketActivation = false);
  // Stops the helper's process (SIGSTOP) and waits until every thread of it has stopped, so
  // connections made meanwhile wait in its queue; resumeHelper lets it go on.
  void pauseHelper();
  void resumeHelper();
  // Runs a client with actions, as root or (asUser) as nobody.
  ProgramResult run(const std::string& name, std::vector<std::string> actions, bool asUser = false);
  std::vector<std::string> command(const std::string& name, std::vector<std::string> actions,
                                   bool asUser = false) const;
  std::vector<std::string> logged(const std::string& level) const;
  bool hasLogged(const std::string& level, const std::string& message) const;
  bool hasLoggedRefusal(const std::string& reasonPart) const;
  // The genuine client: admitted and served once ("reply 0"), then holding its connection,
  // which keeps the helper up, until finishGenuine lets it send "exit lastStatus".
  std::unique_ptr<BackgroundProcess> startGenuine(int lastStatus);
  // Its whole output, once it has ended.
  std::string finishGenuine(BackgroundProcess& genuine);
  // The helper's resident memory, in KiB.
  long helperResidentKiB() const;
  // Whether the file holds text.
  static bool holds(const std::filesystem::path& file, const std::string& text);

  // How the helper finds a client's process: "" (its default, the kernel's pidfd) or
  // "pid-number", the way kernels before 6.5 force.
  std::string peerLookup;
  TempDir root;
  TempDir logs;
  std::filesystem::path logFile = logs / "helper.log";
  std::unique_ptr<BackgroundProcess> helper;
};

// The admission tests run both ways the helper can find a client's process: by the kernel's
// pidfd, and by pid number as on stock Debian 12's kernel.
class HelperAdmissionTest : public HelperTest, public ::testing::WithParamInterface<std::string> {
 protected:
  void SetUp() override {
    HelperTest::SetUp();
    peerLookup = GetParam();
  }
};

}  // namespace shelvo::test
