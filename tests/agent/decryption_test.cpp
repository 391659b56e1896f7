#include "agent/service/decryption_manager.h"
#include "tests/support/capture.h"

#include <gtest/gtest.h>

#include "platform/text/base64.h"
#include "tools/demo-service/sealing.h"

namespace shelvo {
namespace {

class DecryptionTest : public ::testing::Test {
 protected:
  std::optional<std::string> open(std::string_view body) {
    return DecryptionManager({sink, false}).decrypt(body);
  }
  std::vector<std::string> errors() {
    std::vector<std::string> messages;
    for (const auto& record : sink->records()) {
      EXPECT_EQ(record.category, "DecryptionManager");
      if (record.level == platform::LogLevel::Error) messages.push_back(record.message);
    }
    return messages;
  }
  std::string key{DecryptionKeys::keyText};
  std::string nonce = "0123456789ab";
  std::shared_ptr<test::CaptureSink> sink = std::make_shared<test::CaptureSink>();
};

TEST_F(DecryptionTest, OpensWhatTheServiceSeals) {
  EXPECT_EQ(open(demo::sealText("echo hello\n", key)), "echo hello\n");
  EXPECT_TRUE(errors().empty());
}

TEST_F(DecryptionTest, ABoxOfExactly28BytesOpensToTheEmptyText) {
  std::string box = demo::sealCombined("", key, nonce);
  ASSERT_EQ(box.size(), 28u);
  EXPECT_EQ(open(platform::encodeBase64(box)), "");
}

TEST_F(DecryptionTest, EachFailureHasItsOwnMessage) {
  std::string box = demo::sealCombined("echo hi", key, nonce);
  std::string flipped = box;
  flipped.back() = static_cast<char>(flipped.back() ^ 0x01);  // one bit of the tag
  const std::pair<std::string, const char*> rows[] = {
      {platform::encodeBase64(box).insert(8, "\n"),
       "Failed to decode obtained install information: Unknown error"},
      {"", "Failed to decode obtained install information: Invalid format"},
      {platform::encodeBase64(std::string(27, 'x')),
       "Failed to decode obtained install information: Invalid format"},
      {platform::encodeBase64(flipped),
       "Failed to decode obtained install information: Error while decrypting data"},
      {demo::sealText("echo hi", "another key of thirty-two bytes!"),
       "Failed to decode obtained install information: Error while decrypting data"},
  };
  for (const auto& [body, message] : rows) {
    sink = std::make_shared<test::CaptureSink>();
    EXPECT_FALSE(open(body)) << message;
    EXPECT_EQ(errors(), std::vector<std::string>{message});
  }
}

TEST_F(DecryptionTest, PlaintextThatIsNotUtf8YieldsNothing) {
  EXPECT_FALSE(open(demo::sealText("echo \xff\xfe", key)));
}

}  // namespace
}  // namespace shelvo
