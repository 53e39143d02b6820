// kalvex: the program's work without a window. Each subcommand's options
// make one request to the engine, whose outcome is printed: the files it
// writes are the ones the window writes from the same choices.
#include <CLI/CLI.hpp>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "app/batch.h"
#include "app/number_option.h"
#include "common/record_writer.h"
#include "app/reduce.h"

int main(int argc, char** argv) {
  // A file-size limit must fail the write, not kill the process: the
  // record writer then cuts the file back to its last whole record.
  textfile::IgnoreFileSizeSignal();
  // The crystal systems a cell may be constrained to.
  const std::vector<std::string> systems = {"monoclinic-b", "monoclinic-c", "orthorhombic",
                                            "tetragonal",   "hexagonal",    "cubic"};
  const std::string system_help = "constrain the cell: monoclinic-b|monoclinic-c|orthorhombic|tetragonal|hexagonal|cubic";
  kalvex::BatchOptions opt;
  CLI::App app{"kalvex: integrate diffractometer step-scan files without a window"};
  app.require_subcommand(1);
  auto* integrate = app.add_subcommand(
      "integrate",
      "Fit every reflection of DATA with the profile model, write the intensity file and the log "
      "(DATA's name with the extension \"log\", beside DATA)");
  integrate->add_option("DATA", opt.data, "the scan file")->required()->check(CLI::ExistingFile);
  integrate->add_option("--par", opt.parameters, "the instrument parameter file")
      ->required()
      ->check(CLI::ExistingFile);
  integrate->add_option("--out", opt.output,
                        "intensity file (default: DATA's name with the extension \"int\"); an existing one "
                        "needs --append or --replace");
  auto* append = integrate->add_flag("--append", opt.append, "add to an existing intensity file");
  integrate->add_flag("--replace", opt.replace, "write an existing intensity file anew")->excludes(append);
  integrate
      ->add_option("--input-format", opt.input_format,
                   "xcalibur|single|cad4|xscans (default: from the extension: .dca xcalibur, .dat cad4, .p4t "
                   "xscans; single must be named)")
      ->check(CLI::IsMember({"xcalibur", "single", "cad4", "xscans"}));
  integrate->add_option("--output-format", opt.output_format, "rfine|rfine-extended|shelx (default rfine)")
      ->check(CLI::IsMember({"rfine", "rfine-extended", "shelx"}));
  integrate->add_option("--omega-step", opt.omega_step, "omega step of a Single file, degrees (0.001 to 10)")
      ->check(kalvex::FiniteIn("--omega-step", 0.001, 10.0, "Step size too small: at least 0.001"));
  integrate->add_flag("--skip-weak", opt.skip_weak, "pass over reflections the file marks weak");
  integrate
      ->add_option("--defaults", opt.defaults,
                   "comma-separated start values taken from their default rules (the fitting dialog's \"D\" "
                   "column): background, fwhm, position, eta, iratio")
      ->delimiter(',')
      ->check(CLI::IsMember({"background", "fwhm", "position", "eta", "iratio"}));
  integrate->add_option("--background", opt.background, "fixed background: none|spline|exp|from-scan")
      ->check(CLI::IsMember({"none", "spline", "exp", "from-scan"}));
  integrate->add_option("--nstep-bg", opt.nstep_bg, "steps at each scan end for --background from-scan")
      ->check(CLI::Range(1, 99));
  integrate->add_flag("--calc-background", opt.calc_background,
                      "build the background table and exponential fit from the data first (\"Calc Background\")");
  integrate->add_flag("--quiet", opt.quiet, "no progress on stderr");
  integrate->add_option("--report", opt.report,
                        "write a diagnostics report (HTML with its plots, needs no network) to this file after the run");
  auto* preprocess = integrate->add_flag(
      "--preprocess", opt.preprocess,
      "first make a preprocessing pass that keeps the strong reflections (\"Preprocess\")");
  integrate->add_option("--threshold", opt.threshold, "I/sigma above which preprocessing keeps a reflection (30; 3 to 1e6)")
      ->check(kalvex::FiniteIn("--threshold", 3.0, 1e6))
      ->needs(preprocess);
  integrate->add_flag("--calc-fwhm", opt.calc_fwhm, "store the FWHM line fitted to the kept reflections as the default")
      ->needs(preprocess);
  auto* calc_ub = integrate->add_flag(
      "--calc-ub", opt.calc_ub, "refine UB and the cell from the kept reflections (\"Calc UB\"); peak positions are then predicted")
      ->needs(preprocess);
  integrate
      ->add_option("--system", opt.system, system_help)
      ->check(CLI::IsMember(systems))
      ->needs(calc_ub);
  integrate->add_flag("--offsets", opt.offsets, "refine crystal offsets with UB")->needs(calc_ub);
  integrate->add_flag("--omega-zero", opt.omega_zero, "refine omega zero with UB")->needs(calc_ub);

  kalvex::ReduceCommandLine reduction;
  auto* reduce = kalvex::AddReduceCommand(app, reduction);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return 2;
  }
  if (reduce->parsed()) return kalvex::RunReduce(reduction);
  return kalvex::RunBatch(opt);
}
