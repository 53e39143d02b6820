// Synthetic data sets for the program's tests and examples: a crystal on a
// four-circle diffractometer, omega step scans with Poisson counts, and the
// truth they were made from, written in any of the four scan-file formats.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace kalvex::simulate {

using Hkl = std::array<int, 3>;
using Vector3 = std::array<double, 3>;
using Matrix3 = std::array<Vector3, 3>;  // [row][column]

// Cell lengths in the unit of the wavelength (Angstrom), angles in degrees.
struct Cell {
  double a = 10, b = 10, c = 10;
  double alpha = 90, beta = 90, gamma = 90;
};

// The orientation is U = Rx(r1) * Ry(r2) * Rz(r3), each an active right-handed
// rotation about the phi-axis frame's axis by the angle in degrees.
struct Crystal {
  Cell cell;
  Vector3 rotation{0, 0, 0};
};

// The upper-triangular B of the cell: rows (a*, b* cos gamma*, c* cos beta*),
// (0, b* sin gamma*, c* T), (0, 0, c* sqrt(1 - cos^2 beta* - T^2)) with
// T = (cos alpha* - cos beta* cos gamma*) / sin gamma*; B h is in 1/Angstrom.
Matrix3 BMatrix(const Cell& cell);
Matrix3 UMatrix(const Vector3& rotation);
Matrix3 UBMatrix(const Crystal& crystal);
Vector3 Multiply(const Matrix3& m, const Vector3& v);

// Four setting angles in degrees; omega is measured from the bisecting
// position, so a reflection brought to diffraction by UB alone has omega 0.
struct SettingAngles {
  double two_theta = 0, omega = 0, chi = 0, phi = 0;
};

// Bisecting setting of `hkl` for wavelength lambda; false when the
// reflection cannot reach diffraction (sin theta >= 1) or is 000.
bool BisectingAngles(const Matrix3& ub, const Hkl& hkl, double lambda, SettingAngles& angles);

// The program's parameter file values, as the data set should be reduced.
struct FitSettings {
  double fwhm_a = 0.20, fwhm_b = 0.10;  // FWHM = a + b tan(theta), degrees
  double eta = 0.40;                    // Lorentzian fraction
  // [1..6] Background, FWHM, Intensity, Position (distances around the
  // scan centre), Eta, Iratio.
  std::array<double, 7> low{0, 0, 0.05, 0, 0.5, 0.0, 0.3};
  std::array<double, 7> high{0, 1e6, 2.0, 1e7, 0.5, 1.0, 0.7};
  double rwp_max = 0.30;
  std::array<int, 7> refine_flag{0, 1, 1, 1, 1, 0, 0};     // [1..6]
  std::array<int, 8> check_flag{0, 1, 1, 0, 1, 0, 0, 0};  // [1..7], 7 = Rwp
  int bg_type = 0;  // BACKGR line written only when not zero
};

struct Instrument {
  int n_wavelengths = 2;
  double lambda1 = 0.70930, lambda2 = 0.71359;  // Angstrom
  double iratio = 0.5;                          // alpha2 : alpha1 intensity
  double atten = 15.4;                          // attenuator factor
  int mono_flag = 1;
  double mono_2theta = 12.16;
  double dihedral = 0;
  int mono_orient = 0;  // 0: the monochromator shifts nothing
  std::array<int, 4> parity{1, 1, 1, 1};
  // Omega zero error (degrees) and crystal offsets in the phi-axis frame (in
  // the unit of rs); they move where each peak lies in its scan.
  double omega_zero = 0;
  Vector3 offsets{0, 0, 0};
  double rc = 0, rs = 100;
};

// How a reflection's class sets its scan's time and the scale the program
// puts its counts on. kSpeedFactor: weak reflections scanned at half the
// base speed, strong ones at twice it, scale F (Xcalibur, and the formats
// whose files carry any scale). kCad4SpeedCode: the class's CAD4 speed code
// n (Cad4SpeedCode) sets both, as the program reads a CAD4 file: step time
// in proportion to |n|, scale 1000 / |n|, divided by the attenuator factor
// for an attenuated scan (n < 0). A CAD4 file is only true to its truth
// table when its data set is made with kCad4SpeedCode.
enum class ScanTiming { kSpeedFactor, kCad4SpeedCode };

