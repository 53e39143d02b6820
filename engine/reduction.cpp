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
#include <fstream>
#include <memory>

#include "common/file_names.h"
#include "common/fixed_fields.h"
#include "common/text_files.h"
#include "engine/data_summary.h"
#include "refine/cell_lsq.h"
#include "reduce/attenuation.h"
#include "reduce/cell_refinement.h"
#include "reduce/ins_writer.h"
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

// One output: its name, and what writes its text.
struct Output {
  std::string path;
  std::function<void(const reduce::TextOut&)> write;
};

// Every output into place, the HKLF 4 file (the first) last: an
// interruption between the renames never leaves a new HKLF 4 file without
// its CIF. The signals that end a run are held back meanwhile.
std::string Commit(std::vector<std::unique_ptr<PendingFile>>& files, const std::vector<Output>& outputs) {
  sigset_t ending, before;
  sigemptyset(&ending);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&ending, s);
  pthread_sigmask(SIG_BLOCK, &ending, &before);
  std::string error, replaced;
  for (std::size_t k = 1; k <= files.size() && error.empty(); ++k) {
    const std::size_t i = k % files.size();
    if (files[i]->Rename()) {
      replaced += (replaced.empty() ? "" : ", ") + fs::path(outputs[i].path).filename().string();
    } else {
      error = files[i]->Error() + (replaced.empty() ? "; no output was replaced"
                                                    : "; " + replaced + " replaced, the HKLF 4 file not");
    }
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return error;
}

// Each output written beside its name in full, then all renamed into place.
std::string WriteOutputs(const std::vector<Output>& outputs) {
  const std::string untouched = "; no output was replaced";
  std::vector<std::unique_ptr<PendingFile>> files;
  for (const Output& o : outputs) {
    files.push_back(std::make_unique<PendingFile>(o.path));
    if (!files.back()->Open()) return files.back()->Error() + untouched;
  }
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    PendingFile& file = *files[i];
    outputs[i].write([&file](std::string_view text) { file.Write(text); });
    if (!file.Close()) return file.Error() + untouched;
  }
  return Commit(files, outputs);
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

