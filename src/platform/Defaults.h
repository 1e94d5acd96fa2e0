#pragma once
// Typed per-user settings: the only persistent store of the engine.
//
// Contract: a key maps to a bool, a string, a date, or a value of another
// type (integer, real, data, array, dictionary) that the program does not
// interpret; a key may also be absent. `value` reports which. Every read,
// write and removal is atomic by itself; nothing makes a sequence of calls
// atomic. Writes are saved at once (implementations that persist to a file
// replace the file atomically, so a crash never leaves a half-written store).
// Values of other types are kept as they are when the store is saved again.
//
// Threading: every member may be called from any thread at any time.

#include <chrono>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace quillory::platform {

using Date = std::chrono::system_clock::time_point;

// A stored value of a type the program does not use. Implementations may keep
// the original value elsewhere; this marker only says "something else is here".
struct OtherValue {
  bool operator==(const OtherValue&) const = default;
};

class DefaultsValue {
 public:
  DefaultsValue() = default;  // absent
  explicit DefaultsValue(bool v) : value_(v) {}
  explicit DefaultsValue(std::string v) : value_(std::move(v)) {}
  explicit DefaultsValue(Date v) : value_(v) {}
  explicit DefaultsValue(OtherValue v) : value_(v) {}

  bool isAbsent() const { return std::holds_alternative<std::monostate>(value_); }
  std::optional<bool> asBool() const { return get<bool>(); }
  std::optional<std::string> asString() const { return get<std::string>(); }
  std::optional<Date> asDate() const { return get<Date>(); }

  bool operator==(const DefaultsValue&) const = default;

 private:
  template <typename T>
  std::optional<T> get() const {
    if (const T* v = std::get_if<T>(&value_)) return *v;
    return std::nullopt;
  }
  std::variant<std::monostate, bool, std::string, Date, OtherValue> value_;
};

class Defaults {
 public:
  virtual ~Defaults() = default;

  virtual DefaultsValue value(const std::string& key) const = 0;
  virtual void setBool(const std::string& key, bool value) = 0;
  virtual void setString(const std::string& key, const std::string& value) = 0;
  virtual void setDate(const std::string& key, Date value) = 0;
  virtual void remove(const std::string& key) = 0;
  // Every key present, in no particular order.
  virtual std::vector<std::string> keys() const = 0;
};

}  // namespace quillory::platform
