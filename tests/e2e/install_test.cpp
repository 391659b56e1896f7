// shelvo --install against the demo app service and a few servers with special answers.
#include <gtest/gtest.h>

#include "tests/e2e/agent_harness.h"
#include "tests/support/https_server.h"

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

  agent.run({"-i", "my app"});
  requests = service.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1]["target"], "/apps/my%20app?notification=true&dock=false&progress=false");
  EXPECT_EQ(requests[1]["headers"]["User-Agent"], "Shelvo Agent/3.1");
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

TEST_F(InstallTest, TheBundleIdentifierIsSentAsItStandsEvenWhenItLooksLikeAnOption) {
  const char* identifiers[] = {"../x", "./y", "-s"};
  for (const char* identifier : identifiers) agent.run({"-i", identifier});
  auto requests = service.requests();
  ASSERT_EQ(requests.size(), 3u);
  for (std::size_t i = 0; i < requests.size(); ++i)
    EXPECT_EQ(requests[i]["target"], "/apps/" + std::string(identifiers[i]) +
                                         "?notification=" + (i == 2 ? "false" : "true") +
                                         "&dock=false&progress=false");
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

}  // namespace
}  // namespace shelvo::test
