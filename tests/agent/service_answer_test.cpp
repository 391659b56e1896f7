// A service answer: each transfer result classified, as a pure function from it to what the
// agent does (run the script, or log and print a message and end with a status), and the
// sealed body opened.
#include <gtest/gtest.h>
#include <span>

#include "agent/service/answer_classification.h"
#include "agent/service/decryption_manager.h"
#include "platform/text/base64.h"
#include "tests/support/capture.h"
#include "tests/support/controller_fixture.h"
#include "tools/demo-service/sealing.h"

namespace shelvo {
namespace {

using platform::LogLevel;
using test::answered;
using test::failed;

constexpr std::string_view kUrl = "https://apps.example/apps/x";

// Opens "sealed:TEXT" to TEXT; anything else does not open.
std::optional<std::string> open(std::string_view body) {
  if (!body.starts_with("sealed:")) return std::nullopt;
  return std::string(body.substr(7));
}

// An answer that is refused: the status it ends with, what is logged and printed, and the hint on
// standard error (empty for none). A status of 0 is a skip, logged at the default level.
struct Row {
  platform::DataTaskResult result;
  int status;
  std::string message;
  std::string hint;
};

void expectRows(const std::vector<Row>& rows, bool install) {
  auto classify = install ? classifyInstallAnswer : classifyUpdateAnswer;
  EXPECT_EQ(classify(answered(200, "sealed:echo hi"), kUrl, open).script, "echo hi");
  for (const auto& row : rows) {
    auto outcome = classify(row.result, kUrl, open);
    EXPECT_EQ(outcome.script, std::nullopt) << row.message;
    EXPECT_EQ(outcome.level, row.status == 0 ? LogLevel::Default : LogLevel::Error) << row.message;
    EXPECT_EQ(outcome.message, row.message);
    EXPECT_EQ(outcome.status, row.status) << row.message;
    EXPECT_EQ(outcome.hint.value_or(""), row.hint) << row.message;
  }
}

TEST(AnswerClassification, InstallAnswers) {
  auto timedOut = platform::makeURLError(platform::kURLErrorTimedOut, "apps.example");
  expectRows(
      {
          {failed(timedOut), 20, "Failed to get install information: The request timed out.",
           "shelvo: the request to https://apps.example/apps/x failed"},
          {platform::DataTaskResult(), 21, "",
           "shelvo: https://apps.example/apps/x gave no HTTP answer"},
          {answered(401, "x"), 21, "Failed to get install information: 401",
           "shelvo: https://apps.example/apps/x answered 401 Unauthorized: the service did not "
           "accept the credential (key \"authorization\" of domain ostrel.shelvo; "
           "shelvo-defaults explain ostrel.shelvo shows where it comes from)"},
          {answered(403, "x"), 21, "Failed to get install information: 403",
           "shelvo: https://apps.example/apps/x answered 403 Forbidden: the service knows the "
           "credential but does not allow it this request; ask whoever runs the service"},
          {answered(404, "x"), 21, "Failed to get install information: 404",
           "shelvo: https://apps.example/apps/x answered 404 Not Found: the service has no app "
           "with this bundle identifier, or the service URL is wrong (shelvo-defaults explain "
           "ostrel.shelvo shows it)"},
          {answered(300, "x"), 21, "Failed to get install information: 300",
           "shelvo: https://apps.example/apps/x answered 300"},
          {answered(200, std::nullopt), 22, "Failed to get install information: Unknown error", ""},
          {answered(200, "plain"), 45, "Error while obtaining install information", ""},
      },
      true);
  EXPECT_EQ(classifyInstallAnswer(answered(404, "x"), kUrl, open).httpStatus, 404);
}

TEST(AnswerClassification, UpdateAnswers) {
  using Reason = platform::NetworkUnavailableReason;
  auto offline = [](Reason reason) {
    return failed(platform::makeURLError(platform::kURLErrorNotConnectedToInternet, "", reason));
  };
  auto timedOut = platform::makeURLError(platform::kURLErrorTimedOut, "apps.example");
  platform::RequestError plain;
  plain.isURLError = false;
  plain.localizedDescription = "something else";
  expectRows(
      {
          {offline(Reason::Constrained), 0, "Low Data Mode is enabled. Skipping updates...", ""},
          {offline(Reason::Expensive), 0,
           "Network connection is considered expensive, likely a Personal Hotspot. Skipping "
           "updates...",
           ""},
          {failed(plain), 20, "Failed to get update information: something else",
           "shelvo: the request to https://apps.example/apps/x failed"},
          {failed(timedOut), 21, "Failed to get update information: 0",
           "shelvo: the request to https://apps.example/apps/x failed: The request timed out."},
          {answered(404, "x"), 21, "Failed to get update information: 404",
           "shelvo: https://apps.example/apps/x answered 404 Not Found: the service URL is wrong "
           "(shelvo-defaults explain ostrel.shelvo shows it)"},
          {answered(500, "x"), 21, "Failed to get update information: 500",
           "shelvo: https://apps.example/apps/x answered 500"},
          {answered(200, std::nullopt), 22, "Failed to get update information: Unknown error", ""},
          {answered(200, "plain"), 45, "Error while obtaining update information", ""},
      },
      false);
}

constexpr const char* kUnknown = "Failed to decode obtained install information: Unknown error";
constexpr const char* kInvalid = "Failed to decode obtained install information: Invalid format";
constexpr const char* kForged =
    "Failed to decode obtained install information: Error while decrypting data";

class DecryptionTest : public ::testing::Test {
 protected:
  std::optional<std::string> open(std::string_view body) {
    return DecryptionManager({sink, false}).decrypt(std::string(body));
  }
  std::vector<std::string> errors() {
    std::vector<std::string> messages;
    for (const auto& record : sink->records()) {
      EXPECT_EQ(record.category, "DecryptionManager");
      if (record.level == platform::LogLevel::Error) messages.push_back(record.message);
    }
    return messages;
  }
  // Each body opens to nothing, and logs its one error message.
  void expectRefused(std::span<const std::pair<std::string, const char*>> rows) {
    for (const auto& [body, message] : rows) {
      sink = std::make_shared<test::CaptureSink>();
      EXPECT_FALSE(open(body)) << message;
      EXPECT_EQ(errors(), std::vector<std::string>{message});
    }
  }
  std::string key{DecryptionKeys::keyText};
  std::string nonce = "0123456789ab";
  std::shared_ptr<test::CaptureSink> sink = std::make_shared<test::CaptureSink>();
};

TEST_F(DecryptionTest, EachFailureHasItsOwnMessage) {
  std::string box = demo::sealCombined("echo hi", key, nonce);
  std::string flipped = box;
  flipped.back() = static_cast<char>(flipped.back() ^ 0x01);  // one bit of the tag
  const std::pair<std::string, const char*> rows[] = {
      {platform::encodeBase64(box).insert(8, "\n"), kUnknown},
      {"", kInvalid},
      {platform::encodeBase64(std::string(27, 'x')), kInvalid},
      {platform::encodeBase64(flipped), kForged},
      {demo::sealText("echo hi", "another key of thirty-two bytes!"), kForged},
  };
  expectRefused(rows);
}

// The answer is opened a block at a time; nothing may depend on where the blocks end.
constexpr std::size_t kBlock = DecryptionManager::kBlockTextLength / 4 * 3;  // plaintext bytes

// size bytes of UTF-8 text after shift ASCII bytes: characters of one to four bytes and NULs, so
// that across sizes and shifts a block boundary falls inside every kind of sequence.
std::string mixedText(std::size_t size, std::size_t shift) {
  static constexpr std::string_view kCharacters[] = {
      "a", "\xc3\xa9", std::string_view("\0", 1), "\xe2\x82\xac", "\xf0\x9f\x98\x80", "\n"};
  std::string text(std::min(shift, size), 'x');
  for (std::size_t next = 0; text.size() < size; ++next) {
    std::string_view character = kCharacters[next % std::size(kCharacters)];
    text.append(text.size() + character.size() <= size ? character : "x");
  }
  return text;
}

TEST_F(DecryptionTest, OpensEveryLengthAroundTheBlockBoundariesWithoutItsNuls) {
  for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{3},
                           kBlock / 4 - 1, kBlock - 2, kBlock - 1, kBlock, kBlock + 1, kBlock + 2,
                           2 * kBlock - 1, 2 * kBlock, 2 * kBlock + 1, 3 * kBlock + kBlock / 2}) {
    for (std::size_t shift = 0; shift < 9; ++shift) {
      std::string text = mixedText(size, shift);
      std::string expected = text;
      std::erase(expected, '\0');
      EXPECT_EQ(open(demo::sealTextWithNonce(text, key, nonce)), expected) << size << "+" << shift;
    }
  }
  // Plain ASCII blocks next to blocks with more to check.
  std::string text = std::string(kBlock, 'a') + "\xc3\xa9" + std::string(kBlock, 'b') +
                     std::string(1, '\0') + std::string(kBlock, 'c');
  EXPECT_EQ(
      open(demo::sealTextWithNonce(text, key, nonce)),
      std::string(kBlock, 'a') + "\xc3\xa9" + std::string(kBlock, 'b') + std::string(kBlock, 'c'));
  EXPECT_TRUE(errors().empty());
}

