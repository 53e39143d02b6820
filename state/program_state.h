// The single record of the run: every group the program's commands share.
// main owns the one instance; routines take it by reference so that every
// test can start from a fresh state.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "state/data_set.h"
#include "state/file_state.h"
#include "state/fit_state.h"
#include "state/orientation_state.h"
#include "state/preprocessed_list.h"
#include "state/run_parameters.h"
#include "state/scan_reflection.h"
#include "state/session_record.h"
#include "state/widgets.h"

namespace kalvex {

// The frame bounds the scan plot fills; replaced after each drawing by the
// frame's enquired bounds.
struct PlotGeometry {
  float width = 300.0f;
  float top = 200.0f;
  float left = 0.0f;
  bool drawn = true;  // false where no one sees the plot (a batch run)
  // What of the scan the user has zoomed to: a stretch of its omega range
  // (fractions of it) and a magnification of the counts axis.
  double view_low = 0.0, view_high = 1.0, counts_zoom = 1.0;
  // The frame's size in pixels and the pixels of a grid row (a character
  // size is tenths of one), as the toolkit last told them (0: not told):
  // the room the plot's texts take is reckoned from them.
  float pixel_width = 0.0f, pixel_height = 0.0f, row_pixels = 0.0f;
  // The frame shows the current scan, not the idle window's text.
  bool scan_shown = false;
};

// What the session did over the open data file that the batch command can
// do again, noted as it happens, and the parameters as the parameter file
// gave them: the equivalent command of a run is made from these.
struct SessionChoices {
  bool background_pass = false;  // "Calc Background" over this data file
  bool preprocessed = false;     // a whole preprocessing pass over it
  float threshold = 30.0f;       // its I/sigma
  bool fwhm_line_stored = false; // "Calc FWHM"'s line stored as it was fitted
  bool orientation_refined = false;  // "Calc UB" from that preprocessing
  int crystal_system = 0;
  bool offsets = false, omega_zero = false;
  bool appended = false;         // the intensity file held records when opened
  bool parameters_known = false;
  RunParameters read;            // as the parameter file gave them
};

// Fitting modes.
constexpr int kManualFitting = 1;
constexpr int kAutomaticFitting = 2;

struct ProgramState {
  RunParameters params;
  FileState files;
  Widgets widgets;
  int preprocessed = 0;
  int current_action = 0;
  // Which required parameter-file keywords have been read during the run
  // (PKPAR, FITLIM, ATTEN, WAVEL, RFLAGS, TFLAGS, PARITY, MONO); never cleared.
  std::array<bool, 8> parameter_marks{};

  // The current reflection and the data file it comes from.
  ScanReflection scan;
  DataSet data_set;

  FitState fit;
  // "Skip weak reflns" of the fitting controls: copied into
  // data_set.skip_weak before every fit.
  int skip_weak_control = 0;
  // "D" column of the fitting controls: take the start value from the
  // parameter's default rule ([1..6]).
  std::array<int, 7> default_flag{};
  // 1 manual, 2 automatic (integration or preprocessing).
  int fitting_mode = 0;
  PlotGeometry plot;
  SessionChoices choices;
  // Fitting time one timer tick of an automatic run may take, in ms; 0 fits
  // one reflection a tick (the headless runs, whose steps count ticks).
  int tick_budget_ms = 5;
  // Count the reflections of a data file as it opens, for the progress of
  // the passes over it; false where no one would see the progress.
  bool count_reflections = true;
  PreprocessedList preprocessed_list;
  OrientationState orientation;
  // What the diagnostics report of the session shows.
  SessionRecord session_record;

  // Set by a command that met the end of the program (the main window
  // closed, or a fatal error with its message); the command loop ends the
  // program once the command has returned.
  bool end_requested = false;
  std::string end_message;
  // The message of the last parameter file that could not be read; empty
  // once one has been read in full.
  std::string parameter_error;
  // A parameter file has been read in full in this session.
  bool parameters_read = false;
};

// A fresh, zeroed state. The state is large (fixed capacities), so it lives
// on the heap, owned by main or by a test.
std::unique_ptr<ProgramState> NewProgramState();

}  // namespace kalvex
