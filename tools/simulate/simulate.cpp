// The data-set generator: crystal geometry, the instrument's scans, true
// profiles and Poisson counts.
#include "tools/simulate/simulate.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kalvex::simulate {
namespace {

constexpr double kDeg = std::numbers::pi / 180.0;

// Speed factor F of the Xcalibur scan by class: weak reflections are scanned
// at half the base speed, strong ones at twice it.
double SpeedFactor(ReflectionClass cls) {
  switch (cls) {
    case ReflectionClass::kWeak: return 0.5;
    case ReflectionClass::kStrong: return 2.0;
    default: return 1.0;
  }
}

// Unit-area pseudo-Voigt at distance d from its centre, FWHM w.
double PseudoVoigt(double d, double w, double eta) {
  const double c_g = 2.0 * std::sqrt(std::log(2.0));
  const double a_g = 2.0 * std::sqrt(std::log(2.0) / std::numbers::pi);
  const double u = c_g * d / w;
  const double gauss = a_g / w * std::exp(-u * u);
  const double lorentz = 2.0 / std::numbers::pi * w / (w * w + 4.0 * d * d);
  return (1.0 - eta) * gauss + eta * lorentz;
}

// A CAD4 file holds 96 steps a scan and the width they span with 95
// intervals: the width written is the data set's times 95 / 96.
constexpr double kCad4WidthWritten = 95.0 / 96.0;

// The scale at which a reflection of class `cls` and scan width `width` is
// counted, and its seconds per step of `step_width` degrees (CAD4 timing
// only; the speed factor's time follows from the scan speed).
struct ClassTiming {
  double count_scale = 1;
  double step_time = 0;
};

ClassTiming TimingOf(const ScanSettings& scan, const Instrument& instrument, ReflectionClass cls, double width,
                     double step_width) {
  ClassTiming t;
  if (scan.timing == ScanTiming::kCad4SpeedCode) {
    const int n = Cad4SpeedCode(cls, width * kCad4WidthWritten);
    // Taking 16.48 / |n| as the scan speed in degrees a minute.
    t.step_time = std::abs(n) * step_width * 60.0 / 16.48;
    t.count_scale = 1000.0 / std::abs(n);
    if (n < 0) t.count_scale /= instrument.atten;
    return t;
  }
  t.count_scale = SpeedFactor(cls);
  if (cls == ReflectionClass::kFiltered) t.count_scale *= instrument.atten;
  return t;
}

bool IsDoublet(const Instrument& instrument) {
  return instrument.n_wavelengths == 2 && instrument.lambda2 >= 0.1;
}

}  // namespace

int Cad4SpeedCode(ReflectionClass cls, double width) {
  // As the program derives the weak code, in single precision.
  const int m = static_cast<int>(static_cast<float>(width) / static_cast<float>(kCad4MaxScanTime) / 60.0f) + 1;
  const int weak = static_cast<int>(16.48f / static_cast<float>(m));
  const int normal = weak + 4 == kCad4StrongSpeedCode ? weak + 5 : weak + 4;
  switch (cls) {
    case ReflectionClass::kStrong: return kCad4StrongSpeedCode;
    case ReflectionClass::kWeak: return weak;
    case ReflectionClass::kFiltered: return -normal;
    default: return normal;
  }
}

const char* ClassCode(ReflectionClass cls) {
  switch (cls) {
    case ReflectionClass::kLessThan: return "LT";
    case ReflectionClass::kWeak: return "WK";
    case ReflectionClass::kNormal: return "NL";
    case ReflectionClass::kStrong: return "ST";
    case ReflectionClass::kStandard: return "SD";
    case ReflectionClass::kFiltered: return "FT";
  }
  return "NL";
}

Matrix3 BMatrix(const Cell& cell) {
  const double ca = std::cos(cell.alpha * kDeg), cb = std::cos(cell.beta * kDeg), cg = std::cos(cell.gamma * kDeg);
  const double sa = std::sin(cell.alpha * kDeg), sb = std::sin(cell.beta * kDeg), sg = std::sin(cell.gamma * kDeg);
  const double volume = cell.a * cell.b * cell.c * std::sqrt(1.0 - ca * ca - cb * cb - cg * cg + 2.0 * ca * cb * cg);
  const double as = cell.b * cell.c * sa / volume;
  const double bs = cell.c * cell.a * sb / volume;
  const double cs = cell.a * cell.b * sg / volume;
  const double cas = (cb * cg - ca) / (sb * sg);
  const double cbs = (cg * ca - cb) / (sg * sa);
  const double cgs = (ca * cb - cg) / (sa * sb);
  const double sgs = std::sqrt(1.0 - cgs * cgs);
  const double t = (cas - cbs * cgs) / sgs;
  return {{{as, bs * cgs, cs * cbs}, {0.0, bs * sgs, cs * t}, {0.0, 0.0, cs * std::sqrt(1.0 - cbs * cbs - t * t)}}};
}

