#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "shared/records/run_record.h"

namespace shelvo {

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
  // What was held back, once the stream has ended.
  void finish(const Sink& out) const {
    if (!held_.empty()) out(held_);
  }

 private:
  std::string secret_;
  std::string held_;
};

// Keeps the byte count and the last lines of a script's output for the run record. It reads
// the output as the script wrote it, before it is decoded or cut: the credential is blanked in
// that stream before any line is split or cut.
class OutputRecorder {
 public:
  // What must never be kept: the credential. Set before the script runs.
  void setSecret(std::string secret);
  // One read of the script's output, as it came.
  void write(std::string_view bytes);
  void copyInto(RunRecord& record) const;

 private:
  // The last lines of a stream, each cut at RunRecord::kMaxLineBytes.
  struct LineTail {
    std::deque<std::string> lines;
    std::string open;  // the line still being written
    bool cut = false;  // the open line was cut: the rest of it is dropped
    void append(std::string_view bytes);
    void endLine();
  };

  mutable std::mutex mutex_;
  StreamBlanker blanker_;
  LineTail tail_;
  std::uint64_t bytes_ = 0;
};

}  // namespace shelvo
