#include "SyntheticExport.h"

#include <array>
#include <cstdio>
#include <random>
#include <string_view>

namespace quillory::bench {
namespace {

constexpr std::array<std::string_view, 8> kContacts = {"Deutsche Bahn AG",
                                                       "Caf\u00e9 M\u00fcller",
                                                       "Amazon EU S.\u00e0 r.l.",
                                                       "Stadtwerke M\u00fcnchen",
                                                       "Lufthansa",
                                                       "Hotel Bellevue Z\u00fcrich",
                                                       "Apple Distribution International",
                                                       "B\u00fcrobedarf Schulz"};
constexpr std::array<std::string_view, 6> kCategories = {"Travel/Train", "Meals",        "Office/Supplies",
                                                         "Utilities",    "Travel/Hotel", "Software"};
constexpr std::array<std::string_view, 6> kTags = {"tax-2026",      "business", "reimbursable",
                                                   "project/alpha", "q4",       "\u2713 checked"};
constexpr std::array<std::string_view, 3> kCurrencies = {"EUR", "CHF", "USD"};
constexpr std::string_view kWords =
    "Rechnung Nr Datum Betrag MwSt 19% Summe netto brutto Zahlbar bis IBAN "
    "DE89 3704 0044 0532 0130 00 "
    "Vielen Dank f\u00fcr Ihren Einkauf! Artikel Menge Einzelpreis Gesamt "
    "Kasse 3 Bon 4711 \u20ac / St\u00fcck ";

class Writer {
 public:
  explicit Writer(unsigned seed) : random_(seed) {}

  std::string& out() { return out_; }
  std::size_t pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_); }
  bool chance(double p) { return std::bernoulli_distribution(p)(random_); }
  double amount() {
    return static_cast<double>(std::uniform_int_distribution<int>(50, 250000)(random_)) / 100.0;
  }

  void hex(std::size_t digits) {
    static constexpr char kHex[] = "0123456789abcdef";
    for (std::size_t i = 0; i < digits; ++i) out_ += kHex[pick(16)];
  }
  void uuid() {
    hex(8);
    out_ += '-';
    hex(4);
    out_ += '-';
    hex(4);
    out_ += '-';
    hex(4);
    out_ += '-';
    hex(12);
  }
  void number(double value) {
    char buffer[32];
    const int n = std::snprintf(buffer, sizeof buffer, "%.2f", value);
    out_.append(buffer, static_cast<std::size_t>(n));
  }
  void date() {
    char buffer[32];
    const int n = std::snprintf(buffer, sizeof buffer, "\"2026-%02zu-%02zuT%02zu:%02zu:%02zuZ\"",
                                pick(12) + 1, pick(28) + 1, pick(24), pick(60), pick(60));
    out_.append(buffer, static_cast<std::size_t>(n));
  }
  // Text cut from the word list, with a line break now and then.
  void text(std::size_t length) {
    out_ += '"';
    std::size_t written = 0;
    while (written < length) {
      const std::size_t start = pick(kWords.size() / 2);
      std::string_view piece = kWords.substr(start, std::min<std::size_t>(40, length - written));
      while (!piece.empty() && (static_cast<unsigned char>(piece.back()) & 0xC0) == 0x80)
        piece.remove_suffix(1);
      while (!piece.empty() && (static_cast<unsigned char>(piece.front()) & 0xC0) == 0x80)
        piece.remove_prefix(1);
      while (!piece.empty() && (static_cast<unsigned char>(piece.back()) & 0x80) != 0) piece.remove_suffix(1);
      out_ += piece;
      written += piece.size() + 2;
      out_ += chance(0.1) ? "\\n" : " ";
    }
    out_ += '"';
  }
  void amounts(std::string_view currency) {
    const double gross = amount();
    out_ += "{\"currency\":\"";
    out_ += currency;
    out_ += "\",\"gross\":";
    number(gross);
    out_ += ",\"net\":";
    number(gross / 1.19);
    out_ += ",\"taxes\":[{\"rate\":19,\"amount\":";
    number(gross - gross / 1.19);
    out_ += "}]}";
  }

 private:
  std::mt19937 random_;
  std::string out_;
};

void writeItem(Writer& w, const SyntheticExportShape& shape) {
  std::string& out = w.out();
  out += "{\"id\":\"";
  w.uuid();
  out += "\",\"date\":";
  w.date();
  out += ",\"datePayment\":";
  w.date();
  out += ",\"contact\":\"";
  out += kContacts[w.pick(kContacts.size())];
  out += "\",\"category\":\"";
  out += kCategories[w.pick(kCategories.size())];
  out += "\",\"title\":";
  w.text(40);
  out += ",\"amounts\":";
  w.amounts("EUR");
  out += ",\"amountsOriginal\":";
  w.amounts(kCurrencies[w.pick(kCurrencies.size())]);
  out += ",\"tags\":[";
  const std::size_t tagCount = w.pick(4);
  for (std::size_t t = 0; t < tagCount; ++t) {
    if (t > 0) out += ',';
    out += '"';
    out += kTags[w.pick(kTags.size())];
    out += '"';
  }
  out += "],\"notes\":";
  w.text(w.pick(160));
  out += ",\"isCredit\":";
  out += w.chance(0.05) ? "true" : "false";
  out += ",\"isDocument\":false,\"isPaid\":";
  out += w.chance(0.8) ? "true" : "false";
  out += ",\"isConfirmed\":true,\"isMarked\":";
  out += w.chance(0.1) ? "true" : "false";
  out += ",\"asset\":{\"path\":\"";
  out += shape.libraryFolder;
  out += "/assets/";
  w.hex(2);
  out += '/';
  w.uuid();
  out += ".pdf\",\"size\":";
  out += std::to_string(20000 + w.pick(2000000));
  out += ",\"mimeType\":\"application/pdf\",\"pages\":";
  out += std::to_string(1 + w.pick(4));
  out += ",\"sha256\":\"";
  w.hex(64);
  out += "\"}";
  // Members the mobile app does not use.
  out += ",\"ocrText\":";
  w.text(w.chance(0.22) ? 2048 : 200);
  out += ",\"thumbnail\":\"data:image/png;base64,";
  for (std::size_t i = 0; i < 120; ++i)
    out += "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"[w.pick(64)];
  out += "\",\"history\":[";
  const std::size_t edits = 1 + w.pick(3);
  for (std::size_t e = 0; e < edits; ++e) {
    if (e > 0) out += ',';
    out += "{\"at\":";
    w.date();
    out += ",\"field\":\"amounts\",\"device\":\"MacBook Pro\"}";
  }
  out += "],\"createdAt\":";
  w.date();
  out += ",\"modifiedAt\":";
  w.date();
  out += ",\"Tags\":[\"legacy\"]}";
}

