#include "platform/text/utf8_chunker.h"

#include "platform/text/utf8.h"

namespace shelvo::platform {
namespace {

std::size_t sequenceLength(unsigned char lead) {
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  return 2;
}

}  // namespace

std::string_view Utf8Chunker::next(std::string_view read) {
  std::string_view bytes = read;
  if (!pending_.empty()) {
    std::string pending = std::move(pending_);
    pending_.clear();
    std::size_t missing = sequenceLength(static_cast<unsigned char>(pending[0])) - pending.size();
    if (read.size() < missing) {
      // Still not complete: keep carrying while the bytes so far can start a character.
      std::string longer = pending + std::string(read);
      if (incompleteUtf8Suffix(longer) == longer.size()) {
        pending_ = std::move(longer);
        return {};
      }
    } else if (isValidUtf8(pending + std::string(read.substr(0, missing)))) {
      joined_ = std::move(pending);
      joined_.append(read);
      bytes = joined_;
    }
  }
  std::size_t carried = incompleteUtf8Suffix(bytes);
  std::string carry(bytes.substr(bytes.size() - carried));
  bytes.remove_suffix(carried);
  pending_ = std::move(carry);
  return isValidUtf8(bytes) ? bytes : std::string_view();
}

}  // namespace shelvo::platform
