#include "platform/dynamic/library.h"

#include <dlfcn.h>

namespace shelvo::platform {

DynamicLibrary::DynamicLibrary(const char* soname) {
  handle_ = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* message = ::dlerror();
    error_ = message != nullptr ? message : std::string("cannot load ") + soname;
  }
}

void* DynamicLibrary::symbol(const char* name) const {
  return handle_ != nullptr ? ::dlsym(handle_, name) : nullptr;
}

}  // namespace shelvo::platform
