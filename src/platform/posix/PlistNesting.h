#pragma once
// A bound on the nesting of a property list, checked on its bytes before
// libplist sees them. libplist's readers recurse once per level of arrays and
// dictionaries, so a file with tens of thousands of levels would exhaust the
// stack; such a file is taken as unreadable instead.
//
// Both forms libplist reads are checked: binary ("bplist00": the object
// graph from the trailer's root, each object's depth computed once, a cycle
// or a reference out of range being malformed, and a graph whose shared
// objects would expand to more than 32,768 values, or more than its count of
// objects, too big: libplist copies a shared object at every reference) and XML (every element that
// is not empty, counted while skipping comments, processing instructions,
// declarations, CDATA and quoted attribute values).
//
// Threading: any thread; pure.

#include <cstddef>
#include <string_view>

namespace quillory::platform::posix {

// The deepest nesting a settings file may have; far beyond what the helper
// writes (a dictionary of plain values: 3 elements deep in XML).
inline constexpr std::size_t kMaxPlistNesting = 256;

// True when the list's nesting is at most `limit` levels (and, for the
// binary form, its object graph is well formed and of bounded size).
bool plistNestingWithin(std::string_view bytes, std::size_t limit = kMaxPlistNesting);

}  // namespace quillory::platform::posix
