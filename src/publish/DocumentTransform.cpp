#include "publish/DocumentTransform.h"

#include <algorithm>
#include <array>
#include <boost/json/basic_parser_impl.hpp>
#include <boost/json/monotonic_resource.hpp>
#include <boost/json/value_stack.hpp>
#include <memory>
#include <optional>
#include <vector>

#include "platform/Clock.h"
#include "platform/Iso8601.h"
#include "platform/Unicode.h"
#include "publish/Derivations.h"
#include "publish/ExportError.h"
#include "publish/JsonWriter.h"

// The export is transformed in one streaming pass over Boost.JSON's
// basic_parser, without building the export as a whole:
// - each item is built as a small object holding only its kept members and
//   the members the derivations read ("asset", "amounts", "amountsOriginal"),
//   written to the document at once and then dropped; members that are not
//   kept are skipped by the parser without being built;
// - the other top-level members are built into one object and written after
//   the items.
// Objects are built by Boost.JSON's own value stack, so a member that occurs
// twice keeps its last value, as in a parsed object, and a second "items"
// replaces the first. Nothing here recurses: the parser's nesting is bounded
// by kMaxExportDepth and the writer keeps its own stack.

namespace quillory::publish {
namespace {

namespace json = boost::json;

// Top-level members the helper sets itself; the export's own are dropped.
constexpr std::array<std::string_view, 4> kSetMembers = {"libraryName", "currencyCode", "exportedAt",
                                                         "libraryPath"};
constexpr std::array<std::string_view, 3> kDerivationMembers = {"asset", "amounts", "amountsOriginal"};
constexpr std::string_view kDocumentStart = "{\"items\":[";

template <std::size_t N>
bool isOneOf(std::string_view key, const std::array<std::string_view, N>& names) {
  for (std::string_view name : names) {
    if (key == name) return true;
  }
  return false;
}

// What happens to an item member, looked up by name: the few names are
// bucketed by length, so a lookup is one or two short compares.
class MemberRoles {
 public:
  enum Role : unsigned char { skipped, derivationOnly, kept };

  explicit MemberRoles(const std::set<std::string>& keepFields) {
    for (std::string_view name : kDerivationMembers) add(name, derivationOnly);
    for (const std::string& name : keepFields) add(name, kept);
  }

  Role roleOf(std::string_view key) const {
    if (key.size() >= buckets_.size()) return skipped;
    for (const auto& [name, role] : buckets_[key.size()]) {
      if (name == key) return role;
    }
    return skipped;
  }

 private:
  void add(std::string_view name, Role role) {
    if (name.size() >= buckets_.size()) buckets_.resize(name.size() + 1);
    for (auto& entry : buckets_[name.size()]) {
      if (entry.first == name) {
        entry.second = role;
        return;
      }
    }
    buckets_[name.size()].emplace_back(std::string(name), role);
  }

  std::vector<std::vector<std::pair<std::string, Role>>> buckets_;
};

class ExportHandler {
 public:
  static constexpr std::size_t max_object_size = json::object::max_size();
  static constexpr std::size_t max_array_size = json::array::max_size();
  static constexpr std::size_t max_key_size = json::string::max_size();
  static constexpr std::size_t max_string_size = json::string::max_size();

  ExportHandler(const std::set<std::string>& keepFields, std::string& out) : roles_(keepFields), out_(out) {
    top_.reset(&topArena_);
  }

  // Results, valid after a successful parse.
  bool itemsValid() const { return itemsSeen_ && itemsValid_; }
  std::size_t itemCount() const { return itemCount_; }
  const std::optional<std::string>& libraryPath() const { return libraryPath_; }
  const std::optional<std::string>& originalCurrency() const { return originalCurrency_; }
  const std::optional<std::string>& amountsCurrency() const { return amountsCurrency_; }
  json::value releaseTopMembers() {
    top_.push_object(topMembers_);
    return top_.release();
  }

  bool on_document_begin(json::error_code&) { return true; }
  bool on_document_end(json::error_code&) { return true; }
  bool on_comment_part(json::string_view, json::error_code&) { return true; }
  bool on_comment(json::string_view, json::error_code&) { return true; }
  bool on_number_part(json::string_view, json::error_code&) { return true; }

  bool on_object_begin(json::error_code& ec) {
    if (capture_ != Capture::none) {
      ++depth_;
      return true;
    }
    switch (depth_) {
      case 0:
        depth_ = 1;
        return true;
      case 1:  // "items" is an object
        invalidateItems();
        return beginCapture(Capture::skip, nullptr);
      case 2:
        beginItem();
        depth_ = 3;
        return true;
      default:
        return fail(ec);
    }
  }