// What the request adds beyond the corrections, as read and checked.
struct Extras {
  std::vector<reduce::FormulaElement> formula;
  reduce::Attenuation contents;  // weight, density and mu of the formula
  std::string formula_line;      // for the summary; empty without a formula
  reduce::AbsorptionRequest absorption;
  std::string mu_source;
  std::optional<reduce::LaueClass> space_group;
};

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
  // A class in which no two measurements are equivalent has no R_int to show.
  for (const auto& m : r.table)
    s.push_back(m.groups == 0 ? Printf("  %-25s %5d %7d %7d  no equivalents", m.label.c_str(), m.order, m.unique, m.groups)
                              : Printf("  %-25s %5d %7d %7d  %6.4f  %6.4f  %6.4f", m.label.c_str(), m.order, m.unique,
                                       m.groups, m.r_int, m.r_meas, m.r_sigma));
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
               const Extras& extras) {
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
  if (!extras.formula_line.empty()) s.push_back(extras.formula_line);
  Append(s, AbsorptionLines(r, extras.absorption, extras.mu_source));
  Append(s, SpaceGroupLines(r));
  Append(s, IntensityLines(r.statistics));
  Append(s, ResolutionLines(r.statistics));
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

namespace {

// The rotations of a class, in one order: two classes are the same when these are.
std::vector<std::array<std::array<int, 3>, 3>> SortedRotations(const reduce::LaueClass& laue) {
  auto rotations = laue.Rotations();
  std::sort(rotations.begin(), rotations.end());
  return rotations;
}

// The symmetry, contents and absorption the request asks for, checked
// before anything is read: empty when they make sense.
std::string CheckExtras(const ReductionRequest& request, reduce::ReduceOptions& options, Extras& extras) {
  using reduce::AbsorptionMethod;
  if (!request.space_group.empty()) {
    extras.space_group = reduce::FindLaueClass(request.space_group);
    if (!extras.space_group || !extras.space_group->space_group_named)
      return "--space-group takes a space-group symbol (P21/c), not \"" + request.space_group + "\"";
    if (!options.laue) {
      options.laue = extras.space_group;
    } else if (options.laue->space_group_named && options.laue->group != extras.space_group->group) {
      return "--laue names " + options.laue->label + " and --space-group " + extras.space_group->label +
             ": name the space group once";
    } else if (SortedRotations(*options.laue) != SortedRotations(*extras.space_group)) {
      return "the space group " + extras.space_group->label + " is not of the Laue class " + options.laue->label +
             " (its class is " + extras.space_group->LaueSymbol() + " in these axes)";
    } else {
      options.laue = extras.space_group;
    }
  }
  if (!request.formula.empty()) {
    std::string error;
    extras.formula = reduce::ParseFormula(request.formula, error);
    if (extras.formula.empty()) return "--formula: " + error;
    if (!(request.z > 0)) return "--formula goes with --z, the formula units in the cell";
  }
  if (!(request.z >= 0)) return "--z is the number of formula units in the cell, above 0";
  if (request.shells < 1 || request.shells > 50) return "--shells takes 1 to 50 shells";
  if (!(request.theta_full >= 0 && request.theta_full < 90)) return "--theta-full is an angle of 0 to 90 degrees";
  if (request.mu && !(*request.mu > 0)) return "--mu is a linear absorption coefficient above 0 per mm";
  const AbsorptionMethod method = request.absorption;
  const bool mu_known = request.mu.has_value() || !extras.formula.empty();
  const char* name = method == AbsorptionMethod::kFaces ? "faces" : "sphere";
  if (method == AbsorptionMethod::kEmpirical && (request.lmax < 2 || request.lmax > 6))
    return "--lmax takes 2 to 6";
  if (method == AbsorptionMethod::kFaces && request.faces_file.empty())
    return "--absorption faces needs the crystal's faces (--faces FILE)";
  if (!request.faces_file.empty() && method != AbsorptionMethod::kFaces && method != AbsorptionMethod::kEmpirical)
    return "--faces goes with --absorption faces (or empirical, to compare)";
  if (method == AbsorptionMethod::kSphere && !(request.radius > 0))
    return "--absorption sphere needs the sphere's radius in mm (--radius)";
  if (request.radius != 0 && method != AbsorptionMethod::kSphere) return "--radius goes with --absorption sphere";
  if ((method == AbsorptionMethod::kFaces || method == AbsorptionMethod::kSphere) && !mu_known)
    return std::string("--absorption ") + name + " needs mu: --mu, or --formula with --z";
  extras.absorption.method = method;
  extras.absorption.lmax = request.lmax;
  extras.absorption.radius = request.radius;
  extras.absorption.mu = request.mu;
  if (request.mu) extras.mu_source = "given";
  return {};
}

// The faces of the faces file, or why they cannot be read.
std::string ReadFaces(const std::string& path, std::vector<reduce::CrystalFace>& faces) {
  std::ifstream in(path);
  if (!in) return "cannot read " + path;
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  const reduce::FacesFile read = reduce::ParseFacesFile(lines);
  if (!read.error.empty()) return path + ": " + read.error;
  faces = read.faces;
  return {};
}

}  // namespace

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
  Extras extras;
  if (const std::string refused = CheckExtras(request, options, extras); !refused.empty()) return Failed(2, refused);
  if (request.crystal_system < 0 || request.crystal_system > 6) return Failed(2, "no such crystal system");
  if (!(request.cell_threshold >= 0)) return Failed(2, "the cell threshold is an I/sigma of 0 or more");
  if (request.temperature && !(*request.temperature > 0)) return Failed(2, "a temperature is above 0 kelvin");
  if (!request.report_file.empty() && !request.report_page) return Failed(2, "a report needs its page");
  const std::string hkl_file =
      request.hkl_file.empty() ? fs::path(request.intensity_file).replace_extension(".hkl").string() : request.hkl_file;
  const std::string cif_file =
      request.cif_file.empty() ? fs::path(request.intensity_file).replace_extension(".cif").string() : request.cif_file;
  std::vector<std::string> outputs = {hkl_file, cif_file};
  for (const std::string& more : {request.ins_file, request.report_file})
    if (!more.empty()) outputs.push_back(more);
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const std::string& output = outputs[i];
    if (fileio::SameFile(output, request.intensity_file) || fileio::SameFile(output, request.parameter_file) ||
        (!request.faces_file.empty() && fileio::SameFile(output, request.faces_file)))
      return Failed(2, output + " is an input of this run: name another output file");
    for (std::size_t k = 0; k < i; ++k)
      if (fileio::SameFile(output, outputs[k]))
        return Failed(2, output + " is named for two outputs: name another");
  }

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
  if (!request.faces_file.empty())
    if (const std::string error = ReadFaces(request.faces_file, extras.absorption.faces); !error.empty())
      return Failed(1, error);

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

  // The formula's weight, density and mu in this cell.
  reduce::AbsorptionRequest& absorption = extras.absorption;
  if (!extras.formula.empty()) {
    extras.contents = reduce::AttenuationFromFormula(request.formula, request.z, first_cell.free.cell[6], params.lambda1);
    if (!extras.contents.error.empty()) return Failed(2, "--formula: " + extras.contents.error);
    extras.formula_line = Printf("Cell contents %s, Z %g: M %.2f g/mol, density %.3f g/cm^3, mu %.4g /mm at %.5f A",
                                 reduce::FormulaSum(extras.formula).c_str(), request.z, extras.contents.formula_weight,
                                 extras.contents.density, extras.contents.mu, params.lambda1);
    if (!absorption.mu) {
      absorption.mu = extras.contents.mu;
      extras.mu_source = "from the formula";
    }
  }
  r.absorption.mu = absorption.mu;
  // Numerical corrections need no symmetry: the classes are ranked on the corrected data.
  if (absorption.method == reduce::AbsorptionMethod::kFaces || absorption.method == reduce::AbsorptionMethod::kSphere)
    if (const std::string error = reduce::CorrectNumerically(r, absorption, first.ub, params); !error.empty())
      return Failed(1, (absorption.method == reduce::AbsorptionMethod::kFaces ? request.faces_file + ": " : "") + error);

  if (const std::string refused = reduce::ChooseLaueClass(r, first.cell, first.cell_esd, options); !refused.empty())
    return Failed(1, refused);
  // The empirical surface in the class of the ranking; absorption may have
  // hidden a higher class, so the classes are ranked again on the corrected
  // data, and a new class takes a surface of its own.
  if (absorption.method == reduce::AbsorptionMethod::kEmpirical) {
    if (const std::string error = reduce::CorrectEmpirically(r, absorption, first.ub, params); !error.empty())
      return Failed(1, error);
    if (!options.laue) {
      const std::string ranked = r.laue->label;
      if (const std::string refused = reduce::ChooseLaueClass(r, first.cell, first.cell_esd, options); !refused.empty())
        return Failed(1, refused);
      if (r.laue->label != ranked) {
        reduce::UndoAbsorption(r);
        r.absorption.mu = absorption.mu;
        if (const std::string error = reduce::CorrectEmpirically(r, absorption, first.ub, params); !error.empty())
          return Failed(1, error);
      }
    }
  }
  const CellRefinement cell = RefineCell(r, reduce::CellReflections(r, request.cell_threshold, *r.laue), params,
                                         request.crystal_system, request.cell_threshold);
  if (!cell.error.empty()) return Failed(1, cell.error);
  out.orientation = AsOrientation(cell.fit);
  out.cell = cell.fit;
  out.cell_reflections = cell.used;
  reduce::SummariseAbsorption(r);
  reduce::Finish(r, out.orientation, params, options);

  reduce::StatisticsRequest statistics;
  statistics.formula = extras.formula;
  statistics.z = request.z;
  statistics.shells = request.shells;
  statistics.theta_full = request.theta_full;
  r.statistics =
      reduce::AnalyseDataSet(reduce::KeptObservations(r), *r.laue, out.orientation.cell, params.lambda1, statistics);

  reduce::CifContents cif = reduce::CifOf(r, params, cell.fit, options);
  cif.block = reduce::BlockName(fs::path(request.intensity_file).stem().string());
  cif.cell_reflections = cell.used;
  cif.cell_theta_min = cell.theta_min;
  cif.cell_theta_max = cell.theta_max;
  cif.temperature = request.temperature;
  if (!request.device.empty()) cif.device = request.device;
  if (!request.source.empty()) cif.source = request.source;
  if (request.z > 0) cif.z = request.z;
  if (!extras.formula.empty()) {
    cif.formula = extras.formula;
    cif.formula_weight = extras.contents.formula_weight;
    cif.density = extras.contents.density;
  }
  cif.absorption_details = reduce::AbsorptionDetails(r.absorption, absorption, r.table[r.chosen].label);

  std::vector<Output> files = {
      {hkl_file, [&](const reduce::TextOut& to) { reduce::WriteHklf4(r, options, to); }},
      {cif_file, [&](const reduce::TextOut& to) { reduce::WriteCif(cif, to); }}};
  if (!request.ins_file.empty()) {
    reduce::InsContents ins;
    ins.title = fs::path(request.intensity_file).stem().string();
    ins.wavelength = params.lambda1;
    ins.cell = out.orientation.cell;
    ins.cell_esd = out.orientation.cell_esd;
    ins.z = request.z > 0 ? static_cast<int>(std::lround(request.z)) : 1;
    ins.group = r.statistics.ins_group != nullptr ? r.statistics.ins_group : r.laue->group;
    ins.formula = extras.formula;
    std::vector<std::string> lines = reduce::InsFile(ins);
    if (r.statistics.choice == reduce::GroupChoice::kUndecided)
      lines.insert(lines.begin() + 1, "REM the space group is not decided: " + r.statistics.choice_note);
    files.push_back({request.ins_file, [lines](const reduce::TextOut& to) {
                       std::string text;
                       for (const std::string& line : lines) text += line + "\n";
                       to(text);
                     }});
  }
  if (!request.report_file.empty()) {
    files.push_back({request.report_file, [page = request.report_page(r)](const reduce::TextOut& to) { to(page); }});
  }
  if (const std::string error = WriteOutputs(files); !error.empty()) return Failed(1, "cannot write " + error);
  out.hkl_file = hkl_file;
  out.cif_file = cif_file;
  out.ins_file = request.ins_file;
  out.report_file = request.report_file;
  Summarise(out, request, params, cell, first_cell, options, extras);
  out.summary.push_back("Wrote " + hkl_file + " (HKLF 4" + std::string(options.cosines ? ", direction cosines" : "") +
                        (options.batch_from_scale_groups ? ", batch = scale group" : ", batch 1") + ")");
  for (const std::string& more : {cif_file, request.ins_file, request.report_file})
    if (!more.empty()) out.summary.push_back("      " + more);
  out.summary = Wrapped(out.summary, kSummaryWidth);
  return out;
}

}  // namespace kalvex::engine
