#include "publish/DocumentBytes.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace quillory::publish {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t alignmentFor(std::size_t blockSize) {
  return blockSize % kHugePage == 0 ? kHugePage : alignof(std::max_align_t);
}

}  // namespace

DocumentBytes::DocumentBytes(std::size_t blockSize) : blockSize_(std::max<std::size_t>(blockSize, 1)) {}

void DocumentBytes::BlockDeleter::operator()(char* block) const {
  ::operator delete[](block, std::align_val_t{alignment});
}

void DocumentBytes::addBlock() {
  const std::size_t alignment = alignmentFor(blockSize_);
  // Not zeroed: a page is touched only when the writer reaches it.
  Block block(static_cast<char*>(::operator new[](blockSize_, std::align_val_t{alignment})),
              BlockDeleter{alignment});
#if defined(MADV_HUGEPAGE)
  // The first block stays in small pages: most libraries are smaller than it.
  if (alignment == kHugePage && !blocks_.empty()) ::madvise(block.get(), blockSize_, MADV_HUGEPAGE);
#endif
  blocks_.push_back(std::move(block));
}

std::span<char> DocumentBytes::room() {
  if (size_ == blocks_.size() * blockSize_) addBlock();
  const std::size_t used = size_ - (blocks_.size() - 1) * blockSize_;
  return {blocks_.back().get() + used, blockSize_ - used};
}

void DocumentBytes::append(std::string_view bytes) {
  while (!bytes.empty()) {
    const std::span<char> free = room();
    const std::size_t count = std::min(free.size(), bytes.size());
    std::memcpy(free.data(), bytes.data(), count);
    grow(count);
    bytes.remove_prefix(count);
  }
}

void DocumentBytes::erase(std::size_t begin, std::size_t end) {
  std::size_t to = begin;
  for (std::size_t from = end; from < size_;) {
    // The longest run that stays within one block at both ends.
    const std::size_t count =
        std::min({blockSize_ - from % blockSize_, blockSize_ - to % blockSize_, size_ - from});
    std::memmove(&at(to), &at(from), count);
    from += count;
    to += count;
  }
  size_ = to;
  blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>((size_ + blockSize_ - 1) / blockSize_),
                blocks_.end());
}

std::vector<std::string_view> DocumentBytes::pieces() const {
  std::vector<std::string_view> result;
  result.reserve(blocks_.size());
  for (std::size_t i = 0; i < blocks_.size(); ++i) {
    result.emplace_back(blocks_[i].get(), std::min(blockSize_, size_ - i * blockSize_));
  }
  return result;
}

std::string DocumentBytes::str() const {
  std::string result;
  result.reserve(size_);
  for (const std::string_view piece : pieces()) result += piece;
  return result;
}

}  // namespace quillory::publish
