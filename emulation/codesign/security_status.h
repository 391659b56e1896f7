#pragma once

#include "base/result.h"

#include <string>

namespace shelvo::platform {

// Status codes of code-signing operations, numbered as the platform numbers them.
enum SecurityStatus : int {
  errSecSuccess = 0,
  errSecCSUnimplemented = -67072,
  errSecCSInvalidObjectRef = -67071,
  errSecCSStaticCodeNotFound = -67068,
  errSecCSGuestInvalid = -67063,
  errSecCSUnsigned = -67062,
  errSecCSSignatureFailed = -67061,
  errSecCSBadResource = -67054,
  errSecCSReqInvalid = -67052,
  errSecCSReqUnsupported = -67051,
  errSecCSReqFailed = -67050,
  errSecCSBadObjectFormat = -67049,
  errSecCSUnsignedNestedCode = -67022,
};

// The platform's message for a status (SecCopyErrorMessageString); empty when it has none.
std::string securityErrorMessage(int status);
// A failure with a security status: its text as the message, the status as the code.
Error securityError(int status);

}  // namespace shelvo::platform
