// The platform's texts for its URL-loading and code-signing codes, which users see verbatim.
#include <gtest/gtest.h>

#include <cerrno>

#include "emulation/codesign/security_status.h"
#include "emulation/http/url_error.h"

namespace shelvo::platform {
namespace {

TEST(ErrorTexts, URLErrorsHaveThePlatformsDescriptions) {
  const std::pair<int, const char*> rows[] = {
      {kURLErrorTimedOut, "The request timed out."},
      {kURLErrorCannotFindHost, "A server with the specified hostname could not be found."},
      {kURLErrorCannotConnectToHost, "Could not connect to the server."},
      {kURLErrorNotConnectedToInternet, "The Internet connection appears to be offline."},
      {kURLErrorHTTPTooManyRedirects, "too many HTTP redirects"},
      {kURLErrorServerCertificateUntrusted,
       "The certificate for this server is invalid. You might be connecting to a server that is "
       "pretending to be \u201Capps.example\u201D which could put your confidential information "
       "at risk."},
      {kURLErrorUnknown, "unknown error"},
      {12345, "unknown error"},
  };
  for (const auto& [code, text] : rows) {
    EXPECT_EQ(urlErrorDescription(code, "apps.example"), text) << code;
  }
}

TEST(ErrorTexts, SecurityStatusesHaveThePlatformsMessages) {
  const std::pair<int, const char*> rows[] = {
      {errSecSuccess, "No error."},
      {errSecCSUnsigned, "code object is not signed at all"},
      {errSecCSSignatureFailed, "invalid signature (code or signature have been modified)"},
      {errSecCSReqFailed, "code failed to satisfy specified code requirement(s)"},
      {errSecCSReqInvalid, "invalid or corrupted code requirement(s)"},
      {-1, ""},
  };
  for (const auto& [status, text] : rows) {
    EXPECT_EQ(securityErrorMessage(status), text) << status;
    Error error = securityError(status);
    EXPECT_EQ(error.message, text);
    EXPECT_EQ(error.systemError, status);
    EXPECT_TRUE(error.is(ErrorKind::signing)) << "its number is no errno";
  }
}

TEST(ErrorTexts, AnErrnoGivesTheErrorItsKind) {
  const std::pair<int, ErrorKind> rows[] = {
      {ENOENT, ErrorKind::notFound},
      {ENOTDIR, ErrorKind::notFound},
      {EACCES, ErrorKind::denied},
      {EPERM, ErrorKind::denied},
      {EINVAL, ErrorKind::invalid},
      {ENAMETOOLONG, ErrorKind::invalid},
      {ECONNREFUSED, ErrorKind::unavailable},
      {EAGAIN, ErrorKind::unavailable},
      {ETIMEDOUT, ErrorKind::timedOut},
      {EIO, ErrorKind::other},
      {0, ErrorKind::other},
  };
  for (const auto& [number, kind] : rows) {
    EXPECT_EQ((Error{"failed", number}.kind), kind) << number;
  }
}

}  // namespace
}  // namespace shelvo::platform
