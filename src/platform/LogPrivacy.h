#pragma once
// Which part of a log line may be shown to anyone reading the system's log
// (macOS keeps the rest of a unified-log entry as "<private>"): the kind of
// event, up to the first name or path. A name or path starts at a quote
// (' or "), a slash or a tilde, or right after the first ": " (file names,
// error texts). A line without any is public whole.

#include <cstddef>
#include <string_view>

namespace quillory::platform {

// The length, in bytes, of the line's public beginning.
std::size_t publicPartLength(std::string_view line);

}  // namespace quillory::platform
