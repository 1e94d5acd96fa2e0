#pragma once
// The published document's bytes as the transform writes them: a list of
// blocks of one fixed size, each full but the last. A block is never moved
// or copied once allocated, so the document grows without ever being copied
// and without a second buffer beside it at any moment; it is written to a
// file piece by piece (`pieces()`, one per block).
//
// Memory: the document's size rounded up to one block; pages of the last
// block not yet written are not touched. Blocks of 2 MiB multiples are
// aligned to 2 MiB and, from the second one on, offered huge pages, so that
// filling a large document takes one page fault per 2 MiB instead of one per
// 4 KiB (a hint: nothing changes where the system has none).
//
// Not thread-safe; move-only.

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillory::publish {

class DocumentBytes {
 public:
  static constexpr std::size_t kBlockSize = std::size_t{4} << 20;

  // `blockSize` other than the default is for tests that cross block
  // boundaries with small documents.
  explicit DocumentBytes(std::size_t blockSize = kBlockSize);
  DocumentBytes(DocumentBytes&&) noexcept = default;
  DocumentBytes& operator=(DocumentBytes&&) noexcept = default;

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  void append(std::string_view bytes);
  // The free end of the last block (a new block when it is full), for a
  // writer that fills it directly; `grow(count)` then takes in the first
  // `count` bytes written there. Anything else invalidates the span.
  std::span<char> room();
  void grow(std::size_t count) { size_ += count; }
  // The last byte; the document is not empty.
  char& back() { return at(size_ - 1); }

  // Removes the bytes [begin, end); the bytes after them move up, block by
  // block, and blocks no longer needed are freed.
  void erase(std::size_t begin, std::size_t end);

  // The bytes in order, one view per block; joined, they are the document.
  std::vector<std::string_view> pieces() const;
  // The whole document in one string (a copy: for tests and checks only).
  std::string str() const;

 private:
  struct BlockDeleter {
    std::size_t alignment;
    void operator()(char* block) const;
  };
  using Block = std::unique_ptr<char[], BlockDeleter>;

  char& at(std::size_t offset) { return blocks_[offset / blockSize_][offset % blockSize_]; }
  void addBlock();

  std::size_t blockSize_;
  std::size_t size_ = 0;
  std::vector<Block> blocks_;  // exactly as many as `size_` needs, rounded up
};

}  // namespace quillory::publish
