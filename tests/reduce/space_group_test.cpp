// The space group from the data and the statistics behind it, on data sets
// the simulator makes from its own table of reflection conditions; the
// solver's instruction file read back into gemmi's operators; and the whole
// chain through kalvex integrate and kalvex reduce.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <gemmi/cif.hpp>
#include <gemmi/symmetry.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <regex>
#include <sstream>

#include "reduce/absences.h"
#include "reduce/ins_writer.h"
#include "reduce/intensity_statistics.h"
#include "reduce/shells.h"
#include "tests/support/headless.h"
#include "tools/simulate/simulate.h"

namespace kalvex::reduce {
namespace {

const gemmi::SpaceGroup& Group(const char* name) { return *gemmi::find_spacegroup_by_name(name); }

CellVector CellOf(const simulate::Cell& c) {
  return {float(c.a), float(c.b), float(c.c), float(c.alpha), float(c.beta), float(c.gamma), 0};
}

// A simulated data set, every equivalent of each unique reflection measured
// (Laue class "-1", "2/m" or "mmm"), integrated by summation of its counts
// less the true background, on the scale of F^2.
std::vector<Observation> Measure(const simulate::Cell& cell, const std::string& symbol, const std::string& laue,
                                 double b, std::uint32_t seed) {
  simulate::Crystal crystal;
  crystal.cell = cell;
  simulate::Instrument instrument;
  instrument.n_wavelengths = 1;  // no alpha2 peak leaving the scan at high angles
  simulate::GeneratorOptions o;
  o.reflections = 100000;
  o.d_min = 0.9;
  o.mean_intensity = 20000;
  o.seed = seed;
  o.space_group = symbol;
  o.wilson_b = b;
  o.from_f_squared = true;
  o.equivalents = laue;
  std::vector<Observation> out;
  for (const simulate::SimReflection& r : simulate::Generate(crystal, instrument, {}, {}, o).reflections) {
    if (r.standard_index > 0) continue;
    double sum = 0;
    for (long long count : r.counts) sum += static_cast<double>(count);
    const double to_f2 = r.step_width * r.count_scale / (r.lp * r.decay);
    out.push_back({r.hkl, (sum - r.step_count * r.truth.background) * to_f2, std::sqrt(sum) * to_f2});
  }
  return out;
}

TEST(ReduceSpaceGroup, SimulatedGroupsLeadTheirClass) {
  const simulate::Cell monoclinic{8.5, 11.2, 13.7, 90, 101.5, 90}, orthorhombic{8.5, 11.2, 13.7, 90, 90, 90},
      triclinic{7.3, 8.9, 10.4, 81, 77, 69};
  struct Case {
    const char* symbol;
    const char* expected;
    const char* laue;
    const char* equivalents;
    simulate::Cell cell;
    Centricity centricity;
    double b;
    int tie;  // groups absences cannot separate from it: C 1 c 1; P 1; P 2 2 2 and P m m 2 in three settings
  };
  const Case cases[] = {
      {"P21/c", "P 1 21/c 1", "P 1 2/m 1", "2/m", monoclinic, Centricity::kCentric, 2.5, 1},
      {"C2/c", "C 1 2/c 1", "P 1 2/m 1", "2/m", monoclinic, Centricity::kCentric, 4.0, 2},
      {"P212121", "P 21 21 21", "P m m m", "mmm", orthorhombic, Centricity::kAcentric, 3.0, 1},
      {"Pbca", "P b c a", "P m m m", "mmm", orthorhombic, Centricity::kCentric, 1.5, 1},
      {"P-1", "P -1", "P -1", "-1", triclinic, Centricity::kCentric, 3.5, 2},
      {"Pmmm", "P m m m", "P m m m", "mmm", orthorhombic, Centricity::kCentric, 2.0, 5},
  };
  const std::vector<FormulaElement> carbon{{"C", 10}};
  std::uint32_t seed = 7;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.symbol);
    const gemmi::SpaceGroup& laue = Group(c.laue);
    const std::vector<Observation> merged = MergeEquivalents(Measure(c.cell, c.symbol, c.equivalents, c.b, ++seed), laue);
    AbsenceAnalysis a = AnalyseAbsences(merged, laue, CellOf(c.cell));
    const IntensityStatistics s = AnalyseIntensities(merged, *a.groups.front().group, CellOf(c.cell), carbon, 4);
    EXPECT_EQ(s.centric.verdict, c.centricity) << s.centric.mean_abs_e2_minus_1 << " margin " << s.centric.margin;
    EXPECT_NEAR(s.wilson.b, c.b, 0.5) << "+- " << s.wilson.b_esd;
    EXPECT_LT(s.wilson.b_esd, 0.5);
    OrderTies(a, s.centric.verdict);
    EXPECT_EQ(a.groups.front().group->xhm(), c.expected);
    EXPECT_GT(a.groups.front().probability, 0.99);
    // The data's own primitive groups without screw or glide lead only
    // when nothing is absent, and the notes say so.
    const bool none = std::string(c.symbol) == "Pmmm" || std::string(c.symbol) == "P-1";
    EXPECT_EQ(a.no_absences, none);
    EXPECT_EQ(!a.notes.empty() && a.notes.front().find("no systematic absences") == 0, none);
    int leading = 0;
    for (const SpaceGroupCandidate& g : a.groups) {
      if (g.tie != 0) continue;
      ++leading;
      EXPECT_LE(g.forbidden.strong, 0.01 * g.forbidden.number) << g.group->xhm();  // noise alone
      EXPECT_TRUE(!none || (g.conditions.empty() && g.group->centring_type() == 'P')) << g.group->xhm();
    }
    EXPECT_EQ(leading, c.tie);
  }
}

