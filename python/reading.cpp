// kalvex.read_parameters and kalvex.read_data: the parameter file and the
// data file's reflections, read by the program's own readers.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "common/file_names.h"
#include "common/fixed_fields.h"
#include "common/text_files.h"
#include "engine/run.h"
#include "python/bindings.h"
#include "scan/parameter_file.h"
#include "scan/reflection_input.h"

namespace kalvex::python {

namespace fs = std::filesystem;

namespace {

constexpr std::array<const char*, kInputClasses> kClassNames = {"lt",     "weak",     "normal",
                                                                "strong", "standard", "filtered"};
constexpr std::array<const char*, 4> kBackgroundNames = {"none", "spline", "exp", "from-scan"};

// A read-only numpy view of `n` floats that keeps `owner` alive.
py::array_t<float> View(const float* values, int n, const py::object& owner) {
  py::array_t<float> a(n, values, owner);
  a.attr("setflags")(py::arg("write") = false);
  return a;
}

py::dict ProfileDict(const std::array<float, 7>& low, const std::array<float, 7>& high) {
  py::dict d;
  for (int k = 1; k <= kProfileParameters; ++k)
    d[py::str(kProfileNames[k])] = py::make_tuple(Decimal(low[k]), Decimal(high[k]));
  return d;
}

template <std::size_t N>
py::dict FlagDict(const std::array<int, N>& flags, int last) {
  py::dict d;
  for (int k = 1; k <= last; ++k)
    d[py::str(k == kRwp ? std::string_view("rwp") : kProfileNames[k])] = flags[static_cast<std::size_t>(k)] == 1;
  return d;
}

// The data file's reflections one at a time, as a pass of the program reads
// them: on its own copies of the data set and the parameters.
class DataReader {
 public:
  DataReader(const std::string& path, const Parameters& parameters, int format, float omega_step)
      : path_(fileio::AbsolutePath(path)), params_(parameters.run), scan_(std::make_unique<ScanReflection>()) {
    std::error_code ec;
    if (!fs::is_regular_file(path_, ec)) throw ReadFailure("cannot read " + path_ + ": no such file", 0);
    if (!data_.Open(path_)) throw ReadFailure("cannot read " + path_ + ": " + std::strerror(errno), 0);
    params_.input_format = format;
    if (omega_step > 0) set_.omega_step = omega_step;
    // The header is read into a copy: its wavelengths and attenuator give
    // way to the parameter file's, as they do in a run.
    RunParameters header = params_;
    const ReadResult read = ReadScanHeader({data_, set_, header, *scan_}, fs::path(path_).filename().string());
    if (read.Failed()) throw ReadFailure(read.error);
  }

  Reflection Next() {
    if (ended_) throw py::stop_iteration();
    const ReadResult read = ReadNextReflection({data_, set_, params_, *scan_}, scan_->seq_no + 1);
    if (read.status == kEndOfData || read.Failed()) {
      ended_ = true;
      data_.Close();
      if (read.Failed()) throw ReadFailure(read.error);
      throw py::stop_iteration();
    }
    Reflection r;
    r.scan = std::make_shared<const ScanReflection>(*scan_);
    r.input_class = set_.counted_class;
    r.complete = read.status == kReadOk;
    return r;
  }

  const std::string& Path() const { return path_; }
  const DataSet& Set() const { return set_; }