// How the instrument scans: width A + B tan(theta) divided by C (the Xcalibur
// "sc w" values), omega speed in degrees per second, steps per scan.
struct ScanSettings {
  double width_a = 1.4, width_b = 0.7, divisor = 1.0;
  double scan_speed = 0.05;
  int steps = 96;           // ordinary reflections
  int standard_steps = 96;  // standards
  double standard_step_time = 0.3;  // seconds per step of a standard
  ScanTiming timing = ScanTiming::kSpeedFactor;
};

// The instrument's own class of a reflection from its prescan.
enum class ReflectionClass { kLessThan, kWeak, kNormal, kStrong, kStandard, kFiltered };

// CAD4 header values: the strong speed code and the maximum scan time (s).
constexpr int kCad4StrongSpeedCode = 3;
constexpr int kCad4MaxScanTime = 60;
// The speed code a CAD4 block of class `cls` carries for a scan written
// `width` degrees wide: the header's strong code, the weak code of the
// width (16.48 / m, m = 1 + the width over 60 x the maximum scan time), a
// normal code four above it, negative for an attenuated scan. The 'W' flag
// marks LT reflections and the 'I' flag standards: they take the normal code.
int Cad4SpeedCode(ReflectionClass cls, double width);

// Two-letter code of a class as the Xcalibur '#' line carries it ("LT", "WK",
// "NL", "ST", "FT"); standards are "SD" in the truth table.
const char* ClassCode(ReflectionClass cls);

// True profile of one reflection in the program's fit units: position and
// FWHM in degrees of omega - theta, background in counts per step as
// recorded, intensity (alpha1 area, counts x degrees) on the data set's
// common scale, i.e. as the fit reports it after multiplying by count_scale.
struct Profile {
  double position = 0;
  double fwhm = 0.3;
  double eta = 0.4;
  double background = 10;
  double intensity = 100;
};

// What the caller asks for one reflection; MakeDataSet derives the rest.
struct ReflectionRecipe {
  Hkl hkl{};
  ReflectionClass cls = ReflectionClass::kNormal;
  int standard_index = 0;  // 1-based entry of DataSet::standards, 0 ordinary
  double intensity = 100;  // common scale
  double background_rate = 30;  // counts per second
  // Offset of the scan centre from the peak's expected omega (degrees), the
  // instrument's mis-setting.
  double centring_error = 0;
  // What the intensity was made from, carried into the truth table.
  double f_squared = 0, lp = 1, decay = 1;
  double transmission = 1;  // of an absorbing crystal (GeneratorOptions::absorber)
};

struct SimReflection {
  int seq = 0;  // 1-based, counted over all blocks, standards included
  Hkl hkl{};
  ReflectionClass cls = ReflectionClass::kNormal;
  int standard_index = 0;
  SettingAngles angles;   // the instrument's setting; omega = scan centre
  double omega_centre = 0;  // scan centre in omega - theta (the program's origin)
  double scan_width = 0;    // degrees; step_width = scan_width / step_count
  double step_width = 0;
  int step_count = 0;
  double speed_factor = 1;  // Xcalibur F: the scan ran F times the base speed
  double step_time = 0;     // seconds per step
  double count_scale = 1;   // recorded counts x count_scale = common scale
  Profile truth;
  // Made from F^2 (GeneratorOptions::from_f_squared): truth.intensity =
  // f_squared * scale * lp * decay.
  double f_squared = 0;
  double lp = 1;
  double decay = 1;
  double transmission = 1;
  double doublet_shift = 0;  // alpha2 - alpha1 in degrees, monochromator included
  std::vector<long long> counts;
};

struct Standard {
  Hkl hkl{};
  int step_count = 0;
  double step_time = 0;
};

