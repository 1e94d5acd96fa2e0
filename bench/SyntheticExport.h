#pragma once
// Synthetic Kettle Ledger exports, deterministic for a given seed, in four
// kinds:
// - receipts: looks like a real library's: every kept item field, nested
//   amounts, original amounts and asset objects, tags arrays, and the large
//   members the helper drops (OCR text, thumbnails, edit history);
// - droppedStrings: most bytes in long strings the helper drops (OCR text
//   and thumbnails of several kilobytes per item);
// - keptNumbers: most bytes in kept numbers and short arrays of numbers
//   (amounts with line items, tag ids);
// - tinyValues: items whose kept "tags" member holds 18 million tiny values
//   each ({} and [] in turn), one item by default.
// `items` is the number of items; `defaultItems` gives each kind's usual
// count (about 90, 90, 75 and 54 MB).

#include <cstddef>
#include <string>

namespace quillory::bench {

enum class ExportKind { receipts, droppedStrings, keptNumbers, tinyValues };

std::size_t defaultItems(ExportKind kind);

struct SyntheticExportShape {
  ExportKind kind = ExportKind::receipts;
  std::size_t items = 50000;
  unsigned seed = 42;
  std::string libraryFolder = "/Users/anna/Documents/Kettle Ledger/Business EUR";
};

std::string syntheticExport(const SyntheticExportShape& shape);

}  // namespace quillory::bench
