#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/result.h"

namespace shelvo::platform {

inline constexpr std::string_view kExecuteScriptMethod = "executeScriptWithCommand:completion:";

// The helper decides on a connection within this long after accepting it.
inline constexpr std::chrono::seconds kAdmissionBound{2};
// How long a client waits for the greeting: the admission bound, and a margin for a helper that
// systemd is still starting on a busy machine.
inline constexpr std::chrono::seconds kGreetingWait = kAdmissionBound + std::chrono::seconds(8);

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

// {"hello": 1}: the helper's first frame on a connection it admitted. A client sends nothing
// before it: the helper refuses a connection that holds bytes when admission ends, as they may
// have been sent by another program that ran under the same pid before it executed the client.
std::string encodeGreeting();
Status decodeGreeting(std::string_view payload);

std::string encodeRequest(const ScriptRequest& request);
Result<ScriptRequest> decodeRequest(std::string_view payload);
std::string encodeReply(const ScriptReply& reply);
Result<ScriptReply> decodeReply(std::string_view payload);

}  // namespace shelvo::platform
