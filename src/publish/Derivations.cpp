#include "publish/Derivations.h"

#include <algorithm>

#include "platform/Unicode.h"

namespace quillory::publish {
namespace {

constexpr std::string_view kAssetsMarker = "/assets/";
constexpr std::array<std::string_view, 3> kSuffixSeparators = {"-", "_", ""};

std::string_view trimmedDashes(std::string_view text) {
  const auto first = text.find_first_not_of("-_");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of("-_");
  return text.substr(first, last - first + 1);
}

}  // namespace

std::optional<std::string> libraryPathFromAssetPath(std::string_view assetPath) {
  const auto marker = assetPath.find(kAssetsMarker);
  if (marker == std::string_view::npos) return std::nullopt;
  return std::string(assetPath.substr(0, marker));
}

std::optional<std::string> currencyFromName(const std::optional<std::string>& name) {
  if (!name) return std::nullopt;
  const std::string upper = platform::upperCased(*name);
  for (std::string_view code : kKnownCurrencyCodes) {
    if (upper.find(code) != std::string::npos) return platform::lowerCased(code);
  }
  return std::nullopt;
}

std::optional<std::string> currencyFromItemText(std::string_view currency) {
  if (currency.empty()) return std::nullopt;
  return platform::lowerCased(currency);
}

std::string currencyFileComponent(std::string_view token) {
  std::string safe = platform::withoutControlCharacters(token);
  std::erase(safe, '/');
  if (safe.empty() || safe == "." || safe == "..") return std::string(kNoCurrencyToken);
  return safe;
}

std::string libraryFilename(std::string_view name, std::string_view currency) {
  const std::string c = currencyFileComponent(platform::lowerCased(currency));
  std::string lowered = platform::lowerCased(name);
  for (char& ch : lowered) {
    if (ch == ' ') ch = '-';
  }
  std::string n(trimmedDashes(platform::filenameCharactersOnly(lowered)));
  for (std::string_view separator : kSuffixSeparators) {
    const std::string suffix = std::string(separator) + c;
    if (n.size() >= suffix.size() && n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0) {
      n.resize(n.size() - suffix.size());
      n = std::string(trimmedDashes(n));
      break;
    }
  }
  if (n.empty()) n = kFallbackBaseName;
  // Too long for a file name: the name part is cut first, at the end of a
  // whole character; a currency part too long by itself is cut as well.
  if (n.size() + 1 + c.size() > kLongestBaseName) {
    const std::size_t room = kLongestBaseName - std::min(kLongestBaseName, c.size() + 1);
    n = std::string(trimmedDashes(std::string_view(n).substr(0, platform::fittingPrefixLength(n, room))));
    if (n.empty()) n = kFallbackBaseName;
  }
  std::string base = n + "-" + c;
  base.resize(platform::fittingPrefixLength(base, kLongestBaseName));
  return base;
}

std::optional<std::string> currencyPairName(std::string_view token) {
  if (token.empty() || token.size() > kLongestBaseName || platform::filenameCharactersOnly(token) != token) {
    return std::nullopt;
  }
  return std::string(token);
}

std::optional<std::string> libraryNameFromPath(std::string_view libraryPath) {
  const auto end = libraryPath.find_last_not_of('/');
  if (end == std::string_view::npos) return std::nullopt;
  const std::string_view trimmed = libraryPath.substr(0, end + 1);
  const auto slash = trimmed.rfind('/');
  return std::string(slash == std::string_view::npos ? trimmed : trimmed.substr(slash + 1));
}

}  // namespace quillory::publish
