#include "reduce/formula.h"

#include <gemmi/elem.hpp>

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace kalvex::reduce {
namespace {

// The element a symbol of one or two letters names, in any case; empty when
// it names none.
std::string ElementName(std::string_view letters) {
  if (letters.empty() || letters.size() > 2) return {};
  const std::string symbol(letters);
  const gemmi::El el = gemmi::find_element(symbol.c_str());
  if (el == gemmi::El::X) return {};
  return gemmi::element_name(el);
}

// A count after an element: digits with at most one point; 1 when absent.
// Advances `i`; false when the number does not read.
bool ReadCount(std::string_view token, std::size_t& i, double& count) {
  const std::size_t start = i;
  while (i < token.size() && (std::isdigit(static_cast<unsigned char>(token[i])) || token[i] == '.')) ++i;
  if (i == start) {
    count = 1;
    return true;
  }
  const std::string text(token.substr(start, i - start));
  char* end = nullptr;
  count = std::strtod(text.c_str(), &end);
  return *end == '\0' && count > 0;
}

// "C12H10N2O": each element a capital and perhaps a small letter.
bool ReadCamelCase(std::string_view token, std::vector<FormulaElement>& out) {
  std::size_t i = 0;
  while (i < token.size()) {
    if (!std::isupper(static_cast<unsigned char>(token[i]))) return false;
    std::size_t n = 1;
    if (i + 1 < token.size() && std::islower(static_cast<unsigned char>(token[i + 1]))) n = 2;
    const std::string name = ElementName(token.substr(i, n));
    i += n;
    double count = 0;
    if (name.empty() || !ReadCount(token, i, count)) return false;
    out.push_back({name, count});
  }
  return true;
}

// "CL2": letters and a count, one element whatever the case.
bool ReadSingle(std::string_view token, std::vector<FormulaElement>& out) {
  std::size_t i = 0;
  while (i < token.size() && std::isalpha(static_cast<unsigned char>(token[i]))) ++i;
  const std::string name = ElementName(token.substr(0, i));
  double count = 0;
  if (name.empty() || !ReadCount(token, i, count) || i != token.size()) return false;
  out.push_back({name, count});
  return true;
}

}  // namespace

std::vector<FormulaElement> ParseFormula(std::string_view text, std::string& error) {
  std::vector<FormulaElement> read;
  std::size_t i = 0;
  while (i < text.size()) {
    if (std::isspace(static_cast<unsigned char>(text[i])) || text[i] == ',') {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end])) && text[end] != ',') ++end;
    const std::string_view token = text.substr(i, end - i);
    // Capitals alone, as SHELX writes them ("CL2"), name one element when
    // they can; otherwise each capital starts an element.
    const bool capitals = std::none_of(token.begin(), token.end(), [](char c) { return std::islower(static_cast<unsigned char>(c)); });
    std::vector<FormulaElement> part;
    if (!(capitals && ReadSingle(token, part))) {
      part.clear();
      if (!ReadCamelCase(token, part)) {
        error = "'" + std::string(token) + "' in the formula names no element";
        return {};
      }
    }
    read.insert(read.end(), part.begin(), part.end());
    i = end;
  }
  std::vector<FormulaElement> out;
  for (const FormulaElement& e : read) {
    auto same = out.begin();
    while (same != out.end() && same->symbol != e.symbol) ++same;
    if (same == out.end())
      out.push_back(e);
    else
      same->count += e.count;
  }
  if (out.empty()) error = "the formula is empty";
  return out;
}

}  // namespace kalvex::reduce
