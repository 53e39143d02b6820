#include "reduce/cif_writer.h"

#define GEMMI_WRITE_IMPLEMENTATION
#include <gemmi/cifdoc.hpp>
#include <gemmi/symmetry.hpp>
#include <gemmi/to_cif.hpp>

#include <cmath>

#include "common/fixed_fields.h"

namespace kalvex::reduce {

namespace {

std::string Fixed(double value, int decimals) { return fields::Printf("%.*f", std::max(decimals, 0), value); }

std::string Number(double value, int decimals) {
  std::string text = Fixed(value, decimals);
  if (text.find('.') != std::string::npos) {
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') text.pop_back();
  }
  return text == "-0" ? "0" : text;
}

}  // namespace

std::string WithUncertainty(double value, double uncertainty, int decimals) {
  // A parameter the refinement held (a constrained angle) has an uncertainty
  // at the level of single-precision rounding only.
  if (!(uncertainty > 1.0e-7 * std::max(1.0, std::fabs(value))) || !std::isfinite(uncertainty))
    return Number(value, decimals);
  int places = -static_cast<int>(std::floor(std::log10(uncertainty)));
  // Two digits when they would start with 1, one otherwise.
  if (std::llround(uncertainty * std::pow(10.0, places + 1)) < 20) ++places;
  if (places <= 0) return Fixed(value, 0) + "(" + std::to_string(std::llround(uncertainty)) + ")";
  return Fixed(value, places) + "(" + std::to_string(std::llround(uncertainty * std::pow(10.0, places))) + ")";
}

void WriteCif(const CifContents& c, std::ostream& out) {
  namespace cif = gemmi::cif;
  cif::Document doc;
  doc.blocks.emplace_back(c.block);
  cif::Block& b = doc.blocks.back();
  // "?" is the CIF's unknown value, not a text.
  auto pair = [&b](const std::string& tag, const std::string& value) {
    b.set_pair(tag, value == "?" ? value : cif::quote(value));
  };
  auto integer = [&pair](const std::string& tag, long long v) { pair(tag, std::to_string(v)); };

  const char* lengths[3] = {"_cell_length_a", "_cell_length_b", "_cell_length_c"};
  const char* angles[3] = {"_cell_angle_alpha", "_cell_angle_beta", "_cell_angle_gamma"};
  for (int i = 0; i < 3; ++i) pair(lengths[i], WithUncertainty(c.cell[i], c.cell_esd[i], 5));
  for (int i = 0; i < 3; ++i) pair(angles[i], WithUncertainty(c.cell[3 + i], c.cell_esd[3 + i], 3));
  pair("_cell_volume", WithUncertainty(c.cell[6], c.cell_esd[6], 3));
  integer("_cell_measurement_reflns_used", c.cell_reflections);
  pair("_cell_measurement_theta_min", Number(c.cell_theta_min, 3));
  pair("_cell_measurement_theta_max", Number(c.cell_theta_max, 3));

  if (c.laue != nullptr) {
    pair("_space_group_crystal_system", c.laue->CrystalSystem());
    if (c.laue->space_group_named) {
      const gemmi::SpaceGroup& sg = *c.laue->group;
      pair("_space_group_name_H-M_alt", sg.xhm());
      integer("_space_group_IT_number", sg.number);
      cif::Loop& ops = b.init_loop("_space_group_symop_", {"operation_xyz"});
      for (const gemmi::Op& op : sg.operations()) ops.add_row({cif::quote(op.triplet())});
    }
  }

  pair("_diffrn_radiation_wavelength", Number(c.wavelength, 5));
  pair("_diffrn_measurement_method", "\\w scans");
  integer("_diffrn_standards_number", static_cast<long long>(c.standards.size()));
  integer("_diffrn_standards_interval_count", c.standards_interval);
  pair("_diffrn_standards_decay_%", c.decay_percent ? Number(*c.decay_percent, 2) : "?");
  cif::Loop& standards = b.init_loop("_diffrn_standard_refln_", {"code", "index_h", "index_k", "index_l"});
  for (const auto& [code, hkl] : c.standards)
    standards.add_row({std::to_string(code), std::to_string(hkl[0]), std::to_string(hkl[1]), std::to_string(hkl[2])});

  integer("_diffrn_reflns_number", c.reflections_number);
  pair("_diffrn_reflns_av_R_equivalents", c.r_int ? Number(*c.r_int, 4) : "?");
  pair("_diffrn_reflns_av_sigmaI/netI", Number(c.r_sigma, 4));
  const char* axes = "hkl";
  for (int i = 0; i < 3; ++i) {
    integer(std::string("_diffrn_reflns_limit_") + axes[i] + "_min", c.h_min[i]);
    integer(std::string("_diffrn_reflns_limit_") + axes[i] + "_max", c.h_max[i]);
  }
  pair("_diffrn_reflns_theta_min", Number(c.theta_min, 3));
  pair("_diffrn_reflns_theta_max", Number(c.theta_max, 3));
  pair("_diffrn_reflns_reduction_process", c.reduction_process);
  pair("_exptl_absorpt_correction_type", "none");

  cif::Loop& loop = b.init_loop("_diffrn_refln_",
                                {"index_h", "index_k", "index_l", "angle_2theta", "angle_omega", "angle_chi",
                                 "angle_phi", "intensity_net", "intensity_sigma", "scale_group_code",
                                 "standard_code", "class_code"});
  for (const CifReflection& r : c.reflections) {
    std::vector<std::string> row;
    for (int v : r.hkl) row.push_back(std::to_string(v));
    for (double a : r.angles) row.push_back(Fixed(a, 3));
    row.push_back(Fixed(r.intensity, 2));
    row.push_back(Fixed(r.sigma, 2));
    row.push_back(std::to_string(r.scale_group));
    row.push_back(r.standard > 0 ? std::to_string(r.standard) : ".");
    row.push_back(cif::quote(r.class_code));
    loop.add_row(row);
  }
  cif::write_cif_to_stream(out, doc, cif::Style::Simple);
}

}  // namespace kalvex::reduce