TEST(ReduceSpaceGroup, ConditionsAsTheTablesPrintThem) {
  // Each condition of a group, by zone: the group's own and the centring's.
  const auto conditions = [](const char* name, const char* laue) {
    const AbsenceAnalysis a = AnalyseAbsences({}, Group(laue), {10, 11, 12, 90, 90, 90, 0});
    for (const SpaceGroupCandidate& g : a.groups)
      if (g.group->xhm() == name) {
        std::string text;
        for (int c : g.conditions) text += a.conditions[c].zone + ": " + a.conditions[c].rule + "; ";
        return text;
      }
    return std::string("absent");
  };
  EXPECT_EQ(conditions("P 1 21/c 1", "P 1 2/m 1"), "h0l: l=2n; 0k0: k=2n; ");
  EXPECT_EQ(conditions("C 1 2/c 1", "P 1 2/m 1"), "hkl: h+k=2n; h0l: h=2n, l=2n; 0k0: k=2n; ");
  EXPECT_EQ(conditions("P b c a", "P m m m"), "0kl: k=2n; h0l: l=2n; hk0: h=2n; h00: h=2n; 0k0: k=2n; 00l: l=2n; ");
  EXPECT_EQ(conditions("P n n n:2", "P m m m"), "0kl: k+l=2n; h0l: h+l=2n; hk0: h+k=2n; ");
  EXPECT_EQ(conditions("P n n n:1", "P m m m"), "absent");  // the origin with the centre stands for both
  EXPECT_EQ(conditions("P 41 21 2", "P 4/m m m"), "h00: h=2n; 0k0: k=2n; 00l: l=4n; ");
  EXPECT_EQ(conditions("P 61 2 2", "P 6/m m m"), "00l: l=6n; ");
  EXPECT_EQ(conditions("R 3:H", "P -3"), "hkl: -h+k+l=3n; 00l: l=3n; ");
  EXPECT_EQ(conditions("P 1 21 1", "P 1 2/m 1"), "0k0: k=2n; ");
  const std::vector<const gemmi::SpaceGroup*> mmm = SpaceGroupsOfLaueClass(Group("P m m m"));
  EXPECT_EQ(std::count_if(mmm.begin(), mmm.end(), [](auto g) { return g->number == 61; }), 2);  // P b c a, P c a b
  EXPECT_EQ(std::count_if(mmm.begin(), mmm.end(), [](auto g) { return g->number == 33; }), 6);  // P n a 21 in six settings
}

TEST(ReduceSpaceGroup, SimulatorRulesAgreeWithGemmi) {
  // Two formulations of the same conditions: the simulator's written out by
  // hand, gemmi's from the operators.
  for (const std::string& symbol : simulate::SpaceGroupSymbols()) {
    const gemmi::SpaceGroup* sg = gemmi::find_spacegroup_by_name(symbol);
    ASSERT_NE(sg, nullptr) << symbol;
    const gemmi::GroupOps ops = sg->operations();
    EXPECT_EQ(sg->is_centrosymmetric(), simulate::SpaceGroupCentrosymmetric(symbol)) << symbol;
    for (int h = -5; h <= 5; ++h)
      for (int k = -5; k <= 5; ++k)
        for (int l = -5; l <= 5; ++l)
          EXPECT_EQ(ops.is_systematically_absent({h, k, l}), simulate::SystematicallyAbsent(symbol, {h, k, l}))
              << symbol << " " << h << k << l;
  }
}

