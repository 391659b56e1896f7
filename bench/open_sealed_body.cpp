// Opening a 16 MiB sealed answer (Base64, AES-256-GCM, UTF-8 and NUL check) against the floor
// of OpenSSL's raw AES-256-GCM decryption of the same box.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <algorithm>
#include <ctime>
#include <memory>
#include <vector>

#include "agent/service/decryption_manager.h"
#include "platform/text/base64.h"
#include "tools/demo-service/sealing.h"

namespace {

constexpr std::size_t kPlaintextSize = 16 * 1024 * 1024;

const std::string& plaintext() {
  static const std::string text = [] {
    std::string script;
    while (script.size() < kPlaintextSize) script += "echo 'Installing component of the app'\n";
    script.resize(kPlaintextSize);
    return script;
  }();
  return text;
}

const std::string& box() {
  static const std::string combined =
      shelvo::demo::sealCombined(plaintext(), shelvo::DecryptionKeys::keyText, "0123456789ab");
  return combined;
}

const std::string& body() {
  static const std::string text = shelvo::platform::encodeBase64(box());
  return text;
}

// What the agent does: opens the body where it arrived.
bool openBody(const shelvo::DecryptionManager& manager, std::string arrived) {
  auto text = manager.decrypt(std::move(arrived));
  benchmark::DoNotOptimize(text);
  return text && text->size() == kPlaintextSize;
}

// The floor: OpenSSL's AES-256-GCM over the same box, into a buffer made beforehand.
bool decryptRaw(const std::string& sealed, std::string& out) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(sealed.data());
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(),
                                                                          EVP_CIPHER_CTX_free);
  int written = 0;
  int last = 0;
  EVP_DecryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr,
                     reinterpret_cast<const unsigned char*>(shelvo::DecryptionKeys::keyText.data()),
                     bytes);
  EVP_DecryptUpdate(context.get(), reinterpret_cast<unsigned char*>(out.data()), &written,
                    bytes + 12, static_cast<int>(kPlaintextSize));
  EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, 16,
                      const_cast<unsigned char*>(bytes + 12 + kPlaintextSize));
  bool verified =
      EVP_DecryptFinal_ex(context.get(), reinterpret_cast<unsigned char*>(out.data()) + written,
                          &last) == 1;
  benchmark::DoNotOptimize(out);
  return verified;
}

double threadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The figure: each round opens the body, then decrypts the raw box, so a busy machine slows both
// alike; the ratio is the median over rounds of floor time / our time, in CPU time of this thread
// (time spent waiting for a turn on a core is no one's work). Before each, untimed, the body and
// the box are copied, as the transfer leaves a fresh buffer in the agent.
void BM_OpenSealedBodyAgainstRawAesGcm(benchmark::State& state) {
  shelvo::DecryptionManager manager({std::make_shared<shelvo::platform::NullSink>(), false});
  std::string out(kPlaintextSize, '\0');
  std::vector<double> ours;
  std::vector<double> floor;
  std::vector<double> ratios;
  auto timed = [](std::vector<double>& times, auto&& work) {
    double start = threadSeconds();
    bool worked = work();
    times.push_back(threadSeconds() - start);
    return worked;
  };
  auto openOnce = [&] {
    std::string arrived = body();
    return timed(ours, [&] { return openBody(manager, std::move(arrived)); });
  };
  auto decryptOnce = [&] {
    std::string sealed = box();
    return timed(floor, [&] { return decryptRaw(sealed, out); });
  };
  for (auto _ : state) {
    // Each goes first in every other round, so neither always meets the other's leftovers.
    bool oursFirst = ratios.size() % 2 == 0;
    bool decrypted = oursFirst || decryptOnce();
    bool opened = openOnce();
    decrypted = decrypted && (!oursFirst || decryptOnce());
    if (!opened || !decrypted) {
      state.SkipWithError("did not open");
      return;
    }
    ratios.push_back(floor.back() / ours.back());
  }
  state.counters["ours_ms"] = median(ours) * 1e3;
  state.counters["floor_ms"] = median(floor) * 1e3;
  state.counters["ratio"] = median(ratios);
  state.counters["ratio_low"] = *std::min_element(ratios.begin(), ratios.end());
  state.counters["ratio_high"] = *std::max_element(ratios.begin(), ratios.end());
}

BENCHMARK(BM_OpenSealedBodyAgainstRawAesGcm)->Iterations(300);

}  // namespace

BENCHMARK_MAIN();
