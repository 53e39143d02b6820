// The single record of the run: every group the program's commands share.
// main owns the one instance; routines take it by reference so that every
// test can start from a fresh state.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "fit/fit_state.h"
#include "refine/orientation_state.h"
#include "scan/cad4.h"
#include "scan/preprocessed_list.h"
#include "scan/scan_reflection.h"
#include "scan/single.h"
#include "scan/xcalibur.h"
#include "scan/xscans.h"
#include "shell/file_state.h"
#include "shell/run_parameters.h"
#include "shell/widgets.h"

namespace kalvex {

// Where the scan plot scales to; replaced after each drawing by the frame's
// enquired bounds.
struct PlotGeometry {
  float bottom = 20.0f;
  float width = 300.0f;
  float top = 200.0f;
  float left = 0.0f;
  float x_scale = 0.0f;
  float y_scale = 0.0f;
};

struct ProgramState {
  RunParameters params;
  FileState files;
  Widgets widgets;
  int preprocessed = 0;
  int current_action = 0;
  // Which required parameter-file keywords have been read during the run
  // (PKPAR, FITLIM, ATTEN, WAVEL, RFLAGS, TFLAGS, PARITY, MONO); never cleared.
  std::array<bool, 8> parameter_marks{};

  // The current reflection and the data set it comes from.
  ScanReflection scan;
  StandardsTable standards;
  std::string title;  // data set title, up to 60 characters
  std::array<int, kInputClasses> input_class{};
  int skip_weak = 0;
  float omega_step = 0.02f;  // the omega-step box's value (Single files)
  // What the format readers keep between reflections.
  Cad4Format cad4;
  XcaliburFormat xcalibur;
  SingleFormat single;
  XscansFormat xscans;

  FitState fit;
  // "D" column of the fitting controls: take the start value from the
  // parameter's default rule ([1..6]).
  std::array<int, 7> default_flag{};
  // 1 manual, 2 automatic (integration or preprocessing).
  int fitting_mode = 0;
  PlotGeometry plot;
  PreprocessedList preprocessed_list;
  OrientationState orientation;
};

// A fresh, zeroed state. The state is large (fixed capacities), so it lives
// on the heap, owned by main or by a test.
std::unique_ptr<ProgramState> NewProgramState();

}  // namespace kalvex