TEST(ReduceStatistics, WilsonDensityWithErrorIsADistribution) {
  // Area 1 and mean 1 whatever the error; without error the textbook
  // densities exp(-z) and exp(-z/2) / sqrt(2 pi z).
  for (const bool centric : {false, true}) {
    for (const double sigma : {0.3, 2.0}) {
      double area = 0, mean = 0;
      const double h = 0.01;
      for (double i = -12 * sigma; i < 40; i += h) {
        const double p = std::exp(LogWilsonDensity(i + h / 2, sigma, 1, centric));
        area += p * h;
        mean += p * h * (i + h / 2);
      }
      EXPECT_NEAR(area, 1, 1e-4) << centric << " " << sigma;
      EXPECT_NEAR(mean, 1, 1e-3) << centric << " " << sigma;
    }
    const double z = 0.7, exact = centric ? std::exp(-z / 2) / std::sqrt(2 * M_PI * z) : std::exp(-z);
    EXPECT_NEAR(std::exp(LogWilsonDensity(5 * z, 5e-4, 5, centric)), exact / 5, 1e-5);
    EXPECT_TRUE(std::isfinite(LogWilsonDensity(-400, 1, 5, centric)));  // far in the error's tail
  }
}

TEST(ReduceStatistics, LTestSeesAPerfectTwin) {
  // Acentric intensities of P 1; a perfect twin's are the mean of two
  // independent ones.
  const gemmi::SpaceGroup& p1 = Group("P 1");
  const gemmi::ReciprocalAsu asu(&p1);
  for (const bool twin : {false, true}) {
    simulate::Random random(twin ? 11 : 12);
    std::vector<Observation> data;
    for (int h = -9; h <= 9; ++h)
      for (int k = -9; k <= 9; ++k)
        for (int l = -9; l <= 9; ++l) {
          if (!asu.is_in({h, k, l}) || (h == 0 && k == 0 && l == 0)) continue;
          double i = -1000 * std::log(random.Uniform());
          if (twin) i = 0.5 * (i - 1000 * std::log(random.Uniform()));
          data.push_back({{h, k, l}, i, 5});
        }
    const IntensityStatistics s = AnalyseIntensities(data, p1, {10, 11, 12, 90, 90, 90, 0}, {}, 1);
    EXPECT_EQ(s.centric.verdict, Centricity::kAcentric);
    EXPECT_NEAR(s.l_test.mean_abs_l, twin ? 0.375 : 0.5, 0.015);
    EXPECT_NEAR(s.l_test.mean_l2, twin ? 0.2 : 1.0 / 3, 0.015);
    EXPECT_EQ(s.l_test.verdict, twin ? TwinVerdict::kTwinned : TwinVerdict::kUntwinned);
    EXPECT_TRUE(s.wilson.average_atom);
  }
}

