// shelvo --install against the demo app service and a few servers with special answers; --update
// and --update-schedule against the demo service, with a NetworkManager stand-in on a private bus.
#include <gtest/gtest.h>

#include <chrono>

#include "tests/e2e/agent_harness.h"
#include "tests/support/https_server.h"
#include "tests/support/paths.h"
#include "tests/support/private_bus.h"

namespace shelvo::test {
namespace {

class InstallTest : public ServedAgentTest {
 protected:
  std::filesystem::path specialCa = scratch / "special-ca.pem";
};

TEST_F(InstallTest, AnInstallStreamsTheScriptsOutputAndEndsWith0) {
  service.addScript("com.example.app",
                    "echo 'Downloading Example...'\nsleep 0.3\necho 'Example installed'\n");
  auto result = agent.run({"--install", "com.example.app"});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(result.out, "Downloading Example...\nExample installed\n");
  // Between the run's own start and end entries (checked in fleet_test.cpp):
  auto messages = agent.logMessages();
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(messages.begin() + 1, messages.end() - 1),
            (std::vector<std::string>{
                "Obtaining app information for com.example.app...",
                "Successfully obtained install information...",
                "<private>",  // "Installing app...", logged with %s
                "Installation information is valid",
                "Downloading Example...",
                "Example installed",
            }));
}

TEST_F(InstallTest, AScriptWithASyntaxErrorNeverRunsAndEndsWith50) {
  service.addScript("com.example.app", "echo should-not-run\nif then fi {\n");
  auto result = agent.run({"--install", "com.example.app"});
  EXPECT_EQ(result.exitStatus, 50);
  EXPECT_EQ(result.out, "");
  EXPECT_TRUE(agent.logged("error", "Installation information was invalid, exiting"));
}

TEST_F(InstallTest, TheRequestCarriesTheChoicesCredentialAndAgentVersion) {
  agent.installAgentBundle("3.1", "164");
  service.addScript("my app", "echo ok\n");
  auto result = agent.run(
      {"--install", "my app", "--silent", "--dock", "--progress", "--update-action", "--pontiq"});
  EXPECT_EQ(result.exitStatus, 0) << result.out;
  auto requests = service.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0]["method"], "GET");
  EXPECT_EQ(requests[0]["target"],
            "/apps/my%20app?notification=false&dock=true&progress=true&action=update");
  EXPECT_EQ(requests[0]["headers"]["Authorization"], "Basic demo-credential");
  EXPECT_EQ(requests[0]["headers"]["User-Agent"], "Shelvo Agent/3.1 (Pontiq)");

  // The bundle identifier is sent as it stands, even when it looks like an option or a path.
  for (const char* identifier : {"my app", "../x", "-s"}) agent.run({"-i", identifier});
  requests = service.requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[1]["target"], "/apps/my%20app?notification=true&dock=false&progress=false");
  EXPECT_EQ(requests[1]["headers"]["User-Agent"], "Shelvo Agent/3.1");
  EXPECT_EQ(requests[2]["target"], "/apps/../x?notification=true&dock=false&progress=false");
  EXPECT_EQ(requests[3]["target"], "/apps/-s?notification=false&dock=false&progress=false");
}

TEST_F(InstallTest, AnEmptyBodyCannotBeOpenedAndEndsWith45) {
  HttpsServer server(specialCa.string());
  server.routes().Get(".*", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("", "text/plain");
  });
  server.start();
  agent.use(server.url(), specialCa.string());
  auto result = agent.run({"--install", "com.example.app"});
  EXPECT_EQ(result.exitStatus, 45);
  EXPECT_EQ(result.out, "Error while obtaining install information\n");
  EXPECT_TRUE(
      agent.logged("error", "Failed to decode obtained install information: Invalid format"));
}

