// The whole chain on simulated data sets of known F^2: simulate, kalvex
// integrate, reduce. The HKLF 4 file is read back by a reader of this test's
// own, the CIF by gemmi.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <gemmi/cif.hpp>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "engine/reduction.h"
#include "tests/support/headless.h"
#include "tools/simulate/simulate.h"

namespace kalvex {
namespace {

namespace fs = std::filesystem;
using engine::ReductionOutcome;
using engine::ReductionRequest;
using engine::RunReduction;
using V3 = std::array<double, 3>;

struct HklfRow {
  std::array<int, 3> hkl{};
  double intensity = 0, sigma = 0;
  int batch = 0;
  std::array<double, 6> cosines{};
};

// 3I4, 2F8.2, I4, 6F8.5 by columns, as a refinement program reads them.
std::vector<HklfRow> ReadHklf(const fs::path& path, bool& ended) {
  std::ifstream in(path);
  std::vector<HklfRow> rows;
  ended = false;
  for (std::string line; std::getline(in, line);) {
    HklfRow r;
    for (int i = 0; i < 3; ++i) r.hkl[i] = std::stoi(line.substr(4 * i, 4));
    if (r.hkl == std::array<int, 3>{0, 0, 0}) {
      ended = !std::getline(in, line);
      break;
    }
    r.intensity = std::stod(line.substr(12, 8));
    r.sigma = std::stod(line.substr(20, 8));
    r.batch = std::stoi(line.substr(28, 4));
    for (int j = 0; j < 6 && line.size() >= 40u + 8 * j; ++j) r.cosines[j] = std::stod(line.substr(32 + 8 * j, 8));
    rows.push_back(r);
  }
  return rows;
}

struct Chain {
  simulate::DataSet set;
  ReductionRequest request;
  ReductionOutcome outcome;
  std::vector<HklfRow> hklf;
  bool ended = false;
  fs::path dir;
};

Chain RunChain(const std::string& name, const simulate::Cell& cell, const std::string& laue, double dihedral) {
  Chain c;
  c.dir = testing::ScratchDir(name);
  simulate::GeneratorOptions g;
  g.reflections = 10000;  // every unique reflection to 1.3 Angstrom
  g.d_min = 1.3;
  g.equivalents = laue;
  g.decay_percent = 10;
  g.from_f_squared = true;
  g.seed = 11;
  simulate::Instrument instrument;  // monochromator at 12.16 degrees
  instrument.dihedral = dihedral;
  c.set = simulate::Generate({cell, {12, -25, 40}}, instrument, {}, {}, g);
  std::string error;
  EXPECT_TRUE(simulate::WriteXcalibur(c.set, c.dir / "set.dca", error) &&
              simulate::WriteParameterFile(c.set, c.dir / "set.par", error))
      << error;
  const std::string command = std::string(KALVEX_COMMAND) + " integrate " + (c.dir / "set.dca").string() +
                              " --par " + (c.dir / "set.par").string() + " --quiet > /dev/null";
  EXPECT_EQ(std::system(command.c_str()), 0);
  ReductionRequest request;
  request.intensity_file = (c.dir / "set.int").string();
  request.parameter_file = (c.dir / "set.par").string();
  request.cosines = true;
  request.batch_from_scale_groups = true;
  c.request = request;
  c.outcome = RunReduction(request);
  EXPECT_EQ(c.outcome.status, 0) << c.outcome.error;
  c.hklf = ReadHklf(c.dir / "set.hkl", c.ended);
  return c;
}

// The solution x of M^T x = b, M's columns the unit reciprocal axes.
V3 FromCosines(const std::array<V3, 3>& axes, const V3& b) {
  const auto& [p, q, r] = axes;
  const auto cross = [](const V3& u, const V3& v) {
    return V3{u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
  };
  const auto dot = [](const V3& u, const V3& v) { return u[0] * v[0] + u[1] * v[1] + u[2] * v[2]; };
  const double det = dot(p, cross(q, r));
  const V3 a = cross(q, r), bb = cross(r, p), cc = cross(p, q);
  V3 x{};
  for (int i = 0; i < 3; ++i) x[i] = (b[0] * a[i] + b[1] * bb[i] + b[2] * cc[i]) / det;
  return x;
}

void CheckChain(const Chain& c, const std::string& true_class, const std::vector<std::string>& subgroups) {
  const reduce::Reduction& r = c.outcome.reduction;
  const double k = r.output_scale;
  ASSERT_TRUE(c.ended) << "no end record";
  std::map<std::array<int, 3>, double> f2;
  for (const simulate::SimReflection& s : c.set.reflections)
    if (s.standard_index == 0) f2[s.hkl] = s.f_squared;

  // Corrected intensities against F^2 (scale 1): the sums within 1 %, each
  // within its sigma as counting statistics allow.
  double sum = 0, sum_true = 0, z2 = 0;
  int within3 = 0;
  for (const HklfRow& row : c.hklf) {
    ASSERT_TRUE(f2.count(row.hkl));
    const double truth = f2[row.hkl];
    sum += row.intensity / k;
    sum_true += truth;
    const double z = (row.intensity - k * truth) / row.sigma;
    z2 += z * z;
    within3 += std::fabs(z) < 3;
  }
  const double n = static_cast<double>(c.hklf.size());
  std::printf("%zu reflections: sum I / sum F^2 %.4f, rms z %.3f, |z| < 3 for %.1f %%\n", c.hklf.size(),
              sum / sum_true, std::sqrt(z2 / n), 100 * within3 / n);
  EXPECT_NEAR(sum / sum_true, 1.0, 0.01);
  EXPECT_LT(std::sqrt(z2 / n), 1.5);
  EXPECT_GT(within3 / n, 0.95);

  // Standards after the correction: flat within their sigma.
  std::map<int, std::vector<std::pair<double, double>>> standards;
  for (const auto& x : r.reflections)
    if (r.Record(x).IsStandard()) standards[r.Record(x).standard_index].push_back({x.intensity, x.sigma});
  double chi2 = 0;
  int terms = 0;
  for (const auto& [index, values] : standards) {
    double sw = 0, swi = 0;
    for (auto [i, s] : values) sw += 1 / (s * s), swi += i / (s * s);
    for (auto [i, s] : values) chi2 += std::pow((i - swi / sw) / s, 2), ++terms;
    terms -= 1;
  }
  std::printf("standards: chi^2 / %d = %.3f about their means after the correction\n", terms, chi2 / terms);
  EXPECT_LT(chi2 / terms, 2.0);
  EXPECT_NEAR(r.decay.start_to_finish_percent, 10.0, 0.6);

  // The cell: the simulated one within 3 ESDs, as refined.
  const reduce::Cell7& cell = c.outcome.cell.cell;
  const reduce::Cell7& esd = c.outcome.cell.esd;
  const simulate::Cell& t = c.set.crystal.cell;
  const double truth_cell[6] = {t.a, t.b, t.c, t.alpha, t.beta, t.gamma};
  for (int i = 0; i < 6; ++i) {
    std::printf("cell %d: %.6f (%.6f), %.2f ESDs off\n", i, cell[i], esd[i], (cell[i] - truth_cell[i]) / esd[i]);
    EXPECT_LT(std::fabs(cell[i] - truth_cell[i]), 3 * esd[i]) << i;
  }

  // The CIF, read by gemmi, holds what a checker asks of a data reduction
  // and one loop row a measurement.
  gemmi::cif::Document doc = gemmi::cif::read_file(c.outcome.cif_file);
  gemmi::cif::Block& block = doc.blocks.at(0);
  for (const char* tag :
       {"_cell_measurement_reflns_used", "_cell_measurement_theta_min", "_diffrn_reflns_theta_full",
        "_diffrn_measured_fraction_theta_max", "_diffrn_measured_fraction_theta_full", "_diffrn_ambient_temperature",
        "_cell_measurement_temperature", "_diffrn_radiation_type", "_diffrn_radiation_monochromator",
        "_diffrn_radiation_polarisn_ratio", "_diffrn_measurement_device_type", "_diffrn_source",
        "_computing_cell_refinement", "_computing_data_reduction", "_reflns_number_total", "_reflns_number_gt",
        "_reflns_threshold_expression", "_diffrn_orient_matrix_UB_11", "_diffrn_orient_matrix_UB_33",
        "_audit_creation_method", "_diffrn_reflns_av_unetI/netI"})
    EXPECT_NE(block.find_value(tag), nullptr) << tag;
  EXPECT_NEAR(std::stod(*block.find_value("_cell_length_a")), cell[0], 1e-5);
  EXPECT_EQ(std::stoi(*block.find_value("_cell_measurement_reflns_used")), c.outcome.cell_reflections);
  EXPECT_EQ(std::stoi(*block.find_value("_diffrn_reflns_number")), static_cast<int>(n));
  EXPECT_NEAR(std::stod(*block.find_value("_diffrn_standards_decay_%")), 10.0, 0.6);
  // Every reflection to the limit was simulated: the set is complete.
  EXPECT_NEAR(std::stod(*block.find_value("_diffrn_measured_fraction_theta_max")), 1.0, 0.005);
  const double polarisation = std::pow(std::cos(c.set.instrument.mono_2theta * M_PI / 180), 2);
  EXPECT_NEAR(std::stod(*block.find_value("_diffrn_radiation_polarisn_ratio")), 1 / polarisation, 1e-4);
  const auto standard_loop = block.find("_diffrn_standard_refln_", {"index_h", "index_k", "index_l"});
  EXPECT_EQ(standard_loop.length(), static_cast<int>(c.set.standards.size()));
  auto refln = block.find(
      "_diffrn_refln_", {"index_h", "index_k", "index_l", "angle_theta", "angle_omega", "angle_chi", "angle_phi",
                         "intensity_net", "intensity_u", "scale_group_code", "standard_code", "class_code"});
  EXPECT_EQ(refln.length(), static_cast<int>(r.reflections.size()));

  // The true class comes first; only its subgroups merge as well.
  ASSERT_FALSE(r.table.empty());
  EXPECT_EQ(r.table.front().label, true_class);
  EXPECT_EQ(r.chosen, 0u);
  for (const auto& m : r.table) {
    if (m.label == true_class) continue;
    const bool subgroup = std::find(subgroups.begin(), subgroups.end(), m.label) != subgroups.end();
    if (!subgroup) {
      EXPECT_GT(m.r_int, 10 * r.table.front().r_int) << m.label;
    }
  }

  // Direction cosines: the two beams are unit vectors 180 - 2theta apart
  // and add up to lambda UB h.
  const Mat3& ub = c.outcome.orientation.ub;
  std::array<V3, 3> axes{};
  for (int j = 0; j < 3; ++j) {
    const double length = std::sqrt(ub[0][j] * ub[0][j] + ub[1][j] * ub[1][j] + ub[2][j] * ub[2][j]);
    for (int i = 0; i < 3; ++i) axes[j][i] = ub[i][j] / length;
  }
  const double lambda = c.set.instrument.lambda1;
  double worst = 0;
  for (const HklfRow& row : c.hklf) {
    V3 s{};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) s[i] += ub[i][j] * row.hkl[j];
    const auto& cs = row.cosines;
    const V3 incident = FromCosines(axes, {cs[0], cs[2], cs[4]});
    const V3 diffracted = FromCosines(axes, {cs[1], cs[3], cs[5]});
    const double sin_theta = lambda * std::sqrt(s[0] * s[0] + s[1] * s[1] + s[2] * s[2]) / 2;
    double dot = 0, ni = 0, nd = 0;
    for (int i = 0; i < 3; ++i) {
      worst = std::max(worst, std::fabs((incident[i] + diffracted[i]) / lambda - s[i]));
      dot += incident[i] * diffracted[i], ni += incident[i] * incident[i], nd += diffracted[i] * diffracted[i];
    }
    EXPECT_NEAR(ni, 1.0, 1e-4);
    EXPECT_NEAR(nd, 1.0, 1e-4);
    EXPECT_NEAR(dot, -(1 - 2 * sin_theta * sin_theta), 1e-4);  // -cos 2theta
  }
  EXPECT_LT(worst, 3e-5);  // 1/Angstrom: the rounding of F8.5

  // Batches are the scale groups: 1 .. rounds - 1.
  int highest = 0;
  for (const HklfRow& row : c.hklf) highest = std::max(highest, row.batch);
  EXPECT_EQ(highest, static_cast<int>(r.decay.rounds.size()) - 1);
}

std::string Text(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

std::string FileText(const fs::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(ReduceChain, OrthorhombicOnAPseudoTetragonalCell) {
  const Chain c = RunChain("reduce_mmm", {9.0, 9.0, 13.7, 90, 90, 90}, "mmm", 0.0);
  CheckChain(c, "mmm", {"-1", "2/m (a unique)", "2/m (b unique)", "2/m (c unique)"});

  // What the data contradict is refused with the counts or the misfit, and
  // the files of the run before stay as they were.
  const std::string hkl_before = FileText(c.dir / "set.hkl");
  ReductionRequest request = c.request;
  request.laue = "C2/m";
  ReductionOutcome refused = RunReduction(request);
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.error.find("centring forbids"), std::string::npos) << refused.error;
  EXPECT_NE(refused.error.find("of them have I > 3 sigma"), std::string::npos);
  request.laue = "Fm-3m";
  refused = RunReduction(request);
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.error.find("does not fit the refined cell"), std::string::npos) << refused.error;
  EXPECT_EQ(FileText(c.dir / "set.hkl"), hkl_before);
  // A wavelength no diffractometer uses made a cell of length 0.
  std::string par = FileText(c.dir / "set.par");
  const std::size_t wavel = par.find("WAVEL");
  ASSERT_NE(wavel, std::string::npos);
  par.replace(wavel + 13, 8, "  1.0E-9");
  std::ofstream(c.dir / "tiny.par") << par;
  request.laue.clear();
  request.parameter_file = (c.dir / "tiny.par").string();
  refused = RunReduction(request);
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.error.find("the wavelength (WAVEL) 1e-09 Angstrom is no diffractometer's"), std::string::npos)
      << refused.error;
  request.parameter_file = c.request.parameter_file;
  // A system the cell does not have is held, and its misfit shown.
  request.laue.clear();
  request.crystal_system = 6;
  const ReductionOutcome cubic = RunReduction(request);
  EXPECT_NE(Text(cubic.summary).find("Warning: the free cell does not have this system's metric"), std::string::npos);
}

// Random intensities in a hexagonal metric, each reflection once: no class
// beyond -1 merges, and the summary and the CIF say so.
TEST(ReduceChain, DataWithoutSymmetrySaySo) {
  const Chain c = RunChain("reduce_none", {6.0, 6.0, 9.0, 90, 90, 120}, "", 0.0);
  const reduce::Reduction& r = c.outcome.reduction;
  ASSERT_EQ(c.outcome.status, 0);
  EXPECT_TRUE(r.no_symmetry);
  EXPECT_NE(r.table.front().label, "-1");
  EXPECT_GT(r.table.front().r_int, reduce::kNoSymmetryRInt);
  EXPECT_EQ(r.table[r.chosen].label, "-1");
  EXPECT_NE(Text(c.outcome.summary).find("No symmetry found; -1"), std::string::npos);
  gemmi::cif::Document doc = gemmi::cif::read_file(c.outcome.cif_file);
  EXPECT_EQ(gemmi::cif::as_string(*doc.blocks.at(0).find_value("_space_group_crystal_system")), "triclinic");
  EXPECT_NE(FileText(c.outcome.cif_file).find("Laue class -1 (no higher symmetry found)"), std::string::npos);
}

TEST(ReduceChain, MonoclinicOnAPseudoOrthorhombicCell) {
  const Chain c = RunChain("reduce_2m", {7.5, 9.8, 11.3, 90, 90, 90}, "2/m", 90.0);
  CheckChain(c, "2/m (b unique)", {"-1"});
}

TEST(ReduceChain, MonoclinicWithItsAngleAwayFromNinety) {
  const Chain c = RunChain("reduce_2m_beta", {7.5, 9.8, 11.3, 90, 101.5, 90}, "2/m", 30.0);
  CheckChain(c, "2/m (b unique)", {"-1"});
}

}  // namespace
}  // namespace kalvex
