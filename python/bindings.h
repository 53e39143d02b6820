// The module's parts, each binding its calls into `kalvex`, and what they
// share: the errors raised, path and name arguments, the parameter files.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <charconv>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/read_error.h"
#include "state/run_parameters.h"
#include "state/scan_reflection.h"

namespace kalvex::python {

namespace py = pybind11;

// ---- Errors (errors.cpp). Thrown in C++, raised as the module's classes.
// kalvex.ReadError: a file that cannot be read, with the program's message
// and the true line number (0 when the file could not be opened at all).
struct ReadFailure : std::runtime_error {
  ReadFailure(const std::string& message, int line) : std::runtime_error(message), line(line) {}
  explicit ReadFailure(const ReadError& error) : ReadFailure(error.message, error.line) {}
  int line;
};
// kalvex.WriteError: an output that could not be written.
struct WriteFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};
// kalvex.Error: a run that could not go on (a refinement that failed, a
// data set that cannot be reduced).
struct RunFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};
// A message of the engine's that names the command's options, naming the
// keyword arguments instead.
std::string InPythonWords(std::string message);
// "... at line N" or "line N: ..." in a message: N, else 0.
int LineNamedIn(std::string_view message);

void BindErrors(py::module_& m);
void BindReading(py::module_& m);
void BindFitting(py::module_& m);
void BindIntegration(py::module_& m);
void BindReduction(py::module_& m);

// ---- Arguments.
// A str or os.PathLike as the file system names it.
std::string PathOf(const py::handle& path);
// The six profile parameters by the names the command line gives them,
// index 1..6 (kBackground .. kIratio); "" at index 0.
inline constexpr std::array<std::string_view, 7> kProfileNames = {"",         "background", "fwhm",  "intensity",
                                                                  "position", "eta",        "iratio"};
// The index of a profile parameter's name; ValueError for another.
int ProfileIndex(const std::string& name, const char* argument);
// A comma-separated string or an iterable of strings.
std::vector<std::string> NameList(const py::handle& names);
// A number that must be finite and within [low, high]; ValueError naming
// the argument otherwise.
double CheckedNumber(const py::handle& value, const char* argument, double low, double high);

// ---- The parameter file as read (reading.cpp).
struct Parameters {
  std::string path;  // absolute
  std::string title;
  RunParameters run;
};
Parameters ReadParameters(const std::string& path);
// A Parameters object, or a path whose file is read now.
Parameters ParametersOf(const py::handle& parameters);

// ---- The data file (reading.cpp).
// A reflection as read: the scan is shared, never changed once read.
struct Reflection {
  std::shared_ptr<const ScanReflection> scan;
  int input_class = -1;  // an InputClass; -1 when the file gave none
  bool complete = true;  // false for one the file ends inside
};
// kFormat... of `format` (a name, or None: from the data file's extension);
// ValueError naming `argument` when it names none.
int FormatCode(const py::handle& format, const std::string& data_path, const char* argument);
// A Single file's omega step; 0 for None.
float OmegaStep(const py::handle& omega_step);
// "lt", "weak", ... for an InputClass; "" for none.
std::string InputClassName(int input_class);

// ---- Numbers. The state computes in single precision; a float is handed
// to Python as the shortest decimal that reads back as the same float
// (0.7093, not 0.7092999815940857).
inline double Decimal(float v) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text - 1, v).ptr;
  *end = '\0';
  return std::strtod(text, nullptr);
}

// ---- numpy arrays made in one piece from C++ values.
template <class T>
py::array_t<T> ArrayOf(const std::vector<T>& values) {
  py::array_t<T> a(static_cast<py::ssize_t>(values.size()));
  std::copy(values.begin(), values.end(), a.mutable_data());
  return a;
}
// A str array (numpy "U") of the given strings.
py::array StringArray(const std::vector<std::string>& values);
// A 3 x 3 array.
template <class M>
py::array_t<double> Matrix(const M& m) {
  py::array_t<double> a({3, 3});
  auto v = a.mutable_unchecked<2>();
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) v(i, j) = static_cast<double>(m[i][j]);
  return a;
}

}  // namespace kalvex::python
