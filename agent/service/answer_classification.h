#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/http/url_session.h"
#include "platform/log/log_entry.h"

namespace shelvo {

// What the agent does with the app service's answer: run the script it holds, or log and print
// a message and end with a status.
struct AnswerOutcome {
  std::optional<std::string> script;  // the opened script, when the answer is good
  platform::LogLevel level = platform::LogLevel::Error;
  std::string message;  // logged, then printed; nothing when empty
  int status = 0;
  std::optional<std::string> hint;     // for the operator, on standard error
  std::optional<std::string> meaning;  // of a refusing HTTP status, as the hint says it
  std::optional<long> httpStatus;      // for the run record
};

// Opens a sealed answer body to the script text, without NUL characters; nothing when it cannot
// be opened. The body is handed over, so a large answer can be opened where it lies.
using AnswerOpener = std::function<std::optional<std::string>(std::string body)>;

// The install request's answer (url is where the request went).
AnswerOutcome classifyInstallAnswer(platform::DataTaskResult result, std::string_view url,
                                    const AnswerOpener& open);
// The update request's answer; a restricted network is a skip, not a failure.
AnswerOutcome classifyUpdateAnswer(platform::DataTaskResult result, std::string_view url,
                                   const AnswerOpener& open);

}  // namespace shelvo
