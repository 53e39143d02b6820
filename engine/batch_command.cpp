// The request of a session's run and its command line: the window writes
// the line that repeats its automatic run, Integrate the line of its own
// request, each to the log at the end of the run.
#include "engine/batch_command.h"

#include <cstdio>
#include <filesystem>
#include <string_view>

namespace kalvex::engine {

namespace fs = std::filesystem;

namespace {

// `kalvex integrate`'s names of the choices, in the program's numbering.
constexpr const char* kFormats[] = {"", "cad4", "single", "xcalibur", "xscans"};
constexpr const char* kOutputs[] = {"rfine", "rfine-extended", "shelx"};
constexpr const char* kBackgrounds[] = {"none", "spline", "exp", "from-scan"};
constexpr const char* kSystems[] = {"", "monoclinic-b", "monoclinic-c", "orthorhombic", "tetragonal", "hexagonal",
                                    "cubic"};
constexpr std::pair<int, const char*> kDefaults[] = {
    {kBackground, "background"}, {kFwhm, "fwhm"}, {kPosition, "position"}, {kEta, "eta"}, {kIratio, "iratio"}};

// A number as the user would type it: 10, 0.02, 12.5.
std::string Number(float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
  return text;
}

// `path` from `directory`, or as it is when they share nothing.
std::string Relative(const std::string& path, const std::string& directory) {
  if (path.empty()) return path;
  const fs::path relative = fs::path(path).lexically_normal().lexically_relative(fs::path(directory).lexically_normal());
  return relative.empty() ? path : relative.string();
}

}  // namespace

std::string ShellWord(const std::string& word) {
  constexpr std::string_view kPlain = "._-+/,:=@%";
  bool plain = !word.empty();
  for (const char c : word) {
    const bool letter_or_digit = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    plain = plain && (letter_or_digit || kPlain.find(c) != std::string_view::npos);
  }
  if (plain) return word;
  std::string quoted = "'";
  for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

IntegrateRequest SessionRequest(const ProgramState& state) {
  const FileState& f = state.files;
  const SessionChoices& c = state.choices;
  const RunParameters& p = state.params;
  IntegrateRequest r;
  r.data = f.data_path;
  r.parameters = f.parameter_path;
  r.output = f.output_path;
  r.existing = c.appended ? ExistingOutput::kAppend : ExistingOutput::kRefuse;
  r.input_format = p.input_format;
  r.output_format = p.output_format;
  if (p.input_format == kFormatSingle) r.omega_step = state.data_set.omega_step;
  r.skip_weak = state.skip_weak_control != 0;
  r.defaults = state.default_flag;
  // The background as the parameter file has it needs no option.
  if (!c.parameters_known || p.bg_type != c.read.bg_type ||
      (p.bg_type == kBgFromScan && p.nstep_bg != c.read.nstep_bg)) {
    r.background = p.bg_type;
    if (p.bg_type == kBgFromScan) r.nstep_bg = p.nstep_bg;
  }
  r.calc_background = c.background_pass;
  r.preprocess = c.preprocessed;
  r.threshold = c.threshold;
  r.calc_fwhm = c.preprocessed && c.fwhm_line_stored;
  r.calc_ub = c.preprocessed && c.orientation_refined;
  if (r.calc_ub) r.refinement = {c.crystal_system, c.offsets, c.omega_zero};
  return r;
}

std::vector<std::string> NotRepeated(const ProgramState& state) {
  const SessionChoices& c = state.choices;
  const RunParameters& p = state.params;
  std::vector<std::string> what;
  if (!state.files.output_open) what.push_back("no intensity file was open (the command writes one)");
  if (!c.parameters_known) return what;
  const RunParameters& r = c.read;
  // "Calc Background" and "Calc FWHM" replace their coefficients; the
  // command does as they did.
  bool pkvals = p.lambda1 != r.lambda1 || p.lambda2 != r.lambda2 || p.iratio != r.iratio;
  for (int k = 1; k <= kProfileParameters; ++k) {
    if (k == kBackground) continue;
    if (k == kFwhm && c.fwhm_line_stored) continue;
    pkvals = pkvals || p.pdef[k] != r.pdef[k];
  }
  if (pkvals) what.push_back("peak defaults changed in Pkvals or Calc FWHM");
  if (!c.background_pass && p.bg_type == kBgExp && p.pdef[kBackground] != r.pdef[kBackground])
    what.push_back("background coefficients changed in Backgrounds");
  if (p.refine_flag != r.refine_flag) what.push_back("refine flags (R) changed in Fitting Controls");
  if (p.check_flag != r.check_flag || p.low != r.low || p.high != r.high || p.rwp_max != r.rwp_max)
    what.push_back("limits changed in Fitting Controls");
  if (state.orientation.corrections_valid && !(c.preprocessed && c.orientation_refined))
    what.push_back("an orientation not refined from this data file's preprocessing");
  return what;
}

std::string CommandLine(const IntegrateRequest& r, const std::string& directory) {
  std::string line = "kalvex integrate " + ShellWord(Relative(r.data, directory));
  const auto option = [&line](const std::string& name, const std::string& value = {}) {
    line += " " + name;
    if (!value.empty()) line += " " + ShellWord(value);
  };
  option("--par", Relative(r.parameters, directory));
  // The intensity file is named unless it is the data file's own ".int".
  const std::string data = Relative(r.data, directory);
  if (!r.output.empty() && Relative(r.output, directory) != fs::path(data).replace_extension(".int").string())
    option("--out", Relative(r.output, directory));
  if (r.existing == ExistingOutput::kAppend) option("--append");
  if (r.existing == ExistingOutput::kReplace) option("--replace");
  if (r.input_format >= 1 && r.input_format <= 4 && r.input_format != FormatFromName(fs::path(data).filename().string()))
    option("--input-format", kFormats[r.input_format]);
  if (r.output_format > 0 && r.output_format <= 2) option("--output-format", kOutputs[r.output_format]);
  if (r.input_format == kFormatSingle && r.omega_step > 0) option("--omega-step", Number(r.omega_step));
  if (r.skip_weak) option("--skip-weak");
  std::string defaults;
  for (const auto& [k, name] : kDefaults)
    if (r.defaults[k] == 1) defaults += (defaults.empty() ? "" : ",") + std::string(name);
  if (!defaults.empty()) option("--defaults", defaults);
  if (r.background >= 0 && r.background <= 3) option("--background", kBackgrounds[r.background]);
  if (r.background == kBgFromScan && r.nstep_bg > 0) option("--nstep-bg", std::to_string(r.nstep_bg));
  if (r.calc_background) option("--calc-background");
  if (r.preprocess) {
    option("--preprocess");
    if (r.threshold != 30.0f) option("--threshold", Number(r.threshold));
    if (r.calc_fwhm) option("--calc-fwhm");
    if (r.calc_ub) {
      option("--calc-ub");
      const int system = r.refinement.crystal_system;
      if (system >= 1 && system <= 6) option("--system", kSystems[system]);
      if (r.refinement.offsets) option("--offsets");
      if (r.refinement.omega_zero) option("--omega-zero");
    }
  }
  return line;
}

}  // namespace kalvex::engine