struct DataSet {
  std::string title;
  Crystal crystal;
  Instrument instrument;
  ScanSettings scan;
  FitSettings fit;
  std::vector<Standard> standards;
  std::vector<SimReflection> reflections;
  bool from_f_squared = false;  // the truth table then carries f_squared, lp and decay
  bool absorbing = false;       // and then transmission too
};

// Alpha1 - alpha2 separation the program's fit uses at this 2theta, with its
// monochromator term (degrees).
double DoubletShift(const Instrument& instrument, double two_theta);
// The omega correction that omega zero and crystal offsets give (degrees).
double OmegaCorrection(const Instrument& instrument, const SettingAngles& angles);

// Builds every reflection of `recipes` in order: angles, scan, class scale,
// true profile, and Poisson counts drawn from `seed`. Reflections that
// cannot diffract are dropped. Counts per step are
//   background + (intensity / count_scale) * [V(x; p) + iratio V(x; p + shift)]
// with V the unit-area pseudo-Voigt sampled at the step centre x, exactly the
// model the program fits, so a fit recovers the truth within counting noise.
DataSet MakeDataSet(const Crystal& crystal, const Instrument& instrument, const ScanSettings& scan,
                    const FitSettings& fit, const std::vector<Standard>& standards,
                    const std::vector<ReflectionRecipe>& recipes, std::uint32_t seed);

// A crystal that absorbs: faces (h, k, l and the distance in mm of each from
// a point inside) or a sphere of radius `sphere_radius` mm; mu in 1/mm.
struct Absorber {
  std::vector<std::array<double, 4>> faces;
  double sphere_radius = 0;
  double mu = 0;
  bool Active() const { return mu > 0 && (sphere_radius > 0 || !faces.empty()); }
};

// Reads "h k l distance_mm" lines; '#' starts a comment.
bool ReadFaces(const std::filesystem::path& path, std::vector<std::array<double, 4>>& faces, std::string& error);

// The transmission A = <exp(-mu (t_in + t_out))> over a quasi-random sample
// of `points` points of the crystal (a Halton sequence in the cube around
// it), in the phi-axis frame of `ub`.
class AbsorptionOracle {
 public:
  AbsorptionOracle(const Absorber& absorber, const Matrix3& ub, int points = 20000);
  // Unit vectors: the reversed incident beam and the diffracted beam.
  double Transmission(const Vector3& reversed_incident, const Vector3& diffracted) const;
  // The measurement of `hkl` at `angles` (degrees, omega from the bisecting position).
  double Transmission(const Matrix3& ub, const Hkl& hkl, const SettingAngles& angles, double lambda) const;

 private:
  double Path(const Vector3& p, const Vector3& d) const;
  double mu_ = 0, radius_ = 0;
  std::vector<Vector3> normals_;
  std::vector<double> distances_;
  std::vector<Vector3> points_;
};

// What Generate makes: hkl up to the resolution, random intensities,
// weak and attenuated reflections, standards repeated every N reflections.
struct GeneratorOptions {
  int reflections = 300;  // ordinary reflections, spread over the resolution range
  std::uint32_t seed = 1;
  double d_min = 0.8;          // Angstrom
  double mean_intensity = 400;  // exponential (Wilson-like) distribution
  double weak_fraction = 0.15;  // drawn far below the mean (LT and WK)
  double attenuated_fraction = 0.04;  // drawn so strong they need the attenuator
  int standards = 3;
  int standards_every = 50;  // a group of all standards after every N reflections
  double background_rate = 30;
  double centring_error = 0.02;  // sd of the scan-centre mis-setting (degrees)
  std::string title = "Simulated data set";
  // A data set for data reduction: each intensity is F^2 * scale * Lp *
  // decay(seq), F^2 drawn from the exponential distribution of mean
  // `mean_intensity` (no forced weak or attenuated draws). With
  // `equivalents` ("-1", "2/m" with b unique, "mmm") every reflection of
  // the Laue class's orbit of each unique one is measured, one operation's
  // copies after another. The decay is linear in the sequence number, from 1
  // at the first measurement to 1 - decay_percent / 100 at the last.
  bool from_f_squared = false;
  std::string equivalents;
  double decay_percent = 0;
  double scale = 1;
  // An absorbing crystal: each intensity is further multiplied by its
  // transmission (AbsorptionOracle), written in the truth table.
  Absorber absorber;
  // The structure behind F^2 (any of these makes a data set for data
  // reduction): a space group of SpaceGroupSymbols() gives F^2 = 0 to the
  // reflections it forbids and multiplies the mean by epsilon, the number
  // of its point group's rotations that keep the reflection; F^2 is drawn
  // from the centric distribution (mean times the square of a normal
  // deviate) or the acentric one (exponential), as `centric` says, or else
  // as the point group makes each reflection; a Wilson B lets the mean fall
  // as carbon's f(s)^2 exp(-2 B s^2), f(0)^2 = 36 its value at s = 0.
  std::string space_group;
  std::optional<bool> centric;
  std::optional<double> wilson_b;
};

