#pragma once

#include <string>

#include "base/result.h"

namespace shelvo {

// The operator's credential for the app service, checked once when it is read. It goes into a
// request header, where a line break would add headers of its own, so it holds no control
// character. Its text must never show in the log, the console or the run record.
class Credential {
 public:
  static platform::Result<Credential> check(std::string text);

  const std::string& text() const { return text_; }
  // The Authorization header's value.
  const std::string& headerValue() const { return headerValue_; }

 private:
  explicit Credential(std::string text) : text_(std::move(text)), headerValue_("Basic " + text_) {}

  std::string text_;
  std::string headerValue_;
};

}  // namespace shelvo
