#include "publish/DocumentTransform.h"

#include <algorithm>
#include <array>
#include <boost/json/basic_parser_impl.hpp>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "platform/Clock.h"
#include "platform/Iso8601.h"
#include "platform/Unicode.h"
#include "publish/Derivations.h"
#include "publish/ExportError.h"
#include "publish/JsonWriter.h"
#include "publish/LoneSurrogates.h"

// The export is transformed in one streaming pass over Boost.JSON's
// basic_parser, and nothing of it is ever built as a value:
// - every value that is kept (the kept members of each item, and the
//   top-level members other than "items" and the four the helper sets) is
//   copied event by event through the JsonWriter as the parser reports it,
//   numbers by their literal, so the document keeps every value exactly;
// - every other value is passed over;
// - the derivations read only what they need as it goes by: the string
//   "path" of an item's "asset" object and the string "currency" of its
//   "amounts" and "amountsOriginal" objects.
// The document's members come in the export's order, "items" where the
// export has it, the members the helper sets at the end.
//
// Repeated members: an item member that is kept or read by the derivations
// counts with its last value, and a second "items" replaces the first: the
// bytes already written for the replaced member are cut out of the document
// when its repeat begins. (Each cut moves the bytes written after the
// replaced member, block by block; a byte is moved at most once for each kept
// member before it, so the work stays linear.) Other repeated members (top-level ones the
// helper copies, and members inside copied values) are copied as they come,
// every one of them; a reader of the document takes the last, as it would
// from the export. Telling those apart would cost memory for every member of
// every copied object, which a value of millions of members cannot afford.
//
// Memory: the document (in blocks that are never moved, see DocumentBytes)
// and a few bytes per open container in the parser; nothing grows with the
// number of values. Nothing here recurses: the
// parser's nesting is bounded by kMaxExportDepth.

namespace quillory::publish {
namespace {

namespace json = boost::json;

// Top-level members the helper sets itself; the export's own are dropped.
constexpr std::array<std::string_view, 4> kSetMembers = {"libraryName", "currencyCode", "exportedAt",
                                                         "libraryPath"};

// Nesting levels, counted in open containers: the export object is level 1,
// the items array 2, an item 3, a container that is an item member's value 4.
constexpr std::size_t kTopLevel = 1;
constexpr std::size_t kItemsLevel = 2;
constexpr std::size_t kItemLevel = 3;
constexpr std::size_t kItemMemberLevel = 4;

// The item members the derivations read, and the one string member of each
// that they look at.
enum Derived : unsigned char { asset, amounts, amountsOriginal, derivedCount, none = derivedCount };
constexpr std::array<std::string_view, derivedCount> kDerivedMembers = {"asset", "amounts",
                                                                        "amountsOriginal"};
constexpr std::array<std::string_view, derivedCount> kDerivedStrings = {"path", "currency", "currency"};

bool isSetMember(std::string_view key) {
  return std::find(kSetMembers.begin(), kSetMembers.end(), key) != kSetMembers.end();
}

// What happens to an item member, looked up by name: the few names are
// bucketed by length, so a lookup is one or two short compares.
class MemberRoles {
 public:
  struct Role {
    int kept = -1;  // index among the kept names, or -1
    Derived derived = none;
  };

  MemberRoles() {
    for (std::size_t i = 0; i < kDerivedMembers.size(); ++i) {
      entry(kDerivedMembers[i]).derived = static_cast<Derived>(i);
    }
    for (std::string_view name : kKeptItemFields) entry(name).kept = static_cast<int>(keptCount_++);
  }

  std::size_t keptCount() const { return keptCount_; }

  Role roleOf(std::string_view key) const {
    if (key.size() >= buckets_.size()) return {};
    for (const auto& [name, role] : buckets_[key.size()]) {
      if (name == key) return role;
    }
    return {};
  }

 private:
  Role& entry(std::string_view name) {
    if (name.size() >= buckets_.size()) buckets_.resize(name.size() + 1);
    for (auto& [existing, role] : buckets_[name.size()]) {
      if (existing == name) return role;
    }
    return buckets_[name.size()].emplace_back(std::string(name), Role{}).second;
  }

  std::vector<std::vector<std::pair<std::string, Role>>> buckets_;
  std::size_t keptCount_ = 0;
};

// A member written to the document: its bytes [begin, end), and how many
// numbers JSON cannot carry it holds.
struct Span {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::size_t infinite = 0;
};

class ExportHandler {
 public:
  static constexpr std::size_t max_object_size = std::numeric_limits<std::size_t>::max();
  static constexpr std::size_t max_array_size = std::numeric_limits<std::size_t>::max();
  static constexpr std::size_t max_key_size = std::numeric_limits<std::size_t>::max();
  static constexpr std::size_t max_string_size = std::numeric_limits<std::size_t>::max();

