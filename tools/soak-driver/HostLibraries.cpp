#include "HostLibraries.h"

#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>
#include <cstdint>
#include <fstream>

namespace quillory::soak {

namespace fs = std::filesystem;
namespace json = boost::json;

std::string exportFor(const fs::path& folder, const std::string& currency, int items, std::mt19937& random) {
  json::array list;
  for (int i = 0; i < items; ++i) {
    json::object item;
    item["id"] = "item-" + std::to_string(i);
    item["title"] = "Receipt " + std::to_string(i) + " caf\u00e9 / \u20ac";
    item["date"] = "2026-11-0" + std::to_string(1 + i % 9) + "T08:00:00Z";
    item["amounts"] = json::object{{"currency", currency}, {"total", 12.5 + i}, {"net", 2725.16}};
    item["asset"] =
        json::object{{"path", (folder / "assets" / "2026" / (std::to_string(i) + ".pdf")).string()}};
    item["tags"] = json::array{"soak", static_cast<std::int64_t>(random() % 100)};
    item["ocrText"] = std::string(200 + random() % 400, 'x');
    list.push_back(std::move(item));
  }
  json::object root;
  root["format"] = "kettleledger.export";
  root["version"] = 4;
  root["items"] = std::move(list);
  return json::serialize(root);
}

void writeState(const fs::path& file, const std::string& text) {
  const fs::path temporary = file.string() + ".new";
  std::ofstream(temporary, std::ios::binary | std::ios::trunc) << text;
  fs::rename(temporary, file);
}

}  // namespace quillory::soak
