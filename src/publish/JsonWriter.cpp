#include "publish/JsonWriter.h"

#include <array>
#include <charconv>
#include <cmath>
#include <vector>

namespace quillory::publish {
namespace {

namespace json = boost::json;

// For each byte: 0 when it is written as it is, otherwise the character
// after the backslash ('u' for the \u00XX form).
constexpr std::array<char, 256> makeEscapes() {
  std::array<char, 256> table{};
  for (int c = 0; c < 0x20; ++c) table[c] = 'u';
  table['\b'] = 'b';
  table['\f'] = 'f';
  table['\n'] = 'n';
  table['\r'] = 'r';
  table['\t'] = 't';
  table['"'] = '"';
  table['\\'] = '\\';
  table['/'] = '/';
  return table;
}
constexpr std::array<char, 256> kEscapes = makeEscapes();

template <typename Number>
void appendInteger(std::string& out, Number number) {
  char buffer[24];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
  out.append(buffer, result.ptr);
}

// One open container on the writer's stack, and how far it has been written.
struct Frame {
  const json::value* container;
  std::size_t next;
};

// Writes a scalar, or opens a container and returns true when it must be
// pushed.
bool appendScalarOrOpen(std::string& out, const json::value& value) {
  switch (value.kind()) {
    case json::kind::null:
      out += "null";
      return false;
    case json::kind::bool_:
      out += value.get_bool() ? "true" : "false";
      return false;
    case json::kind::int64:
      appendJsonNumber(out, value.get_int64());
      return false;
    case json::kind::uint64:
      appendJsonNumber(out, value.get_uint64());
      return false;
    case json::kind::double_:
      appendJsonNumber(out, value.get_double());
      return false;
    case json::kind::string:
      appendJsonString(out, std::string_view(value.get_string()));
      return false;
    case json::kind::array:
      out += '[';
      return true;
    case json::kind::object:
      out += '{';
      return true;
  }
  return false;
}

}  // namespace

void appendJsonString(std::string& out, std::string_view text) {
  out += '"';
  const char* runStart = text.data();
  const char* const end = text.data() + text.size();
  for (const char* p = runStart; p != end; ++p) {
    const char escape = kEscapes[static_cast<unsigned char>(*p)];
    if (escape == 0) continue;
    out.append(runStart, p);
    out += '\\';
    out += escape;
    if (escape == 'u') {
      static constexpr char kHex[] = "0123456789abcdef";
      const auto byte = static_cast<unsigned char>(*p);
      out += "00";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xf];
    }
    runStart = p + 1;
  }
  out.append(runStart, end);
  out += '"';
}

void appendJsonNumber(std::string& out, std::int64_t number) { appendInteger(out, number); }
void appendJsonNumber(std::string& out, std::uint64_t number) { appendInteger(out, number); }

void appendJsonNumber(std::string& out, double number) {
  if (!std::isfinite(number)) throw JsonWriteError("Invalid number value (non-finite) in JSON write");
  char buffer[32];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
  out.append(buffer, result.ptr);
}

void appendJson(std::string& out, const json::value& value) {
  if (!appendScalarOrOpen(out, value)) return;
  std::vector<Frame> stack;
  stack.push_back({&value, 0});
  while (!stack.empty()) {
    Frame& frame = stack.back();
    const json::value* child = nullptr;
    if (const json::array* array = frame.container->if_array()) {
      if (frame.next == array->size()) {
        out += ']';
        stack.pop_back();
        continue;
      }
      if (frame.next > 0) out += ',';
      child = &(*array)[frame.next++];
    } else {
      const json::object& object = frame.container->get_object();
      if (frame.next == object.size()) {
        out += '}';
        stack.pop_back();
        continue;
      }
      if (frame.next > 0) out += ',';
      const json::key_value_pair& member = object.begin()[frame.next++];
      appendJsonString(out, std::string_view(member.key()));
      out += ':';
      child = &member.value();
    }
    if (appendScalarOrOpen(out, *child)) stack.push_back({child, 0});
  }
}

std::string toCompactJson(const json::value& value) {
  std::string out;
  appendJson(out, value);
  return out;
}

}  // namespace quillory::publish