// The compact symbols ("P21/c", "C2/c", "Pbca", monoclinic with b unique)
// whose reflection conditions the simulator knows, written out as the
// tables of reflection conditions give them.
std::vector<std::string> SpaceGroupSymbols();
bool SpaceGroupKnown(const std::string& symbol);
bool SpaceGroupCentrosymmetric(const std::string& symbol);
bool SystematicallyAbsent(const std::string& symbol, const Hkl& hkl);
// The X-ray form factor of carbon at s^2 = (sin theta / lambda)^2.
double CarbonFormFactor(double s2);
// The F^2 of reflection `hkl` at s^2 as GeneratorOptions asks, from `random`.
class Random;
double DrawFSquared(const GeneratorOptions& options, const Hkl& hkl, double s2, Random& random);

// L * P of an omega scan at 2theta with the instrument's monochromator.
double LorentzPolarisation(const Instrument& instrument, double two_theta);

// The distinct reflections equivalent to `hkl` in Laue class "-1", "2/m"
// (b unique) or "mmm", `hkl` first; empty for another class.
std::vector<Hkl> Equivalents(const std::string& laue, const Hkl& hkl);

// Class thresholds in counts x degrees of a normal scan (on the common
// scale, times a normal scan's count scale), and the raw peak rate above
// which the instrument inserts the attenuator.
constexpr double kLessThanBelow = 3;
constexpr double kWeakBelow = 20;
constexpr double kStrongAbove = 800;
constexpr double kAttenuateAbovePeakCounts = 20000;

DataSet Generate(const Crystal& crystal, const Instrument& instrument, const ScanSettings& scan,
                 const FitSettings& fit, const GeneratorOptions& options);

// Deterministic random numbers, identical on every standard library.
class Random {
 public:
  explicit Random(std::uint32_t seed);
  double Uniform();  // (0, 1)
  double Normal();   // mean 0, sd 1
  long long Poisson(double mean);

 private:
  std::mt19937 engine_;
};

// Writers. Each returns false (with `error` set) when a file cannot be
// written or the data set does not fit the format.
bool WriteXcalibur(const DataSet& data, const std::filesystem::path& path, std::string& error);
bool WriteCad4(const DataSet& data, const std::filesystem::path& path, std::string& error);
bool WriteSingle(const DataSet& data, const std::filesystem::path& path, std::string& error);
bool WriteXscans(const DataSet& data, const std::filesystem::path& path, std::string& error);

// Sets `error` to say that `path` cannot be written; returns false.
bool CannotWrite(const std::filesystem::path& path, std::string& error);

// A real in `width` columns with the most decimals, up to `decimals`, that
// fit; the readers take a written point over the implied decimals.
std::string RealInWidth(double value, int width, int decimals);
// The value a reader takes from such a field.
double AsRead(const std::string& text);

// Parameter file (keyword lines) and truth table (CSV) of a data set.
bool WriteParameterFile(const DataSet& data, const std::filesystem::path& path, std::string& error);
bool WriteTruthTable(const DataSet& data, const std::filesystem::path& path, std::string& error);

}  // namespace kalvex::simulate
