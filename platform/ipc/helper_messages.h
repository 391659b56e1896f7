#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace shelvo::platform {

inline constexpr std::string_view kExecuteScriptMethod = "executeScriptWithCommand:completion:";

// {"id": <integer>, "method": <string>, "command": <string>} as a binary plist.
struct ScriptRequest {
  std::int64_t id = 0;
  std::string method;
  std::string command;
};

// {"id": <same>, "reply": <integer exit status>}.
struct ScriptReply {
  std::int64_t id = 0;
  std::int32_t reply = 0;
};

std::string encodeRequest(const ScriptRequest& request);
Result<ScriptRequest> decodeRequest(std::string_view payload);
std::string encodeReply(const ScriptReply& reply);
Result<ScriptReply> decodeReply(std::string_view payload);

}  // namespace shelvo::platform