TEST_F(InstallTest, AnUntrustedServerCertificateIsRefused) {
  HttpsServer other(specialCa.string());  // a CA that did not issue the demo service's certificate
  agent.environment["SHELVO_CA_FILE"] = specialCa.string();
  auto result = agent.run({"--install", "com.example.app"});
  EXPECT_EQ(result.exitStatus, 20);
  EXPECT_EQ(result.out,
            "Failed to get install information: The certificate for this server is invalid. You "
            "might be connecting to a server that is pretending to be \u201C127.0.0.1\u201D which "
            "could put your confidential information at risk.\n");
  EXPECT_TRUE(service.requests().empty());
}

TEST_F(InstallTest, AServiceURLThatCannotBeUsedIsRefusedBeforeAnyRequest) {
  for (const char* url : {"http://127.0.0.1:1", "127.0.0.1", "https://", "https://bad host",
                          "https://127.0.0.1:99999", "https://127.0.0.1:abc", "https://[::1"}) {
    agent.environment["SHELVO_SERVICE_URL"] = url;
    auto install = agent.run({"--install", "com.example.app"});
    EXPECT_EQ(install.exitStatus, 20) << url;
    EXPECT_EQ(install.out, "Error while encoding download URL\n") << url;
    EXPECT_NE(install.err.find("SHELVO_SERVICE_URL"), std::string::npos);
    auto check = agent.run({"--check-updates"});
    EXPECT_EQ(check.exitStatus, 1) << url;
    EXPECT_NE(check.out.find("Error while encoding download URL\n"), std::string::npos) << url;
  }
  EXPECT_TRUE(service.requests().empty());
}

TEST_F(InstallTest, ABundleIdentifierThatIsNotUtf8IsLoggedNotPrinted) {
  auto result = agent.run({"--install", "com.example.\xff"});
  EXPECT_EQ(result.exitStatus, 20);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("not valid UTF-8"), std::string::npos);
  EXPECT_TRUE(agent.logged("error", "Error while encoding download URL"));
  EXPECT_TRUE(service.requests().empty());
}

TEST(InstallRedirects, TheCredentialNeverFollowsARedirectToAnotherHost) {
  TempDir scratch;
  AgentHarness agent;
  agent.storeAuthorization();
  HttpsServer target((scratch / "target-ca.pem").string());
  std::string seenAuthorization = "(no request)";
  target.routes().Get(".*", [&](const httplib::Request& request, httplib::Response& response) {
    seenAuthorization = request.get_header_value("Authorization");
    response.status = 404;
  });
  target.start();
  HttpsServer origin((scratch / "origin-ca.pem").string());
  std::string port = target.url().substr(target.url().rfind(':') + 1);
  origin.routes().Get("/apps/elsewhere", [&](const httplib::Request&, httplib::Response& response) {
    response.set_redirect("https://localhost:" + port + "/apps/elsewhere");
  });
  origin.routes().Get("/apps/plain", [](const httplib::Request&, httplib::Response& response) {
    response.set_redirect("http://127.0.0.1:1/apps/plain");
  });
  origin.start();
  writeTextFile(scratch / "both.pem",
                readTextFile(scratch / "target-ca.pem") + readTextFile(scratch / "origin-ca.pem"));
  agent.use(origin.url(), (scratch / "both.pem").string());

  auto redirected = agent.run({"--install", "elsewhere"});
  EXPECT_EQ(redirected.out, "Failed to get install information: 404\n");
  EXPECT_EQ(seenAuthorization, "") << "the redirect went to another host";

  auto downgraded = agent.run({"--install", "plain"});
  EXPECT_EQ(downgraded.exitStatus, 20) << "never follow a redirect away from https";
}

std::int64_t secondsNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

class UpdateRunTest : public ServedAgentTest {
 protected:
  void SetUp() override {
    service.addScript("update", "echo 'Updating Example'\nexit 3\n");
    // No NetworkManager: an ordinary network.
    agent.environment["DBUS_SYSTEM_BUS_ADDRESS"] = "unix:path=" + (scratch / "no-bus").string();
  }
};

