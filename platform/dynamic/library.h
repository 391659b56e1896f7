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

// The library opened once for the process, shared by every table loaded from it.
const DynamicLibrary& sharedLibrary(const char* soname);

// A table of functions resolved from one library when first asked for; null when the library
// or any function is missing. resolveAll fills the table and says whether everything was found.
template <typename Table, typename ResolveAll>
const Table* loadTable(const char* soname, ResolveAll resolveAll) {
  static Table table;  // one per table type, filled once by its caller's static initialiser
  const DynamicLibrary& library = sharedLibrary(soname);
  if (!library.loaded() || !resolveAll(library, table)) return nullptr;
  return &table;
}

}  // namespace shelvo::platform
