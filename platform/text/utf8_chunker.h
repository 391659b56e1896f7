#pragma once

#include <string>
#include <string_view>

namespace shelvo::platform {

// Turns the reads of a byte stream into UTF-8 text chunks, one per read. A character split
// between two reads is carried over to the next chunk instead of costing both. A read that is
// not valid UTF-8 yields nothing; a carried start that the next read does not complete is
// dropped on its own, and that read is judged on its own.
class Utf8Chunker {
 public:
  // The text of one read (possibly empty), valid until the next call.
  std::string_view next(std::string_view read);

 private:
  std::string pending_;  // the start of a character whose other bytes have not arrived
  std::string joined_;
};

}  // namespace shelvo::platform