void writeAssetPath(Writer& w, const SyntheticExportShape& shape) {
  std::string& out = w.out();
  out += "{\"path\":\"";
  out += shape.libraryFolder;
  out += "/assets/";
  w.hex(2);
  out += '/';
  w.uuid();
  out += ".pdf\"}";
}

// A short kept item and two long dropped strings.
void writeDroppedStringsItem(Writer& w, const SyntheticExportShape& shape) {
  std::string& out = w.out();
  out += "{\"id\":\"";
  w.uuid();
  out += "\",\"date\":";
  w.date();
  out += ",\"title\":";
  w.text(40);
  out += ",\"amounts\":";
  w.amounts("EUR");
  out += ",\"asset\":";
  writeAssetPath(w, shape);
  out += ",\"ocrText\":";
  w.text(4000 + w.pick(4000));
  out += ",\"thumbnail\":\"data:image/png;base64,";
  for (std::size_t i = 0; i < 3000; ++i)
    out += "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"[w.pick(64)];
  out += "\"}";
}

// Kept numbers in every form an export uses: amounts with line items,
// exchange rates, tag ids, sizes.
void writeKeptNumbersItem(Writer& w, const SyntheticExportShape& shape, std::size_t index) {
  std::string& out = w.out();
  out += "{\"id\":";
  out += std::to_string(100000 + index);
  out += ",\"date\":";
  w.date();
  out += ",\"amounts\":";
  w.amounts("EUR");
  out.pop_back();
  out += ",\"lines\":[";
  const std::size_t lines = 4 + w.pick(12);
  for (std::size_t l = 0; l < lines; ++l) {
    if (l > 0) out += ',';
    out += '[';
    out += std::to_string(1 + w.pick(20));
    out += ',';
    w.number(w.amount() / 10);
    out += ',';
    w.number(w.amount());
    out += ",19]";
  }
  out += "]},\"amountsOriginal\":{\"currency\":\"CHF\",\"gross\":";
  w.number(w.amount());
  out += ",\"rate\":1.0";
  out += std::to_string(100000 + w.pick(900000));
  out += ",\"fee\":-0.0,\"scale\":1e-2}";
  out += ",\"tags\":[";
  const std::size_t tags = w.pick(8);
  for (std::size_t t = 0; t < tags; ++t) {
    if (t > 0) out += ',';
    out += std::to_string(w.pick(5000));
  }
  out += "],\"isPaid\":true,\"isCredit\":false,\"asset\":";
  writeAssetPath(w, shape);
  out.pop_back();
  out += ",\"size\":";
  out += std::to_string(20000 + w.pick(2000000));
  out += ",\"pages\":";
  out += std::to_string(1 + w.pick(4));
  out += "}}";
}

// An item whose kept "tags" hold 18 million empty objects and arrays (54 MB).
void writeTinyValuesItem(Writer& w, const SyntheticExportShape& shape) {
  std::string& out = w.out();
  out += "{\"id\":\"";
  w.uuid();
  out += "\",\"asset\":";
  writeAssetPath(w, shape);
  out += ",\"tags\":[";
  for (std::size_t i = 0; i < 9000000; ++i) out += i == 0 ? "{},[]" : ",{},[]";
  out += "]}";
}

}  // namespace

std::size_t defaultItems(ExportKind kind) {
  switch (kind) {
    case ExportKind::receipts:
      return 50000;
    case ExportKind::droppedStrings:
      return 9000;
    case ExportKind::keptNumbers:
      return 150000;
    case ExportKind::tinyValues:
      return 1;
  }
  return 0;
}

std::string syntheticExport(const SyntheticExportShape& shape) {
  Writer w(shape.seed);
  std::string& out = w.out();
  out +=
      "{\"version\":3,\"generator\":\"Kettle Ledger "
      "4.2\",\"libraryName\":\"Business EUR\",\"items\":[";
  for (std::size_t i = 0; i < shape.items; ++i) {
    if (i > 0) out += ',';
    switch (shape.kind) {
      case ExportKind::receipts:
        writeItem(w, shape);
        break;
      case ExportKind::droppedStrings:
        writeDroppedStringsItem(w, shape);
        break;
      case ExportKind::keptNumbers:
        writeKeptNumbersItem(w, shape, i);
        break;
      case ExportKind::tinyValues:
        writeTinyValuesItem(w, shape);
        break;
    }
  }
  out +=
      "],\"categories\":[\"Travel/Train\",\"Meals\",\"Office/"
      "Supplies\"],\"settings\":{\"baseCurrency\":\"EUR\"}}";
  return std::move(out);
}

}  // namespace quillory::bench
