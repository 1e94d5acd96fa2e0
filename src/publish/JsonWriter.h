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
// Appends to a string owned by the caller, through a small buffer: the
// string is complete after `flush()` or the writer's end. Not thread-safe;
// one per output.

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quillory::publish {

// A value that JSON cannot carry (a number whose value is infinite).
class JsonWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class JsonWriter {
 public:
  explicit JsonWriter(std::string& out) : out_(out) {}
  ~JsonWriter() { flush(); }
  JsonWriter(const JsonWriter&) = delete;
  JsonWriter& operator=(const JsonWriter&) = delete;

  // The output's size, counting what is still buffered.
  std::size_t size() const { return out_.size() + pending_; }
  // Moves buffered bytes to the output string; call before touching it.
  void flush() {
    out_.append(buffer_, pending_);
    pending_ = 0;
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
  // Small writes gather in a buffer that is appended to the output string
  // when full: one append per few kilobytes instead of one per value.
  static constexpr std::size_t kBufferSize = 4096;

  void put(char c) {
    if (pending_ == kBufferSize) flush();
    buffer_[pending_++] = c;
  }
  void append(std::string_view bytes) {
    if (bytes.size() > kBufferSize - pending_) {
      flush();
      if (bytes.size() > kBufferSize) {
        out_.append(bytes);
        return;
      }
    }
    // Keys and numbers are short: a plain loop beats a call to memcpy.
    char* to = buffer_ + pending_;
    if (bytes.size() <= 16) {
      for (char c : bytes) *to++ = c;
    } else {
      bytes.copy(to, bytes.size());
    }
    pending_ += bytes.size();
  }
  void appendEscaped(std::string_view text);

  void close(char closer) {
    char& last = pending_ > 0 ? buffer_[pending_ - 1] : out_.back();
    if (last == ',') {
      last = closer;
    } else {
      put(closer);
    }
    put(',');
  }

  std::string& out_;
  bool open_ = false;  // inside a key or string
  std::size_t pending_ = 0;
  char buffer_[kBufferSize];
};

// Appends `text` as a JSON string: quotes and escapes as above.
void appendJsonString(std::string& out, std::string_view text);

}  // namespace quillory::publish