  explicit ExportHandler(DocumentBytes& out) : out_(out), writer_(out), keptSpans_(roles_.keptCount()) {}

  // Results, valid after a successful parse.
  bool itemsValid() const { return itemsSeen_ && itemsValid_; }
  std::size_t itemCount() const { return itemCount_; }
  const std::optional<std::string>& libraryPath() const { return libraryPath_; }
  const std::optional<std::string>& originalCurrency() const { return originalCurrency_; }
  const std::optional<std::string>& amountsCurrency() const { return amountsCurrency_; }

  // Completes the copied members in the document.
  void flush() { writer_.flush(); }

  // From now on strings may hold lone surrogates as `LoneSurrogateFilter`
  // rewrote them: copied, they are written back as their escapes; read,
  // they stand for U+FFFD.
  void expectLoneSurrogates() { surrogates_ = true; }

  // Throws `JsonWriteError` when the document holds a number that JSON
  // cannot carry (the parser reads 1e999 as infinity).
  void checkNumbers() const {
    if (infinite_ > 0) throw JsonWriteError("Invalid number value (non-finite) in JSON write");
  }

  bool on_document_begin(json::error_code&) { return true; }
  bool on_document_end(json::error_code&) { return true; }
  bool on_comment_part(json::string_view, json::error_code&) { return true; }
  bool on_comment(json::string_view, json::error_code&) { return true; }

  bool on_object_begin(json::error_code& ec) {
    valueAtItemMember();
    if (derived_ != none && depth_ == kItemLevel) derivedObject_[derived_] = true;
    if (copying_) {
      writer_.beginObject();
    } else if (depth_ == 0) {
      writer_.beginObject();
    } else if (depth_ == kTopLevel) {
      if (topMember_ == TopMember::items) invalidateItems();  // "items" is an object
    } else if (depth_ == kItemsLevel && itemsOpen_) {
      beginItem();
    }
    return descend(ec);
  }

  bool on_object_end(std::size_t, json::error_code&) {
    --depth_;
    if (copying_) {
      writer_.endObject();
      if (depth_ == copyLevel_) endCopy();
    } else if (depth_ == kItemsLevel && itemsOpen_) {
      endItem();
    }
    return true;
  }

  bool on_array_begin(json::error_code& ec) {
    valueAtItemMember();
    if (copying_) {
      writer_.beginArray();
    } else if (depth_ == 0) {
      return fail(ec);  // the export is not an object
    } else if (depth_ == kTopLevel) {
      if (topMember_ == TopMember::items) beginItems();
    } else if (depth_ == kItemsLevel && itemsOpen_) {
      itemsValid_ = false;  // an item that is not an object
    }
    return descend(ec);
  }

  bool on_array_end(std::size_t, json::error_code&) {
    --depth_;
    if (copying_) {
      writer_.endArray();
      if (depth_ == copyLevel_) endCopy();
    } else if (depth_ == kTopLevel && itemsOpen_) {
      endItems();
    }
    return true;
  }

  bool on_key_part(json::string_view part, std::size_t, json::error_code&) {
    if (copying_) copyPart(part);
    if (!copying_ || readingKey()) key_.append(part.data(), part.size());
    return true;
  }

  bool on_key(json::string_view part, std::size_t, json::error_code&) {
    std::string_view key(part.data(), part.size());
    if (copying_) copyEnd(key, true);
    if (!copying_ || readingKey()) {
      if (!key_.empty()) {
        key_.append(part.data(), part.size());
        key = key_;
      }
      if (depth_ == kTopLevel) {
        topKey(key);
      } else if (depth_ == kItemLevel && itemsOpen_) {
        itemKey(key);
      } else if (depth_ == kItemMemberLevel && derived_ != none) {
        readingString_ = derivedObject_[derived_] && key == kDerivedStrings[derived_];
        if (readingString_) derivedString_[derived_].reset();
      }
      key_.clear();
    }
    return true;
  }

  bool on_string_part(json::string_view part, std::size_t, json::error_code&) {
    if (copying_) copyPart(part);
    if (readingString_ && depth_ == kItemMemberLevel) string_.append(part.data(), part.size());
    return true;
  }

  bool on_string(json::string_view part, std::size_t, json::error_code& ec) {
    if (readingString_ && depth_ == kItemMemberLevel) {
      string_.append(part.data(), part.size());
      if (surrogates_) string_ = withSurrogatesReplaced(string_);
      derivedString_[derived_] = std::move(string_);
      string_.clear();
      readingString_ = false;
    }
    if (copying_) {
      copyEnd(part, false);
      if (depth_ == copyLevel_) endCopy();
      return true;
    }
    return scalar(ec);
  }

