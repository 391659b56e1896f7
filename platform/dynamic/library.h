#pragma once

#include <string>

namespace shelvo::platform {

// A shared library opened on first use. Heavy libraries (libcurl, libsystemd) are loaded only
// by the commands that need them, which keeps start-up of the quick commands cheap. Libraries
// stay loaded for the life of the process, as threads may still be inside them when it ends.
class DynamicLibrary {
 public:
  explicit DynamicLibrary(const char* soname);
  bool loaded() const { return handle_ != nullptr; }
  const std::string& error() const { return error_; }

  // The symbol's address, or null.
  void* symbol(const char* name) const;

  template <typename Function>
  Function* function(const char* name) const {
    return reinterpret_cast<Function*>(symbol(name));
  }

  // Stores the named function in slot; false when the symbol is missing.
  template <typename Function>
  bool resolve(Function*& slot, const char* name) const {
    slot = function<Function>(name);
    return slot != nullptr;
  }

 private:
  void* handle_ = nullptr;
  std::string error_;
};

}  // namespace shelvo::platform
