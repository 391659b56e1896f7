#include "platform/plist/plist_guard.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace shelvo::platform {
namespace {

constexpr std::string_view kBinaryMagic = "bplist00";
constexpr std::size_t kTrailerSize = 32;

std::uint64_t bigEndian(std::string_view bytes, std::size_t offset, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < width; ++i)
    value = (value << 8) | static_cast<unsigned char>(bytes[offset + i]);
  return value;
}

// The container objects of a binary list and the objects they refer to, read from the offset
// table without building anything.
class BinaryPlistShape {
 public:
  explicit BinaryPlistShape(std::string_view bytes) : bytes_(bytes) {}

  Status check(const PlistLimits& limits) {
    if (bytes_.size() < kBinaryMagic.size() + kTrailerSize) return malformed();
    std::size_t trailer = bytes_.size() - kTrailerSize;
    offsetSize_ = static_cast<unsigned char>(bytes_[trailer + 6]);
    referenceSize_ = static_cast<unsigned char>(bytes_[trailer + 7]);
    std::uint64_t objectCount = bigEndian(bytes_, trailer + 8, 8);
    std::uint64_t top = bigEndian(bytes_, trailer + 16, 8);
    std::uint64_t tableOffset = bigEndian(bytes_, trailer + 24, 8);
    if (offsetSize_ < 1 || offsetSize_ > 8 || referenceSize_ < 1 || referenceSize_ > 8)
      return malformed();
    if (objectCount == 0 || objectCount > limits.maxObjects || top >= objectCount)
      return tooLarge();
    if (tableOffset > trailer || (trailer - tableOffset) / offsetSize_ < objectCount)
      return malformed();
    tableOffset_ = static_cast<std::size_t>(tableOffset);
    objectCount_ = static_cast<std::size_t>(objectCount);
    return walk(static_cast<std::size_t>(top), limits);
  }

 private:
  static Error malformed() { return Error{"the property list is malformed"}; }
  static Error tooLarge() { return Error{"the property list holds too many objects"}; }
  static Error tooDeep() { return Error{"the property list is nested too deeply"}; }

  std::size_t objectOffset(std::size_t index) const {
    return static_cast<std::size_t>(
        bigEndian(bytes_, tableOffset_ + index * offsetSize_, offsetSize_));
  }

  // The object references of a container at offset, or an empty list for a scalar.
  Result<std::vector<std::size_t>> references(std::size_t offset) const {
    std::size_t end = bytes_.size() - kTrailerSize;
    if (offset < kBinaryMagic.size() || offset >= end) return malformed();
    auto marker = static_cast<unsigned char>(bytes_[offset]);
    unsigned kind = marker >> 4;
    std::size_t perEntry = kind == 0xA || kind == 0xC ? 1 : kind == 0xD ? 2 : 0;
    if (perEntry == 0) return std::vector<std::size_t>{};
    std::size_t position = offset + 1;
    std::uint64_t count = marker & 0x0F;
    if (count == 0x0F) {
      if (position >= end) return malformed();
      auto lengthMarker = static_cast<unsigned char>(bytes_[position++]);
      if ((lengthMarker >> 4) != 0x1 || (lengthMarker & 0x0F) > 3) return malformed();
      std::size_t width = std::size_t{1} << (lengthMarker & 0x0F);
      if (end - position < width) return malformed();
      count = bigEndian(bytes_, position, width);
      position += width;
    }
    if (count > objectCount_ * 2 || (end - position) / referenceSize_ / perEntry < count)
      return malformed();
    std::vector<std::size_t> children;
    children.reserve(static_cast<std::size_t>(count * perEntry));
    for (std::uint64_t i = 0; i < count * perEntry; ++i, position += referenceSize_) {
      std::uint64_t child = bigEndian(bytes_, position, referenceSize_);
      if (child >= objectCount_) return malformed();
      children.push_back(static_cast<std::size_t>(child));
    }
    for (std::size_t i = 0; kind == 0xD && i < count; ++i) {
      if (!isKeyString(objectOffset(children[i]))) return malformed();
    }
    return children;
  }

  // A dictionary key is a string without NUL: libplist 2.2 takes any object as a key, and
  // aborts on an assertion when it walks a dictionary whose key is not a C string.
  bool isKeyString(std::size_t offset) const {
    std::size_t end = bytes_.size() - kTrailerSize;
    if (offset < kBinaryMagic.size() || offset >= end) return false;
    auto marker = static_cast<unsigned char>(bytes_[offset]);
    unsigned kind = marker >> 4;
    if (kind != 0x5 && kind != 0x6) return false;
    std::size_t position = offset + 1;
    std::uint64_t length = marker & 0x0F;
    if (length == 0x0F) {
      if (position >= end) return false;
      auto lengthMarker = static_cast<unsigned char>(bytes_[position++]);
      if ((lengthMarker >> 4) != 0x1 || (lengthMarker & 0x0F) > 3) return false;
      std::size_t width = std::size_t{1} << (lengthMarker & 0x0F);
      if (end - position < width) return false;
      length = bigEndian(bytes_, position, width);
      position += width;
    }
    std::size_t unit = kind == 0x5 ? 1 : 2;
    if ((end - position) / unit < length) return false;
    for (std::uint64_t i = 0; i < length; ++i) {
      if (bigEndian(bytes_, position + i * unit, unit) == 0) return false;
    }
    return true;
  }

