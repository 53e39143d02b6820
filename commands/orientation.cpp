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

float PredictOmega(ProgramState& state, const Angles& angles, const Hkl& hkl) {
  float omega = angles[kOmega];
  if (!PredictOmega(state.orientation.ub, angles, state.params.lambda1, hkl, omega)) {
    Notices notices;
    notices.Add(Notice::kLuSingular);
    ShowNotices(state, notices);
  }
  return omega;
}

Vec3 OffsetCorrection(const ProgramState& state, const Angles& angles) {
  const OrientationState& o = state.orientation;
  return OffsetCorrection(angles, o.offsets, o.omega_zero, state.params.rs);
}

namespace {

// The preprocessed list's angles and indices as the kernels take them.
struct ListArrays {
  int count = 0;
  std::array<Angles, kMaxPreprocessed> angles{};
  std::array<Hkl, kMaxPreprocessed> hkl{};
  std::span<const Angles> Settings() const { return {angles.data(), static_cast<std::size_t>(count)}; }
  std::span<const Hkl> Indices() const { return {hkl.data(), static_cast<std::size_t>(count)}; }
};

// On the heap: a thousand entries are too large for the stack's comfort.
std::unique_ptr<ListArrays> PreprocessedArrays(const ProgramState& state) {
  const PreprocessedList& list = state.preprocessed_list;
  auto out = std::make_unique<ListArrays>();
  out->count = std::min(std::max(list.count, 0), kMaxPreprocessed);
  for (int n = 0; n < out->count; ++n) {
    out->angles[n] = list.entries[n].angles;
    out->hkl[n] = list.entries[n].hkl;
  }
  return out;
}

}  // namespace

bool LSQ(ProgramState& state, std::span<const Angles> angles, std::span<const Hkl> hkl) {
  Notices notices;
  const bool ok = LSQ(angles, hkl, state.params.lambda1, state.orientation, notices);
  ShowNotices(state, notices);
  return ok;
}

bool LSQ(ProgramState& state) {
  const auto list = PreprocessedArrays(state);
  return LSQ(state, list->Settings(), list->Indices());
}

bool LSVEC(ProgramState& state, int system) {
  const auto list = PreprocessedArrays(state);
  Notices notices;
  const bool ok = LSVEC(system, list->Settings(), list->Indices(), state.params.lambda1, state.orientation, notices);
  ShowNotices(state, notices);
  return ok;
}

int LSQ_OFFSETS(ProgramState& state, int refine_omega_zero) {
  const auto list = PreprocessedArrays(state);
  Notices notices;
  const int cycles = LSQ_OFFSETS(refine_omega_zero == 1, list->Settings(), list->Indices(), state.params.lambda1,
                                 state.params.rs, state.orientation, notices);
  ShowNotices(state, notices);
  return cycles;
}

int RefineOmegaZero(ProgramState& state) {
  const auto list = PreprocessedArrays(state);
  Notices notices;
  const int cycles =
      RefineOmegaZero(list->Settings(), list->Indices(), state.params.lambda1, state.orientation, notices);
  ShowNotices(state, notices);
  return cycles;
}

}  // namespace kalvex
