#pragma once
// Typed per-user settings: the only persistent store of the engine.
//
// Contract: a key maps to a bool, a string, a date, or a value of another
// type (integer, real, data, array, dictionary) that the program does not
// interpret; a key may also be absent. `value` reports which. A store that
// keeps dates as text (the JSON file) reports such a text as both a string
// and a date: the reader asks for the type its key holds.
//
// Changes: `apply` stores one `DefaultsChange` (keys set and removed) as one
// update, on disk before it returns, touching no other key: whatever another
// writer (another process, an editor) stored meanwhile under other keys
// stays. It returns whether the change was stored, and why not; a change
// that was not stored has changed nothing. `setBool`, `setString`, `setDate`
// and `remove` are one-key changes. Values of other types are kept as they
// are. Reads see other writers' changes (a file store reloads when the file
// changed). A store that cannot be read now (a settings file another program
// is half-way through saving) answers every key with an unreadable value:
// no decision may be taken on it.
//
// Threading: every member may be called from any thread at any time.

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace quillory::platform {

using Date = std::chrono::system_clock::time_point;

// A stored value of a type the program does not use. Implementations may keep
// the original value elsewhere; this marker only says "something else is here".
struct OtherValue {
  bool operator==(const OtherValue&) const = default;
};

// The store cannot be read now, so what the key holds is unknown.
struct UnreadableValue {
  bool operator==(const UnreadableValue&) const = default;
};

// A stored text that also reads as a date (an ISO 8601 timestamp in a store
// that keeps dates as text).
struct DatedText {
  std::string text;
  Date date;
  bool operator==(const DatedText&) const = default;
};

class DefaultsValue {
 public:
  DefaultsValue() = default;  // absent
  explicit DefaultsValue(bool v) : value_(v) {}
  explicit DefaultsValue(std::string v) : value_(std::move(v)) {}
  explicit DefaultsValue(Date v) : value_(v) {}
  explicit DefaultsValue(OtherValue v) : value_(v) {}
  explicit DefaultsValue(DatedText v) : value_(std::move(v)) {}
  explicit DefaultsValue(UnreadableValue v) : value_(v) {}

  bool isAbsent() const { return std::holds_alternative<std::monostate>(value_); }
  bool isUnreadable() const { return std::holds_alternative<UnreadableValue>(value_); }
  std::optional<bool> asBool() const { return get<bool>(); }
  std::optional<std::string> asString() const {
    if (const auto* dated = std::get_if<DatedText>(&value_)) return dated->text;
    return get<std::string>();
  }
  std::optional<Date> asDate() const {
    if (const auto* dated = std::get_if<DatedText>(&value_)) return dated->date;
    return get<Date>();
  }

  bool operator==(const DefaultsValue&) const = default;

 private:
  template <typename T>
  std::optional<T> get() const {
    if (const T* v = std::get_if<T>(&value_)) return *v;
    return std::nullopt;
  }
  std::variant<std::monostate, bool, std::string, Date, OtherValue, DatedText, UnreadableValue> value_;
};

// Keys set and removed, applied in order as one update.
class DefaultsChange {
 public:
  struct Entry {
    std::string key;
    DefaultsValue value;  // absent: remove the key
    // When set: the entry is skipped if, at the moment it is applied, this
    // key holds this value (so a removal never undoes another writer's yes).
    std::optional<std::pair<std::string, DefaultsValue>> unless;
  };

  DefaultsChange& setBool(const std::string& key, bool value) { return add(key, DefaultsValue(value)); }
  DefaultsChange& setString(const std::string& key, std::string value) {
    return add(key, DefaultsValue(std::move(value)));
  }
  DefaultsChange& setDate(const std::string& key, Date value) { return add(key, DefaultsValue(value)); }
  DefaultsChange& remove(const std::string& key) { return add(key, DefaultsValue()); }
  // Removes `key` unless `guardKey` holds `guardValue` when the entry is applied.
  DefaultsChange& removeUnless(const std::string& key, const std::string& guardKey,
                               DefaultsValue guardValue) {
    entries_.push_back(Entry{key, DefaultsValue(), std::make_pair(guardKey, std::move(guardValue))});
    return *this;
  }

  const std::vector<Entry>& entries() const { return entries_; }
  bool empty() const { return entries_.empty(); }

 private:
  DefaultsChange& add(const std::string& key, DefaultsValue value) {
    entries_.push_back(Entry{key, std::move(value), std::nullopt});
    return *this;
  }
  std::vector<Entry> entries_;
};

// Whether a change was stored; when not, why (a short text for the user,
// such as the system's error message).
struct StoreResult {
  std::optional<std::string> failure;
  bool stored() const { return !failure; }
  explicit operator bool() const { return stored(); }
};

class Defaults {
 public:
  virtual ~Defaults() = default;

  virtual DefaultsValue value(const std::string& key) const = 0;
  // Every key present, in no particular order.
  virtual std::vector<std::string> keys() const = 0;
  // Stores the change as one update (see above).
  [[nodiscard]] virtual StoreResult apply(const DefaultsChange& change) = 0;

  StoreResult setBool(const std::string& key, bool value) {
    return apply(DefaultsChange().setBool(key, value));
  }
  StoreResult setString(const std::string& key, const std::string& value) {
    return apply(DefaultsChange().setString(key, value));
  }
  StoreResult setDate(const std::string& key, Date value) {
    return apply(DefaultsChange().setDate(key, value));
  }
  StoreResult remove(const std::string& key) { return apply(DefaultsChange().remove(key)); }
};

}  // namespace quillory::platform
