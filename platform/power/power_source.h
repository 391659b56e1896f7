#pragma once

#include "platform/env/env.h"
#include "platform/system/root_prefix.h"

namespace shelvo::platform {

// Whether the machine runs on its battery, from /sys/class/power_supply under the root: a
// battery of the system (not a mouse's) discharging while no line power is online. No supply,
// or supplies of kinds not known here, count as mains.
bool runsOnBattery(const Env& env, const RootPrefix& root);

}  // namespace shelvo::platform
