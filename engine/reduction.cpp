#include "engine/reduction.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "common/file_names.h"
#include "common/fixed_fields.h"
#include "common/text_files.h"
#include "refine/cell_lsq.h"
#include "reduce/cell_refinement.h"
#include "scan/parameter_file.h"

namespace kalvex::engine {

using fields::Printf;

namespace fs = std::filesystem;

namespace {

// The wavelengths a diffractometer's X-rays have, Angstrom.
constexpr double kShortestWavelength = 0.1;
constexpr double kLongestWavelength = 10.0;
// At most this many of a kind are named one by one in the summary.
constexpr int kNamed = 12;
// The summary's lines are at most this long.
constexpr std::size_t kSummaryWidth = 100;

ReductionOutcome Failed(int status, std::string message) {
  ReductionOutcome out;
  out.status = status;
  out.error = std::move(message);
  return out;
}

// An output written beside its final name and renamed into place, so that
// the old file stays whole until the new one is.
class PendingFile {
 public:
  explicit PendingFile(std::string path) : path_(std::move(path)) {}
  ~PendingFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
  }
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  bool Open() {
    const fs::path final_path(path_);
    std::error_code ec;
    if (fs::is_directory(final_path, ec)) return Fail(EISDIR);
    const fs::path dir = final_path.has_parent_path() ? final_path.parent_path() : fs::path(".");
    std::string name = (dir / ("." + final_path.filename().string() + ".XXXXXX")).string();
    fd_ = ::mkstemp(name.data());
    if (fd_ < 0) return Fail(errno);
    temporary_ = name;
    // mkstemp makes the file private; a new output has the mode any other would.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd_, 0666 & ~mask);
    return true;
  }
  void Write(std::string_view text) {
    while (error_.empty() && !text.empty()) {
      const ssize_t n = ::write(fd_, text.data(), text.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        Fail(n < 0 ? errno : ENOSPC);
        return;
      }
      text.remove_prefix(static_cast<std::size_t>(n));
    }
  }
  // Everything written reaches the disk before the file takes its name.
  bool Close() {
    if (error_.empty() && ::fsync(fd_) != 0) Fail(errno);
    if (::close(fd_) != 0 && error_.empty()) Fail(errno);
    fd_ = -1;
    return error_.empty();
  }
  bool Rename() {
    if (::rename(temporary_.c_str(), path_.c_str()) != 0) return Fail(errno);
    temporary_.clear();
    return true;
  }
  const std::string& Error() const { return error_; }

 private:
  bool Fail(int error_number) {
    if (error_.empty()) error_ = path_ + ": " + std::strerror(error_number);
    return false;
  }