Matrix3 UMatrix(const Vector3& rotation) {
  auto product = [](const Matrix3& x, const Matrix3& y) {
    Matrix3 z{};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        for (int k = 0; k < 3; ++k) z[i][j] += x[i][k] * y[k][j];
    return z;
  };
  const double c1 = std::cos(rotation[0] * kDeg), s1 = std::sin(rotation[0] * kDeg);
  const double c2 = std::cos(rotation[1] * kDeg), s2 = std::sin(rotation[1] * kDeg);
  const double c3 = std::cos(rotation[2] * kDeg), s3 = std::sin(rotation[2] * kDeg);
  const Matrix3 rx{{{1, 0, 0}, {0, c1, -s1}, {0, s1, c1}}};
  const Matrix3 ry{{{c2, 0, s2}, {0, 1, 0}, {-s2, 0, c2}}};
  const Matrix3 rz{{{c3, -s3, 0}, {s3, c3, 0}, {0, 0, 1}}};
  return product(product(rx, ry), rz);
}

Matrix3 UBMatrix(const Crystal& crystal) {
  const Matrix3 u = UMatrix(crystal.rotation);
  const Matrix3 b = BMatrix(crystal.cell);
  Matrix3 ub{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) ub[i][j] += u[i][k] * b[k][j];
  return ub;
}

Vector3 Multiply(const Matrix3& m, const Vector3& v) {
  Vector3 r{};
  for (int i = 0; i < 3; ++i) r[i] = m[i][0] * v[0] + m[i][1] * v[1] + m[i][2] * v[2];
  return r;
}

bool BisectingAngles(const Matrix3& ub, const Hkl& hkl, double lambda, SettingAngles& angles) {
  const Vector3 h = Multiply(ub, {double(hkl[0]), double(hkl[1]), double(hkl[2])});
  const double length = std::sqrt(h[0] * h[0] + h[1] * h[1] + h[2] * h[2]);
  const double sin_theta = lambda * length / 2.0;
  if (length == 0.0 || sin_theta >= 1.0) return false;
  // At omega 0 the diffraction vector points along (cos chi cos phi, cos chi sin phi, sin chi).
  angles.two_theta = 2.0 * std::asin(sin_theta) / kDeg;
  angles.omega = 0.0;
  angles.chi = std::atan2(h[2], std::hypot(h[0], h[1])) / kDeg;
  angles.phi = std::atan2(h[1], h[0]) / kDeg;
  return true;
}

double DoubletShift(const Instrument& instrument, double two_theta) {
  if (!IsDoublet(instrument)) return 0.0;
  const double ratio = instrument.lambda2 / instrument.lambda1;
  const double theta = two_theta / 2.0;
  double mono = 0.0;
  if (instrument.mono_orient != 0) {
    mono = instrument.mono_orient *
           (std::asin(ratio * std::sin(std::abs(instrument.mono_2theta) / 2.0 * kDeg)) / kDeg -
            instrument.mono_2theta / 2.0);
  }
  return std::asin(ratio * std::sin(theta * kDeg)) / kDeg - theta + mono;
}

double OmegaCorrection(const Instrument& instrument, const SettingAngles& angles) {
  const Vector3& x = instrument.offsets;
  if (std::abs(x[0]) + std::abs(x[1]) + std::abs(x[2]) < 1.0e-5 || instrument.rs == 0.0) return instrument.omega_zero;
  const double om = angles.omega * kDeg, ch = angles.chi * kDeg, ph = angles.phi * kDeg;
  const double theta = angles.two_theta / 2.0 * kDeg;
  // Unit diffraction vector and its derivative in omega, in the phi-axis frame.
  const Vector3 r1{std::cos(om) * std::cos(ch) * std::cos(ph) - std::sin(om) * std::sin(ph),
                   std::cos(om) * std::cos(ch) * std::sin(ph) + std::sin(om) * std::cos(ph),
                   std::cos(om) * std::sin(ch)};
  const Vector3 r2{-std::sin(om) * std::cos(ch) * std::cos(ph) - std::cos(om) * std::sin(ph),
                   std::cos(om) * std::cos(ph) - std::sin(om) * std::cos(ch) * std::sin(ph),
                   -std::sin(om) * std::sin(ch)};
  const double v1 = r1[0] * x[0] + r1[1] * x[1] + r1[2] * x[2];
  const double v2 = r2[0] * x[0] + r2[1] * x[1] + r2[2] * x[2];
  const double d_two_theta = (v1 * std::cos(theta) + v2 * std::sin(theta)) / instrument.rs / kDeg;
  return instrument.omega_zero + d_two_theta;
}

