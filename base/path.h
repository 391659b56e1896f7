#pragma once

#include <filesystem>

namespace shelvo::platform {

// A file system path: a value, never an operation; those go through the Env.
using Path = std::filesystem::path;

}  // namespace shelvo::platform
