// What the agent answers when the files it stands on fail it: one Env call fails per row.
#include <gtest/gtest.h>

#include <cerrno>

#include "tests/support/controller_fixture.h"

namespace shelvo {
namespace {

using platform::FileOwnership;
using platform::Path;
using platform::Result;

bool isCredentialSuite(const Path& path) {
  return path.filename() == "ostrel.shelvo.plist";
}

class CredentialReadFails : public test::TestEnv {
  Result<std::string> readOwnedFile(const Path& path, std::size_t maxBytes,
                                    FileOwnership& ownership) const override {
    if (!isCredentialSuite(path)) return TestEnv::readOwnedFile(path, maxBytes, ownership);
    return platform::Error{"cannot read " + path.string() + ": Input/output error", EIO};
  }
};

class PreferenceFileCorrupt : public test::TestEnv {
  Result<std::string> readOwnedFile(const Path& path, std::size_t maxBytes,
                                    FileOwnership& ownership) const override {
    auto bytes = TestEnv::readOwnedFile(path, maxBytes, ownership);
    if (!bytes || !isCredentialSuite(path)) return bytes;
    return bytes->substr(0, bytes->size() / 2);
  }
};

class BundleMissing : public test::TestEnv {
  bool isFolder(const Path& path) const override {
    return path.string().find("Shelvo Agent.app") == std::string::npos && TestEnv::isFolder(path);
  }
};

class EnvFaultsTest : public test::ControllerTest {
 protected:
  // A credential and the agent's bundle, so that without a fault the version is printed as
  // "3.1 (164)".
  void SetUp() override {
    ControllerTest::SetUp();
    set("ostrel.shelvo", "authorization", platform::makeString("token"));
    test::writeTextFile(
        *root / "Applications/Shelvo.app/Contents/Resources/Shelvo Agent.app/Contents/Info.plist",
        "<plist version=\"1.0\"><dict><key>CFBundleShortVersionString</key><string>3.1</string>"
        "<key>CFBundleVersion</key><string>164</string></dict></plist>");
  }
};

TEST_F(EnvFaultsTest, EachFailingReadGivesTheAgentsAnswerNotACrash) {
  const char* notFound = "Error: Authorization not found!\n";
  struct Row {
    const char* fault;
    std::shared_ptr<test::TestEnv> env;
    int status;
    const char* answer;
  };
  const Row rows[] = {
      {"the credential cannot be read", std::make_shared<CredentialReadFails>(), 10, notFound},
      {"the preference file is cut short", std::make_shared<PreferenceFileCorrupt>(), 10, notFound},
      {"the agent's bundle is missing", std::make_shared<BundleMissing>(), 0,
       "Shelvo Agent version: Unknown (Unknown)\n"},
  };
  for (const auto& row : rows) {
    env = row.env;
    EXPECT_EQ(dispatch({"--version"}), row.status) << row.fault;
    EXPECT_TRUE(console->text().ends_with(row.answer)) << row.fault << ":\n" << console->text();
  }
}

}  // namespace
}  // namespace shelvo