double LorentzPolarisation(const Instrument& instrument, double two_theta) {
  // An omega scan crosses the reflection in a time 1 / sin 2theta; the
  // monochromator's diffraction at 2theta_M, its plane turned by the
  // dihedral angle about the beam, polarises the beam.
  const double c2 = std::pow(std::cos(two_theta * kDeg), 2);
  const double lorentz = 1.0 / std::sin(two_theta * kDeg);
  if (instrument.mono_flag == 0) return lorentz * (1.0 + c2) / 2.0;
  const double m2 = std::pow(std::cos(instrument.mono_2theta * kDeg), 2);
  const double cr = std::pow(std::cos(instrument.dihedral * kDeg), 2), sr = 1.0 - cr;
  // Intensity factors of the beam's components normal to and in the
  // monochromator's plane, resolved onto the sample's two directions.
  const double normal_to_sample_plane = (cr * 1.0 + sr * m2) / (1.0 + m2);
  const double in_sample_plane = (sr * 1.0 + cr * m2) / (1.0 + m2);
  return lorentz * (normal_to_sample_plane + in_sample_plane * c2);
}

std::vector<Hkl> Equivalents(const std::string& laue, const Hkl& hkl) {
  const int h = hkl[0], k = hkl[1], l = hkl[2];
  std::vector<Hkl> all;
  if (laue == "-1") {
    all = {{h, k, l}, {-h, -k, -l}};
  } else if (laue == "2/m") {
    all = {{h, k, l}, {-h, k, -l}, {-h, -k, -l}, {h, -k, l}};
  } else if (laue == "mmm") {
    for (int sh : {1, -1})
      for (int sk : {1, -1})
        for (int sl : {1, -1}) all.push_back({sh * h, sk * k, sl * l});
    std::swap(all[1], all[7]);  // the Friedel mate among the first copies
  }
  std::vector<Hkl> distinct;
  for (const Hkl& e : all)
    if (std::find(distinct.begin(), distinct.end(), e) == distinct.end()) distinct.push_back(e);
  return distinct;
}

Random::Random(std::uint32_t seed) : engine_(seed) {}

double Random::Uniform() { return (static_cast<double>(engine_()) + 0.5) / 4294967296.0; }

double Random::Normal() {
  // Box-Muller on our own uniforms: std::normal_distribution differs between libraries.
  const double u1 = Uniform(), u2 = Uniform();
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
}

long long Random::Poisson(double mean) {
  if (mean <= 0.0) return 0;
  if (mean < 12.0) {
    // Multiplication of uniforms (Knuth).
    const double limit = std::exp(-mean);
    long long k = 0;
    double product = Uniform();
    while (product > limit) {
      ++k;
      product *= Uniform();
    }
    return k;
  }
  // Transformed rejection with squeeze (Hoermann's PTRS), exact for any mean.
  const double slam = std::sqrt(mean), loglam = std::log(mean);
  const double b = 0.931 + 2.53 * slam;
  const double a = -0.059 + 0.02483 * b;
  const double inv_alpha = 1.1239 + 1.1328 / (b - 3.4);
  const double vr = 0.9277 - 3.6224 / (b - 2.0);
  for (;;) {
    const double u = Uniform() - 0.5;
    const double v = Uniform();
    const double us = 0.5 - std::abs(u);
    const double k = std::floor((2.0 * a / us + b) * u + mean + 0.43);
    if (us >= 0.07 && v <= vr) return static_cast<long long>(k);
    if (k < 0.0 || (us < 0.013 && v > us)) continue;
    if (std::log(v) + std::log(inv_alpha) - std::log(a / (us * us) + b) <= -mean + k * loglam - std::lgamma(k + 1.0)) {
      return static_cast<long long>(k);
    }
  }
}