  std::string path_;
  std::string temporary_;
  int fd_ = -1;
  std::string error_;
};

// Both outputs into place, the CIF first: an interruption between the two
// renames never leaves a new HKLF 4 file without its CIF. The signals that
// end a run are held back meanwhile.
std::string Commit(PendingFile& hkl, PendingFile& cif) {
  sigset_t ending, before;
  sigemptyset(&ending);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&ending, s);
  pthread_sigmask(SIG_BLOCK, &ending, &before);
  std::string error;
  if (!cif.Rename()) {
    error = cif.Error() + "; no output was replaced";
  } else if (!hkl.Rename()) {
    error = hkl.Error() + "; the CIF was replaced, the HKLF 4 file was not";
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return error;
}

std::string WriteOutputs(const reduce::Reduction& r, const reduce::ReduceOptions& options,
                         const reduce::CifContents& cif_contents, const std::string& hkl_path,
                         const std::string& cif_path) {
  PendingFile hkl(hkl_path), cif(cif_path);
  const std::string untouched = "; no output was replaced";
  if (!hkl.Open()) return hkl.Error() + untouched;
  if (!cif.Open()) return cif.Error() + untouched;
  reduce::WriteHklf4(r, options, [&hkl](std::string_view text) { hkl.Write(text); });
  if (!hkl.Close()) return hkl.Error() + untouched;
  reduce::WriteCif(cif_contents, [&cif](std::string_view text) { cif.Write(text); });
  if (!cif.Close()) return cif.Error() + untouched;
  return Commit(hkl, cif);
}

// UB and the cell from the chosen reflections, free or constrained, and
// the free cell of the same reflections.
struct CellRefinement {
  reduce::CellFit fit;
  reduce::CellFit free;
  int used = 0;
  double theta_min = 0, theta_max = 0;
  std::string error;
};

CellRefinement RefineCell(const reduce::Reduction& r, const std::vector<std::uint32_t>& chosen,
                          const RunParameters& params, int system, double threshold) {
  CellRefinement out;
  std::vector<reduce::CellObservation> data;
  out.theta_min = 90;
  for (std::uint32_t i : chosen) {
    const reduce::IntensityRecord& record = r.Record(r.reflections[i]);
    const auto a = reduce::InstrumentAngles(record, params.parity);
    data.push_back({record.hkl, a, record.intensity / record.sigma});
    out.theta_min = std::min(out.theta_min, a[0] / 2);
    out.theta_max = std::max(out.theta_max, a[0] / 2);
  }
  out.used = static_cast<int>(data.size());
  if (out.used < 4) {
    out.error = Printf("the cell refinement needs at least 4 reflections with I/sigma of %g or more; the file has "
                       "%d (a lower --cell-threshold takes weaker ones)",
                       threshold, out.used);
    return out;
  }
  out.free = reduce::FitCell(data, params.lambda1, 0);
  out.fit = system == 0 || !out.free.error.empty() ? out.free : reduce::FitCell(data, params.lambda1, system);
  if (!out.fit.error.empty()) {
    out.error = "the cell refinement failed: " + out.fit.error;
    return out;
  }
  for (double v : out.fit.cell)
    if (!(std::isfinite(v) && v > 0)) out.error = "the refined cell has no length, angle or volume";
  return out;
}

OrientationState AsOrientation(const reduce::CellFit& fit) {
  OrientationState o;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) o.ub[i][j] = static_cast<float>(fit.ub[i][j]);
  for (int i = 0; i < 7; ++i) {
    o.cell[i] = static_cast<float>(fit.cell[i]);
    o.cell_esd[i] = static_cast<float>(fit.esd[i]);
  }
  return o;
}

// The summary in lines of at most `width` characters, broken at blanks: the
// window shows it in a field of that many. A continuation is indented two
// more than its line.
std::vector<std::string> Wrapped(const std::vector<std::string>& lines, std::size_t width) {
  std::vector<std::string> out;
  for (const std::string& line : lines) {
    std::string rest = line;
    const std::size_t indent = line.find_first_not_of(' ') == std::string::npos ? 0 : line.find_first_not_of(' ');
    while (rest.size() > width) {
      std::size_t cut = rest.rfind(' ', width);
      // A unit stays with its number.
      while (cut != std::string::npos && cut > 0 && rest[cut + 1] == '%') cut = rest.rfind(' ', cut - 1);
      if (cut == std::string::npos || cut <= indent + 2) break;
      out.push_back(rest.substr(0, cut));
      rest = std::string(indent + 2, ' ') + rest.substr(cut + 1);
    }
    out.push_back(rest);
  }
  return out;
}

void Append(std::vector<std::string>& to, const std::vector<std::string>& lines) {
  to.insert(to.end(), lines.begin(), lines.end());
}

std::vector<std::string> StandardsTable(const reduce::DecayModel& d) {
  std::vector<std::string> s;
  if (d.rounds.empty()) return s;
  s.push_back("Standards, each over its first measurement, round by round:");
  std::string head = "  round     seq";
  for (int code : d.standard_codes) head += Printf("   std %d", code);
  s.push_back(head + "    mean");
  for (std::size_t k = 0; k < d.rounds.size(); ++k) {
    const reduce::DecayRound& round = d.rounds[k];
    std::string line = Printf("  %5d %7.0f", static_cast<int>(k) + 1, round.seq);
    for (int code : d.standard_codes) {
      const auto m = std::find_if(round.ratios.begin(), round.ratios.end(),
                                  [code](const reduce::StandardRatio& x) { return x.standard == code; });
      line += m == round.ratios.end() ? std::string("       -") : Printf("  %6.4f", m->ratio);
    }
    s.push_back(line + Printf("  %6.4f", round.scale));
  }
  return s;
}

