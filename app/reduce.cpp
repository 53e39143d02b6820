#include "app/reduce.h"

#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "app/number_option.h"
#include "report/reduction_report.h"

namespace kalvex {

CLI::App* AddReduceCommand(CLI::App& app, ReduceCommandLine& line) {
  engine::ReductionRequest& request = line.request;
  auto* reduce = app.add_subcommand(
      "reduce",
      "Correct an \"Rfine\" or \"Rfine extended\" intensity file for Lorentz-polarisation, decay and (with "
      "--absorption) absorption, refine the cell from its angles, rank the Laue classes and the space groups of the "
      "class by their absences, and write a SHELX HKLF 4 file and a CIF (with --ins and --report also the solver's "
      "instruction file and the reduction report). Records the integration rejected (status "
      "letter R) are left out of everything and counted; standards go to the CIF, not the HKLF 4 file. A \"Shelx "
      "hkl\" file has no angles and is refused (status 1), and so is a record no reduction can use or a Laue class "
      "the cell or the data contradict; status 2 for a usage error. The outputs are written beside their names "
      "and take them together, or none does");
  reduce->add_option("INTENSITY_FILE", request.intensity_file, "the intensity file kalvex integrate wrote")
      ->required()
      ->check(CLI::ExistingFile);
  reduce->add_option("--par", request.parameter_file, "the parameter file: parities, wavelength, monochromator")
      ->required()
      ->check(CLI::ExistingFile);
  reduce->add_option("--hkl", request.hkl_file, "HKLF 4 file to write (default: INTENSITY_FILE with .hkl)");
  reduce->add_option("--cif", request.cif_file, "CIF to write (default: INTENSITY_FILE with .cif)");
  reduce->add_option("--laue", request.laue,
                     "Laue class (-1, 2/m, mmm, 4/m, 4/mmm, -3, -3m1, -31m, 6/m, 6/mmm, m-3, m-3m) or space-group "
                     "symbol (P21/c; not its number) to merge in: refused when the cell's metric or, for a centred "
                     "group, the reflections its centring forbids contradict it. Without it the classes the cell "
                     "allows are ranked, and -1 is taken when none merges with R_int below 0.15");
  reduce->add_flag("--no-lp", [&request](std::int64_t) { request.lp = false; }, "no Lorentz-polarisation correction");
  reduce->add_flag("--no-decay", [&request](std::int64_t) { request.decay = false; },
                   "no decay correction from the standards");
  reduce->add_flag("--decay-anyway", request.decay_anyway,
                   "correct for the decay even when a standard leaves its round's median (by 5 sigma and 5 %)");
  reduce
      ->add_option("--cell-threshold", request.cell_threshold,
                   "refine the cell from reflections with I/sigma of at least this, each unique one once (20)")
      ->check(FiniteIn("--cell-threshold", 0, 1e6));
  reduce->add_option("--temperature", request.temperature, "the crystal's temperature in kelvin, for the CIF")
      ->check(FiniteIn("--temperature", 0.01, 5000));
  reduce->add_option("--device", request.device, "the diffractometer's make and model, for the CIF");
  reduce->add_option("--source", request.source, "the X-ray source (e.g. \"sealed X-ray tube\"), for the CIF");
  reduce->add_flag("--cosines", request.cosines,
                   "direction cosines of the reversed incident and the diffracted beam on a*, b*, c* after each record");
  reduce->add_flag("--batch-from-scale-groups", request.batch_from_scale_groups,
                   "batch number = scale group: 1 up to the second round of standards, k between rounds k and k+1");
  reduce
      ->add_option("--system", line.system,
                   "constrain the cell: monoclinic-b|monoclinic-c|orthorhombic|tetragonal|hexagonal|cubic")
      ->check(CLI::IsMember({"monoclinic-b", "monoclinic-c", "orthorhombic", "tetragonal", "hexagonal", "cubic"}));
  reduce->add_option("--space-group", request.space_group,
                     "the space group (a symbol, P21/c) for the CIF and the .ins, whatever the absences say; without "
                     "it the groups of the class are ranked by their absences and the CIF names one only when it "
                     "is a clear winner");
  reduce->add_option("--formula", request.formula,
                     "the cell's contents, \"C12 H10 N2 O\": the Wilson plot's atoms, mu, the CIF's formula and the "
                     ".ins's SFAC and UNIT; with --z");
  reduce->add_option("--z", request.z, "formula units in the cell")->check(FiniteIn("--z", 0.01, 1e4));
  reduce->add_option("--ins", request.ins_file,
                     "write a SHELX instruction file (TITL, CELL, ZERR, LATT, SYMM, SFAC, UNIT, HKLF 4) with the "
                     "other outputs");
  reduce->add_option("--shells", request.shells, "shells of the statistics against resolution (10)")
      ->check(CLI::Range(1, 50));
  reduce->add_option("--theta-full", request.theta_full,
                     "theta_full of the CIF in degrees (default: the highest theta up to which 95 % of the "
                     "reflections the cell and group allow were measured)")
      ->check(CLI::Range(0.0, 90.0));
  reduce
      ->add_option("--absorption", line.absorption,
                   "absorption correction: none, empirical (a spherical-harmonic surface refined against the "
                   "equivalents), faces (numerical, from --faces and mu), sphere (from --radius and mu)")
      ->check(CLI::IsMember({"none", "empirical", "faces", "sphere"}));
  reduce->add_option("--lmax", request.lmax, "highest order of the empirical surface, 2 to 6 (4)")
      ->check(CLI::Range(2, 6));
  reduce->add_option("--faces", request.faces_file,
                     "the crystal's faces, one a line: h k l distance_mm (from a point inside; # comments)")
      ->check(CLI::ExistingFile);
  reduce->add_option("--mu", request.mu, "linear absorption coefficient in 1/mm (default: from --formula and --z)")
      ->check(FiniteIn("--mu", 0, 1e4));
  reduce->add_option("--radius", request.radius, "the sphere's radius in mm, for --absorption sphere")
      ->check(FiniteIn("--radius", 1e-6, 100));
  reduce->add_option("--report", request.report_file,
                     "write the reduction report (HTML with its plots, needs no network) with the other outputs");
  return reduce;
}

int RunReduce(const ReduceCommandLine& line) {
  // A file-size limit then fails the write with its reason instead of
  // ending the process: the outputs are written beside their names and
  // the old ones stay.
  std::signal(SIGXFSZ, SIG_IGN);
  engine::ReductionRequest request = line.request;
  request.crystal_system = engine::CrystalSystemFromName(line.system);
  request.absorption = *reduce::AbsorptionMethodNamed(line.absorption);
  const std::string name = std::filesystem::path(request.intensity_file).filename().string();
  request.report_page = [name](const reduce::Reduction& r) { return report::BuildReductionReport(r, name).html; };
  const engine::ReductionOutcome out = engine::RunReduction(request);
  if (out.status != 0) {
    std::fprintf(stderr, "kalvex: %s\n", out.error.c_str());
    return out.status;
  }
  for (const std::string& text : out.summary) std::printf("%s\n", text.c_str());
  return 0;
}

}  // namespace kalvex
