// simulate: writes a synthetic data set in one of the program's scan-file
// formats, with its parameter file and the truth it was made from.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tools/simulate/simulate.h"

namespace {

using namespace kalvex::simulate;

constexpr const char* kUsage =
    "usage: simulate --format xcalibur|cad4|single|xscans --out DIR --name NAME [options]\n"
    "  --reflections N        ordinary reflections (300)\n"
    "  --seed S               random seed (1)\n"
    "  --steps N              steps per ordinary scan (96)\n"
    "  --standard-steps N     steps per standard scan (96)\n"
    "  --standards N          number of standards (3)\n"
    "  --standards-every N    standards group after every N reflections (50)\n"
    "  --d-min D              resolution limit in Angstrom (0.8)\n"
    "  --cell a,b,c,al,be,ga  cell in Angstrom and degrees (8.5,11.2,13.7,90,90,90)\n"
    "  --rotation r1,r2,r3    orientation angles in degrees (12,-25,40)\n"
    "  --wavelengths l1,l2    Angstrom (0.70930,0.71359); --single-wavelength drops l2\n"
    "  --atten F              attenuator factor (15.4)\n"
    "  --mono-orient K        monochromator orientation (0)\n"
    "  --omega-zero W         omega zero error in degrees (0)\n"
    "  --offsets x1,x2,x3     crystal offsets in the unit of RS (0,0,0)\n"
    "  --mean-intensity I     mean intensity on the common scale (400; cad4 2000)\n"
    "  --weak-fraction F      (0.15)    --attenuated-fraction F (0.04)\n"
    "  --centring-error W     sd of the scan-centre error in degrees (0.02)\n"
    "  --title TEXT           data set title\n"
    "  --dihedral D           angle between the monochromator's and the sample's planes of diffraction (0)\n"
    "For data reduction (any of these makes every intensity F^2 * scale * Lp * decay; the truth\n"
    "table then has the columns f_squared, lp and decay; no forced weak or attenuated draws):\n"
    "  --f-squared            intensities from F^2 without the options below\n"
    "  --equivalents LAUE     -1|2/m|mmm: measure every equivalent of each unique reflection\n"
    "  --decay PERCENT        intensity lost linearly from the first to the last measurement (0)\n"
    "  --scale S              F^2 to intensity on the common scale (1)\n"
    "  --space-group SYMBOL   F^2 = 0 where the group forbids (P1 P-1 P21 Pc P21/c P21/n P2/m C2/m\n"
    "                         Cc C2/c Pmmm P212121 Pbca Pnma Pmmn I222; monoclinic b unique)\n"
    "  --centric, --acentric  F^2 from the centric or acentric distribution (as the group is)\n"
    "  --wilson-b B           mean F^2 falls as carbon's f^2 exp(-2 B s^2)\n"
    "  --faces FILE --mu MU   an absorbing crystal: faces 'h k l distance_mm' a line, mu in 1/mm;\n"
    "  --sphere R --mu MU     or a sphere of radius R mm: each intensity times its transmission,\n"
    "                         which the truth table gives in the column transmission\n";

// A request the simulator cannot make sense of; main says why and returns 2.
struct UsageError {
  std::string text;
};

[[noreturn]] void Fail(const std::string& text) {
  throw UsageError{text};
}

double Number(const std::string& option, const std::string& text) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0') Fail(option + " wants a number, got '" + text + "'");
  return value;
}

std::vector<double> Numbers(const std::string& option, const std::string& text, std::size_t count) {
  std::vector<double> values;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) values.push_back(Number(option, item));
  if (values.size() != count) Fail(option + " wants " + std::to_string(count) + " comma-separated numbers");
  return values;
}

}  // namespace