std::string JumpText(const reduce::DecayModel& d, const reduce::StandardJump& j) {
  return Printf("standard %d in round %d (seq %.0f): %.4f against the round's median %.4f", j.standard, j.round,
                d.rounds[j.round - 1].seq, j.ratio, j.others);
}

std::vector<std::string> OutOfLineLines(const reduce::Reduction& r) {
  std::vector<std::string> s;
  const int neighbours = r.out_of_line[static_cast<int>(reduce::OutOfLine::kNeighbours)];
  const int equivalents = r.out_of_line[static_cast<int>(reduce::OutOfLine::kEquivalents)];
  if (neighbours + equivalents == 0) return s;
  s.push_back(Printf("Left out as out of line: %d against their neighbours in 2theta (|I| over %g x the median |I| + "
                     "sigma, or I/sigma over %g x the median, of %d neighbours), %d against their equivalents (over "
                     "%g sigma and %g %% from the median of three or more):",
                     neighbours, reduce::kOutlierSize, reduce::kOutlierPrecision, reduce::kShell, equivalents,
                     reduce::kOutlierSigmas, 100 * reduce::kOutlierFraction));
  int named = 0;
  for (const reduce::ReducedReflection& x : r.reflections) {
    if (x.out_of_line == reduce::OutOfLine::kNo) continue;
    if (++named > kNamed) {
      s.push_back(Printf("  ... and %d more", neighbours + equivalents - kNamed));
      break;
    }
    const reduce::IntensityRecord& rec = r.Record(x);
    s.push_back(Printf("  line %d: %d %d %d, I %.4g sigma %.4g (%s)", rec.line_number, rec.hkl[0], rec.hkl[1],
                       rec.hkl[2], x.intensity, x.sigma,
                       x.out_of_line == reduce::OutOfLine::kNeighbours ? "neighbours" : "equivalents"));
  }
  return s;
}

std::vector<std::string> CellLines(const ReductionRequest& request, const CellRefinement& cell) {
  std::vector<std::string> s;
  const bool constrained = request.crystal_system != 0;
  s.push_back(Printf("Cell from %d reflections with I/sigma of %g or more (each unique reflection once, its strongest "
                     "measurement), theta %.2f to %.2f degrees, %s%s:",
                     cell.used, request.cell_threshold, cell.theta_min, cell.theta_max,
                     constrained ? "constrained " : "unconstrained",
                     constrained ? std::string(CrystalSystemName(request.crystal_system)).c_str() : ""));
  const char* names[7] = {"a", "b", "c", "alpha", "beta", "gamma", "V"};
  const reduce::CellFit& f = cell.fit;
  for (int i = 0; i < 7; ++i)
    s.push_back(Printf("  %-6s %s", names[i], reduce::WithUncertainty(f.cell[i], f.esd[i], i < 3 ? 5 : 3).c_str()));
  const reduce::AngleErrors& e = f.errors;
  s.push_back(Printf("  weighted by the errors the residuals show: 2theta %.5f, chi and phi %.5f, omega %.5f + "
                     "%.3f / (I/sigma) degrees; goodness of fit %.2f",
                     e.two_theta, e.across, e.omega_floor, e.omega_scale, f.goodness));
  if (!constrained) return s;
  // The constrained cell against the free one of the same reflections.
  const reduce::CellFit& free = cell.free;
  const CellVector free_cell = AsOrientation(free).cell, free_esd = AsOrientation(free).cell_esd;
  const auto [length_tolerance, angle_tolerance] = reduce::MetricTolerances(free_cell, free_esd);
  std::string misfit = "  against the free cell:";
  bool beyond = false;
  for (int i = 0; i < 6; ++i) {
    const double off = f.cell[i] - free.cell[i];
    beyond = beyond || std::fabs(off) > (i < 3 ? length_tolerance : angle_tolerance);
    misfit += Printf(" %s %+.5f%s", names[i], off, i < 3 ? " A" : "");
  }
  s.push_back(misfit);
  s.push_back(beyond ? Printf("  Warning: the free cell does not have this system's metric: a misfit beyond %.4f A or "
                              "%.3f degrees (goodness of fit %.2f held, %.2f free)",
                              length_tolerance, angle_tolerance, f.goodness, free.goodness)
                     : Printf("  the misfit is within %.4f A and %.3f degrees", length_tolerance, angle_tolerance));
  return s;
}

