#include "libraries/ContainerPaths.h"

namespace quillory::libraries {

namespace {
constexpr std::string_view kDocumentEnding = ".json";
constexpr std::string_view kMarkerEnding = "_updated.txt";
}  // namespace

std::string markerNameFor(std::string_view documentFileName) {
  std::string marker;
  marker.reserve(documentFileName.size() + kMarkerEnding.size());
  std::size_t from = 0;
  for (std::size_t at = documentFileName.find(kDocumentEnding); at != std::string_view::npos;
       at = documentFileName.find(kDocumentEnding, from)) {
    marker.append(documentFileName.substr(from, at - from)).append(kMarkerEnding);
    from = at + kDocumentEnding.size();
  }
  marker.append(documentFileName.substr(from));
  return marker;
}

bool isPlainFileName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

}  // namespace quillory::libraries