  // Depth-first over the reference graph with an explicit stack: a reference back to an
  // object on the path is a cycle; each object's depth and expanded size are computed once.
  Status walk(std::size_t top, const PlistLimits& limits) {
    enum class State : unsigned char { New, OnPath, Done };
    struct Frame {
      std::size_t object;
      std::vector<std::size_t> children;
      std::size_t next = 0;
    };
    std::vector<State> state(objectCount_, State::New);
    std::vector<std::size_t> height(objectCount_, 1);
    std::vector<std::uint64_t> expanded(objectCount_, 1);
    std::vector<Frame> path;
    auto enter = [&](std::size_t object) -> Status {
      if (path.size() >= limits.maxDepth) return tooDeep();
      auto children = references(objectOffset(object));
      if (!children) return children.error();
      state[object] = State::OnPath;
      path.push_back(Frame{object, std::move(*children)});
      return success();
    };
    if (auto entered = enter(top); !entered) return entered;
    while (!path.empty()) {
      Frame& frame = path.back();
      if (frame.next == frame.children.size()) {
        state[frame.object] = State::Done;
        std::size_t finished = frame.object;
        path.pop_back();
        if (!path.empty()) {
          std::size_t parent = path.back().object;
          height[parent] = std::max(height[parent], height[finished] + 1);
          expanded[parent] =
              std::min<std::uint64_t>(expanded[parent] + expanded[finished], limits.maxObjects + 1);
          if (expanded[parent] > limits.maxObjects) return tooLarge();
        }
        continue;
      }
      std::size_t child = frame.children[frame.next++];
      if (state[child] == State::OnPath) return malformed();
      if (state[child] == State::Done) {
        std::size_t parent = frame.object;
        height[parent] = std::max(height[parent], height[child] + 1);
        if (path.size() + height[child] > limits.maxDepth) return tooDeep();
        expanded[parent] =
            std::min<std::uint64_t>(expanded[parent] + expanded[child], limits.maxObjects + 1);
        if (expanded[parent] > limits.maxObjects) return tooLarge();
        continue;
      }
      if (auto entered = enter(child); !entered) return entered;
    }
    return success();
  }

  std::string_view bytes_;
  std::size_t offsetSize_ = 0;
  std::size_t referenceSize_ = 0;
  std::size_t tableOffset_ = 0;
  std::size_t objectCount_ = 0;
};

// XML: counts the nesting of <array> and <dict> and every element, skipping what the parser
// skips (comments, CDATA, declarations and processing instructions), so no markup hidden there
// can make the count look smaller than what the parser builds.
Status checkXmlShape(std::string_view text, const PlistLimits& limits) {
  std::size_t depth = 0;
  std::size_t elements = 0;
  std::size_t position = 0;
  auto skipPast = [&](std::string_view terminator) {
    auto found = text.find(terminator, position);
    position = found == std::string_view::npos ? text.size() : found + terminator.size();
  };
  while ((position = text.find('<', position)) != std::string_view::npos) {
    std::string_view rest = text.substr(position);
    if (rest.starts_with("<!--")) {
      position += 4;
      skipPast("-->");
      continue;
    }
    if (rest.starts_with("<![CDATA[")) {
      skipPast("]]>");
      continue;
    }
    if (rest.starts_with("<?")) {
      skipPast("?>");
      continue;
    }
    if (rest.starts_with("<!")) {
      skipPast(">");
      continue;
    }
    bool closing = rest.starts_with("</");
    std::size_t nameStart = closing ? 2 : 1;
    std::size_t nameEnd = rest.find_first_of(" \t\r\n/>", nameStart);
    std::string_view name =
        rest.substr(nameStart, nameEnd == std::string_view::npos ? std::string_view::npos
                                                                 : nameEnd - nameStart);
    auto tagEnd = text.find('>', position);
    bool selfClosing =
        tagEnd != std::string_view::npos && tagEnd > position && text[tagEnd - 1] == '/';
    position = tagEnd == std::string_view::npos ? text.size() : tagEnd + 1;
    bool container = name == "dict" || name == "array";
    if (closing) {
      if (container && depth > 0) --depth;
      continue;
    }
    if (++elements > limits.maxObjects) return Error{"the property list holds too many objects"};
    if (container && !selfClosing && ++depth > limits.maxDepth)
      return Error{"the property list is nested too deeply"};
  }
  return success();
}

}  // namespace

Status checkPlistShape(std::string_view bytes, const PlistLimits& limits) {
  if (bytes.starts_with(kBinaryMagic)) return BinaryPlistShape(bytes).check(limits);
  return checkXmlShape(bytes, limits);
}

}  // namespace shelvo::platform