TEST(ReduceStatistics, ShellsCountWhatTheCellAllows) {
  // A cube of 10 A out to d = 1.25 A: the unique reflections of -1 are half
  // the lattice points of a sphere of radius 8. Each is measured twice, as
  // itself and its Friedel mate, 90 and 110 with sigma 10; those with
  // 1.25 <= d < 1.45 and h odd are missing.
  const CellVector cube{10, 10, 10, 90, 90, 90, 1000};
  std::vector<Observation> data;
  int lattice = 0, missing = 0;
  for (int h = -8; h <= 8; ++h)
    for (int k = -8; k <= 8; ++k)
      for (int l = -8; l <= 8; ++l) {
        const int n2 = h * h + k * k + l * l;
        if (n2 == 0 || n2 > 64) continue;
        ++lattice;
        if (n2 * 1.45 * 1.45 > 100 && h % 2 != 0) {
          ++missing;
          continue;
        }
        const bool first_positive = h > 0 || (h == 0 && (k > 0 || (k == 0 && l > 0)));
        data.push_back({{h, k, l}, first_positive ? 90.0 : 110.0, 10});
      }
  const double lambda = 0.71073;
  const auto theta = [lambda](double d) { return std::asin(lambda / (2 * d)) * 180 / M_PI; };
  for (const char* name : {"P -1", "P 1"}) {
    const ResolutionStatistics r = StatisticsAgainstResolution(data, Group(name), cube, lambda, 10);
    const ResolutionShell& all = r.overall;
    EXPECT_EQ(all.possible, lattice / 2);
    EXPECT_EQ(all.unique, (lattice - missing) / 2);
    EXPECT_DOUBLE_EQ(all.multiplicity, 2);
    EXPECT_NEAR(all.r_int, 0.1, 1e-12);
    EXPECT_NEAR(all.r_pim, 0.1, 1e-12);
    EXPECT_NEAR(all.mean_i_over_sigma, 100 / (10 / std::sqrt(2.0)), 1e-9);
    int possible = 0;
    for (const ResolutionShell& s : r.shells) {
      possible += s.possible;
      EXPECT_NEAR(s.possible, all.possible / 10.0, 0.35 * all.possible / 10);  // equal volumes, not widths
    }
    EXPECT_EQ(possible, all.possible);
    EXPECT_DOUBLE_EQ(r.shells.front().completeness, 1);
    EXPECT_LT(r.shells.back().completeness, 0.8);
    EXPECT_NEAR(r.theta_max, theta(1.25), 1e-9);
    EXPECT_GE(r.fraction_theta_full, 0.95);
    EXPECT_GT(r.theta_full, theta(1.45));
    EXPECT_LT(r.theta_full, theta(1.25));
    EXPECT_DOUBLE_EQ(r.fraction_theta_max, all.completeness);
    // Both Friedel mates of each are measured: in P 1 they are two reflections.
    EXPECT_DOUBLE_EQ(r.friedel_coverage, std::string(name) == "P 1" ? 1 : 0);
    const ResolutionStatistics given = StatisticsAgainstResolution(data, Group(name), cube, lambda, 10, theta(1.45));
    EXPECT_DOUBLE_EQ(given.fraction_theta_full, 1);
  }
}

TEST(ReduceStatistics, FormulaReadsAsWritten) {
  std::string error;
  const auto text = [&error](const char* formula) {
    std::string out;
    for (const FormulaElement& e : ParseFormula(formula, error)) out += e.symbol + std::to_string(e.count) + " ";
    return out;
  };
  EXPECT_EQ(text("C12H10N2O"), "C12.000000 H10.000000 N2.000000 O1.000000 ");
  EXPECT_EQ(text("CL2 CU C6H6 C2"), "Cl2.000000 Cu1.000000 C8.000000 H6.000000 ");
  EXPECT_EQ(text("CH4 CO Co0.5"), "C1.000000 H4.000000 Co1.500000 ");
  EXPECT_EQ(text("C6 Qq2"), "");
  EXPECT_EQ(error, "'Qq2' in the formula names no element");
}

// The operators of an instruction file as SHELX reads them: LATT's
// centring, and with LATT > 0 each SYMM also times the centre of symmetry.
gemmi::GroupOps ReadInsSymmetry(const std::vector<std::string>& lines) {
  gemmi::GroupOps ops;
  ops.sym_ops.push_back(gemmi::Op::identity());
  int latt = 1;
  for (const std::string& line : lines) {
    if (line.rfind("LATT ", 0) == 0) latt = std::stoi(line.substr(5));
    if (line.rfind("SYMM ", 0) != 0) continue;
    gemmi::Op op{};
    std::stringstream rows(line.substr(5));
    std::string row;
    for (int i = 0; std::getline(rows, row, ','); ++i) {
      double sign = 1, number = 0;
      for (std::size_t p = 0; p < row.size(); ++p) {
        const char c = row[p];
        if (c == '+' || c == '-') sign = c == '-' ? -1 : 1;
        if (c >= 'X' && c <= 'Z') op.rot[i][c - 'X'] = static_cast<int>(sign) * gemmi::Op::DEN;
        if (std::isdigit(static_cast<unsigned char>(c))) {
          std::size_t used = 0;
          number = std::stod(row.substr(p), &used);
          op.tran[i] = static_cast<int>(std::lround(sign * number * gemmi::Op::DEN));
          p += used - 1;
        }
        if (c != ' ' && c != '+' && c != '-') sign = 1;
      }
    }
    ops.sym_ops.push_back(op.wrap());
  }
  if (latt > 0) {
    const std::size_t n = ops.sym_ops.size();
    for (std::size_t k = 0; k < n; ++k) {
      gemmi::Op inverted{ops.sym_ops[k].negated_rot(), {-ops.sym_ops[k].tran[0], -ops.sym_ops[k].tran[1], -ops.sym_ops[k].tran[2]}};
      ops.sym_ops.push_back(inverted.wrap());
    }
  }
  ops.cen_ops = gemmi::centring_vectors("PIRFABC"[std::abs(latt) - 1]);
  return ops;
}