  bool on_number_part(json::string_view part, json::error_code&) {
    if (copying_) writer_.numberPart(part);
    return true;
  }
  bool on_int64(std::int64_t, json::string_view literal, json::error_code& ec) { return number(literal, ec); }
  bool on_uint64(std::uint64_t, json::string_view literal, json::error_code& ec) {
    return number(literal, ec);
  }
  bool on_double(double value, json::string_view literal, json::error_code& ec) {
    if (copying_ && !std::isfinite(value)) {
      ++infinite_;
      if (copyLevel_ == kItemLevel) ++keptSpans_[keptMember_].span.infinite;
    }
    return number(literal, ec);
  }
  bool on_bool(bool value, json::error_code& ec) {
    valueAtItemMember();
    if (copying_) {
      writer_.boolean(value);
      if (depth_ == copyLevel_) endCopy();
      return true;
    }
    return scalar(ec);
  }
  bool on_null(json::error_code& ec) {
    valueAtItemMember();
    if (copying_) {
      writer_.null();
      if (depth_ == copyLevel_) endCopy();
      return true;
    }
    return scalar(ec);
  }

 private:
  enum class TopMember { items, set, copied };

  bool descend(json::error_code&) {
    ++depth_;
    return true;
  }

  bool fail(json::error_code& ec) {
    ec = json::error::syntax;
    return false;
  }

  // A piece of a copied key or string, and its last piece.
  void copyPart(std::string_view part) {
    if (surrogates_) {
      restoreSurrogates(part);
    } else {
      writer_.stringPart(part);
    }
  }
  void copyEnd(std::string_view last, bool key) {
    if (surrogates_) {
      restoreSurrogates(last);
      last = std::exchange(surrogateCarry_, {});  // never a surrogate at the end
    }
    if (key) {
      writer_.keyEnd(last);
    } else {
      writer_.stringEnd(last);
    }
  }
  // Writes the piece with each rewritten surrogate as its escape; one cut by
  // the end of the piece waits for the next.
  void restoreSurrogates(std::string_view piece) {
    std::string joined;
    if (!surrogateCarry_.empty()) {
      joined = std::exchange(surrogateCarry_, {}).append(piece);
      piece = joined;
    }
    const std::size_t done = splitAtSurrogates(
        piece, [this](std::string_view run) { writer_.stringPart(run); },
        [this](std::string_view escape) { writer_.escapedPart(escape); });
    surrogateCarry_.assign(piece.substr(done));
  }

  // Keys inside copied values are only written, except where the derivations
  // look for their string.
  bool readingKey() const { return depth_ == kItemMemberLevel && derived_ != none; }

  // A value other than a string starts: it is not the derivations' string.
  void valueAtItemMember() {
    if (depth_ == kItemMemberLevel) readingString_ = false;
  }

  bool number(json::string_view literal, json::error_code& ec) {
    valueAtItemMember();
    if (copying_) {
      writer_.numberEnd(literal);
      if (depth_ == copyLevel_) endCopy();
      return true;
    }
    return scalar(ec);
  }

  // A scalar that is not copied.
  bool scalar(json::error_code& ec) {
    if (depth_ == 0) return fail(ec);  // the export is not an object
    if (depth_ == kTopLevel && topMember_ == TopMember::items) {
      invalidateItems();  // "items" is a scalar
    } else if (depth_ == kItemsLevel && itemsOpen_) {
      itemsValid_ = false;  // an item that is not an object
    }
    return true;
  }

  void topKey(std::string_view key) {
    if (key == "items") {
      topMember_ = TopMember::items;
      if (itemsSpan_) {
        cut(*itemsSpan_);
        itemsSpan_.reset();
      }
      items_ = Span{writer_.size(), 0, 0};
    } else if (isSetMember(key)) {
      topMember_ = TopMember::set;
    } else {
      topMember_ = TopMember::copied;
      copyEnd(key, true);
      beginCopy(kTopLevel);
    }
  }

  void itemKey(std::string_view key) {
    const MemberRoles::Role role = roles_.roleOf(key);
    derived_ = role.derived;
    readingString_ = false;
    if (derived_ != none) {
      derivedObject_[derived_] = false;
      derivedString_[derived_].reset();
    }
    if (role.kept >= 0) {
      keptMember_ = static_cast<std::size_t>(role.kept);
      if (keptSpans_[keptMember_].item == itemSerial_) cutItemMember(keptMember_);
      keptSpans_[keptMember_] = {itemSerial_, {writer_.size(), 0, 0}};
      copyEnd(key, true);
      beginCopy(kItemLevel);
    }
  }

