#pragma once

#include <functional>

#include "base/result.h"

namespace shelvo::platform {

struct BusConnection;

// Opens the system bus. What reaches a system service over it holds one, so that the agent can
// hand in its services' bus and a program that does not talk D-Bus itself compiles no bus header.
using SystemBusOpener = std::function<Result<BusConnection>()>;

}  // namespace shelvo::platform
