#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace shelvo::platform {

// Blanks every occurrence of a secret in a byte stream that arrives in pieces: an end of a
// piece that could still be the start of the secret is held back until the next piece shows
// whether it is, so no split leaves a part of the secret behind.
class StreamBlanker {
 public:
  static constexpr std::string_view kBlank = "<private>";
  // Receives the stream's safe bytes, in order, in as many parts as it takes.
  using Sink = std::function<void(std::string_view)>;

  explicit StreamBlanker(std::string secret = {}) : secret_(std::move(secret)) {}
  // Hands on the bytes of piece known to be safe, secret blanked; may hold back a few.
  void next(std::string_view piece, const Sink& out);
  // Whether the last piece ended in bytes that could start the secret, held back for now.
  bool holdsBack() const { return !held_.empty(); }
  // What was held back, once the stream has ended.
  void finish(const Sink& out) const {
    if (!held_.empty()) out(held_);
  }

 private:
  std::string secret_;
  std::string held_;
};

}  // namespace shelvo::platform