 private:
  std::string path_;
  textfile::LineSource data_;
  DataSet set_;
  RunParameters params_;
  std::unique_ptr<ScanReflection> scan_;
  bool ended_ = false;
};

}  // namespace

int FormatCode(const py::handle& format, const std::string& data_path, const char* argument) {
  if (format.is_none()) {
    const int code = engine::FormatFromName(fs::path(data_path).filename().string());
    if (code == 0) {
      throw py::value_error("cannot tell the format of " + fs::path(data_path).filename().string() +
                            " from its name: give " + argument + "= (xcalibur, single, cad4 or xscans)");
    }
    return code;
  }
  const std::string name = py::str(format).cast<std::string>();
  if (name == "xcalibur") return kFormatXcalibur;
  if (name == "single") return kFormatSingle;
  if (name == "cad4") return kFormatCad4;
  if (name == "xscans") return kFormatXscans;
  throw py::value_error(std::string(argument) + ": " + name + " is none of xcalibur, single, cad4, xscans");
}

float OmegaStep(const py::handle& omega_step) {
  if (omega_step.is_none()) return 0.0f;
  if (py::float_(py::reinterpret_borrow<py::object>(omega_step)).cast<double>() < 0.001) {
    throw py::value_error("Step size too small: at least 0.001");
  }
  return static_cast<float>(CheckedNumber(omega_step, "omega_step", 0.001, 10.0));
}

Parameters ReadParameters(const std::string& path) {
  Parameters p;
  p.path = fileio::AbsolutePath(path);
  std::error_code ec;
  if (!fs::is_regular_file(p.path, ec)) throw ReadFailure("cannot read " + p.path + ": no such file", 0);
  textfile::LineSource in;
  if (!in.Open(p.path)) throw ReadFailure("cannot read " + p.path + ": " + std::strerror(errno), 0);
  ParameterMarks marks{};
  const ParameterFileResult read = ReadParameterFile(in, p.run, marks);
  if (read.error) throw ReadFailure(*read.error);
  if (!read.echo.empty()) p.title = std::string(fields::TrimRight(std::string_view(read.echo.front()).substr(1)));
  return p;
}

Parameters ParametersOf(const py::handle& parameters) {
  if (py::isinstance<Parameters>(parameters)) return parameters.cast<Parameters>();
  return ReadParameters(PathOf(parameters));
}

std::string InputClassName(int input_class) {
  return input_class >= 0 && input_class < kInputClasses ? kClassNames[static_cast<std::size_t>(input_class)] : "";
}

void BindReading(py::module_& m) {
  py::class_<Parameters>(m, "Parameters",
                         "A parameter file as read: the instrument constants and the fitting settings of a run.\n"
                         "Angles are degrees, wavelengths Angstrom. Made by read_parameters().")
      .def_readonly("path", &Parameters::path, "the file, as an absolute path")
      .def_readonly("title", &Parameters::title, "the file's first line")
      .def_property_readonly(
          "wavelengths",
          [](const Parameters& p) {
            return p.run.n_wavelengths == 2 ? py::make_tuple(Decimal(p.run.lambda1), Decimal(p.run.lambda2))
                                            : py::make_tuple(Decimal(p.run.lambda1));
          },
          "(alpha1, alpha2), or (lambda,) for one wavelength (WAVEL)")
      .def_property_readonly(
          "iratio", [](const Parameters& p) { return Decimal(p.run.iratio); },
          "the alpha2 : alpha1 intensity ratio (WAVEL); 0 for one wavelength")
      .def_property_readonly(
          "attenuator", [](const Parameters& p) { return Decimal(p.run.atten); }, "the attenuator factor (ATTEN)")
      .def_property_readonly(
          "monochromator",
          [](const Parameters& p) {
            py::dict d;
            d["present"] = p.run.mono_flag != 0;
            d["two_theta"] = Decimal(p.run.mono_2theta);
            d["dihedral"] = Decimal(p.run.dihedral);
            d["orientation"] = p.run.mono_orient;
            d["shift"] = Decimal(p.run.mono_shift);
            return d;
          },
          "the MONO line: present, two_theta, dihedral (the angle between its plane of\n"
          "diffraction and the sample's), orientation, and the alpha1/alpha2 shift it makes")
      .def_property_readonly(
          "fwhm",
          [](const Parameters& p) {
            return py::make_tuple(Decimal(p.run.pdef[kFwhm][kCoefA]), Decimal(p.run.pdef[kFwhm][kCoefB]));
          },
          "(a, b) of the default peak width FWHM = a + b tan(theta) (PKPAR)")
      .def_property_readonly(
          "eta", [](const Parameters& p) { return Decimal(p.run.pdef[kEta][kCoefA]); },
          "the default Lorentzian fraction of the pseudo-Voigt (PKPAR)")
      .def_property_readonly(
          "limits", [](const Parameters& p) { return ProfileDict(p.run.low, p.run.high); },
          "{parameter: (low, high)}: the window each fitted value must lie in (FITLIM)")
      .def_property_readonly(
          "rwp_max", [](const Parameters& p) { return Decimal(p.run.rwp_max); },
          "the highest Rwp a fit may have (FITLIM)")
      .def_property_readonly(
          "refined", [](const Parameters& p) { return FlagDict(p.run.refine_flag, 6); },
          "{parameter: bool}: which profile parameters a fit refines (RFLAGS)")
      .def_property_readonly(
          "tested", [](const Parameters& p) { return FlagDict(p.run.check_flag, 7); },
          "{parameter or 'rwp': bool}: which limits a fit is tested against (TFLAGS)")
      .def_property_readonly(
          "parity",
          [](const Parameters& p) {
            return py::make_tuple(p.run.parity[0], p.run.parity[1], p.run.parity[2], p.run.parity[3]);
          },
          "the signs of 2theta, omega, chi and phi (PARITY)")
      .def_property_readonly(
          "background",
          [](const Parameters& p) {
            return p.run.bg_type >= 0 && p.run.bg_type < 4 ? kBackgroundNames[p.run.bg_type] : "";
          },
          "the fixed background: none, spline, exp or from-scan (BACKGR)")
      .def_property_readonly(
          "nstep_bg", [](const Parameters& p) { return p.run.nstep_bg; },
          "steps at each scan end for the from-scan background (BACKGR)")
      .def_property_readonly(
          "rc_rs", [](const Parameters& p) { return py::make_tuple(Decimal(p.run.rc), Decimal(p.run.rs)); },
          "the goniometer's RC and RS (RCRS)")
      .def("__repr__", [](const Parameters& p) { return "<kalvex.Parameters " + p.path + ">"; });

  m.def(
      "read_parameters", [](const py::object& path) { return ReadParameters(PathOf(path)); }, py::arg("path"),
      "read_parameters(path) -> Parameters\n\n"
      "Reads an instrument parameter file (.par) as a run reads it. Raises ReadError with the\n"
      "program's message and line (\"ERROR READING PARAMETER FILE: ATTEN at line 7\") when it\n"
      "cannot be read.");

  py::class_<Reflection>(m, "Reflection",
                         "One reflection of a data file as read: its scan and the quantities derived from it.\n"
                         "Angles in degrees. Made by read_data().")
      .def_property_readonly(
          "seq_no", [](const Reflection& r) { return r.scan->seq_no; }, "sequence number")
      .def_property_readonly(
          "hkl", [](const Reflection& r) { return py::make_tuple(r.scan->hkl[0], r.scan->hkl[1], r.scan->hkl[2]); },
          "Miller indices (h, k, l)")
      .def_property_readonly(
          "standard_index", [](const Reflection& r) { return r.scan->standard_index; },
          "0 for an ordinary reflection, else the standard's number in the file's list (1..10)")
      .def_property_readonly(
          "input_class", [](const Reflection& r) { return InputClassName(r.input_class); },
          "how the file classes it: lt, weak, normal, strong, standard or filtered\n"
          "(measured with the attenuator)")
      .def_property_readonly("two_theta", [](const Reflection& r) { return Decimal(r.scan->two_theta); })
      .def_property_readonly(
          "omega", [](const Reflection& r) { return Decimal(r.scan->omega_centre); },
          "omega of the scan centre minus theta: the origin of the step positions")
      .def_property_readonly("chi", [](const Reflection& r) { return Decimal(r.scan->chi); })
      .def_property_readonly("phi", [](const Reflection& r) { return Decimal(r.scan->phi); })
      .def_property_readonly(
          "angles",
          [](const Reflection& r) {
            return py::make_tuple(Decimal(r.scan->two_theta), Decimal(r.scan->omega_centre), Decimal(r.scan->chi),
                                  Decimal(r.scan->phi));
          },
          "(two_theta, omega, chi, phi)")
      .def_property_readonly("step_width", [](const Reflection& r) { return Decimal(r.scan->step_width); })
      .def_property_readonly("scan_width", [](const Reflection& r) { return Decimal(r.scan->scan_width); })
      .def_property_readonly("step_time", [](const Reflection& r) { return Decimal(r.scan->step_time); })
      .def_property_readonly(
          "count_scale", [](const Reflection& r) { return Decimal(r.scan->count_scale); },
          "the factor that brings the counts onto the data set's common scale")
      .def_property_readonly(
          "counts",
          [](const py::object& self) {
            const Reflection& r = self.cast<const Reflection&>();
            return View(r.scan->counts.data(), r.scan->step_count, self);
          },
          "the counts of each step as the file has them (numpy float32, read-only, no copy)")
      .def_property_readonly(
          "positions",
          [](const py::object& self) {
            const Reflection& r = self.cast<const Reflection&>();
            return View(r.scan->step_position.data(), r.scan->step_count, self);
          },
          "omega of each step from the scan's origin (numpy float32, read-only)")
      .def_property_readonly(
          "complete", [](const Reflection& r) { return r.complete; },
          "False for a reflection the file ends inside: its counts are not whole, and it\n"
          "is neither fitted nor written by a run")
      .def("__len__", [](const Reflection& r) { return r.scan->step_count; })
      .def("__repr__", [](const Reflection& r) {
        const auto& h = r.scan->hkl;
        return "<kalvex.Reflection " + std::to_string(r.scan->seq_no) + " (" + std::to_string(h[0]) + " " +
               std::to_string(h[1]) + " " + std::to_string(h[2]) + "), " + std::to_string(r.scan->step_count) +
               " steps>";
      });

  py::class_<DataReader>(m, "DataReader",
                         "The reflections of a data file in file order (an iterator). Made by read_data().")
      .def("__iter__", [](py::object self) { return self; })
      .def("__next__", &DataReader::Next)
      .def_property_readonly("path", &DataReader::Path)
      .def_property_readonly(
          "title", [](const DataReader& d) { return std::string(fields::TrimRight(d.Set().title)); },
          "the data set's title from the file's header")
      .def_property_readonly(
          "standards",
          [](const DataReader& d) {
            py::list list;
            const StandardsTable& t = d.Set().standards;
            for (int i = 0; i < t.count && i < kMaxStandards; ++i) {
              const auto& h = t.entries[static_cast<std::size_t>(i)].hkl;
              list.append(py::make_tuple(h[0], h[1], h[2]));
            }
            return list;
          },
          "the hkl of the standards the header names");

  m.def(
      "read_data",
      [](const py::object& path, const py::object& parameters, const py::object& format, const py::object& omega_step) {
        const std::string data = PathOf(path);
        const int code = FormatCode(format, data, "format");
        const float step = OmegaStep(omega_step);
        return DataReader(data, ParametersOf(parameters), code, step);
      },
      py::arg("path"), py::arg("parameters"), py::arg("format") = py::none(), py::arg("omega_step") = py::none(),
      "read_data(path, parameters, format=None, omega_step=None) -> iterator of Reflection\n\n"
      "Reads the reflections of a data file one by one, with the parameter file's wavelengths and\n"
      "attenuator factor (`parameters`: a Parameters or the parameter file's path).\n"
      "format: 'xcalibur', 'single', 'cad4' or 'xscans'; None takes it from the extension\n"
      "(.dca xcalibur, .dat cad4, .p4t xscans; a Single file must be named).\n"
      "omega_step: the omega step of a Single file in degrees (0.001 to 10; None: 0.02).\n"
      "The header is read at once; a file that cannot be read raises ReadError with the program's\n"
      "message and the line, here or when the iteration reaches it.");
}

}  // namespace kalvex::python