  bool on_object_end(std::size_t n, json::error_code&) {
    if (capture_ != Capture::none) {
      if (capture_ == Capture::build) target_->push_object(n);
      return closeCaptured();
    }
    if (depth_ == 3) endItem();
    --depth_;
    return true;
  }

  bool on_array_begin(json::error_code& ec) {
    if (capture_ != Capture::none) {
      ++depth_;
      return true;
    }
    switch (depth_) {
      case 0:
        return fail(ec);
      case 1:  // the value of "items"
        beginItems();
        depth_ = 2;
        return true;
      case 2:  // an item that is not an object
        itemsValid_ = false;
        return beginCapture(Capture::skip, nullptr);
      default:
        return fail(ec);
    }
  }

  bool on_array_end(std::size_t n, json::error_code&) {
    if (capture_ != Capture::none) {
      if (capture_ == Capture::build) target_->push_array(n);
      return closeCaptured();
    }
    --depth_;  // the end of "items"
    return true;
  }

  bool on_key_part(json::string_view part, std::size_t, json::error_code&) {
    if (capture_ == Capture::build) {
      target_->push_chars(part);
    } else if (capture_ == Capture::none) {
      key_.append(part.data(), part.size());
    }
    return true;
  }

  bool on_key(json::string_view part, std::size_t, json::error_code&) {
    if (capture_ == Capture::build) {
      target_->push_key(part);
      return true;
    }
    if (capture_ == Capture::skip) return true;
    std::string_view key(part.data(), part.size());
    if (!key_.empty()) {
      key_.append(part.data(), part.size());
      key = key_;
    }
    if (depth_ == 1) {
      if (key == "items") {
        capture_ = Capture::none;  // the value decides
      } else if (isOneOf(key, kSetMembers)) {
        beginKeyCapture(Capture::skip, nullptr);
      } else {
        top_.push_key(key);
        ++topMembers_;
        beginKeyCapture(Capture::build, &top_);
      }
    } else if (roles_.roleOf(key) != MemberRoles::skipped) {
      item_.push_key(key);
      ++itemMembers_;
      beginKeyCapture(Capture::build, &item_);
    } else {
      beginKeyCapture(Capture::skip, nullptr);
    }
    key_.clear();
    return true;
  }

  bool on_string_part(json::string_view part, std::size_t, json::error_code&) {
    if (capture_ == Capture::build) target_->push_chars(part);
    return true;
  }
  bool on_string(json::string_view text, std::size_t, json::error_code& ec) {
    return scalar(ec, [&](json::value_stack& stack) { stack.push_string(text); });
  }
  bool on_int64(std::int64_t number, json::string_view, json::error_code& ec) {
    return scalar(ec, [&](json::value_stack& stack) { stack.push_int64(number); });
  }
  bool on_uint64(std::uint64_t number, json::string_view, json::error_code& ec) {
    return scalar(ec, [&](json::value_stack& stack) { stack.push_uint64(number); });
  }
  bool on_double(double number, json::string_view, json::error_code& ec) {
    return scalar(ec, [&](json::value_stack& stack) { stack.push_double(number); });
  }
  bool on_bool(bool value, json::error_code& ec) {
    return scalar(ec, [&](json::value_stack& stack) { stack.push_bool(value); });
  }
  bool on_null(json::error_code& ec) {
    return scalar(ec, [&](json::value_stack& stack) { stack.push_null(); });
  }

 private:
  enum class Capture { none, build, skip };

  // A member's value starts right after its key, at the depth of the key.
  void beginKeyCapture(Capture capture, json::value_stack* target) {
    capture_ = capture;
    target_ = target;
    captureDepth_ = depth_;
  }
  // A container value starts here: it is captured until it closes.
  bool beginCapture(Capture capture, json::value_stack* target) {
    capture_ = capture;
    target_ = target;
    captureDepth_ = depth_;
    ++depth_;
    return true;
  }
  bool closeCaptured() {
    if (--depth_ == captureDepth_) capture_ = Capture::none;
    return true;
  }

  template <typename Push>
  bool scalar(json::error_code& ec, Push push) {
    if (capture_ != Capture::none) {
      if (capture_ == Capture::build) push(*target_);
      if (depth_ == captureDepth_) capture_ = Capture::none;
      return true;
    }
    if (depth_ == 0) return fail(ec);  // the export is not an object
    if (depth_ == 1)
      invalidateItems();  // "items" is a scalar
    else
      itemsValid_ = false;  // an item is a scalar
    return true;
  }

  bool fail(json::error_code& ec) {
    ec = json::error::syntax;
    return false;
  }

  void resetItems() {
    out_.resize(kDocumentStart.size());
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
  }

