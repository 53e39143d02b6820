// The parameter file and the truth table that go with a simulated data set,
// and what every writer shares: its real fields and its failure message.
#include <cstdio>
#include <fstream>

#include "common/fixed_fields.h"
#include "tools/simulate/simulate.h"

namespace kalvex::simulate {
namespace {

// A real in `width` columns with as many decimals as fit behind at least one
// blank, the decimal point always written so that no implied decimals apply.
std::string Real(double value, int width) {
  for (int decimals = 5; decimals >= 0; --decimals) {
    std::string text = fields::FormatReal(value, width, decimals);
    if (text.find('*') == std::string::npos && text.front() == ' ') return text;
  }
  return fields::FormatReal(value, width, 0);
}

std::string Key(const char* keyword) { return fields::Fixed(keyword, 6); }

}  // namespace

bool CannotWrite(const std::filesystem::path& path, std::string& error) {
  error = "cannot write " + path.string();
  return false;
}

std::string RealInWidth(double value, int width, int decimals) {
  for (int d = decimals; d > 0; --d) {
    std::string text = fields::FormatReal(value, width, d);
    if (text.find('*') == std::string::npos) return text;
  }
  return fields::FormatReal(value, width, 0);
}

double AsRead(const std::string& text) { return fields::ParseReal(text, 0).value_or(0.0); }

bool WriteParameterFile(const DataSet& data, const std::filesystem::path& path, std::string& error) {
  std::ofstream out(path);
  if (!out) return CannotWrite(path, error);
  const FitSettings& fit = data.fit;
  const Instrument& in = data.instrument;
  using fields::FormatInt;
  out << "Simulated data set: " << data.title << '\n';
  out << Key("PKPAR") << Real(fit.fwhm_a, 10) << Real(fit.fwhm_b, 10) << Real(fit.eta, 10) << '\n';
  // Thirteen fields: low and high of each profile parameter, then Rwp max.
  out << Key("FITLIM");
  for (int k = 1; k <= 6; ++k) out << Real(fit.low[k], 10) << Real(fit.high[k], 10);
  out << Real(fit.rwp_max, 10) << '\n';
  out << Key("ATTEN") << Real(in.atten, 10) << '\n';
  out << Key("WAVEL") << FormatInt(in.n_wavelengths, 5) << Real(in.lambda1, 10) << Real(in.lambda2, 10)
      << Real(in.n_wavelengths == 2 ? in.iratio : 0.0, 10) << '\n';
  out << Key("RFLAGS");
  for (int k = 1; k <= 6; ++k) out << FormatInt(fit.refine_flag[k], 5);
  out << '\n' << Key("TFLAGS");
  for (int k = 1; k <= 7; ++k) out << FormatInt(fit.check_flag[k], 10);
  out << '\n' << Key("PARITY");
  for (int p : in.parity) out << FormatInt(p, 10);
  out << '\n' << Key("MONO") << FormatInt(in.mono_flag, 5) << Real(in.mono_2theta, 10) << Real(in.dihedral, 10)
      << FormatInt(in.mono_orient, 5) << '\n';
  if (fit.bg_type != 0) out << Key("BACKGR") << FormatInt(fit.bg_type, 5) << '\n';
  out << Key("RCRS") << Real(in.rc, 10) << Real(in.rs, 10) << '\n';
  out.flush();
  if (!out) return CannotWrite(path, error);
  return true;
}

bool WriteTruthTable(const DataSet& data, const std::filesystem::path& path, std::string& error) {
  std::ofstream out(path);
  if (!out) return CannotWrite(path, error);
  out << "seq,h,k,l,class,two_theta,omega,chi,phi,position,fwhm,eta,background,intensity"
      << (data.from_f_squared ? ",f_squared,lp,decay" : "") << (data.absorbing ? ",transmission\n" : "\n");
  char buffer[320];
  for (const SimReflection& r : data.reflections) {
    std::snprintf(buffer, sizeof buffer, "%d,%d,%d,%d,%s,%.5f,%.5f,%.5f,%.5f,%.6f,%.6f,%.4f,%.4f,%.4f", r.seq,
                  r.hkl[0], r.hkl[1], r.hkl[2], ClassCode(r.cls), r.angles.two_theta, r.angles.omega, r.angles.chi,
                  r.angles.phi, r.truth.position, r.truth.fwhm, r.truth.eta, r.truth.background, r.truth.intensity);
    out << buffer;
    if (data.from_f_squared) {
      std::snprintf(buffer, sizeof buffer, ",%.4f,%.6f,%.6f", r.f_squared, r.lp, r.decay);
      out << buffer;
      if (data.absorbing) {
        std::snprintf(buffer, sizeof buffer, ",%.6f", r.transmission);
        out << buffer;
      }
    }
    out << '\n';
  }
  out.flush();
  if (!out) return CannotWrite(path, error);
  return true;
}

}  // namespace kalvex::simulate
