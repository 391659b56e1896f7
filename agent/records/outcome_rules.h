#pragma once

#include <optional>
#include <string>

#include "agent/service/answer_classification.h"
#include "platform/http/url_session.h"
#include "shared/records/run_record.h"

namespace shelvo {

// The judgement calls behind a run record's outcome class, in one place (the README states
// them for operators).

// A service answer that ended the run. The machine having no network (its host name not found,
// or no connection at all) defers the run: that is an offline laptop, not a service at fault.
// A timeout, a refused or broken connection, a TLS failure or an HTTP status outside 2xx is
// failed-service; a 2xx answer without a body or one that cannot be opened is failed-answer; a
// metered network defers.
RunOutcome outcomeOfAnswer(const AnswerOutcome& answer, const platform::DataTaskResult& result);

// What the record says the agent reported about that answer: the line it printed, with the
// transport error's description where the line lacks it, or what a refusing HTTP status means.
std::optional<std::string> messageOfAnswer(const AnswerOutcome& answer,
                                           const platform::DataTaskResult& result);

// A run stopped by a signal (systemd at TimeoutStartSec, a stop, a shutdown, Ctrl-C).
std::string stoppedMessage(int signal);

}  // namespace shelvo
