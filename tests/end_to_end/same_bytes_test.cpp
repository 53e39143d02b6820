// Every door writes the same files: a user's clicks through the window (on
// the headless toolkit) and one call of the engine's Integrate give the same
// intensity file and log, byte for byte, in every format.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "commands/files.h"
#include "engine/integrate.h"
#include "shell/command_loop.h"
#include "tests/end_to_end/harness.h"
#include "ui/user_interface.h"

namespace kalvex {
namespace {

namespace fs = std::filesystem;

struct Choices {
  int format = kFormatXcalibur;
  bool preprocess = false;
  bool calc_ub = false;
};

// The window: open the three files, answer the format and omega-step boxes,
// Preprocess, Calc UB, back to the first reflection, Auto profile fit, Go.
void ThroughTheWindow(const fs::path& dir, const Choices& c) {
  script::Reset();
  tk::ResetRegistry();
  auto state = NewProgramState();
  ASSERT_TRUE(BuildUserInterface(*state));
  state->params.output_format = kOutputRfine;
  state->tick_budget_ms = 0;
  const Widgets& w = state->widgets;
  const int toggle = c.format == kFormatXcalibur ? w.format_xcalibur
                     : c.format == kFormatCad4   ? w.format_cad4
                     : c.format == kFormatSingle ? w.format_single
                                                 : w.format_xscans;
  const auto omega_box = [&] {
    if (c.format == kFormatSingle) script::QueueClick(kCodeOmegaOk);
  };
  script::QueueBrowse("set.dat", dir.string());
  script::QueueToggle(toggle, 1);
  script::QueueClick(kCodeFormatOk);
  omega_box();
  OpenDataFile(*state);
  script::QueueBrowse("set.par", dir.string());
  OpenParameterFile(*state);
  script::QueueBrowse("set.int", dir.string());
  OpenOutputFile(*state);
  if (c.preprocess) {
    script::QueueNumber(w.preprocess_threshold, 10.0f);
    script::QueueClick(kCodePreprocessGo);
    omega_box();
    ASSERT_TRUE(DispatchCommand(*state, kCodePreprocess));
    ASSERT_EQ(state->preprocessed, 1);
    if (c.calc_ub) {
      script::QueueClick(kCodeRefineGo);
      script::QueueClick(kCodeResultsOk);
      ASSERT_TRUE(DispatchCommand(*state, kCodeCalcUB));
    }
    script::QueueNumber(w.main[kWSeqEntry], 1.0f);
    script::QueueClick(kCodeSeqGo);
    script::QueueClick(kCodeExit);
    ASSERT_TRUE(DispatchCommand(*state, kCodeManualFit));
  }
  script::QueueClick(kCodePeakQuit);
  if (c.calc_ub) script::QueueToggle(w.fit_rows[kPosition].default_toggle, 1);
  script::QueueClick(kCodeGo);
  ASSERT_TRUE(DispatchCommand(*state, kCodeAutoFit));
  state->files.output.Close();
  state->files.log.Close();
}

engine::IntegrateOutcome ThroughTheEngine(const fs::path& dir, const Choices& c) {
  engine::IntegrateRequest r;
  r.data = (dir / "set.dat").string();
  r.parameters = (dir / "set.par").string();
  r.output = (dir / "set.int").string();
  r.input_format = c.format;
  r.preprocess = c.preprocess;
  r.threshold = 10.0f;
  r.calc_ub = c.calc_ub;
  if (c.calc_ub) r.defaults[kPosition] = 1;
  return engine::Integrate(r, {});
}

TEST(SameBytes, TheWindowAndIntegrateWriteTheSameFilesInEveryFormat) {
  // Counts within CAD4's fields, one step width as a Single file has, no
  // attenuator: a set every format holds.
  simulate::GeneratorOptions options;
  options.reflections = 80;
  options.mean_intensity = 120;
  options.attenuated_fraction = 0;
  simulate::ScanSettings scan;
  scan.width_b = 0;
  const simulate::DataSet set =
      simulate::Generate({{8.5, 11.2, 13.7, 90, 90, 90}, {12, -25, 40}}, {}, scan, {}, options);
  const std::pair<int, bool (*)(const simulate::DataSet&, const fs::path&, std::string&)> formats[] = {
      {kFormatXcalibur, simulate::WriteXcalibur},
      {kFormatCad4, simulate::WriteCad4},
      {kFormatSingle, simulate::WriteSingle},
      {kFormatXscans, simulate::WriteXscans}};
  for (const auto& [format, write] : formats) {
    for (const Choices c : {Choices{format, false, false}, Choices{format, true, false}, Choices{format, true, true}}) {
      const std::string label = std::to_string(format) + (c.preprocess ? "p" : "") + (c.calc_ub ? "u" : "");
      const fs::path window = testing::ScratchDir("same_bytes_window_" + label);
      const fs::path engine = testing::ScratchDir("same_bytes_engine_" + label);
      for (const fs::path& dir : {window, engine}) {
        std::string error;
        ASSERT_TRUE(write(set, dir / "set.dat", error)) << error;
        ASSERT_TRUE(simulate::WriteParameterFile(set, dir / "set.par", error)) << error;
      }
      ThroughTheWindow(window, c);
      const engine::IntegrateOutcome out = ThroughTheEngine(engine, c);
      ASSERT_EQ(out.failure, engine::Failure::kNone) << label << ": " << out.message;
      const std::string records = testing::ContentsWithoutLogTime(engine / "set.int");
      EXPECT_GT(std::count(records.begin(), records.end(), '\n'), 60) << label;
      EXPECT_EQ(testing::ContentsWithoutLogTime(window / "set.int"), records) << label;
      EXPECT_EQ(testing::ContentsWithoutLogTime(window / "set.log"), testing::ContentsWithoutLogTime(engine / "set.log")) << label;
    }
  }
}

}  // namespace
}  // namespace kalvex
