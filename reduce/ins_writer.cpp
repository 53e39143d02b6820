#include "reduce/ins_writer.h"

#include "reduce/absences.h"

#include <gemmi/symmetry.hpp>
#include <gemmi/unitcell.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kalvex::reduce {
namespace {

constexpr int kDen = gemmi::Op::DEN;
constexpr std::size_t kLineWidth = 80;
constexpr double kVolumePerAtom = 18;

std::string Format(const char* format, double value) {
  char text[48];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// A count or a fraction of the cell: whole numbers without decimals.
std::string Count(double value) {
  if (std::fabs(value - std::round(value)) < 1e-6) return Format("%.0f", value);
  std::string text = Format("%.2f", value);
  while (text.back() == '0') text.pop_back();
  return text;
}

// One row of an operator: "0.5-X", "X-Y", "0.33333+Z".
std::string Row(const gemmi::Op& op, int i) {
  std::string text;
  const int t = ((op.tran[i] % kDen) + kDen) % kDen;
  if (t != 0) {
    text = Format("%.5f", static_cast<double>(t) / kDen);
    while (text.back() == '0') text.pop_back();
  }
  for (int j = 0; j < 3; ++j) {
    const int c = op.rot[i][j] / kDen;
    if (c == 0) continue;
    if (c < 0)
      text += '-';
    else if (!text.empty())
      text += '+';
    if (std::abs(c) != 1) text += std::to_string(std::abs(c)) + "*";
    text += "XYZ"[j];
  }
  return text.empty() ? "0" : text;
}

int LattNumber(char centring) {
  switch (centring) {
    case 'I': return 2;
    case 'R': return 3;
    case 'F': return 4;
    case 'A': return 5;
    case 'B': return 6;
    case 'C': return 7;
    default: return 1;
  }
}

}  // namespace

std::vector<std::string> InsFile(const InsContents& in) {
  if (in.group == nullptr) return {};
  const gemmi::GroupOps ops = in.group->operations();
  const CellVector& c = in.cell;
  const CellVector& e = in.cell_esd;
  std::vector<std::string> lines;
  std::string title = "TITL " + in.title + " in " + in.group->xhm();
  if (title.size() > kLineWidth) title.resize(kLineWidth);
  lines.push_back(title);
  lines.push_back("CELL " + Format("%.5f", in.wavelength) + Format(" %.4f", c[0]) + Format(" %.4f", c[1]) +
                  Format(" %.4f", c[2]) + Format(" %.3f", c[3]) + Format(" %.3f", c[4]) + Format(" %.3f", c[5]));
  lines.push_back("ZERR " + std::to_string(in.z) + Format(" %.4f", e[0]) + Format(" %.4f", e[1]) +
                  Format(" %.4f", e[2]) + Format(" %.3f", e[3]) + Format(" %.3f", e[4]) + Format(" %.3f", e[5]));
  const bool centred_origin = CentreAtOrigin(ops);
  const int latt = LattNumber(in.group->centring_type());
  lines.push_back("LATT " + std::to_string(centred_origin ? latt : -latt));
  for (std::size_t k = 1; k < ops.sym_ops.size(); ++k) {
    const gemmi::Op& op = ops.sym_ops[k];
    if (centred_origin && op.det_rot() < 0) continue;  // made by the centre of symmetry
    lines.push_back("SYMM " + Row(op, 0) + ", " + Row(op, 1) + ", " + Row(op, 2));
  }

  // Carbon and hydrogen first, the rest in alphabetical order.
  std::vector<FormulaElement> atoms = in.formula;
  std::string rem;
  if (atoms.empty()) {
    const gemmi::UnitCell uc(c[0], c[1], c[2], c[3], c[4], c[5]);
    atoms.push_back({"C", std::round(uc.volume / kVolumePerAtom) / std::max(in.z, 1)});
    rem = "REM no formula given: carbon for one atom per 18 A^3";
  }
  const auto rank = [](const std::string& s) { return s == "C" ? 0 : s == "H" ? 1 : 2; };
  const bool carbon = std::any_of(atoms.begin(), atoms.end(), [](const FormulaElement& a) { return a.symbol == "C"; });
  std::stable_sort(atoms.begin(), atoms.end(), [&](const FormulaElement& a, const FormulaElement& b) {
    const int ra = carbon ? rank(a.symbol) : 2, rb = carbon ? rank(b.symbol) : 2;
    return ra != rb ? ra < rb : a.symbol < b.symbol;
  });
  if (!rem.empty()) lines.push_back(rem);
  std::string sfac = "SFAC", unit = "UNIT";
  for (const FormulaElement& a : atoms) {
    sfac += " " + a.symbol;
    unit += " " + Count(a.count * in.z);
  }
  lines.push_back(sfac);
  lines.push_back(unit);
  lines.push_back("HKLF 4");
  lines.push_back("END");
  return lines;
}

}  // namespace kalvex::reduce
