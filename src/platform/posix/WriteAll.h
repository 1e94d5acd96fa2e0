#pragma once
// Writing a whole buffer to a descriptor: short writes are continued,
// interrupted writes resumed, and a non-blocking descriptor that is full is
// waited for until it drains. The one loop shared by the file writer and the
// logs.

#include <string_view>
#include <system_error>

namespace quillory::platform::posix {

// Empty when every byte was written; otherwise the error that stopped it
// (what was written before stays written).
std::error_code writeAll(int fd, std::string_view bytes);

}  // namespace quillory::platform::posix
