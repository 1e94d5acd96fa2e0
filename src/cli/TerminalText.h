#pragma once
// Text from outside the program (library names, paths, alert texts that
// carry them) made safe to print on a terminal: nothing in it can move the
// cursor, change colours or send a command to the terminal.
//
// Well-formed UTF-8 passes unchanged, except:
//   - C0 controls (U+0000 to U+001F) and DEL (U+007F) become \xHH, for example
//     ESC is \x1b, a line break \x0a;
//   - C1 controls (U+0080 to U+009F) become \u00HH, for example \u009b;
//   - characters that show nothing or change the writing direction become
//     \uHHHH, so that two different names never look the same: U+200B to
//     U+200F, U+202A to U+202E, U+2060 to U+2064, U+2066 to U+2069 and
//     U+FEFF, for example \u202e;
//   - every byte that is not part of a well-formed UTF-8 sequence becomes
//     \xHH (a lone 0x9b byte is \x9b, so it differs from the character
//     U+009B);
//   - a backslash becomes \\, so that every escape reads one way.
// With `keepLineBreaks`, U+000A stays a line break (texts made of several
// lines by design, such as an alert's informative text).
//
// Pure, callable from any thread.

#include <string>
#include <string_view>

namespace quillory::cli {

std::string terminalText(std::string_view text, bool keepLineBreaks = false);

}  // namespace quillory::cli
