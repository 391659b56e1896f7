#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/text/stream_blanker.h"
#include "shared/records/run_record.h"

namespace shelvo {

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
  platform::StreamBlanker blanker_;
  LineTail tail_;
  std::uint64_t bytes_ = 0;
};

}  // namespace shelvo
