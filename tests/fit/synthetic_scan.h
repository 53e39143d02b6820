// Synthetic omega scans for the fit tests: a pseudo-Voigt doublet on a flat
// background written with the textbook line shapes (not the program's), with
// or without Poisson noise.
#pragma once

#include <array>
#include <cmath>
#include <random>

#include "fit/profile.h"
#include "scan/reflection_input.h"
#include "state/scan_reflection.h"
#include "state/run_parameters.h"

namespace kalvex::testing {

constexpr double kPi = 3.14159265358979323846;

// Gaussian of unit area by its standard deviation, FWHM = 2 sqrt(2 ln 2) sigma.
inline double TextbookGauss(double d, double fwhm) {
  const double sigma = fwhm / (2.0 * std::sqrt(2.0 * std::log(2.0)));
  return std::exp(-d * d / (2.0 * sigma * sigma)) / (sigma * std::sqrt(2.0 * kPi));
}

// Cauchy density of half width gamma = FWHM / 2.
inline double TextbookLorentz(double d, double fwhm) {
  const double gamma = fwhm / 2.0;
  return gamma / (kPi * (d * d + gamma * gamma));
}

inline double TextbookVoigt(double d, double fwhm, double eta) {
  return (1.0 - eta) * TextbookGauss(d, fwhm) + eta * TextbookLorentz(d, fwhm);
}

struct SyntheticScan {
  int steps = 96;
  float first = -0.8f;  // position of step 1, degrees
  float width = 1.6f;   // from the first to the last step centre
  ProfileValues truth{0.0f, 20.0f, 0.30f, 400.0f, 0.02f, 0.40f, 0.5f};
  float lambda1 = 0.70930f;
  float lambda2 = 0.71359f;
  float two_theta = 40.0f;
  float mono_term = 0.0f;
  unsigned seed = 0;  // 0: noiseless

  std::array<float, kMaxSteps> x{};
  std::array<float, kMaxSteps> y{};

  // The alpha2 line's offset, written out from Bragg's law.
  double Offset() const {
    const double theta = two_theta / 2.0 * kPi / 180.0;
    if (lambda2 < 0.1f) return 0.0;
    return (std::asin(lambda2 / lambda1 * std::sin(theta)) - theta) * 180.0 / kPi + mono_term;
  }

  double Model(double at) const {
    const double d = at - truth[kPosition];
    double v = TextbookVoigt(d, truth[kFwhm], truth[kEta]);
    if (lambda2 >= 0.1f) v += truth[kIratio] * TextbookVoigt(d - Offset(), truth[kFwhm], truth[kEta]);
    return truth[kBackground] + truth[kIntensity] * v;
  }

  void Make() {
    std::mt19937 random(seed);
    for (int i = 0; i < steps; ++i) {
      x[i] = first + width * static_cast<float>(i) / static_cast<float>(steps - 1);
      const double mean = Model(x[i]);
      if (seed == 0) {
        y[i] = static_cast<float>(mean);
      } else {
        std::poisson_distribution<long long> counts(mean);
        y[i] = static_cast<float>(counts(random));
      }
    }
  }

  // The scan as a reader leaves it, derived quantities included.
  void Fill(ScanReflection& scan, RunParameters& params) const {
    params.lambda1 = lambda1;
    params.lambda2 = lambda2;
    params.n_wavelengths = lambda2 >= 0.1f ? 2 : 1;
    scan.step_count = steps;
    scan.two_theta = two_theta;
    scan.step_width = width / static_cast<float>(steps - 1);
    scan.scan_width = scan.step_width * static_cast<float>(steps);
    scan.omega_centre = first + width / 2.0f;
    scan.count_scale = 1.0f;
    for (int i = 0; i < steps; ++i) scan.counts[i] = y[i];
    DeriveScanQuantities(scan, lambda1, lambda2, mono_term);
  }

  // The steps as the profile fit takes them.
  ProfileScan Input() const { return {x.data(), y.data(), steps, {lambda1, lambda2}, mono_term, two_theta}; }
};

// Everything one profile fit gives back, its calculated profile included,
// for comparing fits.
struct ProfileOutcome {
  ProfileValues p{};
  ProfileValues e{};
  std::array<float, kMaxSteps> yc{};
  float rwp = -1.0f;
  float chi2 = -1.0f;
  int status = -1;
};

// Runs `fit` (RefineProfile or the reference one) into a ProfileOutcome.
template <class Fitter>
ProfileOutcome RunFit(Fitter fit, const ProfileScan& input, const ProfileValues& start, const ProfileFlags& flags) {
  ProfileOutcome out;
  const ProfileFit result = fit(input, start, flags, out.yc.data());
  out.p = result.p;
  out.e = result.esd;
  out.rwp = result.rwp;
  out.chi2 = result.chi2;
  out.status = result.status;
  return out;
}

}  // namespace kalvex::testing
