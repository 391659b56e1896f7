#include "platform/text/stream_blanker.h"

#include <algorithm>

namespace shelvo::platform {

void StreamBlanker::next(std::string_view piece, const Sink& out) {
  if (secret_.empty()) {
    if (!piece.empty()) out(piece);
    return;
  }
  // Most pieces hold nothing back, and are searched where they are.
  std::string joined;
  std::string_view stream = piece;
  if (!held_.empty()) {
    joined = std::move(held_) + std::string(piece);
    held_.clear();
    stream = joined;
  }
  std::size_t from = 0;
  for (std::size_t at = stream.find(secret_); at != std::string_view::npos;
       at = stream.find(secret_, from)) {
    if (at > from) out(stream.substr(from, at - from));
    out(kBlank);
    from = at + secret_.size();
  }
  // The longest end that is a start of the secret waits for the next piece.
  std::size_t hold = std::min(secret_.size() - 1, stream.size() - from);
  while (hold > 0 && !secret_.starts_with(stream.substr(stream.size() - hold))) --hold;
  std::size_t end = stream.size() - hold;
  if (end > from) out(stream.substr(from, end - from));
  held_ = std::string(stream.substr(end));
}

}  // namespace shelvo::platform
