#include "emulation/codesign/security_status.h"

namespace shelvo::platform {

std::string securityErrorMessage(int status) {
  switch (status) {
    case errSecSuccess:
      return "No error.";
    case errSecCSUnimplemented:
      return "unimplemented code signing feature";
    case errSecCSInvalidObjectRef:
      return "invalid API object reference";
    case errSecCSStaticCodeNotFound:
      return "cannot find code object on disk";
    case errSecCSGuestInvalid:
      return "code identity has been invalidated";
    case errSecCSUnsigned:
      return "code object is not signed at all";
    case errSecCSSignatureFailed:
      return "invalid signature (code or signature have been modified)";
    case errSecCSBadResource:
      return "a sealed resource is missing or invalid";
    case errSecCSReqInvalid:
      return "invalid or corrupted code requirement(s)";
    case errSecCSReqUnsupported:
      return "unsupported type or version of code requirement(s)";
    case errSecCSReqFailed:
      return "code failed to satisfy specified code requirement(s)";
    case errSecCSBadObjectFormat:
      return "object file format unrecognized, invalid, or unsuitable";
    case errSecCSUnsignedNestedCode:
      return "nested code is unsigned";
    default:
      return "";
  }
}

Error securityError(int status) {
  return Error{securityErrorMessage(status), status, {}, ErrorKind::signing};
}

}  // namespace shelvo::platform
