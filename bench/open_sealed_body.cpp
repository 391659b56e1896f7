// Opening a 16 MiB sealed answer (Base64, AES-256-GCM, UTF-8 check) against the floor of
// OpenSSL's raw AES-256-GCM decryption of the same box.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <memory>

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

void BM_OpenSealedBody(benchmark::State& state) {
  std::string body = shelvo::platform::encodeBase64(box());
  shelvo::DecryptionManager manager({std::make_shared<shelvo::platform::NullSink>(), false});
  for (auto _ : state) {
    auto text = manager.decrypt(body);
    if (!text || text->size() != kPlaintextSize) state.SkipWithError("did not open");
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPlaintextSize));
}

void BM_OpenSSLRawAesGcm(benchmark::State& state) {
  const std::string& combined = box();
  const auto* bytes = reinterpret_cast<const unsigned char*>(combined.data());
  std::string out(kPlaintextSize, '\0');
  for (auto _ : state) {
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(),
                                                                            EVP_CIPHER_CTX_free);
    int written = 0;
    int last = 0;
    EVP_DecryptInit_ex(
        context.get(), EVP_aes_256_gcm(), nullptr,
        reinterpret_cast<const unsigned char*>(shelvo::DecryptionKeys::keyText.data()), bytes);
    EVP_DecryptUpdate(context.get(), reinterpret_cast<unsigned char*>(out.data()), &written,
                      bytes + 12, static_cast<int>(kPlaintextSize));
    EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, 16,
                        const_cast<unsigned char*>(bytes + 12 + kPlaintextSize));
    if (EVP_DecryptFinal_ex(context.get(), reinterpret_cast<unsigned char*>(out.data()) + written,
                            &last) != 1) {
      state.SkipWithError("tag did not verify");
    }
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPlaintextSize));
}

BENCHMARK(BM_OpenSealedBody)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_OpenSSLRawAesGcm)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