DataSet MakeDataSet(const Crystal& crystal, const Instrument& instrument, const ScanSettings& scan,
                    const FitSettings& fit, const std::vector<Standard>& standards,
                    const std::vector<ReflectionRecipe>& recipes, std::uint32_t seed) {
  DataSet data;
  data.crystal = crystal;
  data.instrument = instrument;
  data.scan = scan;
  data.fit = fit;
  data.standards = standards;
  const Matrix3 ub = UBMatrix(crystal);
  Random random(seed);

  for (const ReflectionRecipe& recipe : recipes) {
    SimReflection r;
    if (!BisectingAngles(ub, recipe.hkl, instrument.lambda1, r.angles)) continue;
    r.seq = static_cast<int>(data.reflections.size()) + 1;
    r.hkl = recipe.hkl;
    r.cls = recipe.cls;
    r.standard_index = recipe.standard_index;
    const double theta = r.angles.two_theta / 2.0;
    const double tan_theta = std::tan(theta * kDeg);

    // The peak lies where omega zero and the offsets put it; the instrument
    // centres its scan on omega 0 of its own setting, give or take its error.
    r.truth.position = OmegaCorrection(instrument, r.angles);
    r.omega_centre = recipe.centring_error;
    r.angles.omega = r.omega_centre;

    r.scan_width = scan.width_a + scan.width_b * tan_theta;
    const bool standard = recipe.standard_index > 0 && recipe.standard_index <= static_cast<int>(standards.size());
    if (scan.timing == ScanTiming::kCad4SpeedCode) {
      // Standards too are timed by their block's speed code.
      r.step_count = standard ? standards[recipe.standard_index - 1].step_count : scan.steps;
      r.step_width = r.scan_width / r.step_count;
      const ClassTiming t =
          TimingOf(scan, instrument, standard ? ReflectionClass::kStandard : recipe.cls, r.scan_width, r.step_width);
      r.step_time = t.step_time;
      r.count_scale = t.count_scale;
    } else if (standard) {
      const Standard& s = standards[recipe.standard_index - 1];
      r.step_count = s.step_count;
      r.step_time = s.step_time;
      r.speed_factor = 1.0;
      r.count_scale = r.scan_width / scan.scan_speed / (s.step_count * s.step_time);
    } else {
      r.step_count = scan.steps;
      r.speed_factor = SpeedFactor(recipe.cls);
      r.step_time = r.scan_width / scan.scan_speed / r.speed_factor / r.step_count;
      r.count_scale = TimingOf(scan, instrument, recipe.cls, r.scan_width, 0).count_scale;
    }
    r.step_width = r.scan_width / r.step_count;

    r.truth.fwhm = fit.fwhm_a + fit.fwhm_b * tan_theta;
    r.truth.eta = fit.eta;
    r.truth.background = recipe.background_rate * r.step_time;
    r.truth.intensity = recipe.intensity;
    r.f_squared = recipe.f_squared;
    r.lp = recipe.lp;
    r.decay = recipe.decay;
    r.transmission = recipe.transmission;
    r.doublet_shift = DoubletShift(instrument, r.angles.two_theta);

    const double raw_intensity = recipe.intensity / r.count_scale;
    const double ratio = IsDoublet(instrument) ? instrument.iratio : 0.0;
    r.counts.resize(r.step_count);
    for (int i = 0; i < r.step_count; ++i) {
      const double x = r.omega_centre - r.scan_width / 2.0 + (i + 0.5) * r.step_width;
      const double d = x - r.truth.position;
      const double profile = PseudoVoigt(d, r.truth.fwhm, r.truth.eta) +
                             ratio * PseudoVoigt(d - r.doublet_shift, r.truth.fwhm, r.truth.eta);
      r.counts[i] = random.Poisson(r.truth.background + raw_intensity * profile);
    }
    data.reflections.push_back(std::move(r));
  }
  return data;
}

