// One pass over the data file for the background models, then the
// background options dialog to choose among them.
#include "commands/calc_background.h"

#include <array>

#include "commands/data_file.h"
#include "commands/parameter_dialogs.h"
#include "commands/progress.h"
#include "fit/background.h"

namespace kalvex {

void CalcBackground(ProgramState& state) {
  if (!state.files.data_open) return;
  ScanReflection& scan = state.scan;
  if (!RewindDataFile(state)) return;

  std::array<BackgroundPoint, kMaxBackgroundPoints> points;
  int count = 0;
  int status = kReadOk;
  PassProgress progress(state);
  while ((status = ReadReflection(state, scan.seq_no + 1)) == kReadOk) {
    if (count < kMaxBackgroundPoints) points[count++] = {scan.two_theta, EndBackground(scan) * scan.count_scale};
    progress.Update();
  }
  progress.Show();
  if (status == kReadError) return;
  state.files.data.Rewind();

  if (count > 0) {
    const ExponentialBackground exponential = FitExponentialBackground(points.data(), count);
    BuildBackgroundTable(points.data(), count, state.fit.bg_table);
    auto& coefficients = state.params.pdef[kBackground];
    coefficients[kCoefA] = exponential.a;
    coefficients[kCoefB] = exponential.b;
    coefficients[kCoefC] = exponential.c;
  }
  EditBackgroundOptions(state);
}

}  // namespace kalvex
