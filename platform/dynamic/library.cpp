#include "platform/dynamic/library.h"

#include <dlfcn.h>

#include <map>
#include <memory>
#include <mutex>
#include <string_view>

namespace shelvo::platform {

DynamicLibrary::DynamicLibrary(const char* soname) {
  // Lazy: of the thousands of functions in libcurl's thirty dependencies a request calls few, and
  // binding every one at load took about 0.4 ms of an 11 ms load. The functions used are looked up
  // below, one by one; a library built to be bound at once (libcurl, OpenSSL, libsystemd) still
  // is, and what is read-only after loading does not change.
  handle_ = ::dlopen(soname, RTLD_LAZY | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* message = ::dlerror();
    error_ = message != nullptr ? message : std::string("cannot load ") + soname;
  }
}

const DynamicLibrary& sharedLibrary(const char* soname) {
  static std::mutex mutex;
  static std::map<std::string, std::unique_ptr<DynamicLibrary>, std::less<>> libraries;
  std::lock_guard lock(mutex);
  auto found = libraries.find(std::string_view(soname));
  if (found == libraries.end())
    found = libraries.emplace(soname, std::make_unique<DynamicLibrary>(soname)).first;
  return *found->second;
}

void* DynamicLibrary::symbol(const char* name) const {
  return handle_ != nullptr ? ::dlsym(handle_, name) : nullptr;
}

}  // namespace shelvo::platform
