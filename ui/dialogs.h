// The modal dialog pattern, the omega-step box, and the switches of the
// main window's state that several commands share.
#pragma once

#include <initializer_list>
#include <optional>
#include <string_view>
#include <vector>

#include "state/program_state.h"

namespace kalvex {

// Modal dialog pattern: show `dialog` and make it the active window; and the
// way back to the main window.
void OpenModal(ProgramState& state, int dialog);
void CloseModal(ProgramState& state, int dialog);

// Returns when `omega_step` holds an accepted value (at least 0.001).
void AskOmegaStep(ProgramState& state, float& omega_step);

// A value field of a dialog with the name a box gives it.
struct NamedField {
  int widget;
  const char* name;
};
// The numbers the fields hold, in order, when every one holds a number.
// Otherwise a box names the first that does not, that field shows again the
// value it had (`previous`, in the same order), and the result is empty: the
// dialog stays open and nothing is stored.
std::optional<std::vector<float>> CheckedNumbers(std::initializer_list<NamedField> fields,
                                                 std::initializer_list<float> previous);

// A value read from a file shown with the decimals it has: at least
// `least`, at most four ("12.16", not "12.2").
void ShowAsRead(int field, float value, int least);

// 0 after a data file is opened, 1 after a completed preprocessing pass.
void SetPreprocessedState(ProgramState& state, int flag);

// Back to the main window at the end of a fitting run.
void RestoreMainWindow(ProgramState& state);

// The commands that need a data file are offered only while one is open.
void SetDataFileOpen(ProgramState& state, bool open);

// The HKL, sequence-number and angle fields of the main window emptied: a
// new data file's reflections are not the last one's.
void ClearReflectionFields(ProgramState& state);

// The data set's title under the data file's name; hidden while blank.
void ShowDataSetTitle(ProgramState& state, std::string_view title);

}  // namespace kalvex