  void beginCopy(std::size_t level) {
    copying_ = true;
    copyLevel_ = level;
  }
  void endCopy() {
    copying_ = false;
    if (copyLevel_ == kItemLevel) keptSpans_[keptMember_].span.end = writer_.size();
  }

  // Removes a member's bytes from the document.
  void cut(const Span& span) {
    writer_.flush();
    out_.erase(span.begin, span.end);
    infinite_ -= span.infinite;
  }

  // Removes the current item's earlier value of a kept member; its other
  // members written after it move up.
  void cutItemMember(std::size_t kept) {
    const Span replaced = keptSpans_[kept].span;
    cut(replaced);
    const std::size_t length = replaced.end - replaced.begin;
    for (ItemSpan& other : keptSpans_) {
      if (other.item == itemSerial_ && other.span.begin >= replaced.end) {
        other.span.begin -= length;
        other.span.end -= length;
      }
    }
  }

  void resetItems() {
    itemCount_ = 0;
    libraryPath_.reset();
    originalCurrency_.reset();
    amountsCurrency_.reset();
  }
  void invalidateItems() {
    resetItems();
    itemsSeen_ = true;
    itemsValid_ = false;
  }
  void beginItems() {
    resetItems();
    itemsSeen_ = true;
    itemsValid_ = true;
    itemsOpen_ = true;
    writer_.key("items");
    writer_.beginArray();
  }
  void endItems() {
    writer_.endArray();
    itemsOpen_ = false;
    items_.end = writer_.size();
    itemsSpan_ = items_;
  }

  void beginItem() {
    ++itemSerial_;
    writer_.beginObject();
    derived_ = none;
    derivedObject_ = {};
    for (auto& text : derivedString_) text.reset();
  }

  void endItem() {
    writer_.endObject();
    ++itemCount_;
    for (const ItemSpan& member : keptSpans_) {
      if (member.item == itemSerial_) items_.infinite += member.span.infinite;
    }
    derived_ = none;
    readingString_ = false;
    if (!libraryPath_ && derivedString_[asset])
      libraryPath_ = libraryPathFromAssetPath(*derivedString_[asset]);
    if (!originalCurrency_ && derivedString_[amountsOriginal]) {
      originalCurrency_ = currencyFromItemText(*derivedString_[amountsOriginal]);
    }
    if (!amountsCurrency_ && derivedString_[amounts]) {
      amountsCurrency_ = currencyFromItemText(*derivedString_[amounts]);
    }
  }

  // Where an item's kept member was written; `item` is the item's serial
  // number, so that nothing needs clearing between items.
  struct ItemSpan {
    std::size_t item = 0;
    Span span;
  };

  const MemberRoles roles_;
  DocumentBytes& out_;
  JsonWriter writer_;

  std::size_t depth_ = 0;      // open containers, the export object being 1
  bool copying_ = false;       // inside a value being copied
  std::size_t copyLevel_ = 0;  // the level of the copied value's key
  std::string key_;            // a key given in pieces

  TopMember topMember_ = TopMember::copied;
  bool itemsSeen_ = false;
  bool itemsValid_ = false;
  bool itemsOpen_ = false;
  Span items_;                     // the "items" member being written
  std::optional<Span> itemsSpan_;  // the last complete "items" member
  std::size_t itemCount_ = 0;
  std::size_t itemSerial_ = 0;  // items begun, in all "items" arrays

  std::vector<ItemSpan> keptSpans_;  // by kept name
  std::size_t keptMember_ = 0;
  std::size_t infinite_ = 0;  // numbers JSON cannot carry, in the document

  // The derivations: the item member being read, whether its value is an
  // object, and its string member's last value (none when that is no string).
  Derived derived_ = none;
  std::array<bool, derivedCount> derivedObject_{};
  std::array<std::optional<std::string>, derivedCount> derivedString_;
  bool readingString_ = false;
  std::string string_;

  bool surrogates_ = false;     // strings may hold rewritten lone surrogates
  std::string surrogateCarry_;  // one cut by the end of a piece

  std::optional<std::string> libraryPath_;
  std::optional<std::string> originalCurrency_;
  std::optional<std::string> amountsCurrency_;
};

void appendMember(std::string& out, std::string_view key, std::string_view value) {
  appendJsonString(out, key);
  out += ':';
  appendJsonString(out, value);
}

}  // namespace

// What `ExportTransform` holds while it parses: the document (which the
// handler writes into), the parser and the filter in front of it.
struct ExportTransform::Parse {
  explicit Parse(std::size_t blockSize) : document(blockSize), parser(options(), document) {}