DataSet Generate(const Crystal& crystal, const Instrument& instrument, const ScanSettings& scan,
                 const FitSettings& fit, const GeneratorOptions& options) {
  const Matrix3 ub = UBMatrix(crystal);
  const Cell& cell = crystal.cell;

  // Every hkl of one hemisphere (Friedel mates are the same reflection) that
  // the resolution limit and the wavelength allow, in order of 2theta.
  struct Candidate {
    double two_theta;
    Hkl hkl;
  };
  std::vector<Candidate> all;
  const int h_max = static_cast<int>(cell.a / options.d_min) + 1;
  const int k_max = static_cast<int>(cell.b / options.d_min) + 1;
  const int l_max = static_cast<int>(cell.c / options.d_min) + 1;
  for (int h = 0; h <= h_max; ++h) {
    for (int k = -k_max; k <= k_max; ++k) {
      for (int l = -l_max; l <= l_max; ++l) {
        if (h == 0 && (k < 0 || (k == 0 && l <= 0))) continue;
        const Vector3 v = Multiply(ub, {double(h), double(k), double(l)});
        const double d_star = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        if (d_star * options.d_min > 1.0) continue;
        SettingAngles angles;
        if (!BisectingAngles(ub, {h, k, l}, instrument.lambda1, angles)) continue;
        all.push_back({angles.two_theta, {h, k, l}});
      }
    }
  }
  std::sort(all.begin(), all.end(), [](const Candidate& x, const Candidate& y) {
    return x.two_theta != y.two_theta ? x.two_theta < y.two_theta : x.hkl < y.hkl;
  });

  Random random(options.seed);
  // The scale of a class's scans at 2theta. The class thresholds are counts
  // of a normal scan: on the common scale they are times a normal scan's
  // scale, which CAD4 speed codes make other than 1.
  auto scale_of = [&](ReflectionClass cls, double two_theta) {
    const double width = scan.width_a + scan.width_b * std::tan(two_theta / 2.0 * kDeg);
    return TimingOf(scan, instrument, cls, width, 0).count_scale;
  };
  // Peak counts per step of a strong reflection without the attenuator.
  auto peak_counts = [&](double intensity, double two_theta) {
    const double fwhm = fit.fwhm_a + fit.fwhm_b * std::tan(two_theta / 2.0 * kDeg);
    return intensity / scale_of(ReflectionClass::kStrong, two_theta) * PseudoVoigt(0.0, fwhm, fit.eta);
  };
  // The instrument's class from the prescan, and the scan's mis-setting.
  auto classify = [&](ReflectionRecipe& recipe, double two_theta) {
    const double unit = scale_of(ReflectionClass::kNormal, two_theta);
    if (recipe.intensity < kLessThanBelow * unit) {
      recipe.cls = ReflectionClass::kLessThan;
    } else if (recipe.intensity < kWeakBelow * unit) {
      recipe.cls = ReflectionClass::kWeak;
    } else if (peak_counts(recipe.intensity, two_theta) > kAttenuateAbovePeakCounts) {
      recipe.cls = ReflectionClass::kFiltered;
    } else if (recipe.intensity > kStrongAbove * unit) {
      recipe.cls = ReflectionClass::kStrong;
    } else {
      recipe.cls = ReflectionClass::kNormal;
    }
    recipe.background_rate = options.background_rate;
    recipe.centring_error = options.centring_error * random.Normal();
  };
  auto ordinary = [&](const Candidate& c) {
    ReflectionRecipe recipe;
    recipe.hkl = c.hkl;
    const double u = random.Uniform();
    if (u < options.weak_fraction) {
      recipe.intensity = random.Uniform() * kWeakBelow * scale_of(ReflectionClass::kNormal, c.two_theta);
    } else if (u < options.weak_fraction + options.attenuated_fraction) {
      // The threshold times the strong scale: the peak step then exceeds it
      // for any FWHM below 1 degree.
      recipe.intensity = kAttenuateAbovePeakCounts * scale_of(ReflectionClass::kStrong, c.two_theta) *
                         (1.0 + random.Uniform());
    } else {
      recipe.intensity = -options.mean_intensity * std::log(random.Uniform());
    }
    classify(recipe, c.two_theta);
    return recipe;
  };

  // Standards: the first reflections above 10 degrees 2theta, measured at a
  // steady strong intensity.
  std::vector<Standard> standards;
  std::vector<ReflectionRecipe> standard_specs;
  for (const Candidate& c : all) {
    if (static_cast<int>(standards.size()) >= options.standards) break;
    if (c.two_theta < 10.0) continue;
    standards.push_back({c.hkl, scan.standard_steps, scan.standard_step_time});
    ReflectionRecipe recipe;
    recipe.hkl = c.hkl;
    recipe.cls = ReflectionClass::kStandard;
    recipe.standard_index = static_cast<int>(standards.size());
    recipe.intensity = 3.0 * options.mean_intensity;
    recipe.background_rate = options.background_rate;
    standard_specs.push_back(recipe);
  }
  auto add_standards = [&](std::vector<ReflectionRecipe>& recipes) {
    for (ReflectionRecipe recipe : standard_specs) {
      recipe.centring_error = options.centring_error * random.Normal();
      recipes.push_back(recipe);
    }
  };

  if (options.from_f_squared) {
    // Unique reflections spread evenly over the 2theta range, each with its
    // F^2; their equivalents measured one operation's copies after another.
    // With equivalents only one of each orbit, the greatest, is a candidate.
    std::vector<Candidate> candidates;
    for (const Candidate& c : all) {
      if (options.equivalents.empty()) {
        candidates.push_back(c);
        continue;
      }
      const std::vector<Hkl> orbit = Equivalents(options.equivalents, c.hkl);
      if (*std::max_element(orbit.begin(), orbit.end()) == c.hkl) candidates.push_back(c);
    }
    std::vector<std::pair<Hkl, double>> unique;
    const int wanted = std::min<int>(options.reflections, static_cast<int>(candidates.size()));
    for (int i = 0; i < wanted; ++i) {
      const std::size_t index = static_cast<std::size_t>(i) * candidates.size() / static_cast<std::size_t>(wanted);
      const double s = std::sin(candidates[index].two_theta / 2.0 * kDeg) / instrument.lambda1;
      unique.push_back({candidates[index].hkl, DrawFSquared(options, candidates[index].hkl, s * s, random)});
    }
    std::vector<std::vector<Hkl>> orbits;
    std::size_t copies = 1;
    for (const auto& [hkl, f2] : unique) {
      orbits.push_back(options.equivalents.empty() ? std::vector<Hkl>{hkl} : Equivalents(options.equivalents, hkl));
      copies = std::max(copies, orbits.back().size());
    }
    std::vector<ReflectionRecipe> recipes;
    int measured = 0;
    add_standards(recipes);
    for (std::size_t j = 0; j < copies; ++j) {
      for (std::size_t u = 0; u < unique.size(); ++u) {
        if (j >= orbits[u].size()) continue;
        ReflectionRecipe recipe;
        recipe.hkl = orbits[u][j];
        recipe.f_squared = unique[u].second;
        recipes.push_back(recipe);
        if (options.standards_every > 0 && ++measured % options.standards_every == 0) add_standards(recipes);
      }
    }
    if (options.standards_every <= 0 || measured % options.standards_every != 0) add_standards(recipes);
    const bool absorbing = options.absorber.Active();
    const AbsorptionOracle oracle(absorbing ? options.absorber : Absorber{}, ub, absorbing ? 20000 : 0);
    for (std::size_t n = 0; n < recipes.size(); ++n) {
      ReflectionRecipe& recipe = recipes[n];
      SettingAngles angles;
      BisectingAngles(ub, recipe.hkl, instrument.lambda1, angles);
      if (recipe.standard_index > 0) recipe.f_squared = 3.0 * options.mean_intensity;
      recipe.lp = LorentzPolarisation(instrument, angles.two_theta);
      recipe.decay = 1.0 - options.decay_percent / 100.0 * static_cast<double>(n) /
                               static_cast<double>(std::max<std::size_t>(recipes.size() - 1, 1));
      if (absorbing) recipe.transmission = oracle.Transmission(ub, recipe.hkl, angles, instrument.lambda1);
      recipe.intensity = recipe.f_squared * options.scale * recipe.lp * recipe.decay * recipe.transmission;
      if (recipe.standard_index == 0) classify(recipe, angles.two_theta);
    }
    DataSet data = MakeDataSet(crystal, instrument, scan, fit, standards, recipes, options.seed + 1);
    data.title = options.title;
    data.from_f_squared = true;
    data.absorbing = absorbing;
    return data;
  }

  // The requested number of reflections spread evenly over the 2theta range.
  std::vector<ReflectionRecipe> recipes;
  const int wanted = std::min<int>(options.reflections, static_cast<int>(all.size()));
  add_standards(recipes);
  for (int i = 0; i < wanted; ++i) {
    const std::size_t index = static_cast<std::size_t>(i) * all.size() / static_cast<std::size_t>(wanted);
    recipes.push_back(ordinary(all[index]));
    if (options.standards_every > 0 && (i + 1) % options.standards_every == 0 && i + 1 < wanted) add_standards(recipes);
  }
  add_standards(recipes);

  DataSet data = MakeDataSet(crystal, instrument, scan, fit, standards, recipes, options.seed + 1);
  data.title = options.title;
  return data;
}

}  // namespace kalvex::simulate
