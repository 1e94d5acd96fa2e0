#pragma once
// A synthetic Kettle Ledger export that looks like a real library's: every
// kept item field, nested amounts, original amounts and asset objects, tags
// arrays, and the large members the helper drops (OCR text, thumbnails,
// edit history). Deterministic for a given seed.

#include <cstddef>
#include <string>

namespace quillory::bench {

struct SyntheticExportShape {
  std::size_t items = 50000;
  unsigned seed = 42;
  std::string libraryFolder = "/Users/anna/Documents/Kettle Ledger/Business EUR";
};

std::string syntheticExport(const SyntheticExportShape& shape);

}  // namespace quillory::bench