  void beginItem() {
    itemArena_.emplace(itemBuffer_.data(), itemBuffer_.size());
    item_.reset(&*itemArena_);
    itemMembers_ = 0;
  }

  void endItem() {
    item_.push_object(itemMembers_);
    {
      const json::value item = item_.release();
      const json::object& members = item.get_object();
      if (itemCount_ > 0) out_ += ',';
      out_ += '{';
      bool first = true;
      for (const json::key_value_pair& member : members) {
        const std::string_view key(member.key());
        if (roles_.roleOf(key) != MemberRoles::kept) continue;
        if (!first) out_ += ',';
        first = false;
        appendJsonString(out_, key);
        out_ += ':';
        appendJson(out_, member.value());
      }
      out_ += '}';
      ++itemCount_;
      if (!libraryPath_) libraryPath_ = libraryPathFromItem(members);
      if (!originalCurrency_) originalCurrency_ = currencyOfMember(members, "amountsOriginal");
      if (!amountsCurrency_) amountsCurrency_ = currencyOfMember(members, "amounts");
    }
    item_.reset();
    itemArena_.reset();
  }

  const MemberRoles roles_;
  std::string& out_;

  std::size_t depth_ = 0;  // open containers, the export object being 1
  Capture capture_ = Capture::none;
  json::value_stack* target_ = nullptr;
  std::size_t captureDepth_ = 0;
  std::string key_;

  json::monotonic_resource topArena_;
  json::value_stack top_;
  std::size_t topMembers_ = 0;

  std::array<unsigned char, 16384> itemBuffer_{};
  std::optional<json::monotonic_resource> itemArena_;
  json::value_stack item_;
  std::size_t itemMembers_ = 0;

  bool itemsSeen_ = false;
  bool itemsValid_ = false;
  std::size_t itemCount_ = 0;
  std::optional<std::string> libraryPath_;
  std::optional<std::string> originalCurrency_;
  std::optional<std::string> amountsCurrency_;
};

void appendMember(std::string& out, std::string_view key, std::string_view value) {
  out += ',';
  appendJsonString(out, key);
  out += ':';
  appendJsonString(out, value);
}

}  // namespace

PreparedExport prepareExport(std::string_view exportText,
                             const std::optional<std::string>& confirmedLibraryName,
                             const std::set<std::string>& keepFields, const platform::Clock& clock) {
  PreparedExport prepared;
  std::string& out = prepared.documentBytes;
  // Room for a document as large as the export and then some ("/" grows to
  // "\/"), so that it is never copied while it grows. Pages of the
  // reservation that are never written cost no memory.
  out.reserve(exportText.size() + exportText.size() / 4 + 4096);
  out = kDocumentStart;

  json::parse_options options;
  options.max_depth = kMaxExportDepth;
  auto parser = std::make_unique<json::basic_parser<ExportHandler>>(options, keepFields, out);
  json::error_code error;
  const std::size_t used = parser->write_some(false, exportText.data(), exportText.size(), error);
  if (error || used != exportText.size() || !parser->done() || !parser->handler().itemsValid()) {
    throw ExportError(ExportErrorCode::parseFailure);
  }
  ExportHandler& result = parser->handler();
  if (result.itemCount() == 0) throw ExportError(ExportErrorCode::emptyLibrary);

  prepared.libraryPath = result.libraryPath().value_or("");
  prepared.libraryName =
      confirmedLibraryName ? confirmedLibraryName : libraryNameFromPath(prepared.libraryPath);
  std::optional<std::string> currency = currencyFromName(prepared.libraryName);
  if (!currency) currency = result.originalCurrency() ? result.originalCurrency() : result.amountsCurrency();
  prepared.currencyToken = currency.value_or(std::string(kNoCurrencyToken));
  prepared.currencyFileToken = currencyFileComponent(prepared.currencyToken);
  prepared.libraryFilename =
      libraryFilename(prepared.libraryName.value_or(prepared.currencyToken), prepared.currencyToken);

  out += ']';
  const json::value topMembers = result.releaseTopMembers();
  for (const json::key_value_pair& member : topMembers.get_object()) {
    out += ',';
    appendJsonString(out, std::string_view(member.key()));
    out += ':';
    appendJson(out, member.value());
  }
  appendMember(out, "libraryName", prepared.libraryName.value_or(prepared.libraryFilename));
  appendMember(out, "currencyCode", platform::upperCased(prepared.currencyToken));
  appendMember(out, "exportedAt", platform::formatIso8601(clock.now()));
  appendMember(out, "libraryPath", prepared.libraryPath);
  out += '}';

  prepared.markerBytes = platform::formatIso8601(clock.now());
  return prepared;
}

}  // namespace quillory::publish
