#include "emulation/codesign/requirement.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>

#include "helper/client_validation.h"
#include "platform/codesign/code_signature.h"
#include "tests/support/paths.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace shelvo::platform {
namespace {

TEST(RequirementLanguage, ParsesWithThePlatformsPrecedence) {
  const std::pair<const char*, const char*> rows[] = {
      {R"(identifier "a" and identifier "b" or identifier "c")",
       R"(((identifier "a" and identifier "b") or identifier "c"))"},
      {R"(identifier "a" or identifier "b" and identifier "c")",
       R"((identifier "a" or (identifier "b" and identifier "c")))"},
      {"!anchor apple or identifier com.x", R"((!anchor apple or identifier "com.x"))"},
      {"! ! anchor apple", "!!anchor apple"},
      {"identifier com.apple.mail", R"(identifier "com.apple.mail")"},
      {"identifier apple", nullptr},
      {R"(identifier "apple")", R"(identifier "apple")"},
      {"identifier com.my-app", nullptr},
      {R"(identifier "com.my-app")", R"(identifier "com.my-app")"},
      {"identifier com.example.1app", nullptr},
      {"identifier com.example.v2", R"(identifier "com.example.v2")"},
      {"identifier org.x.2", R"(identifier "org.x.2")"},
      {"certificate leaf[subject.OU] = 9ABCDE1234", nullptr},
      {R"(info[CFBundleVersion] >= "2.0")", R"(info[CFBundleVersion] >= "2.0")"},
      {"info[CFBundleVersion] >= 2.0", nullptr},
      {"info[CFBundleIdentifier] = com.example*", R"(info[CFBundleIdentifier] = "com.example"*)"},
      {"info[CFBundleName] = *Helper", R"(info[CFBundleName] = *"Helper")"},
      {"info[CFBundleName] = *elp*", R"(info[CFBundleName] ~ "elp")"},
      {"info[CFBundleName] ~ elp", R"(info[CFBundleName] ~ "elp")"},
      {R"(entitlement["com.apple.security.app-sandbox"] exists)",
       "entitlement[com.apple.security.app-sandbox] exists"},
      {R"(entitlement["com.apple.security.app-sandbox"])",
       "entitlement[com.apple.security.app-sandbox] exists"},
      {"certificate leaf[issuer.CN] = x", nullptr},
      {R"(cdhash H"0123456789abcdef0123456789abcdef01234567")",
       R"(cdhash H"0123456789abcdef0123456789abcdef01234567")"},
      {R"(cdhash H"0123456789abcdef0123456789abcdef012345")", nullptr},
      {"anchor apple generic // c++ comment\nand notarized",
       "(anchor apple generic and notarized)"},
      {"# shell comment\nanchor apple", "anchor apple"},
      {"anchor apple /* unterminated", nullptr},
      {"anchor apple\r\n", nullptr},
      {"", nullptr},
      {R"(certificate 1[field.1.2.3] /* exists */)", "certificate 1[field.1.2.3] exists"},
      {"certificate root[subject.CN] = x", R"(certificate root[subject.CN] = "x")"},
      {"anchor [subject.CN] = x", R"(certificate root[subject.CN] = "x")"},
      {"certificate -1 trusted", "certificate root trusted"},
      {"(identifier a)", R"(identifier "a")"},
      {"always and (never or true)", "(always and (never or always))"},
  };
  for (const auto& [source, parsed] : rows) {
    auto requirement = Requirement::compile(source);
    if (parsed == nullptr) {
      EXPECT_FALSE(requirement) << source;
    } else {
      ASSERT_TRUE(requirement) << source << ": " << requirement.error().message;
      EXPECT_EQ(requirement->describe(), parsed) << source;
    }
  }
  auto fixed = std::string(kLongRequirement);
  auto parsed = Requirement::compile(fixed);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->describe(),
            "((anchor apple generic and identifier \"ostrel.shelvo\") and (certificate "
            "leaf[field.1.2.840.113635.100.6.1.9] exists or ((certificate "
            "1[field.1.2.840.113635.100.6.2.6] exists and certificate "
            "leaf[field.1.2.840.113635.100.6.1.13] exists) and certificate leaf[subject.OU] = "
            "\"QZ7R2TW9LM\")))");
}

