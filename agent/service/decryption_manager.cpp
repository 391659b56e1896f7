#include "agent/service/decryption_manager.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string_view>

#include "agent/configuration.h"
#include "platform/crypto/aes_gcm.h"
#include "platform/text/base64.h"
#include "platform/text/utf8.h"

namespace shelvo {

DecryptionManager::DecryptionManager(const platform::LogConfig& log)
    : logger(log, kSubsystem, "DecryptionManager") {}

namespace {

// The body's Base64 text in three parts: the nonce's 12 bytes are its first four groups; its
// last six groups hold the tag, any padding and up to two bytes of ciphertext; the groups in
// between are the rest of the ciphertext and hold no padding.
constexpr std::size_t kNonceTextLength = 16;
constexpr std::size_t kTailTextLength = 24;
// The shortest box (28 bytes: nonce and tag) takes 40 characters; anything shorter is either
// not Base64 or too short.
constexpr std::size_t kShortestBoxText = kNonceTextLength + kTailTextLength;

constexpr std::size_t kBlockSize = DecryptionManager::kBlockTextLength / 4 * 3;
// A block is decrypted in pieces; while each is, a piece of the next block's text is fetched.
constexpr std::size_t kPiecesPerBlock = 4;
constexpr std::size_t kPieceSize = kBlockSize / kPiecesPerBlock;
constexpr std::size_t kPieceTextLength = DecryptionManager::kBlockTextLength / kPiecesPerBlock;
static_assert(kPieceSize % 16 == 0, "whole groups, whole vector steps and whole cipher blocks");

// Asks for text that decoding will read soon. Without this, decoding a block would wait for
// memory line by line; this way the lines arrive while the processor decrypts.
void fetchAhead(std::string_view text) {
  for (std::size_t at = 0; at < text.size(); at += 64) __builtin_prefetch(text.data() + at);
}

// The plaintext, kept at the front of the body's memory as each block is decrypted to there: it
// is checked to be UTF-8 as it stands (a sequence may span two blocks), then its NUL characters
// are squeezed out.
class ScriptText {
 public:
  explicit ScriptText(char* memory) : memory_(memory) {}

  // Where the next block goes: right after the text kept so far.
  unsigned char* end() const { return reinterpret_cast<unsigned char*>(memory_ + kept_); }

  // Takes the size bytes just decrypted at end().
  void add(std::size_t size) {
    std::string_view block(memory_ + kept_, size);
    // Most scripts are plain ASCII: nothing to carry, nothing to remove.
    if (unfinished_ == 0 && platform::leadingAsciiWithoutNul(block) == size) {
      kept_ += size;
      return;
    }
    if (valid_) {
      // The unfinished sequence at the end of the text kept so far lies right before the block.
      std::string_view checked(block.data() - unfinished_, unfinished_ + size);
      unfinished_ = platform::incompleteUtf8Suffix(checked);
      valid_ = platform::isValidUtf8(checked.substr(0, checked.size() - unfinished_));
    }
    keepWithoutNul(size);
  }

  std::size_t size() const { return kept_; }
  // UTF-8 throughout, with no sequence cut short at the end.
  bool valid() const { return valid_ && unfinished_ == 0; }

 private:
  // Squeezes the NUL characters out of the size bytes at the end of the text. NUL is a whole
  // character, never part of an unfinished sequence.
  void keepWithoutNul(std::size_t size) {
    char* read = memory_ + kept_;
    char* end = read + size;
    char* write = read;
    while (read < end) {
      auto* nul = static_cast<char*>(std::memchr(read, '\0', static_cast<std::size_t>(end - read)));
      char* stop = nul ? nul : end;
      if (write != read) std::memmove(write, read, static_cast<std::size_t>(stop - read));
      write += stop - read;
      read = nul ? nul + 1 : end;
    }
    kept_ = static_cast<std::size_t>(write - memory_);
  }

  char* memory_;
  std::size_t kept_ = 0;
  std::size_t unfinished_ = 0;
  bool valid_ = true;
};

}  // namespace

std::optional<std::string> DecryptionManager::decrypt(std::string body) const {
  auto notBase64 = [this] {
    logger.error("Failed to decode obtained install information: Unknown error");
    return std::nullopt;
  };
  auto invalidFormat = [this] {
    logger.error("Failed to decode obtained install information: Invalid format");
    return std::nullopt;
  };
  if (body.size() < kShortestBoxText) {
    return platform::decodeBase64(body) ? invalidFormat() : notBase64();
  }
  if (body.size() % 4 != 0) return notBase64();

  std::string_view text(body);
  std::array<unsigned char, platform::kAesGcmNonceSize + platform::kBase64GroupsSlack> nonce;
  auto tail = platform::decodeBase64(text.substr(text.size() - kTailTextLength));
  if (!platform::decodeBase64Groups(text.substr(0, kNonceTextLength), nonce.data()) || !tail) {
    return notBase64();
  }
  std::string_view tailCiphertext(tail->data(), tail->size() - platform::kAesGcmTagSize);
  std::string_view tag(tail->data() + tailCiphertext.size(), platform::kAesGcmTagSize);

  platform::AesGcmDecryption cipher(
      DecryptionKeys::keyText,
      std::string_view(reinterpret_cast<const char*>(nonce.data()), platform::kAesGcmNonceSize));
  // Each block is decoded into a buffer that stays in the cache, then decrypted from there into
  // the body's own memory, over text already read (3 bytes for every 4 characters), and checked
  // there. The body becomes the script: nothing is copied.
  auto ciphertext =
      std::make_unique_for_overwrite<unsigned char[]>(kBlockSize + platform::kBase64GroupsSlack);
  ScriptText script(body.data());
  auto open = [&](std::size_t size, std::string_view nextText) {
    if (!cipher.ready()) return;  // only the Base64 is still checked, for its message
    for (std::size_t piece = 0; piece * kPieceSize < size; ++piece) {
      fetchAhead(
          nextText.substr(std::min(piece * kPieceTextLength, nextText.size()), kPieceTextLength));
      std::size_t done = piece * kPieceSize;
      cipher.decrypt(ciphertext.get() + done, script.end() + done,
                     std::min(kPieceSize, size - done));
    }
    script.add(size);
  };
  std::string_view middle = text.substr(kNonceTextLength, text.size() - kShortestBoxText);
  for (std::size_t at = 0; at < middle.size(); at += kBlockTextLength) {
    std::string_view groups = middle.substr(at, kBlockTextLength);
    if (!platform::decodeBase64Groups(groups, ciphertext.get())) return notBase64();
    open(groups.size() / 4 * 3,
         middle.substr(std::min(at + kBlockTextLength, middle.size()), kBlockTextLength));
  }
  std::memcpy(ciphertext.get(), tailCiphertext.data(), tailCiphertext.size());
  open(tailCiphertext.size(), {});

  if (!cipher.ready()) return invalidFormat();
  if (!cipher.verify(tag)) {
    logger.error("Failed to decode obtained install information: Error while decrypting data");
    return std::nullopt;
  }
  // Text that authenticates but is not UTF-8 cannot be a script.
  if (!script.valid()) return std::nullopt;
  body.resize(script.size());
  return body;
}

}  // namespace shelvo
