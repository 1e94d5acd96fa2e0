#include "platform/posix/PlistNesting.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace quillory::platform::posix {
namespace {

constexpr std::string_view kBinaryMagic = "bplist00";
constexpr std::size_t kTrailerSize = 32;
// Far more values than any settings file holds (a few per library). A list
// may expand to this many values, or to as many as it has objects.
constexpr std::uint64_t kMaxExpandedNodes = 32'768;

std::optional<std::uint64_t> bigEndian(std::string_view bytes, std::size_t at, std::size_t size) {
  if (size == 0 || size > 8 || at > bytes.size() || bytes.size() - at < size) return std::nullopt;
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < size; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

class BinaryList {
 public:
  explicit BinaryList(std::string_view bytes) : bytes_(bytes) {}

  bool nestingWithin(std::size_t limit) {
    if (bytes_.size() < kBinaryMagic.size() + kTrailerSize) return false;
    const std::size_t trailer = bytes_.size() - kTrailerSize;
    offsetSize_ = static_cast<unsigned char>(bytes_[trailer + 6]);
    refSize_ = static_cast<unsigned char>(bytes_[trailer + 7]);
    const auto count = bigEndian(bytes_, trailer + 8, 8);
    const auto root = bigEndian(bytes_, trailer + 16, 8);
    const auto table = bigEndian(bytes_, trailer + 24, 8);
    if (!count || !root || !table || offsetSize_ == 0 || offsetSize_ > 8 || refSize_ == 0 || refSize_ > 8) {
      return false;
    }
    // Every object takes at least one byte before the offset table.
    if (*count == 0 || *count > trailer || *root >= *count || *table > trailer ||
        (trailer - *table) / offsetSize_ < *count) {
      return false;
    }
    count_ = *count;
    table_ = *table;
    return depthFrom(*root, limit);
  }

 private:
  // The references of a container object, or none for a leaf; false when
  // the object cannot be read.
  bool children(std::uint64_t object, std::vector<std::uint64_t>& refs) {
    refs.clear();
    const auto offset = bigEndian(bytes_, table_ + object * offsetSize_, offsetSize_);
    if (!offset || *offset >= table_) return false;
    std::size_t at = *offset;
    const unsigned char marker = static_cast<unsigned char>(bytes_[at++]);
    const unsigned type = marker >> 4;
    if (type != 0xA && type != 0xC && type != 0xD) return true;  // not a container
    std::uint64_t length = marker & 0x0F;
    if (length == 0x0F) {  // the length follows as an integer object
      if (at >= table_) return false;
      const unsigned char intMarker = static_cast<unsigned char>(bytes_[at++]);
      if ((intMarker >> 4) != 0x1 || (intMarker & 0x0F) > 3) return false;
      const std::size_t size = std::size_t{1} << (intMarker & 0x0F);
      const auto value = bigEndian(bytes_, at, size);
      if (!value) return false;
      length = *value;
      at += size;
    }
    const std::uint64_t total = type == 0xD ? length * 2 : length;
    if (length > table_ || total > (table_ - at) / refSize_) return false;
    refs.reserve(static_cast<std::size_t>(total));
    for (std::uint64_t i = 0; i < total; ++i) {
      const auto ref = bigEndian(bytes_, at + i * refSize_, refSize_);
      if (!ref || *ref >= count_) return false;
      refs.push_back(*ref);
    }
    return true;
  }

  // Depth-first over the object graph with an explicit stack; each object's
  // depth below it is computed once (shared objects are not walked again).
  bool depthFrom(std::uint64_t root, std::size_t limit) {
    enum : unsigned char { unseen, open, done };
    std::vector<unsigned char> state(static_cast<std::size_t>(count_), unseen);
    std::vector<std::size_t> height(static_cast<std::size_t>(count_), 0);
    // libplist copies a shared object at every reference to it: the size of
    // the tree it would build, saturating.
    std::vector<std::uint64_t> expanded(static_cast<std::size_t>(count_), 0);
    struct Frame {
      std::uint64_t object;
      std::vector<std::uint64_t> refs;
      std::size_t next = 0;
    };
    std::vector<Frame> stack;
    stack.push_back({root, {}, 0});
    if (!children(root, stack.back().refs)) return false;
    state[root] = open;
    while (!stack.empty()) {
      Frame& top = stack.back();
      if (top.next == top.refs.size()) {
        std::size_t deepest = 0;
        std::uint64_t nodes = 1;
        for (const std::uint64_t ref : top.refs) {
          deepest = std::max(deepest, height[ref]);
          nodes += expanded[ref];
          if (nodes > std::max(kMaxExpandedNodes, count_)) return false;
        }
        height[top.object] = deepest + 1;
        expanded[top.object] = nodes;
        state[top.object] = done;
        stack.pop_back();
        continue;
      }
      const std::uint64_t ref = top.refs[top.next++];
      if (state[ref] == open) return false;  // a cycle
      if (state[ref] == done) {
        if (height[ref] + stack.size() > limit) return false;
        continue;
      }
      if (stack.size() >= limit) return false;
      Frame frame{ref, {}, 0};
      if (!children(ref, frame.refs)) return false;
      state[ref] = open;
      stack.push_back(std::move(frame));
    }
    return true;
  }

  std::string_view bytes_;
  std::size_t offsetSize_ = 0;
  std::size_t refSize_ = 0;
  std::uint64_t count_ = 0;
  std::uint64_t table_ = 0;
};

// The deepest element nesting of an XML text, stopping early past `limit`.
bool xmlNestingWithin(std::string_view text, std::size_t limit) {
  std::size_t depth = 0;
  std::size_t at = 0;
  auto skipPast = [&](std::string_view end) {
    const std::size_t found = text.find(end, at);
    at = found == std::string_view::npos ? text.size() : found + end.size();
  };
  while ((at = text.find('<', at)) != std::string_view::npos) {
    const std::string_view rest = text.substr(at);
    if (rest.starts_with("<!--")) {
      skipPast("-->");
    } else if (rest.starts_with("<![CDATA[")) {
      skipPast("]]>");
    } else if (rest.starts_with("<?") || rest.starts_with("<!")) {
      skipPast(">");
    } else if (rest.starts_with("</")) {
      if (depth > 0) --depth;
      skipPast(">");
    } else {
      // An opening tag: up to its '>' outside quoted attribute values.
      char quote = 0;
      std::size_t end = at + 1;
      for (; end < text.size(); ++end) {
        const char c = text[end];
        if (quote != 0) {
          if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
          quote = c;
        } else if (c == '>') {
          break;
        }
      }
      if (end >= text.size()) return true;  // unterminated: libplist rejects it
      if (text[end - 1] != '/' && ++depth > limit) return false;
      at = end + 1;
    }
  }
  return true;
}

}  // namespace

bool plistNestingWithin(std::string_view bytes, std::size_t limit) {
  if (bytes.starts_with(kBinaryMagic)) return BinaryList(bytes).nestingWithin(limit);
  return xmlNestingWithin(bytes, limit);
}

}  // namespace quillory::platform::posix
