#pragma once

#include <functional>

#include "platform/result.h"

namespace shelvo::platform {

// Runs work in a child process that has dropped to the user's uid, gid and supplementary
// groups and cannot regain root, and returns the status the work returned (0 to 255). The
// child only does what work does and then ends; it never returns here.
Result<int> runAsUser(unsigned uid, const std::function<int()>& work);

}  // namespace shelvo::platform
