#include "engine/reduction.h"

#include <cmath>
#include <filesystem>
#include <sstream>

#include "common/file_names.h"
#include "common/fixed_fields.h"
#include "common/record_writer.h"
#include "common/text_files.h"
#include "refine/cell_lsq.h"
#include "scan/parameter_file.h"

namespace kalvex::engine {

using fields::Printf;

namespace fs = std::filesystem;

namespace {

ReductionOutcome Failed(int status, std::string message) {
  ReductionOutcome out;
  out.status = status;
  out.error = std::move(message);
  return out;
}

// The lines of a file as every file of the run is read (line ends, a
// byte-order mark and an end-of-file character taken off).
std::vector<std::string> ReadLines(const std::string& path, bool& ok) {
  textfile::LineSource in;
  ok = in.Open(path);
  std::vector<std::string> lines;
  for (std::string line; ok && in.Next(line);) lines.push_back(line);
  return lines;
}

// UB and the cell from every accepted record, free or constrained.
bool RefineOrientation(const std::vector<reduce::IntensityRecord>& records, const RunParameters& params,
                       int system, OrientationState& o, int& used, double& theta_min, double& theta_max,
                       std::string& error) {
  std::vector<Angles> angles;
  std::vector<Hkl> hkl;
  theta_min = 90, theta_max = 0;
  for (const reduce::IntensityRecord& r : records) {
    if (!r.Accepted()) continue;
    const auto a = reduce::InstrumentAngles(r, params.parity);
    angles.push_back({static_cast<float>(a[0]), static_cast<float>(a[1]), static_cast<float>(a[2]),
                      static_cast<float>(a[3])});
    hkl.push_back(r.hkl);
    theta_min = std::min(theta_min, std::fabs(a[0]) / 2);
    theta_max = std::max(theta_max, std::fabs(a[0]) / 2);
  }
  used = static_cast<int>(angles.size());
  if (used < 4) {
    error = "the cell refinement needs at least 4 accepted reflections; the file has " + std::to_string(used);
    return false;
  }
  Notices notices;
  const bool ok = system == 0 ? LSQ(angles, hkl, params.lambda1, o, notices)
                              : LSVEC(system, angles, hkl, params.lambda1, o, notices);
  if (!ok) {
    error = "the cell refinement failed";
    for (int i = 0; i < notices.count; ++i) error += std::string(": ") + std::string(NoticeText(notices.code[i]));
  }
  return ok;
}

// Writes `lines` as the whole of the file at `path` through the program's
// record writer; "" when they all reached it, else the file and the
// system's reason.
std::string WriteLines(const std::string& path, const std::vector<std::string>& lines) {
  textfile::RecordWriter file;
  if (!file.Open(path, false)) return file.Error();
  for (const std::string& line : lines) file.Line(line);
  if (!file.Flush()) return file.Error();
  return {};
}

void Summarise(ReductionOutcome& out, const ReductionRequest& request, const RunParameters& params, int read,
               double theta_min, double theta_max, const reduce::ReduceOptions& options) {
  auto& s = out.summary;
  const reduce::Reduction& r = out.reduction;
  int standards = 0;
  for (const auto& x : r.reflections) standards += x.record.IsStandard();
  s.push_back(Printf("Read %d records: %d accepted (%d of them standards), %d rejected by the integration and left out",
                     read, static_cast<int>(r.reflections.size()), standards, r.rejected));
  const char* names[7] = {"a", "b", "c", "alpha", "beta", "gamma", "V"};
  s.push_back(Printf("Cell from %d reflections, theta %.2f to %.2f degrees%s%s:", out.cell_reflections, theta_min,
                     theta_max, request.crystal_system ? ", constrained " : ", unconstrained",
                     request.crystal_system ? std::string(CrystalSystemName(request.crystal_system)).c_str() : ""));
  for (int i = 0; i < 7; ++i)
    s.push_back(Printf("  %-6s %s", names[i],
                       reduce::WithUncertainty(out.orientation.cell[i], out.orientation.cell_esd[i], i < 3 ? 5 : 3).c_str()));
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
    s.push_back("Decay: not corrected: " + d.refusal + " (two rounds are needed)");
  } else {
    s.push_back(Printf("Decay: %d rounds of %d standards, every %d reflections; largest decay %.2f %%, start to "
                       "finish %.2f %%",
                       static_cast<int>(d.rounds.size()), d.standards, d.interval, d.largest_decay_percent,
                       d.start_to_finish_percent));
  }
  s.push_back(Printf("Output scale %g: every intensity and sigma written is the corrected value times it",
                     r.output_scale));
  if (options.laue) {
    const auto& m = r.table.front();
    s.push_back(Printf("Merging in %s: %d reflections, %d unique, %d measured more than once; R_int %.4f, "
                       "sigma(I)/I %.4f",
                       m.label.c_str(), m.observations, m.unique, m.groups, m.r_int, m.r_sigma));
  } else {
    s.push_back("Laue classes the cell allows, best first (R_meas weighs each group by sqrt(n/(n-1))):");
    s.push_back("  class                     order  unique  groups   R_int  R_meas  sigma(I)/I");
    for (const auto& m : r.table)
      s.push_back(Printf("  %-25s %5d %7d %7d  %6.4f  %6.4f  %6.4f", m.label.c_str(), m.order, m.unique, m.groups,
                         m.r_int, m.r_meas, m.r_sigma));
  }
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
  options.cosines = request.cosines;
  options.batch_from_scale_groups = request.batch_from_scale_groups;
  if (!request.laue.empty()) {
    options.laue = reduce::FindLaueClass(request.laue);
    if (!options.laue) return Failed(2, "\"" + request.laue + "\" is neither a Laue class nor a space group");
  }
  if (request.crystal_system < 0 || request.crystal_system > 6) return Failed(2, "no such crystal system");
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

