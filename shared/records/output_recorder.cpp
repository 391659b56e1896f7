#include "shared/records/output_recorder.h"

#include <algorithm>

namespace shelvo {

void OutputRecorder::setSecret(std::string secret) {
  std::lock_guard lock(mutex_);
  blanker_ = platform::StreamBlanker(std::move(secret));
}

void OutputRecorder::write(std::string_view bytes) {
  std::lock_guard lock(mutex_);
  bytes_ += bytes.size();
  blanker_.next(bytes, [this](std::string_view safe) { tail_.append(safe); });
}

void OutputRecorder::copyInto(RunRecord& record) const {
  std::lock_guard lock(mutex_);
  LineTail tail = tail_;
  blanker_.finish([&tail](std::string_view safe) { tail.append(safe); });
  if (!tail.open.empty() || tail.cut) tail.endLine();
  record.outputBytes = bytes_;
  record.lastLines = std::move(tail.lines);
}

void OutputRecorder::LineTail::append(std::string_view bytes) {
  // Only the last lines can be kept: lines that many later ones push out are never copied.
  std::size_t start = 0;
  std::size_t newlines = 0;
  for (std::size_t at = bytes.size(); at > 0; --at) {
    if (bytes[at - 1] == '\n' && ++newlines > RunRecord::kTailLines) {
      lines.clear();
      open.clear();
      cut = false;
      start = at;
      break;
    }
  }
  while (start < bytes.size()) {
    std::size_t end = std::min(bytes.find('\n', start), bytes.size());
    if (!cut) {
      open.append(bytes.substr(start, std::min(end - start, RunRecord::kMaxLineBytes + 1)));
      if (open.size() > RunRecord::kMaxLineBytes) {
        // Cut at a character boundary, and say that it was cut.
        open.resize(RunRecord::kMaxLineBytes);
        while (!open.empty() && (static_cast<unsigned char>(open.back()) & 0xC0) == 0x80)
          open.pop_back();
        if (!open.empty() && static_cast<unsigned char>(open.back()) >= 0xC0) open.pop_back();
        open += "\u2026";
        cut = true;
      }
    }
    if (end == bytes.size()) break;
    endLine();
    start = end + 1;
  }
}

void OutputRecorder::LineTail::endLine() {
  if (!cut && !open.empty() && open.back() == '\r') open.pop_back();
  lines.push_back(std::move(open));
  if (lines.size() > RunRecord::kTailLines) lines.pop_front();
  open.clear();
  cut = false;
}

}  // namespace shelvo