TEST_F(UpdateRunTest, AnUpdateRunsTheServicesScriptAndEndsWith0) {
  auto result = agent.run({"--update"});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_NE(result.out.find("Updating Example\nUpdates completed!\n"), std::string::npos)
      << result.out;
  auto requests = service.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0]["target"], "/apps/update/?notification=true&progress=false");
  EXPECT_EQ(requests[0]["headers"]["User-Agent"], "Shelvo Agent/Unknown");
}

// When a run is due has its unit table; here, that the interval and the agent's last update are
// read where they are kept, and that a run not due makes no request.
TEST_F(UpdateRunTest, AScheduledRunThatIsNotDueOrSwitchedOffMakesNoRequest) {
  auto off = agent.run({"--update-schedule"});  // no UpdateInterval: switched off
  EXPECT_EQ(off.out, "Checking for application updates...\n");
  EXPECT_TRUE(agent.logged("default", "Update schedule is disabled. Skipping updates..."));
  agent.writePreference("ostrel.shelvo", "UpdateInterval", "-int", {"1"});
  agent.writePreference("ostrel.shelvo.agent", "LastUpdated", "-int",
                        {std::to_string(secondsNow() - 22 * 3600 - 1800)});
  auto skipped = agent.run({"--update-schedule"});
  EXPECT_EQ(skipped.exitStatus, 0);
  EXPECT_NE(skipped.out.find("Hours since last update: 22\n"), std::string::npos);
  EXPECT_NE(skipped.out.find("Skipping updates...\n"), std::string::npos);
  EXPECT_TRUE(service.requests().empty());
}

TEST_F(UpdateRunTest, HiddenNotificationsReachTheScheduledRunsQuery) {
  agent.writePreference("ostrel.shelvo", "UpdateInterval", "-int", {"1"});
  agent.writePreference("ostrel.shelvo", "HideUpdateNotifications", "-bool", {"true"});
  EXPECT_EQ(agent.run({"--update-schedule"}).exitStatus, 0);
  EXPECT_EQ(agent.run({"--update", "-p"}).exitStatus, 0);
  auto requests = service.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0]["target"], "/apps/update/?notification=false&progress=false");
  EXPECT_EQ(requests[1]["target"], "/apps/update/?notification=true&progress=true")
      << "a manual run takes its choice from the command line";
}

TEST_F(UpdateRunTest, RestrictedNetworksSkipUnlessAllowed) {
  struct Row {
    int metered;
    const char* allowKey;
    const char* skip;  // null: the request is sent
  };
  const Row rows[] = {
      {1, nullptr, "Low Data Mode is enabled. Skipping updates..."},
      {3, nullptr,
       "Network connection is considered expensive, likely a Personal Hotspot. Skipping "
       "updates..."},
      {1, "AllowUpdatesContrainedNetworks", nullptr},
      {3, "AllowUpdatesConstrainedNetworks", nullptr},
      {2, nullptr, nullptr},  // explicitly not metered
      {4, nullptr, nullptr},  // guessed not metered
  };
  std::size_t sent = 0;
  for (const auto& row : rows) {
    AgentHarness fresh;
    fresh.storeAuthorization();
    fresh.use(service);
    if (row.allowKey != nullptr)
      fresh.writePreference("ostrel.shelvo", row.allowKey, "-bool", {"YES"});
    PrivateBus bus;
    auto manager = startStandIn(kFakeNetworkManagerBinary, {std::to_string(row.metered)},
                                bus.address(), scratch.path());
    fresh.environment["DBUS_SYSTEM_BUS_ADDRESS"] = bus.address();
    auto result = fresh.run({"--update"});
    EXPECT_EQ(result.exitStatus, 0) << row.metered;
    if (row.skip != nullptr) {
      EXPECT_NE(result.out.find(std::string(row.skip) + "\n"), std::string::npos) << result.out;
      EXPECT_EQ(service.requests().size(), sent) << "no request on a refused network";
    } else {
      EXPECT_NE(result.out.find("Updates completed!"), std::string::npos) << row.metered;
      EXPECT_EQ(service.requests().size(), ++sent);
    }
  }
}

}  // namespace
}  // namespace shelvo::test