std::vector<std::string> MergingLines(const reduce::Reduction& r, const reduce::ReduceOptions& options,
                                      const CellVector& cell, const CellVector& esd) {
  std::vector<std::string> s;
  const auto [length_tolerance, angle_tolerance] = reduce::MetricTolerances(cell, esd);
  const std::string tolerance = Printf(
      "lattice tolerance %.4f A in length, %.3f degrees in angle (3 sqrt(2) ESDs of the free cell, at least 0.0002 "
      "of the longest axis and 0.02 degree)",
      length_tolerance, angle_tolerance);
  if (options.laue) {
    const auto& m = r.table.front();
    s.push_back(Printf("Merging in %s: %d reflections, %d unique, %d measured more than once; R_int %.4f, "
                       "sigma(I)/I %.4f",
                       m.label.c_str(), m.observations, m.unique, m.groups, m.r_int, m.r_sigma));
    s.push_back("  its metric fits the cell within the " + tolerance);
    if (r.centring.forbidden > 0)
      s.push_back(Printf("  its lattice centring forbids %d of the reflections measured; %d of them have I > 3 sigma",
                         r.centring.forbidden, r.centring.observed));
    return s;
  }
  s.push_back("Laue classes the cell allows (" + tolerance + "), best first (R_meas weighs each group by sqrt(n/(n-1))):");
  s.push_back("  class                     order  unique  groups   R_int  R_meas  sigma(I)/I");
  for (const auto& m : r.table)
    s.push_back(Printf("  %-25s %5d %7d %7d  %6.4f  %6.4f  %6.4f", m.label.c_str(), m.order, m.unique, m.groups,
                       m.r_int, m.r_meas, m.r_sigma));
  const auto& m = r.table[r.chosen];
  if (r.no_symmetry && r.chosen != 0)
    s.push_back(Printf("No symmetry found; -1: no class beyond -1 merges with R_int below %.2f", reduce::kNoSymmetryRInt));
  else if (r.no_symmetry && m.groups == 0)
    s.push_back("No symmetry found; -1: no two measurements are equivalent in it");
  else if (r.no_symmetry)
    s.push_back("No symmetry found; -1: it merges best");
  else
    s.push_back(Printf("Laue class %s: R_int %.4f, below %.2f", m.label.c_str(), m.r_int, reduce::kNoSymmetryRInt));
  return s;
}

