#pragma once
// A compact JSON writer fed value by value, in the order a streaming parser
// reports them, so that a value is copied without ever being built.
//
// Output: no white space; "/" written as "\/"; '"' and '\' escaped; control
// characters as \b \f \n \r \t or \u00XX; every other character as its UTF-8
// bytes. Numbers are written as the literal they are given, so a value
// copied from JSON text keeps its exact value (123456789012345678901234,
// 2725.16, -0.0, 1E5 stay as they are).
//
// Every value is followed by a comma as it is written; closing a container
// takes back the comma after its last value. So the bytes of one member
// ("key":value,) or one element (value,) can be cut out of the output later
// and what remains is still well formed. The writer keeps no stack: nesting
// costs it nothing.
//
// Writes straight into the free end of the caller's `DocumentBytes` (no
// buffer in between, so each byte is copied once): the document's size
// counts what is written after `flush()` or the writer's end. Not
// thread-safe; one per output.

#include <algorithm>
#include <cstddef>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "publish/DocumentBytes.h"

namespace quillory::publish {

// A value that JSON cannot carry (a number whose value is infinite).
class JsonWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class JsonWriter {
 public:
  explicit JsonWriter(DocumentBytes& out) : out_(out) {}
  ~JsonWriter() { flush(); }
  JsonWriter(const JsonWriter&) = delete;
  JsonWriter& operator=(const JsonWriter&) = delete;

  // The output's size, counting what is not yet taken in.
  std::size_t size() const { return out_.size() + static_cast<std::size_t>(next_ - start_); }
  // Has the output take in what was written; call before touching it.
  void flush() {
    out_.grow(static_cast<std::size_t>(next_ - start_));
    start_ = next_ = end_ = nullptr;
  }

  void beginObject() { put('{'); }
  void beginArray() { put('['); }
  void endObject() { close('}'); }
  void endArray() { close(']'); }

  // A key or string given in pieces: `part` for each piece but the last,
  // `end` with the last (possibly empty) piece.
  void keyPart(std::string_view piece) { stringPart(piece); }
  void keyEnd(std::string_view last) {
    stringPart(last);
    put('"');
    put(':');
    open_ = false;
  }
  void key(std::string_view whole) { keyEnd(whole); }
  void stringPart(std::string_view piece) {
    if (!open_) {
      put('"');
      open_ = true;
    }
    appendEscaped(piece);
  }
  void stringEnd(std::string_view last) {
    stringPart(last);
    put('"');
    put(',');
    open_ = false;
  }
  void string(std::string_view whole) { stringEnd(whole); }
  // A piece of a key or string that is already escaped, written as it is.
  void escapedPart(std::string_view escaped) {
    stringPart({});
    append(escaped);
  }

  // A JSON number literal, written as it stands (pieces as for strings).
  void numberPart(std::string_view piece) { append(piece); }
  void numberEnd(std::string_view last) {
    append(last);
    put(',');
  }
  void boolean(bool value) { append(value ? "true," : "false,"); }
  void null() { append("null,"); }

 private:
  // Takes in what was written and makes room at the output's end.
  void refill() {
    flush();
    const std::span<char> room = out_.room();
    start_ = next_ = room.data();
    end_ = next_ + room.size();
  }

  void put(char c) {
    if (next_ == end_) refill();
    *next_++ = c;
  }
  void append(std::string_view bytes) {
    // Keys and numbers are short: a plain loop beats a call to memcpy.
    if (bytes.size() <= 16 && bytes.size() <= static_cast<std::size_t>(end_ - next_)) {
      for (char c : bytes) *next_++ = c;
      return;
    }
    while (!bytes.empty()) {
      if (next_ == end_) refill();
      const std::size_t count = std::min(bytes.size(), static_cast<std::size_t>(end_ - next_));
      bytes.copy(next_, count);
      next_ += count;
      bytes.remove_prefix(count);
    }
  }
  void appendEscaped(std::string_view text);

  void close(char closer) {
    char& last = next_ != start_ ? next_[-1] : out_.back();
    if (last == ',') {
      last = closer;
    } else {
      put(closer);
    }
    put(',');
  }

  DocumentBytes& out_;
  bool open_ = false;  // inside a key or string
  // The output's free end being written: [start_, next_) is written but not
  // yet taken in, [next_, end_) free.
  char* start_ = nullptr;
  char* next_ = nullptr;
  char* end_ = nullptr;
};

// Appends `text` as a JSON string: quotes and escapes as above.
void appendJsonString(std::string& out, std::string_view text);

}  // namespace quillory::publish