int Simulate(int argc, char** argv) {
  std::map<std::string, std::string> options;
  bool single_wavelength = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--single-wavelength") {
      single_wavelength = true;
      continue;
    }
    if (arg == "--f-squared") {
      options["f-squared"] = "1";
      continue;
    }
    if (arg == "--centric" || arg == "--acentric") {
      options["centric"] = arg == "--centric" ? "1" : "0";
      continue;
    }
    if (arg.rfind("--", 0) != 0 || i + 1 >= argc) Fail("unexpected argument '" + arg + "'");
    options[arg.substr(2)] = argv[++i];
  }
  auto take = [&options](const std::string& name) {
    auto it = options.find(name);
    if (it == options.end()) return std::string();
    std::string value = it->second;
    options.erase(it);
    return value;
  };
  const std::string format = take("format"), out_dir = take("out"), name = take("name");
  if (format.empty() || out_dir.empty() || name.empty()) Fail("--format, --out and --name are required");

  Crystal crystal;
  crystal.cell = {8.5, 11.2, 13.7, 90, 90, 90};
  crystal.rotation = {12, -25, 40};
  Instrument instrument;
  ScanSettings scan;
  FitSettings fit;
  GeneratorOptions gen;
  // What each format can hold: a Single file has one step width for every
  // scan. A CAD4 file's speed codes set each scan's time and scale (a normal
  // scan's is 50), and its counts have four digits: the mean is 40 counts x
  // degrees of a normal scan. An attenuated CAD4 scan is scaled down by the
  // attenuator factor, so it would carry more counts, not fewer: none is made.
  if (format == "single") scan.width_b = 0;
  if (format == "cad4") {
    scan.timing = ScanTiming::kCad4SpeedCode;
    gen.mean_intensity = 2000;
    gen.attenuated_fraction = 0;
  }

  std::string value;
  if (!(value = take("reflections")).empty()) gen.reflections = static_cast<int>(Number("--reflections", value));
  if (!(value = take("seed")).empty()) gen.seed = static_cast<std::uint32_t>(Number("--seed", value));
  if (!(value = take("steps")).empty()) scan.steps = static_cast<int>(Number("--steps", value));
  if (!(value = take("standard-steps")).empty()) scan.standard_steps = static_cast<int>(Number("--standard-steps", value));
  if (!(value = take("standards")).empty()) gen.standards = static_cast<int>(Number("--standards", value));
  if (!(value = take("standards-every")).empty()) gen.standards_every = static_cast<int>(Number("--standards-every", value));
  if (!(value = take("d-min")).empty()) gen.d_min = Number("--d-min", value);
  if (!(value = take("cell")).empty()) {
    auto c = Numbers("--cell", value, 6);
    crystal.cell = {c[0], c[1], c[2], c[3], c[4], c[5]};
  }
  if (!(value = take("rotation")).empty()) {
    auto r = Numbers("--rotation", value, 3);
    crystal.rotation = {r[0], r[1], r[2]};
  }
  if (!(value = take("wavelengths")).empty()) {
    auto w = Numbers("--wavelengths", value, 2);
    instrument.lambda1 = w[0];
    instrument.lambda2 = w[1];
  }
  if (single_wavelength) {
    instrument.n_wavelengths = 1;
    instrument.lambda2 = 0;
  }
  if (!(value = take("atten")).empty()) instrument.atten = Number("--atten", value);
  if (!(value = take("mono-orient")).empty()) instrument.mono_orient = static_cast<int>(Number("--mono-orient", value));
  if (!(value = take("omega-zero")).empty()) instrument.omega_zero = Number("--omega-zero", value);
  if (!(value = take("offsets")).empty()) {
    auto x = Numbers("--offsets", value, 3);
    instrument.offsets = {x[0], x[1], x[2]};
  }
  if (!(value = take("mean-intensity")).empty()) gen.mean_intensity = Number("--mean-intensity", value);
  if (!(value = take("weak-fraction")).empty()) gen.weak_fraction = Number("--weak-fraction", value);
  if (!(value = take("attenuated-fraction")).empty()) gen.attenuated_fraction = Number("--attenuated-fraction", value);
  if (!(value = take("centring-error")).empty()) gen.centring_error = Number("--centring-error", value);
  if (!(value = take("title")).empty()) gen.title = value;
  if (!(value = take("dihedral")).empty()) instrument.dihedral = Number("--dihedral", value);
  if (!take("f-squared").empty()) gen.from_f_squared = true;
  if (!(value = take("equivalents")).empty()) {
    if (value != "-1" && value != "2/m" && value != "mmm") Fail("--equivalents takes -1, 2/m or mmm");
    gen.equivalents = value;
    gen.from_f_squared = true;
  }
  if (!(value = take("decay")).empty()) {
    gen.decay_percent = Number("--decay", value);
    gen.from_f_squared = true;
  }
  if (!(value = take("scale")).empty()) {
    gen.scale = Number("--scale", value);
    gen.from_f_squared = true;
  }
  if (!(value = take("space-group")).empty()) {
    if (!SpaceGroupKnown(value)) Fail("--space-group does not know '" + value + "'");
    gen.space_group = value;
    gen.from_f_squared = true;
  }
  if (!(value = take("centric")).empty()) {
    gen.centric = value == "1";
    gen.from_f_squared = true;
  }
  if (!(value = take("wilson-b")).empty()) {
    gen.wilson_b = Number("--wilson-b", value);
    gen.from_f_squared = true;
  }
  const std::string faces = take("faces"), sphere = take("sphere"), mu = take("mu");
  if (!faces.empty() || !sphere.empty() || !mu.empty()) {
    if (mu.empty() || faces.empty() == sphere.empty()) Fail("--mu goes with one of --faces and --sphere");
    gen.absorber.mu = Number("--mu", mu);
    std::string error;
    if (!faces.empty() && !ReadFaces(faces, gen.absorber.faces, error)) Fail(error);
    if (!sphere.empty()) gen.absorber.sphere_radius = Number("--sphere", sphere);
    if (!(gen.absorber.mu > 0) || (!sphere.empty() && !(gen.absorber.sphere_radius > 0)))
      Fail("--mu and --sphere take positive numbers");
    gen.from_f_squared = true;
  }
  if (!options.empty()) Fail("unknown option --" + options.begin()->first);
  if (scan.steps < 1 || scan.standard_steps < 1) Fail("step counts must be at least 1");
  // Spacings below half the wavelength lie beyond 2theta = 180 degrees: no
  // reflection could be measured there, and none could be chosen.
  if (!(gen.d_min >= instrument.lambda1 / 2.0)) {
    Fail("--d-min must be at least half the wavelength (" + std::to_string(instrument.lambda1 / 2.0) + " A)");
  }

  struct Writer {
    bool (*write)(const DataSet&, const std::filesystem::path&, std::string&);
    const char* extension;
  };
  const std::map<std::string, Writer> writers = {{"xcalibur", {WriteXcalibur, ".dca"}},
                                                 {"cad4", {WriteCad4, ".dat"}},
                                                 {"single", {WriteSingle, ".dat"}},
                                                 {"xscans", {WriteXscans, ".p4t"}}};
  const auto writer = writers.find(format);
  if (writer == writers.end()) Fail("unknown format '" + format + "'");

  const DataSet data = Generate(crystal, instrument, scan, fit, gen);
  const std::filesystem::path dir(out_dir);
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  std::string error;
  if (!writer->second.write(data, dir / (name + writer->second.extension), error) ||
      !WriteParameterFile(data, dir / (name + ".par"), error) ||
      !WriteTruthTable(data, dir / (name + "_truth.csv"), error)) {
    std::fprintf(stderr, "simulate: %s\n", error.c_str());
    return 1;
  }
  std::printf("simulate: %zu reflections (%zu standards measured) written to %s\n", data.reflections.size(),
              static_cast<std::size_t>(std::count_if(data.reflections.begin(), data.reflections.end(),
                                                     [](const SimReflection& r) { return r.standard_index > 0; })),
              (dir / name).string().c_str());
  return 0;
}

int main(int argc, char** argv) {
  try {
    return Simulate(argc, argv);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "simulate: %s\n%s", e.text.c_str(), kUsage);
    return 2;
  }
}