  bool opened = false;
  const std::vector<std::string> lines = ReadLines(request.intensity_file, opened);
  if (!opened) return Failed(1, "cannot read " + request.intensity_file);
  const reduce::IntensityFileContents contents = reduce::ParseIntensityFile(lines);
  if (!contents.error.empty()) return Failed(1, request.intensity_file + ": " + contents.error);
  if (contents.records.empty()) return Failed(1, request.intensity_file + ": no records");

  ReductionOutcome out;
  double theta_min = 0, theta_max = 0;
  std::string error;
  if (!RefineOrientation(contents.records, params, request.crystal_system, out.orientation, out.cell_reflections,
                         theta_min, theta_max, error))
    return Failed(1, error);

  out.reduction = reduce::Reduce(contents.records, params, out.orientation, options);
  reduce::CifContents cif = reduce::CifOf(out.reduction, params, out.orientation, options);
  cif.block = fs::path(request.intensity_file).stem().string();
  cif.cell_reflections = out.cell_reflections;
  cif.cell_theta_min = theta_min;
  cif.cell_theta_max = theta_max;

  std::string written = WriteLines(hkl_file, reduce::Hklf4File(out.reduction, options));
  if (written.empty()) {
    std::stringstream text;
    reduce::WriteCif(cif, text);
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    written = WriteLines(cif_file, lines);
  }
  if (!written.empty()) return Failed(1, "cannot write " + written);
  out.hkl_file = hkl_file;
  out.cif_file = cif_file;
  Summarise(out, request, params, static_cast<int>(contents.records.size()), theta_min, theta_max, options);
  out.summary.push_back("Wrote " + hkl_file + " (HKLF 4" + std::string(options.cosines ? ", direction cosines" : "") +
                        (options.batch_from_scale_groups ? ", batch = scale group" : ", batch 1") + ")");
  out.summary.push_back("      " + cif_file);
  return out;
}

}  // namespace kalvex::engine
