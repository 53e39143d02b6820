#include "reduce/cif_writer.h"

#include <gemmi/cifdoc.hpp>
#include <gemmi/symmetry.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>

#include "common/fixed_fields.h"

namespace kalvex::reduce {

namespace {

// A flush of the text every megabyte: the loop of a large data set is
// written as it is made.
constexpr std::size_t kChunk = 1 << 20;

std::string Fixed(double value, int decimals) { return fields::Printf("%.*f", std::max(decimals, 0), value); }

std::string Number(double value, int decimals) {
  std::string text = Fixed(value, decimals);
  if (text.find('.') != std::string::npos) {
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') text.pop_back();
  }
  return text == "-0" ? "0" : text;
}

// Appends `value` with `decimals` places; a value that rounds to zero
// without its sign.
void AppendFixed(std::string& text, double value, int decimals) {
  char buffer[64];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  std::string_view s(buffer, error == std::errc() ? static_cast<std::size_t>(end - buffer) : 0);
  if (!s.empty() && s.front() == '-' && s.find_first_not_of("-0.") == std::string_view::npos) s.remove_prefix(1);
  text.append(s.empty() ? std::string_view("?") : s);
}

class Writer {
 public:
  explicit Writer(const TextOut& out) : out_(out) {}
  ~Writer() { Flush(); }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  void Line(std::string_view line) {
    text_.append(line);
    text_.push_back('\n');
    if (text_.size() > kChunk) Flush();
  }
  // "?" and "." are the CIF's unknown and inapplicable values, not texts.
  void Pair(const std::string& tag, const std::string& value) {
    const bool bare = value == "?" || value == ".";
    const std::string quoted = bare ? value : gemmi::cif::quote(value);
    // A long text goes on a line of its own, or between semicolons.
    if (quoted.find('\n') != std::string::npos) {
      Line(tag);
      Line(quoted);
    } else if (tag.size() + quoted.size() + 1 > 80) {
      Line(tag);
      if (quoted.size() > 78) {
        Line(";" + value);
        Line(";");
      } else {
        Line(quoted);
      }
    } else {
      Line(tag + " " + quoted);
    }
  }
  void Integer(const std::string& tag, long long v) { Line(tag + " " + std::to_string(v)); }
  std::string& Text() { return text_; }
  void Flush() {
    if (!text_.empty()) out_(text_);
    text_.clear();
  }

 private:
  const TextOut& out_;
  std::string text_;
};

}  // namespace

std::string WithUncertainty(double value, double uncertainty, int decimals) {
  // A parameter the refinement held (a constrained angle) has an uncertainty
  // at the level of rounding only.
  if (!(uncertainty > 1.0e-9 * std::max(1.0, std::fabs(value))) || !std::isfinite(uncertainty))
    return Number(value, decimals);
  int places = -static_cast<int>(std::floor(std::log10(uncertainty)));
  // Two digits when they would start with 1, one otherwise.
  if (std::llround(uncertainty * std::pow(10.0, places + 1)) < 20) ++places;
  if (places <= 0) return Fixed(value, 0) + "(" + std::to_string(std::llround(uncertainty)) + ")";
  return Fixed(value, places) + "(" + std::to_string(std::llround(uncertainty * std::pow(10.0, places))) + ")";
}

std::string BlockName(std::string_view stem) {
  std::string name;
  for (char c : stem.substr(0, 70)) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                       c == '-' || c == '_';
    name.push_back(plain ? c : '_');
  }
  return name.empty() ? "kalvex" : name;
}

