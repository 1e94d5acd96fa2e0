#pragma once
// Writing a whole buffer to a descriptor: short writes are continued,
// interrupted writes resumed, and a non-blocking descriptor that is full is
// waited for until it drains. The one loop shared by the file writer and the
// logs.

#include <span>
#include <string_view>
#include <system_error>

namespace quillory::platform::posix {

// Empty when every byte was written; otherwise the error that stopped it
// (what was written before stays written).
std::error_code writeAll(int fd, std::string_view bytes);
// The same for bytes in consecutive pieces, written as one stream: gathered
// writes (writev) of many pieces at a time, no copy of the pieces joined.
std::error_code writeAll(int fd, std::span<const std::string_view> pieces);

}  // namespace quillory::platform::posix
