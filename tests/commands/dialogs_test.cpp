// The Parameters dialogs store only through their storing buttons; the
// omega-step box, the preprocessed-state switch and End of Run's notes.
#include <gtest/gtest.h>

#include <sstream>

#include "shell/command_loop.h"
#include "commands/parameter_dialogs.h"
#include "commands/run_end.h"
#include "ui/dialogs.h"
#include "tests/support/headless.h"

namespace kalvex {
namespace {

using testing::FreshState;

TEST(ParameterDialogs, PeakDefaultsKeepTheSecondWavelengthBelowARatioOf0_01) {
  auto state = FreshState();
  auto& p = state->params;
  const auto& w = state->widgets;
  p.n_wavelengths = 2;
  p.lambda1 = 0.70930f;
  p.lambda2 = 0.71359f;
  p.pdef[kIratio][kCoefA] = 0.5f;

  script::QueueNumber(w.peak_iratio, 0.01f);
  script::QueueNumber(w.peak_lambda2, 0.9f);
  script::QueueNumber(w.peak_fwhm_a, 0.25f);
  script::QueueClick(kCodePeakSave);
  ShowPeakDefaults(*state);
  EXPECT_FLOAT_EQ(p.lambda2, 0.71359f);
  EXPECT_FLOAT_EQ(p.iratio, 0.01f);
  EXPECT_FLOAT_EQ(p.pdef[kIratio][kCoefA], 0.01f);
  EXPECT_FLOAT_EQ(p.pdef[kFwhm][kCoefA], 0.25f);

  script::QueueNumber(w.peak_iratio, 0.02f);
  script::QueueNumber(w.peak_lambda2, 0.9f);
  script::QueueClick(kCodePeakSave);
  ShowPeakDefaults(*state);
  EXPECT_FLOAT_EQ(p.lambda2, 0.9f);
  EXPECT_EQ(p.n_wavelengths, 2);
  EXPECT_FALSE(script::Shown(w.peak_dialog));
  EXPECT_EQ(script::ActiveWindow(), w.main_window);
}

// A value field that holds no number is named, shows its value again, and
// the dialog waits on with nothing stored; in every dialog that stores.
TEST(ParameterDialogs, AFieldThatIsNotANumberIsRefusedAndKeepsItsValue) {
  auto state = FreshState();
  auto& p = state->params;
  const auto& w = state->widgets;
  p.pdef[kFwhm][kCoefA] = 0.3f;
  p.pdef[kEta][kCoefA] = 0.4f;
  script::QueueNumber(w.peak_eta, 0.6f);
  script::QueueText(w.peak_fwhm_a, "abc");
  script::QueueClick(kCodePeakSave);
  script::QueueCall([&] {
    ASSERT_FALSE(script::Boxes().empty());
    EXPECT_EQ(script::Boxes().back().message, "FWHM a is not a number: it keeps its value");
    EXPECT_TRUE(script::Shown(w.peak_dialog));
    EXPECT_FLOAT_EQ(script::Number(w.peak_fwhm_a), 0.3f);
    EXPECT_FLOAT_EQ(p.pdef[kEta][kCoefA], 0.4f);
  });
  script::QueueClick(kCodePeakSave);
  ShowPeakDefaults(*state);
  EXPECT_FLOAT_EQ(p.pdef[kFwhm][kCoefA], 0.3f);
  EXPECT_FLOAT_EQ(p.pdef[kEta][kCoefA], 0.6f);

  p.bg_type = kBgExp;
  p.pdef[kBackground][kCoefB] = 2.0f;
  script::QueueText(w.bg_b, "1,5");
  script::QueueClick(kCodeBgSave);
  script::QueueCall([&] { EXPECT_EQ(script::Boxes().back().message, "Background b is not a number: it keeps its value"); });
  script::QueueText(w.bg_b, "1.5");
  script::QueueClick(kCodeBgSave);
  EditBackgroundOptions(*state);
  EXPECT_FLOAT_EQ(p.pdef[kBackground][kCoefB], 1.5f);
}

TEST(ParameterDialogs, PeakDefaultsQuitStoresNothingAndOneWavelengthShowsNoSecond) {
  auto state = FreshState();
  auto& p = state->params;
  const auto& w = state->widgets;
  p.n_wavelengths = 1;
  p.lambda1 = 1.5406f;
  p.lambda2 = 1.5444f;
  p.pdef[kEta][kCoefA] = 0.3f;
  script::QueueCall([&] {
    EXPECT_FLOAT_EQ(script::Number(w.peak_lambda2), 0.0f);
    EXPECT_FLOAT_EQ(script::Number(w.peak_eta), 0.3f);
    EXPECT_TRUE(script::Shown(w.peak_dialog));
  });
  script::QueueNumber(w.peak_eta, 0.9f);
  script::QueueClick(kCodeOpenData);  // menus have no effect while a dialog waits
  script::QueueClick(kCodePeakQuit);
  ShowPeakDefaults(*state);
  EXPECT_FLOAT_EQ(p.pdef[kEta][kCoefA], 0.3f);
  EXPECT_FLOAT_EQ(p.lambda2, 1.5444f);
  EXPECT_FALSE(state->files.data_open);
}

TEST(ParameterDialogs, DiffractometerConstantsShowOnlyAndFollowTheMonochromator) {
  auto state = FreshState();
  auto& p = state->params;
  const auto& w = state->widgets;
  p.parity = {1, -1, 1, -1};
  p.mono_flag = 1;
  p.mono_2theta = 12.2f;
  p.dihedral = 90.0f;
  p.mono_orient = 0;
  p.atten = 15.4f;
  p.rs = 173.0f;
  const RunParameters before = p;
  script::QueueClick(kCodeDiffractometerOk);
  ShowDiffractometerConstants(*state);
  EXPECT_EQ(script::Text(w.mono_label), "Monochromator 2Theta");
  EXPECT_EQ(script::Status(w.mono_value), tk::kActive);
  EXPECT_FLOAT_EQ(script::Number(w.mono_value), 12.2f);
  EXPECT_EQ(script::Status(w.orientation_text), tk::kHidden);  // orientation 0: no text
  EXPECT_FLOAT_EQ(script::Number(w.parity_values[1]), -1.0f);
  EXPECT_FLOAT_EQ(script::Number(w.rs_value), 173.0f);
  EXPECT_EQ(p.parity, before.parity);
  EXPECT_EQ(p.mono_2theta, before.mono_2theta);

  p.mono_orient = 2;
  script::QueueClick(kCodeDiffractometerOk);
  ShowDiffractometerConstants(*state);
  EXPECT_EQ(script::Text(w.orientation_text), "Anti-parallel");

  // Values as the parameter file has them: 12.16 is not 12.2, 173 stays 173.0.
  p.mono_2theta = 12.16f;
  script::QueueClick(kCodeDiffractometerOk);
  ShowDiffractometerConstants(*state);
  EXPECT_EQ(script::Decimals(w.mono_value), 2);
  EXPECT_EQ(script::Decimals(w.rs_value), 1);

  p.mono_flag = 0;
  script::QueueClick(kCodeDiffractometerOk);
  ShowDiffractometerConstants(*state);
  EXPECT_EQ(script::Text(w.mono_label), "No Monochromator");
  for (int h : {w.mono_value, w.dihedral_label, w.dihedral_value, w.orientation_text})
    EXPECT_EQ(script::Status(h), tk::kHidden);
}

TEST(ParameterDialogs, BackgroundTypeChosenByAToggleStaysAfterQuit) {
  auto state = FreshState();
  auto& p = state->params;
  const auto& w = state->widgets;
  p.pdef[kBackground] = {10.0f, 0.01f, 2.0f};
  script::QueueNumber(w.bg_a, 99.0f);
  script::QueueClick(kCodeBgExp);
  script::QueueCall([&] {
    // The typed value is replaced by the stored one; a, b, c now shown.
    EXPECT_FLOAT_EQ(script::Number(w.bg_a), 10.0f);
    EXPECT_EQ(script::Status(w.bg_a), tk::kActive);
    EXPECT_EQ(script::Status(w.bg_nstep), tk::kHidden);
    EXPECT_EQ(script::Status(w.bg_parameters_label), tk::kActive);
  });
  script::QueueNumber(w.bg_b, 5.0f);
  script::QueueClick(kCodeBgQuit);
  EditBackgroundOptions(*state);
  EXPECT_EQ(p.bg_type, kBgExp);
  EXPECT_FLOAT_EQ(p.pdef[kBackground][kCoefB], 0.01f);
}

TEST(ParameterDialogs, BackgroundSaveStoresTheFieldsOfTheChosenType) {
  auto state = FreshState();
  auto& p = state->params;
  const auto& w = state->widgets;
  script::QueueClick(kCodeBgFromScan);
  script::QueueCall([&] {
    EXPECT_EQ(script::Status(w.bg_nstep), tk::kActive);
    EXPECT_EQ(script::Status(w.bg_c), tk::kHidden);
  });
  script::QueueNumber(w.bg_nstep, 7.9f);
  script::QueueClick(kCodeBgSave);
  EditBackgroundOptions(*state);
  EXPECT_EQ(p.bg_type, kBgFromScan);
  EXPECT_EQ(p.nstep_bg, 7);  // truncated toward zero

  script::QueueClick(kCodeBgExp);
  script::QueueNumber(w.bg_a, 50.0f);
  script::QueueNumber(w.bg_b, 0.02f);
  script::QueueNumber(w.bg_c, 3.0f);
  script::QueueClick(kCodeBgSave);
  EditBackgroundOptions(*state);
  EXPECT_EQ(p.bg_type, kBgExp);
  EXPECT_FLOAT_EQ(p.pdef[kBackground][kCoefA], 50.0f);
  EXPECT_FLOAT_EQ(p.pdef[kBackground][kCoefC], 3.0f);
  EXPECT_EQ(p.nstep_bg, 7);

  script::QueueClick(kCodeBgNone);
  script::QueueCall([&] {
    for (int h : {w.bg_a, w.bg_b, w.bg_c, w.bg_nstep, w.bg_parameters_label})
      EXPECT_EQ(script::Status(h), tk::kHidden);
  });
  script::QueueClick(kCodeBgSave);
  EditBackgroundOptions(*state);
  EXPECT_EQ(p.bg_type, kBgNone);
  EXPECT_FLOAT_EQ(p.pdef[kBackground][kCoefA], 50.0f);
}

TEST(ParameterDialogs, OutputFormatQuitAfterAToggleChangesNothing) {
  auto state = FreshState();
  const auto& w = state->widgets;
  script::QueueToggle(w.out_shelx, 1);
  script::QueueClick(kCodeOutShelx);  // a toggle's own code only redraws
  script::QueueClick(kCodeOutputQuit);
  EditOutputFormat(*state);
  EXPECT_EQ(state->params.output_format, kOutputRfine);

  script::QueueToggle(w.out_rfine_extended, 1);
  script::QueueClick(kCodeOutputSave);
  EditOutputFormat(*state);
  EXPECT_EQ(state->params.output_format, kOutputRfineExtended);
  // Shown again, the dialog starts from the stored format.
  script::QueueCall([&] { EXPECT_EQ(script::Toggle(w.out_rfine_extended), 1); });
  script::QueueClick(kCodeOutputQuit);
  EditOutputFormat(*state);
}

TEST(ParameterDialogs, OmegaStepBelowTheLimitIsRefusedAndReset) {
  auto state = FreshState();
  const auto& w = state->widgets;
  float step = 0.0f;
  EXPECT_FLOAT_EQ(script::Number(w.omega_value), 0.02f);
  script::QueueNumber(w.omega_value, 0.0009f);
  script::QueueClick(kCodeOmegaOk);
  script::QueueCall([&] {
    EXPECT_FLOAT_EQ(script::Number(w.omega_value), 0.001f);
    EXPECT_TRUE(script::Shown(w.omega_dialog));
  });
  script::QueueClick(kCodeOmegaOk);
  AskOmegaStep(*state, step);
  EXPECT_FLOAT_EQ(step, 0.001f);
  ASSERT_EQ(script::Boxes().size(), 1u);
  EXPECT_EQ(script::Boxes()[0].title, "WinKalvex");
  EXPECT_EQ(script::Boxes()[0].message, "  Step size too small");
  EXPECT_FALSE(script::Shown(w.omega_dialog));

  script::ClearBoxes();
  script::QueueNumber(w.omega_value, 0.001f);
  script::QueueClick(kCodeOmegaOk);
  AskOmegaStep(*state, step);
  EXPECT_FLOAT_EQ(step, 0.001f);
  EXPECT_TRUE(script::Boxes().empty());
}

TEST(ParameterDialogs, PreprocessedStateGreysAndUngreysTheUtilities) {
  auto state = FreshState();
  const auto& w = state->widgets;
  // Without a data file, even after a pass, nothing that reads one is offered.
  SetPreprocessedState(*state, 1);
  for (int h : {w.menu_titles[1], w.menu_preprocess, w.menu_calc_background}) EXPECT_EQ(script::Status(h), tk::kGreyed);
  state->files.data_open = true;
  SetDataFileOpen(*state, true);
  SetPreprocessedState(*state, 0);
  EXPECT_EQ(state->preprocessed, 0);
  EXPECT_EQ(script::Status(w.menu_calc_ub), tk::kGreyed);
  EXPECT_EQ(script::Status(w.menu_calc_fwhm), tk::kGreyed);
  EXPECT_EQ(script::Status(w.menu_calc_background), tk::kActive);
  EXPECT_EQ(script::Status(w.menu_preprocess), tk::kActive);
  SetPreprocessedState(*state, 5);
  EXPECT_EQ(state->preprocessed, 1);
  for (int h : {w.menu_calc_ub, w.menu_calc_background, w.menu_calc_fwhm})
    EXPECT_EQ(script::Status(h), tk::kActive);
}

TEST(ParameterDialogs, InterfaceIsBuiltHiddenExceptTheMainWindow) {
  auto state = FreshState();
  const auto& w = state->widgets;
  EXPECT_TRUE(script::Shown(w.main_window));
  EXPECT_EQ(script::Title(w.main_window), "WIN-KALVEX V3.3");
  for (int d : {w.format_dialog, w.fit_dialog, w.preprocess_dialog, w.diffractometer_dialog, w.peak_dialog,
                w.background_dialog, w.fwhm_dialog, w.output_dialog, w.refine_dialog, w.results_dialog,
                w.busy_dialog, w.omega_dialog})
    EXPECT_FALSE(script::Shown(d)) << script::Title(d);
  EXPECT_EQ(script::Status(w.main[kWExit]), tk::kActive);
  for (int i = 2; i <= kMainWidgets; ++i) EXPECT_EQ(script::Status(w.main[i]), tk::kHidden) << i;
  EXPECT_EQ(script::Status(w.output_label), tk::kHidden);
  EXPECT_EQ(script::Status(w.fit_rows[kIntensity].default_toggle), tk::kHidden);
  EXPECT_EQ(script::Text(w.status_bar).rfind("Win-Kalvex V3.3", 0), 0u);
  EXPECT_EQ(script::ListEntries(w.refine_system_list),
            (std::vector<std::string>{"Monoclinic-b", "Monoclinic-c", "Orthorhombic", "Tetragonal", "Hexagonal",
                                      "Cubic"}));
  EXPECT_EQ(script::CodeOf(w.bg_from_scan), kCodeBgFromScan);
  EXPECT_EQ(script::CodeOf(w.fit_rows[kPosition].refine_toggle), 434);
  EXPECT_EQ(script::CodeOf(w.fit_rows[kRwp].limits_toggle), 477);
  EXPECT_EQ(script::Toggle(w.format_xcalibur), 1);
  EXPECT_FLOAT_EQ(script::Number(w.preprocess_threshold), 30.0f);
}

TEST(ParameterDialogs, RestoreMainWindowHidesTheFittingControls) {
  auto state = FreshState();
  const auto& w = state->widgets;
  for (int i = 2; i <= kMainWidgets; ++i) tk::WidgetStatus(w.main[i], tk::kActive);
  for (int h : w.menu_titles) tk::WidgetStatus(h, tk::kGreyed);
  tk::WindowDraw(w.fit_dialog);
  tk::DrawLine(w.frame, 1, 1);
  state->files.data_open = true;
  RestoreMainWindow(*state);
  EXPECT_FALSE(script::Shown(w.fit_dialog));
  // The scan is gone; the frame says what is open (texts only).
  for (const script::DrawOp& op : script::Drawing(w.frame)) EXPECT_NE(op.kind, script::DrawOp::kLine);
  for (int i = 2; i <= kMainWidgets; ++i) EXPECT_EQ(script::Status(w.main[i]), tk::kHidden);
  for (int h : w.menu_titles) EXPECT_EQ(script::Status(h), tk::kActive);

  // A run that ended on a damaged data file has closed it: nothing to integrate.
  state->files.data_open = false;
  RestoreMainWindow(*state);
  EXPECT_EQ(script::Status(w.menu_titles[1]), tk::kGreyed);
  EXPECT_EQ(script::Status(w.menu_titles[3]), tk::kActive);
}

}  // namespace
}  // namespace kalvex

namespace kalvex {
namespace {

// "End of Run" wraps its notes at the summary's 65 columns between words
// (after a comma in a list of ranges), never inside one.
TEST(ParameterDialogs, EndOfRunNotesWrapBetweenWords) {
  const std::vector<std::string> notes = {
      "292 reflections kept for Calc UB and Calc FWHM; nothing is written",
      "Reflections 1-13, 20, 25-30, 41, 43, 45, 47, 49, 51-60, 70, 72, 74, 76, 78, 80, 82, 84-90 are not in example.int"};
  std::istringstream lines(RunEndText("Heading", notes, {}));
  std::string joined;
  for (std::string line; std::getline(lines, line);) {
    EXPECT_LE(line.size(), 65u) << line;
    if (!line.empty() && line != "Heading") joined += line + (line.ends_with("written") || line.ends_with(".int") ? "|" : " ");
  }
  EXPECT_EQ(joined, notes[0] + "|" + notes[1] + "|");
}

}  // namespace
}  // namespace kalvex