TEST(RequirementLanguage, HostileTextIsACompileErrorNotACrash) {
  std::string deep(100'000, '(');
  EXPECT_FALSE(Requirement::compile(deep + "always" + std::string(100'000, ')')));
  EXPECT_FALSE(Requirement::compile(std::string(100'000, '!') + "always"));
  std::string chain = "always";
  for (int i = 0; i < 20'000; ++i) chain += " and always";
  EXPECT_FALSE(Requirement::compile(chain));
  EXPECT_FALSE(Requirement::compile("certificate 99999999999 = \"x\""));
  EXPECT_FALSE(Requirement::compile("certificate -99999999999 = \"x\""));
  EXPECT_TRUE(Requirement::compile(std::string(200, '(') + "always" + std::string(200, ')')));
}

TEST(RequirementLanguage, RequirementSetsParse) {
  auto single =
      Requirement::compile(R"(designated => anchor apple generic and identifier "com.x")");
  ASSERT_TRUE(single);
  EXPECT_TRUE(single->isRequirementSet());
  EXPECT_TRUE(Requirement::compile("designated => anchor apple; host => anchor apple generic"));
}

class RequirementEvaluation : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pki = std::make_unique<test::TempDir>();
    auto made = test::runProgram(
        {std::string(test::kSourceDir) + "/tests/support/make-test-pki", pki->path().string()}, {});
    ASSERT_EQ(made.exitStatus, 0) << made.err;
  }
  static void TearDownTestSuite() { pki.reset(); }

  static X509Certificate load(const std::string& name) {
    FILE* file = std::fopen((pki->path() / (name + ".pem")).c_str(), "r");
    X509Certificate certificate(PEM_read_X509(file, nullptr, nullptr, nullptr));
    std::fclose(file);
    return certificate;
  }
  bool holds(const std::string& text, bool trusted = true) {
    auto requirement = Requirement::compile(text);
    EXPECT_TRUE(requirement) << text;
    CodeIdentity identity{"ostrel.shelvo", {leaf.get(), intermediate.get(), root.get()}, trusted};
    return requirement && requirement->evaluate(identity);
  }

  static std::unique_ptr<test::TempDir> pki;
  X509Certificate leaf = load("leaf");
  X509Certificate intermediate = load("intermediate");
  X509Certificate root = load("root");
};

std::unique_ptr<test::TempDir> RequirementEvaluation::pki;

// Slots count from the leaf, and back from the anchor; matches are case-sensitive; nothing here is
// Apple's own code, and only a trusted chain has an anchor.
TEST_F(RequirementEvaluation, SlotsMatchOperatorsAndTheAnchor) {
  const std::pair<std::string, bool> rows[] = {
      {R"(certificate leaf[subject.OU] = "QZ7R2TW9LM")", true},
      {"certificate 1[field.1.2.840.113635.100.6.2.6]", true},
      {"certificate leaf[field.1.2.840.113635.100.6.2.6]", false},
      {R"(certificate root[subject.CN] = "Test Root CA")", true},
      {R"(anchor [subject.CN] = "Test Root CA")", true},
      {R"(certificate 2[subject.CN] = "Test Root CA")", true},
      {R"(certificate -2[subject.CN] = "Test Developer ID CA")", true},
      {"certificate 3[subject.CN] exists", false},
      {"certificate leaf[field.1.2.840.113635.100.6.1.9]", false},
      {R"(certificate leaf[subject.CN] = *Ostrel)", true},
      {R"(certificate leaf[subject.CN] = "Developer ID"*)", true},
      {R"(certificate leaf[subject.CN] ~ "ID Application")", true},
      {R"(certificate leaf[subject.CN] = "developer id"*)", false},
      {R"(certificate leaf[subject.O] >= "Ostrel")", true},
      {R"(certificate leaf[subject.O] < "Ostrel")", false},
      {R"(certificate leaf[subject.OU] exists)", true},
      {R"(certificate leaf[subject.L] exists)", false},
      {"anchor apple generic", true},
      {"anchor apple", false},
      {R"(info[CFBundleVersion] exists)", false},
      {kLongRequirement, true},
      {clientRequirement(), true},
  };
  for (const auto& [text, held] : rows) EXPECT_EQ(holds(text), held) << text;
  EXPECT_FALSE(holds("anchor apple generic", false));
  EXPECT_FALSE(holds(kLongRequirement, false));
}

}  // namespace
}  // namespace shelvo::platform