TEST(ReduceInsFile, OperatorsReadBackToTheGroup) {
  struct Case {
    const char* group;
    int latt;
    std::size_t symm;
  };
  for (const Case& c : {Case{"P 1 21/c 1", 1, 1}, Case{"C 1 2/c 1", 7, 1}, Case{"P b c a", 1, 3},
                        Case{"P 21 21 21", -1, 3}, Case{"P -1", 1, 0}, Case{"R -3:H", 3, 2},
                        Case{"F m -3 m", 4, 23}, Case{"F d -3 m:1", -4, 47}}) {
    InsContents in;
    in.title = "test";
    in.wavelength = 0.71073;
    in.cell = {8.5f, 11.2f, 13.7f, 90, 101.5f, 90, 0};
    in.group = &Group(c.group);
    const std::vector<std::string> lines = InsFile(in);
    const gemmi::GroupOps read = ReadInsSymmetry(lines);
    EXPECT_TRUE(read.is_same_as(in.group->operations())) << c.group;
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "LATT " + std::to_string(c.latt)), 1) << c.group;
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("SYMM", 0) == 0; }),
              static_cast<long>(c.symm)) << c.group;
  }
  InsContents in;
  in.title = "crystal 7";
  in.wavelength = 0.71073;
  in.cell = {8.5f, 11.2f, 13.7f, 90, 101.5f, 90, 0};
  in.cell_esd = {0.001f, 0.0012f, 0.0014f, 0, 0.01f, 0, 0};
  in.z = 4;
  in.group = &Group("P 1 21/c 1");
  std::string error;
  in.formula = ParseFormula("O N2 H10 C12", error);
  const std::vector<std::string> expected = {"TITL crystal 7 in P 1 21/c 1",
                                             "CELL 0.71073 8.5000 11.2000 13.7000 90.000 101.500 90.000",
                                             "ZERR 4 0.0010 0.0012 0.0014 0.000 0.010 0.000",
                                             "LATT 1",
                                             "SYMM -X, 0.5+Y, 0.5-Z",
                                             "SFAC C H N O",
                                             "UNIT 48 40 8 4",
                                             "HKLF 4",
                                             "END"};
  EXPECT_EQ(InsFile(in), expected);
}

namespace fs = std::filesystem;