void Summarise(ReductionOutcome& out, const ReductionRequest& request, const RunParameters& params,
               const CellRefinement& cell, const CellRefinement& first_cell, const reduce::ReduceOptions& options,
               const reduce::CifContents& cif) {
  auto& s = out.summary;
  const reduce::Reduction& r = out.reduction;
  int standards = 0;
  for (const auto& x : r.reflections) standards += r.Record(x).IsStandard();
  s.push_back(Printf("Read %d records: %d accepted (%d of them standards), %d rejected by the integration and left out",
                     static_cast<int>(r.records.size()), static_cast<int>(r.reflections.size()), standards, r.rejected));
  Append(s, OutOfLineLines(r));
  Append(s, CellLines(request, cell));
  if (!options.lp) {
    s.push_back("Lp: not applied (--no-lp)");
  } else if (params.mono_flag != 0) {
    s.push_back(Printf("Lp: omega scan, monochromator 2theta %.3f degrees, dihedral angle %.2f degrees",
                       params.mono_2theta, params.dihedral));
  } else {
    s.push_back("Lp: omega scan, unpolarised beam");
  }
  const reduce::DecayModel& d = r.decay;
  if (!options.decay) {
    s.push_back("Decay: not corrected (--no-decay)");
  } else if (!d.Usable()) {
    s.push_back("Decay: not corrected: " + r.decay_refusal);
  } else if (!r.decay_applied) {
    s.push_back(Printf("Decay: not corrected: in %d measurements a standard leaves its round's median by more than %.0f "
                       "sigma and %.0f %%, so the standards do not measure one decay (--decay-anyway corrects "
                       "regardless)",
                       static_cast<int>(d.jumps.size()), reduce::kJumpSigmas, 100 * reduce::kJumpFraction));
  } else {
    s.push_back(Printf("Decay: %d rounds of %d standards, every %d reflections; largest decay %.2f %%, start to "
                       "finish %.2f %%%s",
                       static_cast<int>(d.rounds.size()), d.standards, d.interval, d.largest_decay_percent,
                       d.start_to_finish_percent, d.jumps.empty() ? "" : " (corrected although the standards disagree)"));
  }
  if (d.standards == 1) s.push_back("  one standard: its curve has no other to be checked against");
  for (std::size_t i = 0; i < d.jumps.size() && i < static_cast<std::size_t>(kNamed); ++i)
    s.push_back("  out of its round: " + JumpText(d, d.jumps[i]));
  Append(s, StandardsTable(d));
  s.push_back(Printf("Output scale %g: every intensity and sigma written is the corrected value times it",
                     r.output_scale));
  Append(s, MergingLines(r, options, AsOrientation(first_cell.free).cell, AsOrientation(first_cell.free).cell_esd));
  s.push_back(Printf("Completeness in %s: %.3f to theta_max %.2f degrees, %.3f to theta_full %.2f degrees",
                     r.table[r.chosen].label.c_str(), cif.fraction_max, cif.theta_max, cif.fraction_full,
                     cif.theta_full));
  if (r.missing_cosines > 0)
    s.push_back(Printf("%d reflections have no direction cosines (UB places them beyond the sphere): zeros written",
                       r.missing_cosines));
}

}  // namespace

int CrystalSystemFromName(const std::string& name) {
  const char* systems[] = {"", "monoclinic-b", "monoclinic-c", "orthorhombic", "tetragonal", "hexagonal", "cubic"};
  for (int i = 0; i < 7; ++i)
    if (name == systems[i]) return i;
  return -1;
}

