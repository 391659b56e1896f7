// Script output with a credential in it, cut into reads at arbitrary places: what the run record
// keeps is the stream with every occurrence blanked, whatever the cuts, in bounded lines.
#include "shared/records/output_recorder.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

// Every occurrence, left to right, in the whole stream at once.
std::string blankedAtOnce(std::string_view stream, std::string_view secret) {
  std::string out;
  std::size_t from = 0;
  for (std::size_t at = stream.find(secret); at != std::string_view::npos;
       at = stream.find(secret, from)) {
    out.append(stream.substr(from, at - from));
    out += shelvo::platform::StreamBlanker::kBlank;
    from = at + secret.size();
  }
  out.append(stream.substr(from));
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // Byte 0 seeds the cut positions, byte 1 gives the secret's length; then the secret, then the
  // stream.
  std::size_t secretSize = 1 + data[1] % 24;
  if (size < 2 + secretSize) return 0;
  std::string secret(shelvo::fuzz::asText(data + 2, secretSize));
  auto stream = shelvo::fuzz::asText(data + 2 + secretSize, size - 2 - secretSize);

  shelvo::platform::StreamBlanker blanker(secret);
  shelvo::OutputRecorder recorder;
  recorder.setSecret(secret);
  std::string joined;
  shelvo::fuzz::inReads(stream, data[0], 9, [&](std::string_view read) {
    blanker.next(read, [&](std::string_view safe) { joined += safe; });
    recorder.write(read);
  });
  blanker.finish([&](std::string_view safe) { joined += safe; });
  if (joined != blankedAtOnce(stream, secret)) std::abort();

  shelvo::RunRecord record;
  recorder.copyInto(record);
  if (record.outputBytes != stream.size()) std::abort();
  if (record.lastLines.size() > shelvo::RunRecord::kTailLines) std::abort();
  for (const auto& line : record.lastLines) {
    if (line.size() > shelvo::RunRecord::kMaxLineBytes + 3) std::abort();  // and the ellipsis
  }
  return 0;
}
