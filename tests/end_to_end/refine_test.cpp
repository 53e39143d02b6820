// "Preprocess", "Calc FWHM" and "Calc UB", and the integration that then
// predicts every peak's position.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>

#include "commands/auto_fit.h"
#include "commands/calc_ub.h"
#include "commands/preprocessing.h"
#include "commands/session.h"
#include "engine/run.h"
#include "fit/fit_reflection.h"
#include "shell/command_loop.h"
#include "tests/end_to_end/harness.h"

namespace kalvex {
namespace {

using testing::FreshState;
using testing::MakeXcaliburSet;
using testing::OpenSimulated;
using testing::ReadLines;
using testing::TestName;

// Fills the list with exact bisecting settings of `hkls` for a known crystal.
void FillList(ProgramState& state, const simulate::Crystal& crystal, const std::vector<simulate::Hkl>& hkls,
              double lambda) {
  const auto ub = simulate::UBMatrix(crystal);
  PreprocessedList& list = state.preprocessed_list;
  list.count = 0;
  for (const auto& hkl : hkls) {
    simulate::SettingAngles a;
    ASSERT_TRUE(simulate::BisectingAngles(ub, hkl, lambda, a));
    PreprocessedEntry& e = list.entries[list.count++];
    e.angles = {static_cast<float>(a.two_theta), static_cast<float>(a.omega), static_cast<float>(a.chi),
                static_cast<float>(a.phi)};
    e.hkl = hkl;
  }
  state.params.lambda1 = static_cast<float>(lambda);
  state.params.lambda2 = static_cast<float>(lambda);
}

std::vector<std::string> ReportOf(const std::filesystem::path& log) {
  const auto lines = ReadLines(log);
  const auto start = std::find(lines.begin(), lines.end(), " RESULTS OF LEAST SQUARES REFINEMENT OF CELL PARAMETERS");
  return std::vector<std::string>(start == lines.end() ? lines.end() : start - 2, lines.end());
}

TEST(CalcUB, ReportLayoutOfAnUnconstrainedRefinement) {
  auto state = FreshState();
  const auto dir = testing::ScratchDir(TestName());
  state->files.log.Open((dir / "r.log").string(), false);
  const simulate::Crystal cubic{{10, 10, 10, 90, 90, 90}, {0, 0, 0}};
  FillList(*state, cubic, {{1, 0, 0}, {0, 2, 0}, {0, 0, 3}, {1, 1, 1}}, 0.71073);
  engine::Run(*state, WindowEvents(*state)).RefineOrientation({0, false, false});
  state->files.log.Close();
  const std::vector<std::string> expected = {
      " ",
      " ",
      " RESULTS OF LEAST SQUARES REFINEMENT OF CELL PARAMETERS",
      " ",
      "  UNCONSTRAINED REFINEMENT ",
      " ",
      "   H   K   L  2THETA   OM(FIT)    CHI      PHI   OM(UB)   DEL-OM",
      " ",
      // 2theta = 2 asin(lambda / 2d): d = 10, 5, 3.333 and 5.774 Angstrom.
      "   1   0   0    4.073    0.000    0.000    0.000    0.000    0.000",
      "   0   2   0    8.151    0.000    0.000   90.000    0.000    0.000",
      "   0   0   3   12.240    0.000   90.000 -135.000    0.000    0.000",
      "   1   1   1    7.058    0.000   35.264   45.000    0.000    0.000",
      " ",
      " ",
      "  Orientation Matrix ",
      "     (For axes and circle parities as read from data file)",
      " ",
      "     0.10000     0.00000     0.00000",
      "     0.00000     0.10000     0.00000",
      "     0.00000     0.00000     0.10000",
      " ",
      " ",
      // Single precision leaves the volume of exact data a little off.
      " CELL             10.00000 10.00000 10.00000  90.000  90.000  90.000 1000.0009",
      " ESDs              0.00000  0.00000  0.00000   0.000   0.000   0.000    0.0001",
      " ",
      "         4 REFLECTIONS USED",
      " AVERAGE DELTA-OMEGA =  0.0000",
      "     MAX OMEGA ERROR =  0.0000",
      "          OMEGA-ZERO =  0.0000",
      " ",
      "     CRYSTAL OFFSETS =     0.0000    0.0000    0.0000",
      " "};
  EXPECT_EQ(ReportOf(dir / "r.log"), expected);
  EXPECT_TRUE(state->orientation.corrections_valid);
}

TEST(CalcUB, ConstrainedWithOffsetsTickedReportsNoOffsetsButKeepsTheColumns) {
  auto state = FreshState();
  const auto dir = testing::ScratchDir(TestName());
  state->files.log.Open((dir / "r.log").string(), false);
  const simulate::Crystal ortho{{8.5, 11.2, 13.7, 90, 90, 90}, {12, -25, 40}};
  FillList(*state, ortho, {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 1}, {2, -1, 3}, {-1, 2, 2}}, 0.71073);
  engine::Run(*state, WindowEvents(*state)).RefineOrientation({3, true, false});
  state->files.log.Close();
  const auto report = ReportOf(dir / "r.log");
  ASSERT_GT(report.size(), 8u);
  EXPECT_EQ(report[4], "  SYMMETRY-CONSTRAINED TO Orthorhombic              NO XTAL OFFSETS");
  EXPECT_EQ(report[5], "   H   K   L  2THETA   OM(FIT)    CHI      PHI   OM(UB) + OM(OFF) = OM(CALC)   DEL-OM");
  EXPECT_EQ(report[6], " ");
  // h k l, four angles, OM(UB), OM(OFF) = 0, OM(CALC) = OM(UB), DEL.
  const std::regex row(R"(( {1,3}-?\d{1,3}){3}( {1,8}-?\d+\.\d{3}){8})");
  for (int i = 0; i < 6; ++i) {
    const std::string& line = report[7 + i];
    ASSERT_TRUE(std::regex_match(line, row)) << line;
    EXPECT_EQ(line.substr(12 + 5 * 9, 9), "    0.000");
    EXPECT_EQ(line.substr(12 + 4 * 9, 9), line.substr(12 + 6 * 9, 9));
  }
  const OrientationState& o = state->orientation;
  EXPECT_NEAR(o.cell[0], 8.5, 1e-3);
  EXPECT_FLOAT_EQ(o.cell[3], 90.0f);
  EXPECT_FLOAT_EQ(o.cell[5], 90.0f);
}

TEST(CalcUB, TooFewReflectionsAndACancelledDialogChangeNothing) {
  auto state = FreshState();
  state->orientation.cell[0] = 5.0f;
  for (int count : {0, 2}) {
    state->preprocessed_list.count = count;
    CalcUB(*state);
    ASSERT_FALSE(script::Boxes().empty());
    EXPECT_EQ(script::Boxes().back().title, "Win-Kalvex");
    EXPECT_EQ(script::Boxes().back().message, "Too Few Reflections for Least Squares");
  }
  const simulate::Crystal cubic{{10, 10, 10, 90, 90, 90}, {0, 0, 0}};
  FillList(*state, cubic, {{1, 0, 0}, {0, 2, 0}, {0, 0, 3}}, 0.71073);
  script::QueueClick(kCodeRefineQuit);
  CalcUB(*state);
  EXPECT_FLOAT_EQ(state->orientation.cell[0], 5.0f);
  EXPECT_FALSE(state->orientation.corrections_valid);
}

TEST(CalcUB, AFailedFirstRefinementPredictsNothing) {
  auto state = FreshState();
  const auto dir = testing::ScratchDir(TestName());
  state->files.log.Open((dir / "r.log").string(), false);
  // Three reflections in one plane: the normal equations are singular.
  const simulate::Crystal cubic{{10, 10, 10, 90, 90, 90}, {0, 0, 0}};
  FillList(*state, cubic, {{1, 0, 0}, {0, 1, 0}, {1, 1, 0}}, 0.71073);
  engine::Run(*state, WindowEvents(*state)).RefineOrientation({0, false, false});
  EXPECT_FALSE(state->orientation.corrections_valid);
  bool singular = false;
  for (const auto& box : script::Boxes()) singular |= box.message == "Normal Equations Matrix in LSQ is Singular";
  EXPECT_TRUE(singular);
  // The report is still written.
  EXPECT_FALSE(ReportOf(dir / "r.log").empty());
}

TEST(CalcUB, ExactlyThreeReflectionsGiveUBExactlyAndNoNewESDs) {
  auto state = FreshState();
  const simulate::Crystal mono{{7.0, 9.0, 11.0, 90, 104.5, 90}, {5, 10, 15}};
  FillList(*state, mono, {{1, 0, 0}, {0, 1, 1}, {1, -1, 2}}, 0.71073);
  script::QueueClick(kCodeRefineGo);
  script::QueueCall([&] { EXPECT_TRUE(script::Shown(state->widgets.results_dialog)); });
  script::QueueClick(kCodeResultsOk);
  CalcUB(*state);
  const OrientationState& o = state->orientation;
  EXPECT_NEAR(o.cell[0], 7.0, 2e-4);
  EXPECT_NEAR(o.cell[4], 104.5, 2e-3);
  for (float esd : o.cell_esd) EXPECT_EQ(esd, 0.0f);
  // No ESD computed: none shown rather than 0.000.
  for (int h : state->widgets.results_esd) EXPECT_EQ(script::Status(h), tk::kHidden);
  EXPECT_FLOAT_EQ(script::Number(state->widgets.results_count), 3.0f);
  EXPECT_NEAR(script::Number(state->widgets.results_value[1]), 9.0f, 2e-4);
  EXPECT_FALSE(script::Shown(state->widgets.results_dialog));
  EXPECT_FALSE(script::Shown(state->widgets.busy_dialog));
}

TEST(Preprocess, KeepsStrongReflectionsThenCalcUBMakesTheIntegrationPredictPositions) {
  simulate::GeneratorOptions options;
  options.reflections = 200;
  options.weak_fraction = 0.5;
  options.mean_intensity = 200;
  // Scan centres up to about a degree off: the position window rejects
  // such fits, and the retry at the predicted position recovers them.
  options.centring_error = 0.3;
  options.seed = 7;
  const auto files = MakeXcaliburSet(TestName(), options);
  auto state = FreshState();
  OpenSimulated(*state, files);
  const Widgets& w = state->widgets;

  // Calc FWHM before a pass is refused.
  CalcFwhmLine(*state);
  EXPECT_EQ(script::Boxes().back().title, "WinKalvx");
  EXPECT_EQ(script::Boxes().back().message, "Run PreProcess first");

  script::QueueNumber(w.preprocess_threshold, 2.0f);  // used as 3
  script::QueueClick(kCodePreprocessGo);
  ASSERT_TRUE(DispatchCommand(*state, kCodePreprocess));
  EXPECT_EQ(state->preprocessed, 1);
  EXPECT_EQ(script::Status(w.menu_calc_ub), tk::kActive);
  const PreprocessedList& list = state->preprocessed_list;
  ASSERT_GT(list.count, 50);
  int standards = 0;
  for (const auto& r : files.set.reflections) standards += r.standard_index > 0;
  EXPECT_LE(list.count, state->fit.outcome[1] - standards);
  EXPECT_EQ(state->data_set.skip_weak, 0);  // the check box decides after the first read

  script::QueueClick(kCodeFwhmSave);
  DispatchCommand(*state, kCodeCalcFwhm);
  EXPECT_NEAR(state->params.pdef[kFwhm][kCoefA], 0.20, 0.02);
  EXPECT_NEAR(state->params.pdef[kFwhm][kCoefB], 0.10, 0.03);

  script::QueueToggle(w.refine_constrained, 1);
  script::QueueClick(kCodeRefineConstrained);  // what the ticked box sends
  script::QueueListSelect(w.refine_system_list, 3);
  script::QueueClick(kCodeRefineGo);
  script::QueueClick(kCodeResultsOk);
  DispatchCommand(*state, kCodeCalcUB);
  // Constrained to a crystal system: offsets and omega zero cannot be ticked.
  EXPECT_EQ(script::Status(w.refine_offsets), tk::kGreyed);
  EXPECT_EQ(script::Status(w.refine_omega_zero), tk::kGreyed);
  const OrientationState& o = state->orientation;
  ASSERT_TRUE(o.corrections_valid);
  EXPECT_NEAR(o.cell[0], 8.5, 4 * o.cell_esd[0] + 1e-4);
  EXPECT_NEAR(o.cell[1], 11.2, 4 * o.cell_esd[1] + 1e-4);
  EXPECT_NEAR(o.cell[2], 13.7, 4 * o.cell_esd[2] + 1e-4);
  const auto log = ReadLines(files.dir / "set.log");
  const auto avg = std::find_if(log.begin(), log.end(),
                                [](const std::string& l) { return l.rfind(" AVERAGE DELTA-OMEGA = ", 0) == 0; });
  ASSERT_NE(avg, log.end());
  EXPECT_LT(std::stod(avg->substr(23)), 0.01);

  // Back to the first reflection, then integrate with predicted positions.
  script::QueueNumber(w.main[kWSeqEntry], 1.0f);
  script::QueueClick(kCodeSeqGo);
  script::QueueClick(kCodeExit);
  DispatchCommand(*state, kCodeManualFit);
  script::QueueClick(kCodePeakQuit);
  script::QueueToggle(w.fit_rows[kPosition].default_toggle, 1);
  script::QueueClick(kCodeGo);
  DispatchCommand(*state, kCodeAutoFit);
  EXPECT_GT(state->fit.refitted_count, 0);
  EXPECT_GT(state->fit.recovered_count, 0);
  int retried = 0;
  for (const auto& line : ReadLines(files.dir / "set.int")) retried += line[73] == '2';
  EXPECT_EQ(retried, state->fit.refitted_count);
}

TEST(Preprocess, OutcomeCountersByReasonLetter) {
  EXPECT_EQ(OutcomeCounterOf('E'), 2);
  EXPECT_EQ(OutcomeCounterOf('C'), 3);
  EXPECT_EQ(OutcomeCounterOf('F'), 10);
  EXPECT_EQ(OutcomeCounterOf('S'), 11);
  EXPECT_EQ(OutcomeCounterOf('Q'), 11);
  EXPECT_EQ(OutcomeCounterOf(' '), 11);
}

TEST(Preprocess, FwhmLineIsGuardedWithoutTwoDistinctAngles) {
  PreprocessedList list;
  auto add = [&](float two_theta, float fwhm, float esd) {
    PreprocessedEntry& e = list.entries[list.count++];
    e.angles[0] = two_theta;
    e.fwhm = fwhm;
    e.fwhm_esd = esd;
  };
  add(20.0f, 0.25f, 0.01f);
  engine::FwhmLine line = engine::FitFwhmLine(list);
  EXPECT_EQ(line.a, 0.0f);
  EXPECT_EQ(line.esd_b, 0.0f);
  add(20.0f, 0.26f, 0.01f);  // same angle: still no line
  add(40.0f, 0.5f, 0.00001f);  // too precise to be believed: left out
  line = engine::FitFwhmLine(list);
  EXPECT_EQ(line.b, 0.0f);
  EXPECT_TRUE(std::isfinite(line.esd_a));
  // Two angles on the line 0.2 + 0.1 tan(theta).
  list.count = 0;
  add(20.0f, 0.2f + 0.1f * std::tan(10.0f / 57.29578f), 0.01f);
  add(60.0f, 0.2f + 0.1f * std::tan(30.0f / 57.29578f), 0.01f);
  line = engine::FitFwhmLine(list);
  EXPECT_NEAR(line.a, 0.2f, 1e-5);
  EXPECT_NEAR(line.b, 0.1f, 1e-5);
  EXPECT_GT(line.esd_a, 0.0f);
}

}  // namespace
}  // namespace kalvex