ReductionOutcome RunReduction(const ReductionRequest& request) {
  reduce::ReduceOptions options;
  options.lp = request.lp;
  options.decay = request.decay;
  options.decay_anyway = request.decay_anyway;
  options.cosines = request.cosines;
  options.batch_from_scale_groups = request.batch_from_scale_groups;
  if (!request.laue.empty()) {
    options.laue = reduce::FindLaueClass(request.laue);
    if (!options.laue) return Failed(2, reduce::LaueRefusal(request.laue));
  }
  if (request.crystal_system < 0 || request.crystal_system > 6) return Failed(2, "no such crystal system");
  if (!(request.cell_threshold >= 0)) return Failed(2, "the cell threshold is an I/sigma of 0 or more");
  if (request.temperature && !(*request.temperature > 0)) return Failed(2, "a temperature is above 0 kelvin");
  const std::string hkl_file =
      request.hkl_file.empty() ? fs::path(request.intensity_file).replace_extension(".hkl").string() : request.hkl_file;
  const std::string cif_file =
      request.cif_file.empty() ? fs::path(request.intensity_file).replace_extension(".cif").string() : request.cif_file;
  for (const std::string& output : {hkl_file, cif_file}) {
    if (fileio::SameFile(output, request.intensity_file) || fileio::SameFile(output, request.parameter_file))
      return Failed(2, output + " is an input of this run: name another output file");
  }
  if (fileio::SameFile(hkl_file, cif_file)) return Failed(2, "--hkl and --cif name the same file");

  textfile::LineSource par;
  if (!par.Open(request.parameter_file)) return Failed(1, "cannot read " + request.parameter_file);
  RunParameters params;
  ParameterMarks marks{};
  const ParameterFileResult read_par = ReadParameterFile(par, params, marks);
  if (read_par.error) return Failed(1, request.parameter_file + ": " + read_par.error->message);
  if (!(params.lambda1 > 0)) return Failed(1, request.parameter_file + ": no wavelength (WAVEL)");
  if (!(params.lambda1 >= kShortestWavelength && params.lambda1 <= kLongestWavelength))
    return Failed(1, request.parameter_file + Printf(": the wavelength (WAVEL) %g Angstrom is no diffractometer's "
                                                     "X-rays (%g to %g)",
                                                     params.lambda1, kShortestWavelength, kLongestWavelength));

  textfile::LineSource in;
  if (!in.Open(request.intensity_file)) return Failed(1, "cannot read " + request.intensity_file);
  reduce::IntensityFileContents contents = reduce::ReadIntensityFile(in);
  in.Close();
  if (!contents.error.empty()) return Failed(1, request.intensity_file + ": " + contents.error);
  if (contents.records.empty()) return Failed(1, request.intensity_file + ": no records");
  if (const std::string bad = reduce::CheckGeometry(contents.records, params, options); !bad.empty())
    return Failed(1, request.intensity_file + ": " + bad);

  ReductionOutcome out;
  out.reduction = reduce::Correct(std::move(contents.records), params, options);
  reduce::Reduction& r = out.reduction;

  // A first cell from the strong reflections, each pair of Friedel mates
  // once, for the metric the Laue classes are tried against; then the cell
  // of each unique reflection of the class the data merge in.
  const std::optional<reduce::LaueClass> friedel = reduce::FindLaueClass("-1");
  const CellRefinement first_cell =
      RefineCell(r, reduce::CellReflections(r, request.cell_threshold, *friedel), params, 0, request.cell_threshold);
  if (!first_cell.error.empty()) return Failed(1, first_cell.error);
  const OrientationState first = AsOrientation(first_cell.free);
  if (const std::string refused = reduce::ChooseLaueClass(r, first.cell, first.cell_esd, options); !refused.empty())
    return Failed(1, refused);
  const CellRefinement cell = RefineCell(r, reduce::CellReflections(r, request.cell_threshold, *r.laue), params,
                                         request.crystal_system, request.cell_threshold);
  if (!cell.error.empty()) return Failed(1, cell.error);
  out.orientation = AsOrientation(cell.fit);
  out.cell = cell.fit;
  out.cell_reflections = cell.used;
  reduce::Finish(r, out.orientation, params, options);

  reduce::CifContents cif = reduce::CifOf(r, params, cell.fit, options);
  cif.block = reduce::BlockName(fs::path(request.intensity_file).stem().string());
  cif.cell_reflections = cell.used;
  cif.cell_theta_min = cell.theta_min;
  cif.cell_theta_max = cell.theta_max;
  cif.temperature = request.temperature;
  if (!request.device.empty()) cif.device = request.device;
  if (!request.source.empty()) cif.source = request.source;

  if (const std::string error = WriteOutputs(r, options, cif, hkl_file, cif_file); !error.empty())
    return Failed(1, "cannot write " + error);
  out.hkl_file = hkl_file;
  out.cif_file = cif_file;
  Summarise(out, request, params, cell, first_cell, options, cif);
  out.summary.push_back("Wrote " + hkl_file + " (HKLF 4" + std::string(options.cosines ? ", direction cosines" : "") +
                        (options.batch_from_scale_groups ? ", batch = scale group" : ", batch 1") + ")");
  out.summary.push_back("      " + cif_file);
  out.summary = Wrapped(out.summary, kSummaryWidth);
  return out;
}

}  // namespace kalvex::engine