TEST_F(DecryptionTest, AFaultInALaterBlockIsFoundWithItsOwnMessage) {
  std::string text(3 * kBlock + 100, 'e');
  std::string box = demo::sealCombined(text, key, nonce);
  std::string body = platform::encodeBase64(box);
  std::string flipped = box;
  flipped[12 + 2 * kBlock + 7] ^= 0x01;  // one bit of the third block's ciphertext
  std::size_t third = 16 + 2 * DecryptionManager::kBlockTextLength + 5;  // a character in it
  auto replaced = [](std::string body, std::size_t at, char c) {
    body[at] = c;
    return body;
  };
  const std::pair<std::string, const char*> rows[] = {
      {replaced(body, third, '-'), kUnknown},
      {replaced(body, third, '='), kUnknown},
      {replaced(body, body.size() - 9, '\n'), kUnknown},
      {replaced(platform::encodeBase64(flipped), third, '_'), kUnknown},
      {platform::encodeBase64(flipped), kForged},
  };
  expectRefused(rows);
}

TEST_F(DecryptionTest, TextThatIsNotUtf8InAnyBlockYieldsNothing) {
  std::string ascii(2 * kBlock, 'u');
  const std::string rows[] = {
      std::string(ascii).replace(kBlock + 9, 1, "\xff"),
      // A NUL inside a sequence that spans two blocks: removing it would hide the fault.
      std::string(ascii).replace(kBlock - 1, 3, std::string("\xc3\0\xa9", 3)),
      ascii + "\xe2\x82",  // cut short at the very end
      // A sequence cut short by a block of plain ASCII, with more to check after it.
      std::string(ascii).replace(kBlock - 1, 1, "\xc3") + "\xc3\xa9",
      "echo \xff\xfe",  // in the first block
  };
  for (const auto& text : rows) {
    sink = std::make_shared<test::CaptureSink>();
    EXPECT_FALSE(open(demo::sealTextWithNonce(text, key, nonce)));
    EXPECT_TRUE(errors().empty());
  }
  // The tag is checked first: a forged text that is not UTF-8 either is a decryption error.
  std::string box = demo::sealCombined(rows[0], key, nonce);
  box.back() ^= 0x01;
  EXPECT_FALSE(open(platform::encodeBase64(box)));
  EXPECT_EQ(errors(), std::vector<std::string>{kForged});
}

}  // namespace
}  // namespace shelvo
