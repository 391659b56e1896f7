// shelvo-codesign: signs executables for the helper's client check, checks signatures against a
// requirement with the platform's messages, and checks a client as the helper will.
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "emulation/codesign/security_status.h"
#include "helper/client_policy.h"
#include "platform/codesign/code_signature.h"
#include "platform/codesign/guest_code.h"
#include "platform/env/posix_env.h"
#include "platform/system/root_prefix.h"

namespace {

constexpr const char* kUsage =
    "usage: shelvo-codesign sign --identifier ID --key KEY.pem --cert CERT.pem [--chain CHAIN.pem] "
    "EXECUTABLE\n"
    "       shelvo-codesign verify [--requirement TEXT | --helper-requirement] EXECUTABLE\n";

int usageError(const std::string& message) {
  std::cerr << "shelvo-codesign: " << message << "\n" << kUsage;
  return 2;
}

struct Options {
  std::string identifier, key, certificate, chain, requirement, executable;
  bool hasRequirement = false;
  bool helperRequirement = false;
};

bool parse(const std::vector<std::string>& args, Options& options, std::string& error) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& argument = args[i];
    auto value = [&](std::string& target) {
      if (i + 1 >= args.size()) {
        error = argument + " needs a value";
        return false;
      }
      target = args[++i];
      return true;
    };
    if (argument == "--identifier") {
      if (!value(options.identifier)) return false;
    } else if (argument == "--key") {
      if (!value(options.key)) return false;
    } else if (argument == "--cert") {
      if (!value(options.certificate)) return false;
    } else if (argument == "--chain") {
      if (!value(options.chain)) return false;
    } else if (argument == "--requirement") {
      if (!value(options.requirement)) return false;
      options.hasRequirement = true;
    } else if (argument == "--helper-requirement") {
      options.helperRequirement = true;
    } else if (argument.starts_with("--")) {
      error = "unknown option " + argument;
      return false;
    } else if (options.executable.empty()) {
      options.executable = argument;
    } else {
      error = "only one executable at a time";
      return false;
    }
  }
  if (options.executable.empty()) error = "no executable given";
  return error.empty();
}

int sign(const Options& options) {
  if (options.identifier.empty() || options.key.empty() || options.certificate.empty()) {
    return usageError("sign needs --identifier, --key and --cert");
  }
  auto signedCode = shelvo::platform::signExecutable(
      options.executable, options.identifier, options.key, options.certificate, options.chain);
  if (!signedCode) {
    std::cerr << options.executable << ": " << signedCode.error().message << "\n";
    return 1;
  }
  std::cout << options.executable << ": signed as " << options.identifier << "\n";
  return 0;
}

shelvo::platform::TrustAnchors anchorsOfThisSystem() {
  using namespace shelvo::platform;
  return TrustAnchors::load(TrustAnchors::folder(RootPrefix::fromEnvironment(PosixEnv())));
}

// As ShelvoHelper will check the client, in its order, from what the files tell: the file
// checks of a hardened client, the signature, then both requirements. The first failure is
// printed with its reason or the clause that failed.
int verifyForHelper(const Options& options) {
  using namespace shelvo::platform;
  const std::string& executable = options.executable;
  for (auto check : {shelvo::checkStartsHardened, shelvo::checkProtectedCode}) {
    if (auto hardened = check(executable); !hardened) {
      std::cerr << executable << ": " << hardened.error().message << "\n";
      return 4;
    }
  }
  auto checked = checkStaticCodeValidity(executable, nullptr, anchorsOfThisSystem());
  if (!checked) {
    std::cerr << executable << ": " << securityErrorMessage(checked.error().systemError) << "\n";
    return 1;
  }
  std::cout << executable << ": valid on disk\n";
  std::cout << "Identifier=" << checked->identifier << "\n";
  std::cout << "Anchor=" << (checked->anchorTrusted ? "trusted" : "not trusted") << "\n";
  const std::pair<const char*, std::string> requirements[] = {
      {"client requirement", shelvo::clientRequirement()},
      {"helper's requirement", shelvo::kLongRequirement}};
  for (const auto& [name, text] : requirements) {
    auto requirement = Requirement::compile(text);
    if (!requirement) return 2;
    if (!requirement->evaluate(checked->identity())) {
      std::cerr << executable << ": " << securityErrorMessage(errSecCSReqFailed) << ": the " << name
                << " fails at " << requirement->unmetClause(checked->identity()) << "\n";
      return 3;
    }
    std::cout << executable << ": the " << name << " is satisfied\n";
  }
  std::cout << executable << ": ShelvoHelper would admit it, started as installed\n";
  return 0;
}

int verify(const Options& options) {
  using namespace shelvo::platform;
  std::optional<Requirement> requirement;
  if (options.hasRequirement) {
    auto compiled = Requirement::compile(options.requirement);
    if (!compiled) {
      std::cerr << "shelvo-codesign: " << securityErrorMessage(errSecCSReqInvalid) << ": "
                << compiled.error().message << "\n";
      return 2;
    }
    requirement = std::move(*compiled);
  }
  auto checked = checkStaticCodeValidity(options.executable, nullptr, anchorsOfThisSystem());
  if (!checked) {
    std::cerr << options.executable << ": " << securityErrorMessage(checked.error().systemError)
              << "\n";
    return 1;
  }
  const SigningInformation& information = *checked;
  std::cout << options.executable << ": valid on disk\n";
  std::cout << "Identifier=" << information.identifier << "\n";
  std::cout << "Anchor=" << (information.anchorTrusted ? "trusted" : "not trusted") << "\n";
  if (requirement) {
    if (!requirement->evaluate(information.identity())) {
      std::cerr << options.executable << ": " << securityErrorMessage(errSecCSReqFailed) << "\n";
      return 3;
    }
    std::cout << options.executable << ": explicit requirement satisfied\n";
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return usageError("missing command");
  Options options;
  std::string error;
  if (!parse(args, options, error)) return usageError(error);
  if (args[0] == "sign") return sign(options);
  if (args[0] == "verify") {
    if (!options.identifier.empty() || !options.key.empty() || !options.certificate.empty()) {
      return usageError("verify takes only --requirement or --helper-requirement");
    }
    if (options.helperRequirement && options.hasRequirement)
      return usageError("--requirement and --helper-requirement exclude each other");
    return options.helperRequirement ? verifyForHelper(options) : verify(options);
  }
  return usageError("unknown command " + args[0]);
}
