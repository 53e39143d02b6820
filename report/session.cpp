#include "report/session.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <ctime>
#include <optional>
#include <string_view>

#include "common/record_writer.h"
#include "plot/current_trace.h"
#include "report/report.h"

namespace kalvex::report {

namespace {

// The least bad kept scan is in front of the heap: the one a worse one replaces.
bool LessBad(const KeptScan& a, const KeptScan& b) { return a.rwp > b.rwp; }

void KeepRejected(SessionRecord& r, const ProgramState& state) {
  ++r.rejected_count;
  const float rwp = state.fit.rwp;
  auto& kept = r.rejected;
  if (static_cast<int>(kept.size()) >= kKeptRejected) {
    if (!(rwp > kept.front().rwp)) return;
    std::pop_heap(kept.begin(), kept.end(), LessBad);
    kept.pop_back();
  }
  if (kept.capacity() == 0) kept.reserve(kKeptRejected);
  const plot::ScanTrace trace = plot::CurrentTrace(state);
  KeptScan& k = kept.emplace_back();
  k.seq_no = state.scan.seq_no;
  k.rwp = rwp;
  k.reason = state.scan.class_code[2];
  // The intensity the fit reached, unless it broke off before it had one
  // (a singular matrix, no convergence, nothing to refine).
  const float scale = state.scan.count_scale;
  const float i = state.fit.peak.value[kIntensity] * scale, sigma = state.fit.peak.esd[kIntensity] * scale;
  std::optional<std::array<float, 2>> reached;
  if (std::string_view("ECD").find(k.reason) == std::string_view::npos && sigma > 0 && std::isfinite(i) &&
      std::isfinite(sigma))
    reached = std::array<float, 2>{i, sigma};
  k.caption = plot::RejectedCaption(state.scan.hkl, state.scan.seq_no, k.reason, reached, rwp);
  k.step_count = static_cast<int>(trace.x.size());
  k.position = trace.position;
  k.doublet = trace.alpha2.has_value();
  k.alpha2 = trace.alpha2.value_or(0.0f);
  std::copy(trace.x.begin(), trace.x.end(), k.x.begin());
  std::copy(trace.counts.begin(), trace.counts.end(), k.counts.begin());
  std::copy(trace.fit.begin(), trace.fit.end(), k.fit.begin());
  std::push_heap(kept.begin(), kept.end(), LessBad);
}

}  // namespace

void NoteReflection(ProgramState& state) {
  SessionRecord& r = state.session_record;
  const ScanReflection& scan = state.scan;
  const bool accepted = scan.class_code[1] != 'R';
  if (scan.standard_index > 0) {
    r.standards.push_back({scan.seq_no, scan.standard_index, state.fit.i_fit, state.fit.sigma_fit, accepted});
  } else if (accepted) {
    const float sigma = state.fit.sigma_fit;
    r.accepted.push_back({scan.seq_no, scan.two_theta, state.fit.peak.value[kFwhm],
                          sigma > 0 ? state.fit.i_fit / sigma : 0.0f});
  }
  if (!accepted) KeepRejected(r, state);
  r.last_seq_no = scan.seq_no;
}

ReportInput SessionReportInput(const ProgramState& state, const std::string& date) {
  ReportInput input;
  input.data_name = state.files.data_file_name;
  input.title = state.data_set.title;
  const int format = state.params.input_format;
  input.format = format == kFormatXcalibur ? "Xcalibur"
                 : format == kFormatSingle ? "Single"
                 : format == kFormatCad4   ? "Enraf CAD4"
                 : format == kFormatXscans ? "Xscans"
                                           : "";
  if (state.parameters_read) input.parameters = state.files.parameter_file_name;
  if (state.files.output_open) input.output = state.files.output_file_name;
  input.date = date;
  input.input_class = state.data_set.input_class;
  input.outcome = state.fit.outcome;
  input.record = &state.session_record;
  return input;
}

std::string WriteSessionReport(const ProgramState& state, const std::string& path) {
  char date[32];
  const std::time_t now = std::time(nullptr);
  std::strftime(date, sizeof date, "%Y-%m-%d %H:%M", std::localtime(&now));
  const ReportInput input = SessionReportInput(state, date);
  const Report page = BuildReport(input);
  textfile::RecordWriter out;
  if (!out.Open(path, false)) return out.Error();
  out.Line(page.html);
  out.Flush();
  out.Close();
  return out.Error();
}

}  // namespace kalvex::report
