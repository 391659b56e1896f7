#pragma once

#include <string_view>

namespace shelvo {

// The key the app service seals its answers with: the agent opens them with it and the demo
// service seals with it, so it lives where both may see it.
class DecryptionKeys {
 public:
  static constexpr std::string_view keyText = "Vd8Kp2Lq.Wz5Rt.Jm4Xb7@Nc3Hs6Gy9F";
};

}  // namespace shelvo
