#include "libraries/PublishedDocuments.h"

#include <boost/json/basic_parser_impl.hpp>
#include <cstdint>
#include <limits>
#include <string_view>
#include <utility>

#include "platform/Files.h"
#include "platform/Unicode.h"

namespace quillory::libraries {

namespace {

namespace json = boost::json;

// Documents nested deeper than this are treated as unreadable. The parser
// recurses once per level, so the bound also bounds its stack use on the
// small stacks of the background queues.
constexpr std::size_t kMaxNestingDepth = 512;

constexpr std::string_view kDocumentEnding = ".json";
constexpr std::string_view kLibraryNameKey = "libraryName";
constexpr std::string_view kLibraryPathKey = "libraryPath";
constexpr std::string_view kCurrencyCodeKey = "currencyCode";

std::string_view view(json::string_view s) { return {s.data(), s.size()}; }

// Validates a whole document and keeps only the top-level string members
// "libraryName", "libraryPath" and "currencyCode". Builds no tree, so
// neither memory nor teardown grows with the document's size or depth. A
// duplicate key keeps its last value, as a parsed object would.
class TopLevelHandler {
 public:
  static constexpr std::size_t max_array_size = std::numeric_limits<std::size_t>::max();
  static constexpr std::size_t max_object_size = std::numeric_limits<std::size_t>::max();
  static constexpr std::size_t max_string_size = std::numeric_limits<std::size_t>::max();
  static constexpr std::size_t max_key_size = std::numeric_limits<std::size_t>::max();

  PublishedDocumentInfo info;

  bool on_document_begin(json::error_code&) { return true; }
  bool on_document_end(json::error_code&) { return true; }

  bool on_object_begin(json::error_code&) {
    memberValue(std::nullopt);
    ++depth_;
    return true;
  }
  bool on_object_end(std::size_t, json::error_code&) {
    --depth_;
    return true;
  }
  bool on_array_begin(json::error_code& ec) {
    if (depth_ == 0) {
      // The top level must be an object: stop reading at once.
      ec = json::error::syntax;
      return false;
    }
    memberValue(std::nullopt);
    ++depth_;
    return true;
  }
  bool on_array_end(std::size_t, json::error_code&) {
    --depth_;
    return true;
  }

  bool on_key_part(json::string_view s, std::size_t, json::error_code&) {
    if (depth_ == 1) key_.append(view(s));
    return true;
  }
  bool on_key(json::string_view s, std::size_t, json::error_code&) {
    if (depth_ == 1) {
      key_.append(view(s));
      member_ = key_ == kLibraryNameKey    ? Member::name
                : key_ == kLibraryPathKey  ? Member::path
                : key_ == kCurrencyCodeKey ? Member::currency
                                           : Member::other;
      key_.clear();
    }
    return true;
  }

  bool on_string_part(json::string_view s, std::size_t, json::error_code& ec) {
    if (depth_ == 0) return topLevelNotObject(ec);
    if (depth_ == 1 && member_ != Member::other) string_.append(view(s));
    return true;
  }
  bool on_string(json::string_view s, std::size_t, json::error_code& ec) {
    if (depth_ == 0) return topLevelNotObject(ec);
    if (depth_ == 1 && member_ != Member::other) {
      string_.append(view(s));
      memberValue(std::move(string_));
      string_.clear();
    }
    return true;
  }

  bool on_number_part(json::string_view, json::error_code&) { return true; }
  bool on_int64(std::int64_t, json::string_view, json::error_code& ec) { return scalar(ec); }
  bool on_uint64(std::uint64_t, json::string_view, json::error_code& ec) { return scalar(ec); }
  bool on_double(double, json::string_view, json::error_code& ec) { return scalar(ec); }
  bool on_bool(bool, json::error_code& ec) { return scalar(ec); }
  bool on_null(json::error_code& ec) { return scalar(ec); }
  bool on_comment_part(json::string_view, json::error_code&) { return true; }
  bool on_comment(json::string_view, json::error_code&) { return true; }

 private:
  enum class Member { other, name, path, currency };

  bool topLevelNotObject(json::error_code& ec) {
    ec = json::error::syntax;
    return false;
  }
  bool scalar(json::error_code& ec) {
    if (depth_ == 0) return topLevelNotObject(ec);
    memberValue(std::nullopt);
    return true;
  }
  // A value of a top-level member has been read (a string, or none for any
  // other kind of value).
  void memberValue(std::optional<std::string> value) {
    if (depth_ != 1) return;
    if (member_ == Member::name) info.libraryName = std::move(value);
    if (member_ == Member::path) info.libraryPath = std::move(value);
    if (member_ == Member::currency) info.currencyCode = std::move(value);
    member_ = Member::other;
  }

  std::size_t depth_ = 0;
  Member member_ = Member::other;
  std::string key_;
  std::string string_;
};

json::parse_options parseOptions() {
  json::parse_options options;
  options.max_depth = kMaxNestingDepth;
  return options;
}

}  // namespace

std::optional<PublishedDocumentInfo> readPublishedDocument(const std::filesystem::path& file) {
  try {
    // Read in chunks, so that memory stays small whatever the document's size.
    json::basic_parser<TopLevelHandler> parser(parseOptions());
    json::error_code ec;
    const bool read = platform::files::readFileInChunks(file, [&](std::string_view chunk) {
      return parser.write_some(true, chunk.data(), chunk.size(), ec) == chunk.size() && !ec;
    });
    if (!read) return std::nullopt;
    parser.write_some(false, nullptr, 0, ec);
    if (ec || !parser.done()) return std::nullopt;
    return std::move(parser.handler().info);
  } catch (const std::exception&) {
    // Only allocation can throw here; a document too large to hold is unreadable.
    return std::nullopt;
  }
}

std::optional<std::string> findPublishedDocument(
    const std::filesystem::path& folder,
    const std::function<bool(const std::string& entryName, const PublishedDocumentInfo&)>& accept) {
  const std::optional<std::vector<std::string>> entries = platform::files::listFolder(folder);
  if (!entries) return std::nullopt;
  for (const std::string& entry : *entries) {
    if (!entry.ends_with(kDocumentEnding)) continue;
    const std::optional<PublishedDocumentInfo> info = readPublishedDocument(folder / entry);
    if (info && accept(entry, *info)) return entry;
  }
  return std::nullopt;
}

std::vector<const DocumentIndex::Document*> DocumentIndex::naming(const std::string& libraryName) {
  if (!std::exchange(listed_, true)) {
    for (const std::string& entry :
         platform::files::listFolder(folder_).value_or(std::vector<std::string>{})) {
      if (!entry.ends_with(kDocumentEnding)) continue;
      std::optional<PublishedDocumentInfo> info = readPublishedDocument(folder_ / entry);
      if (!info || !info->libraryName) continue;
      byName_[platform::composed(*info->libraryName)].push_back(documents_.size());
      documents_.push_back(Document{entry, std::move(*info)});
    }
  }
  std::vector<const Document*> found;
  if (const auto names = byName_.find(platform::composed(libraryName)); names != byName_.end()) {
    for (const std::size_t index : names->second) found.push_back(&documents_[index]);
  }
  return found;
}

}  // namespace quillory::libraries