std::vector<std::string> Lines(const fs::path& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A set simulated and integrated by the batch command.
void MakeSet(const fs::path& dir, const simulate::Cell& cell, const simulate::GeneratorOptions& g) {
  const simulate::DataSet set = simulate::Generate({cell, {12, -25, 40}}, {}, {}, {}, g);
  std::string error;
  ASSERT_TRUE(simulate::WriteXcalibur(set, dir / "set.dca", error) &&
              simulate::WriteParameterFile(set, dir / "set.par", error))
      << error;
  ASSERT_EQ(std::system((std::string(KALVEX_COMMAND) + " integrate " + (dir / "set.dca").string() + " --par " +
                         (dir / "set.par").string() + " --quiet > /dev/null").c_str()),
            0);
}

// kalvex reduce of the set with `options`: its exit status and its summary
// with the wrapped lines joined again.
std::string Reduce(const fs::path& dir, const std::string& options, int& status) {
  const int raw = std::system((std::string(KALVEX_COMMAND) + " reduce " + (dir / "set.int").string() + " --par " +
                               (dir / "set.par").string() + " " + options + " > " + (dir / "summary").string() +
                               " 2>&1").c_str());
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  std::string text;
  for (const std::string& line : Lines(dir / "summary")) text += line + "\n";
  return std::regex_replace(text, std::regex("\n +"), " ");
}

TEST(ReduceSpaceGroup, ThroughTheBatchCommand) {
  const simulate::Cell monoclinic{8.5, 11.2, 13.7, 90, 101.5, 90}, orthorhombic{8.5, 11.2, 13.7, 90, 90, 90},
      triclinic{7.3, 8.9, 10.4, 81, 77, 69};
  struct Case {
    const char* symbol;  // simulated; "" none
    const char* expected;  // first of the ranking and, but for "", of the CIF
    const char* equivalents;
    simulate::Cell cell;
    bool centric;
    double b;
  };
  const Case cases[] = {
      {"P21/c", "P 1 21/c 1", "2/m", monoclinic, true, 2.5}, {"C2/c", "C 1 2/c 1", "2/m", monoclinic, true, 4.0},
      {"P212121", "P 21 21 21", "mmm", orthorhombic, false, 3.0}, {"Pbca", "P b c a", "mmm", orthorhombic, true, 1.5},
      {"P-1", "P -1", "-1", triclinic, true, 3.5},
      // No absences and acentric: P 2 2 2 and three settings of P m m 2 tie.
      {"", "P 2 2 2", "mmm", orthorhombic, false, 2.0},
  };
  std::uint32_t seed = 20;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.symbol);
    std::string name = *c.symbol ? c.symbol : "none";
    std::replace(name.begin(), name.end(), '/', '_');
    const fs::path dir = testing::ScratchDir("reduce_group_" + name);
    simulate::GeneratorOptions g;
    g.from_f_squared = true;
    g.reflections = 100000;  // every unique reflection to 0.9 A
    g.d_min = 0.9;
    g.mean_intensity = 20000;
    g.equivalents = c.equivalents;
    g.space_group = c.symbol;
    g.centric = c.centric;
    g.wilson_b = c.b;
    g.seed = ++seed;
    MakeSet(dir, c.cell, g);
    int status = 0;
    const std::string out =
        Reduce(dir, "--formula C10 --z 4 --ins " + (dir / "set.ins").string() + " --report " + (dir / "set.html").string(),
               status);
    ASSERT_EQ(status, 0) << out;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(out, m, std::regex("ln\\(L centric / L acentric\\) \\S+: (\\S+)")));
    EXPECT_EQ(m[1], c.centric ? "centrosymmetric" : "non-centrosymmetric");
    ASSERT_TRUE(std::regex_search(out, m, std::regex("Wilson plot: B (-?[0-9.]+)\\(")));
    EXPECT_NEAR(std::stod(m[1]), c.b, 0.5);

    // The solver's file read back: the group the ranking put first, the cell refined.
    const std::vector<std::string> ins = Lines(dir / "set.ins");
    const gemmi::SpaceGroup* read = gemmi::find_spacegroup_by_ops(ReadInsSymmetry(ins));
    ASSERT_NE(read, nullptr);
    EXPECT_TRUE(read->operations().is_same_as(Group(c.expected).operations())) << read->xhm();
    const auto cell_at = std::find_if(ins.begin(), ins.end(), [](const std::string& l) { return l.starts_with("CELL "); });
    ASSERT_NE(cell_at, ins.end());
    std::istringstream cell_line(cell_at->substr(5));
    double lambda = 0, v[6];
    cell_line >> lambda;
    const double truth[6] = {c.cell.a, c.cell.b, c.cell.c, c.cell.alpha, c.cell.beta, c.cell.gamma};
    for (int i = 0; i < 6; ++i) {
      cell_line >> v[i];
      EXPECT_NEAR(v[i], truth[i], 0.002) << *cell_at;
    }
    const gemmi::cif::Document doc = gemmi::cif::read_file((dir / "set.cif").string());
    const std::string* named = doc.blocks.at(0).find_value("_space_group_name_H-M_alt");
    if (*c.symbol) {
      ASSERT_NE(named, nullptr);
      EXPECT_EQ(gemmi::cif::as_string(*named), c.expected);
    } else {
      // Said so, and the CIF names no group.
      EXPECT_EQ(named, nullptr);
      EXPECT_NE(out.find("no systematic absences among the"), std::string::npos) << out;
      EXPECT_NE(out.find("Space group not decided: the absences cannot separate P 2 2 2, P m m 2, P 2 m m, P m 2 m "
                         "and P m m m; of them P 2 2 2, P m m 2, P 2 m m and P m 2 m are non-centrosymmetric"),
                std::string::npos)
          << out;
    }
    EXPECT_EQ(Lines(dir / "set.html").front(), "<!DOCTYPE html>");

    // The user's group wins over the absences, with a warning when they contradict it.
    if (std::string(c.symbol) != "P21/c") continue;
    const std::string named_out = Reduce(dir, "--space-group P21/n", status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(named_out.find("Space group P 1 21/n 1 (No. 14), as named: it forbids"), std::string::npos);
    EXPECT_NE(named_out.find("Warning: the data contradict the group named"), std::string::npos) << named_out;
    EXPECT_NE(Reduce(dir, "--laue mmm --space-group P21/c", status).find("is not of the Laue class mmm"),
              std::string::npos);
    EXPECT_EQ(status, 2);
  }
}

}  // namespace
}  // namespace kalvex::reduce