  static json::parse_options options() {
    json::parse_options options;
    options.max_depth = kMaxExportDepth;
    // The filter checks the UTF-8 and hands on lone surrogates rewritten.
    options.allow_invalid_utf8 = true;
    return options;
  }

  // Parses the next filtered text; false when it is no JSON. A document
  // already complete may be followed only by white space.
  bool feed(std::string_view text) {
    if (surrogates.rewroteAny()) parser.handler().expectLoneSurrogates();
    if (text.empty()) return true;
    if (parser.done()) return text.find_first_not_of(" \t\n\r") == std::string_view::npos;
    json::error_code error;
    const std::size_t used = parser.write_some(true, text.data(), text.size(), error);
    return !error && used == text.size();
  }

  DocumentBytes document;
  json::basic_parser<ExportHandler> parser;
  LoneSurrogateFilter surrogates;
};

ExportTransform::ExportTransform(std::size_t blockSize) : parse_(std::make_unique<Parse>(blockSize)) {}

ExportTransform::~ExportTransform() = default;

void ExportTransform::write(std::string_view piece) noexcept {
  if (failed_) return;
  // A leading UTF-8 byte order mark is passed over, also when it arrives in
  // pieces; a start of one that does not go on is no JSON anyway.
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  while (markBytesSeen_ < kByteOrderMark.size() && !piece.empty()) {
    if (piece.front() != kByteOrderMark[markBytesSeen_]) {
      if (markBytesSeen_ != 0) {
        failed_ = true;
        return;
      }
      markBytesSeen_ = kByteOrderMark.size();
      break;
    }
    ++markBytesSeen_;
    piece.remove_prefix(1);
  }
  if (piece.empty()) return;
  try {
    std::string_view text;
    failed_ = !parse_->surrogates.write(piece, text) || !parse_->feed(text);
  } catch (...) {
    failed_ = true;
    failure_ = std::current_exception();
  }
}

PreparedExport ExportTransform::finish(const std::optional<std::string>& confirmedLibraryName,
                                       const platform::Clock& clock) {
  if (failure_) std::rethrow_exception(failure_);
  json::basic_parser<ExportHandler>& parser = parse_->parser;
  std::string_view rest;
  if (!failed_) failed_ = !parse_->surrogates.finish(rest) || !parse_->feed(rest);
  if (!failed_ && !parser.done()) {
    json::error_code error;
    parser.write_some(false, nullptr, 0, error);
    failed_ = error || !parser.done();
  }
  if (failed_ || !parser.handler().itemsValid()) throw ExportError(ExportErrorCode::parseFailure);
  ExportHandler& result = parser.handler();
  result.flush();
  if (result.itemCount() == 0) throw ExportError(ExportErrorCode::emptyLibrary);
  result.checkNumbers();

  PreparedExport prepared;
  DocumentBytes& out = parse_->document;
  prepared.libraryPath = result.libraryPath().value_or("");
  prepared.libraryName =
      confirmedLibraryName ? confirmedLibraryName : libraryNameFromPath(prepared.libraryPath);
  std::optional<std::string> currency = currencyFromName(prepared.libraryName);
  if (!currency) currency = result.originalCurrency() ? result.originalCurrency() : result.amountsCurrency();
  prepared.currencyToken = currency.value_or(std::string(kNoCurrencyToken));
  prepared.currencyFileToken = prepared.currencyToken;
  prepared.libraryFilename =
      libraryFilename(prepared.libraryName.value_or(prepared.currencyToken), prepared.currencyToken);

  // Every member written so far ends in a comma.
  std::string setMembers;
  appendMember(setMembers, "libraryName", prepared.libraryName.value_or(prepared.libraryFilename));
  setMembers += ',';
  appendMember(setMembers, "currencyCode", platform::upperCased(prepared.currencyToken));
  setMembers += ',';
  appendMember(setMembers, "exportedAt", platform::formatIso8601(clock.now()));
  setMembers += ',';
  appendMember(setMembers, "libraryPath", prepared.libraryPath);
  setMembers += '}';
  out.append(setMembers);
  prepared.documentBytes = std::move(out);

  prepared.markerBytes = platform::formatIso8601(clock.now());
  return prepared;
}

PreparedExport prepareExport(std::string_view exportText,
                             const std::optional<std::string>& confirmedLibraryName,
                             const platform::Clock& clock) {
  ExportTransform transform;
  transform.write(exportText);
  return transform.finish(confirmedLibraryName, clock);
}

}  // namespace quillory::publish