void WriteCif(const CifContents& c, const TextOut& out) {
  Writer w(out);
  auto pair = [&w](const std::string& tag, const std::string& value) { w.Pair(tag, value); };
  auto integer = [&w](const std::string& tag, long long v) { w.Integer(tag, v); };
  auto known = [](const std::optional<double>& v, int decimals) { return v ? Number(*v, decimals) : std::string("?"); };

  w.Line("data_" + c.block);
  pair("_audit_creation_method", c.program);
  pair("_computing_cell_refinement", c.program);
  pair("_computing_data_reduction", c.program);
  w.Line("");

  const char* lengths[3] = {"_cell_length_a", "_cell_length_b", "_cell_length_c"};
  const char* angles[3] = {"_cell_angle_alpha", "_cell_angle_beta", "_cell_angle_gamma"};
  for (int i = 0; i < 3; ++i) pair(lengths[i], WithUncertainty(c.cell[i], c.cell_esd[i], 5));
  for (int i = 0; i < 3; ++i) pair(angles[i], WithUncertainty(c.cell[3 + i], c.cell_esd[3 + i], 3));
  pair("_cell_volume", WithUncertainty(c.cell[6], c.cell_esd[6], 3));
  integer("_cell_measurement_reflns_used", c.cell_reflections);
  pair("_cell_measurement_theta_min", Number(c.cell_theta_min, 3));
  pair("_cell_measurement_theta_max", Number(c.cell_theta_max, 3));
  pair("_cell_measurement_temperature", known(c.temperature, 2));
  if (c.z) pair("_cell_formula_units_Z", Number(*c.z, 2));
  if (!c.formula.empty()) pair("_chemical_formula_sum", FormulaSum(c.formula));
  if (c.formula_weight) pair("_chemical_formula_weight", Number(*c.formula_weight, 2));
  w.Line("");

  if (!c.crystal_system.empty()) pair("_space_group_crystal_system", c.crystal_system);
  if (c.space_group != nullptr) {
    const gemmi::SpaceGroup& sg = *c.space_group;
    pair("_space_group_name_H-M_alt", sg.xhm());
    integer("_space_group_IT_number", sg.number);
    w.Line("loop_");
    w.Line("_space_group_symop_operation_xyz");
    for (const gemmi::Op& op : sg.operations()) w.Line(gemmi::cif::quote(op.triplet()));
  } else if (!c.space_group_note.empty()) {
    w.Line("# No space group: " + c.space_group_note);
  }
  w.Line("");

  if (c.density) pair("_exptl_crystal_density_diffrn", Number(*c.density, 3));
  if (c.crystal_size) {
    pair("_exptl_crystal_size_max", Number((*c.crystal_size)[0], 3));
    pair("_exptl_crystal_size_mid", Number((*c.crystal_size)[1], 3));
    pair("_exptl_crystal_size_min", Number((*c.crystal_size)[2], 3));
  }
  if (!c.faces.empty()) {
    w.Line("loop_");
    for (const char* tag : {"index_h", "index_k", "index_l", "perp_dist"}) w.Line(std::string("_exptl_crystal_face_") + tag);
    for (const CrystalFace& f : c.faces)
      w.Line(Number(f.hkl[0], 3) + " " + Number(f.hkl[1], 3) + " " + Number(f.hkl[2], 3) + " " + Number(f.distance, 4));
  }
  if (c.mu) pair("_exptl_absorpt_coefficient_mu", Number(*c.mu, 3));
  pair("_exptl_absorpt_correction_type", c.absorption_type);
  if (c.t_min) pair("_exptl_absorpt_correction_T_min", Number(*c.t_min, 4));
  if (c.t_max) pair("_exptl_absorpt_correction_T_max", Number(*c.t_max, 4));
  if (!c.absorption_details.empty()) pair("_exptl_absorpt_process_details", c.absorption_details);
  w.Line("");

  pair("_diffrn_ambient_temperature", known(c.temperature, 2));
  pair("_diffrn_radiation_type", c.radiation_type);
  pair("_diffrn_radiation_wavelength", Number(c.wavelength, 5));
  pair("_diffrn_radiation_monochromator", c.monochromator);
  pair("_diffrn_radiation_polarisn_ratio", known(c.polarisation_ratio, 4));
  pair("_diffrn_radiation_polarisn_norm", Number(c.polarisation_norm, 2));
  pair("_diffrn_source", c.source);
  pair("_diffrn_measurement_device_type", c.device);
  pair("_diffrn_measurement_method", "\\w scans");
  pair("_diffrn_orient_matrix_type", "h(phi axis frame) = UB h, reciprocal Angstrom (Busing & Levy, 1967)");
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      pair("_diffrn_orient_matrix_UB_" + std::to_string(i + 1) + std::to_string(j + 1),
           fields::Printf("%.7f", c.ub[i][j]));
  w.Line("");

  integer("_diffrn_standards_number", static_cast<long long>(c.standards.size()));
  integer("_diffrn_standards_interval_count", c.standards_interval);
  pair("_diffrn_standards_decay_%", known(c.decay_percent, 2));
  if (!c.standards.empty()) {
    w.Line("loop_");
    for (const char* tag : {"code", "index_h", "index_k", "index_l"}) w.Line(std::string("_diffrn_standard_refln_") + tag);
    for (const auto& [code, hkl] : c.standards)
      w.Line(std::to_string(code) + " " + std::to_string(hkl[0]) + " " + std::to_string(hkl[1]) + " " +
             std::to_string(hkl[2]));
  }
  w.Line("");

  integer("_diffrn_reflns_number", c.reflections_number);
  if (!c.merging_class.empty()) w.Line("# R_int among the equivalents of Laue class " + c.merging_class);
  pair("_diffrn_reflns_av_R_equivalents", known(c.r_int, 4));
  pair("_diffrn_reflns_av_unetI/netI", Number(c.r_sigma, 4));
  const char* axes = "hkl";
  for (int i = 0; i < 3; ++i) {
    integer(std::string("_diffrn_reflns_limit_") + axes[i] + "_min", c.h_min[i]);
    integer(std::string("_diffrn_reflns_limit_") + axes[i] + "_max", c.h_max[i]);
  }
  pair("_diffrn_reflns_theta_min", Number(c.theta_min, 3));
  pair("_diffrn_reflns_theta_max", Number(c.theta_max, 3));
  pair("_diffrn_reflns_theta_full", Number(c.theta_full, 3));
  pair("_diffrn_measured_fraction_theta_max", Number(c.fraction_max, 3));
  pair("_diffrn_measured_fraction_theta_full", Number(c.fraction_full, 3));
  pair("_diffrn_reflns_reduction_process", c.reduction_process);
  integer("_reflns_number_total", c.unique);
  integer("_reflns_number_gt", c.unique_gt);
  pair("_reflns_threshold_expression", "I>2\\s(I)");
  if (c.friedel_coverage) pair("_reflns_Friedel_coverage", Number(*c.friedel_coverage, 3));
  w.Line("");

  // The scale groups' intensities are already on one scale.
  w.Line("loop_");
  w.Line("_diffrn_scale_group_code");
  w.Line("_diffrn_scale_group_I_net");
  for (int g = 1; g <= c.scale_groups; ++g) w.Line(std::to_string(g) + " 1.0");
  w.Line("");
  w.Line("loop_");
  for (const char* tag : {"code", "description", "number"}) w.Line(std::string("_diffrn_reflns_class_") + tag);
  for (const ClassCount& k : c.classes) {
    const std::string_view code = k.code.View();
    w.Line(gemmi::cif::quote(std::string(code)) + " " +
           gemmi::cif::quote(fields::Printf("integration: input class %c, status %c, reason %c, attempt %c", code[0],
                                            code[1], code[2], code[3])) +
           " " + std::to_string(k.count));
  }
  w.Line("");

  w.Line("# _diffrn_refln_intensity_net: the net intensity after the standards' scale, times the output scale.");
  w.Line("# A weak reflection measured below its background has a negative net intensity; it is");
  w.Line("# written as measured, outside the dictionary's range of 0 and up, since leaving it out or");
  w.Line("# setting it to zero would bias the weak data.");
  w.Line("loop_");
  const bool standards = !c.standards.empty();
  for (const char* tag : {"index_h", "index_k", "index_l", "angle_theta", "angle_omega", "angle_chi", "angle_phi",
                          "intensity_net", "intensity_u", "scale_group_code"})
    w.Line(std::string("_diffrn_refln_") + tag);
  if (standards) w.Line("_diffrn_refln_standard_code");
  w.Line("_diffrn_refln_class_code");
  for (std::size_t i = 0; i < c.rows; ++i) {
    const CifReflection r = c.row(i);
    std::string& text = w.Text();
    for (int v : r.hkl) {
      text.append(std::to_string(v));
      text.push_back(' ');
    }
    AppendFixed(text, r.angles[0] / 2.0, 4);
    for (int k = 1; k < 4; ++k) {
      text.push_back(' ');
      AppendFixed(text, r.angles[k], 3);
    }
    // Decimals enough for two digits of the uncertainty, and the intensity to the same place.
    const int decimals =
        r.sigma > 0 ? std::clamp(2 - static_cast<int>(std::floor(std::log10(r.sigma))), 2, 6) : 2;
    text.push_back(' ');
    AppendFixed(text, r.intensity, decimals);
    text.push_back(' ');
    AppendFixed(text, r.sigma, decimals);
    text.push_back(' ');
    text.append(std::to_string(r.scale_group));
    if (standards) {
      text.push_back(' ');
      text.append(r.standard > 0 ? std::to_string(r.standard) : std::string("."));
    }
    text.append(" '");
    text.append(r.class_code.View());
    w.Line("'");
  }
}

std::string FormulaSum(std::vector<FormulaElement> formula) {
  const bool carbon = std::any_of(formula.begin(), formula.end(), [](const FormulaElement& e) { return e.symbol == "C"; });
  const auto rank = [carbon](const std::string& s) { return !carbon ? 2 : s == "C" ? 0 : s == "H" ? 1 : 2; };
  std::stable_sort(formula.begin(), formula.end(), [&](const FormulaElement& a, const FormulaElement& b) {
    return rank(a.symbol) != rank(b.symbol) ? rank(a.symbol) < rank(b.symbol) : a.symbol < b.symbol;
  });
  std::string text;
  for (const FormulaElement& e : formula)
    text += (text.empty() ? "" : " ") + e.symbol + (std::fabs(e.count - 1) < 1e-9 ? "" : Number(e.count, 3));
  return text;
}

}  // namespace kalvex::reduce
