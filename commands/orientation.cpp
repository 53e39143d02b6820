// The orientation kernels on the run's state: the preprocessed list handed
// in, the notices shown as the program's boxes.
#include "commands/orientation.h"

#include <algorithm>
#include <memory>

#include "common/fixed_fields.h"
#include "toolkit/toolkit.h"

namespace kalvex {

void ShowNotices(ProgramState& state, const Notices& notices) {
  for (int i = 0; i < notices.count; ++i) {
    const Notice notice = notices.code[i];
    tk::ErrorBox(NoticeTitle(notice), NoticeText(notice));
    if (notice == Notice::kCalcbError && state.files.log.IsOpen()) {
      state.files.log.Line(" Error in Cell: Determinant of G = " + fields::FormatReal(notices.value[i], 12, 3));
    }
  }
}

bool OMTOB(ProgramState& state) {
  Notices notices;
  OrientationState& o = state.orientation;
  const bool ok = OMTOB(o.ub, o.cell, o.b, notices);
  ShowNotices(state, notices);
  return ok;
}

bool CALCB(ProgramState& state) {
  Notices notices;
  const bool ok = CALCB(state.orientation.cell, state.orientation.b, notices);
  ShowNotices(state, notices);
  return ok;
}

float PredictOmega(const ProgramState& state, const Angles& angles, const Hkl& hkl) {
  float omega = angles[kOmega];
  if (!PredictOmega(state.orientation.ub, angles, state.params.lambda1, hkl, omega)) {
    Notices notices;
    notices.Add(Notice::kLuSingular);
    ShowNotices(const_cast<ProgramState&>(state), notices);
  }
  return omega;
}

Vec3 OffsetCorrection(const ProgramState& state, const Angles& angles) {
  const OrientationState& o = state.orientation;
  return OffsetCorrection(angles, o.offsets, o.omega_zero, state.params.rs);
}

void CopyPreprocessedList(const ProgramState& state, ListArrays& out) {
  const PreprocessedList& list = state.preprocessed_list;
  out.count = std::min(std::max(list.count, 0), kMaxPreprocessed);
  for (int n = 0; n < out.count; ++n) {
    out.angles[n] = list.entries[n].angles;
    out.hkl[n] = list.entries[n].hkl;
  }
}

bool LSQ(ProgramState& state, std::span<const Angles> angles, std::span<const Hkl> hkl) {
  Notices notices;
  const bool ok = LSQ(angles, hkl, state.params.lambda1, state.orientation, notices);
  ShowNotices(state, notices);
  return ok;
}

bool LSQ(ProgramState& state) {
  auto list = std::make_unique<ListArrays>();
  CopyPreprocessedList(state, *list);
  return LSQ(state, std::span(list->angles.data(), list->count), std::span(list->hkl.data(), list->count));
}

bool LSVEC(ProgramState& state, int system) {
  auto list = std::make_unique<ListArrays>();
  CopyPreprocessedList(state, *list);
  Notices notices;
  const bool ok = LSVEC(system, std::span(list->angles.data(), list->count),
                        std::span(list->hkl.data(), list->count), state.params.lambda1, state.orientation, notices);
  ShowNotices(state, notices);
  return ok;
}

int LSQ_OFFSETS(ProgramState& state, int refine_omega_zero) {
  auto list = std::make_unique<ListArrays>();
  CopyPreprocessedList(state, *list);
  Notices notices;
  const int cycles = LSQ_OFFSETS(refine_omega_zero == 1, std::span(list->angles.data(), list->count),
                                 std::span(list->hkl.data(), list->count), state.params.lambda1, state.params.rs,
                                 state.orientation, notices);
  ShowNotices(state, notices);
  return cycles;
}

int RefineOmegaZero(ProgramState& state) {
  auto list = std::make_unique<ListArrays>();
  CopyPreprocessedList(state, *list);
  Notices notices;
  const int cycles = RefineOmegaZero(std::span(list->angles.data(), list->count),
                                     std::span(list->hkl.data(), list->count), state.params.lambda1,
                                     state.orientation, notices);
  ShowNotices(state, notices);
  return cycles;
}

}  // namespace kalvex
