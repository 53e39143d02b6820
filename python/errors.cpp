// The module's exceptions and the argument checks every call shares.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <regex>

#include "python/bindings.h"

namespace kalvex::python {

namespace {

// The classes, made once when the module is imported and kept for the
// life of the interpreter.
PyObject* error_class = nullptr;
PyObject* read_error_class = nullptr;
PyObject* write_error_class = nullptr;

PyObject* NewClass(const char* name, const char* doc, PyObject* base) {
  PyObject* made = PyErr_NewExceptionWithDoc(name, doc, base, nullptr);
  if (!made) throw py::error_already_set();
  return made;
}

void Raise(PyObject* type, const std::string& message, const int* line = nullptr) {
  py::object error = py::reinterpret_borrow<py::object>(type)(message);
  if (line) error.attr("line") = *line;
  PyErr_SetObject(type, error.ptr());
}

}  // namespace

int LineNamedIn(std::string_view message) {
  static const std::regex kAtLine(R"((?:^|\s)(?:at )?line\s+(\d+))", std::regex::icase);
  std::match_results<std::string_view::const_iterator> match;
  if (!std::regex_search(message.begin(), message.end(), match, kAtLine)) return 0;
  return std::stoi(match[1].str());
}

std::string InPythonWords(std::string message) {
  // "--append" -> "append=True", "--input-format" -> "input_format=".
  static const std::regex kOption(R"(--([a-z][a-z-]*))");
  static const std::regex kFlag(R"(^(append|replace|preprocess|calc_ub|calc_fwhm)$)");
  std::string out;
  auto from = message.cbegin();
  for (std::sregex_iterator it(message.begin(), message.end(), kOption), end; it != end; ++it) {
    out.append(from, message.cbegin() + it->position());
    std::string name = (*it)[1].str();
    std::replace(name.begin(), name.end(), '-', '_');
    out += name + (std::regex_match(name, kFlag) ? "=True" : "=");
    from = message.cbegin() + it->position() + it->length();
  }
  out.append(from, message.cend());
  return out;
}

void BindErrors(py::module_& m) {
  error_class =
      NewClass("kalvex.Error", "A run that could not go on: what the program would tell in its box, as the message.",
               PyExc_Exception);
  read_error_class =
      NewClass("kalvex.ReadError",
               "A file that cannot be read as its format says. The message is the program's own, exactly as\n"
               "kalvex integrate prints it; `line` is the true number of the line where reading stopped\n"
               "(1 for the first; 0 when no line was read, e.g. a file that does not exist).",
               error_class);
  PyObject_SetAttrString(read_error_class, "line", py::int_(0).ptr());
  write_error_class = NewClass("kalvex.WriteError",
                               "An output (intensity file, log, HKLF 4 file, CIF) that could not be written: the file "
                               "and the system's reason.",
                               error_class);
  m.add_object("Error", py::handle(error_class));
  m.add_object("ReadError", py::handle(read_error_class));
  m.add_object("WriteError", py::handle(write_error_class));

  py::register_exception_translator([](std::exception_ptr thrown) {
    try {
      if (thrown) std::rethrow_exception(thrown);
    } catch (const ReadFailure& e) {
      Raise(read_error_class, e.what(), &e.line);
    } catch (const WriteFailure& e) {
      Raise(write_error_class, e.what());
    } catch (const RunFailure& e) {
      Raise(error_class, e.what());
    }
  });
}

std::string PathOf(const py::handle& path) {
  if (py::isinstance<py::str>(path)) return path.cast<std::string>();
  const py::object os = py::module_::import("os");
  py::object named;
  try {
    named = os.attr("fspath")(path);
  } catch (const py::error_already_set&) {
    throw py::type_error("a path is a str or os.PathLike, not " +
                         py::str(path.get_type().attr("__name__")).cast<std::string>());
  }
  if (!py::isinstance<py::str>(named)) throw py::type_error("a path is a str, not bytes");
  return named.cast<std::string>();
}

int ProfileIndex(const std::string& name, const char* argument) {
  for (int k = 1; k <= kProfileParameters; ++k)
    if (name == kProfileNames[k]) return k;
  throw py::value_error(std::string(argument) + ": " + name +
                        " is no profile parameter (background, fwhm, intensity, position, eta, iratio)");
}

std::vector<std::string> NameList(const py::handle& names) {
  std::vector<std::string> list;
  if (names.is_none()) return list;
  if (py::isinstance<py::str>(names)) {
    const std::string text = names.cast<std::string>();
    std::size_t from = 0;
    while (from <= text.size()) {
      const std::size_t comma = std::min(text.find(',', from), text.size());
      if (comma > from) list.push_back(text.substr(from, comma - from));
      from = comma + 1;
    }
    return list;
  }
  for (const py::handle item : names) list.push_back(py::str(item).cast<std::string>());
  return list;
}

double CheckedNumber(const py::handle& value, const char* argument, double low, double high) {
  double v = 0;
  try {
    v = py::float_(py::reinterpret_borrow<py::object>(value)).cast<double>();
  } catch (const py::error_already_set&) {
    throw py::type_error(std::string(argument) + " takes a number, not " + py::repr(value).cast<std::string>());
  }
  if (!std::isfinite(v) || v < low || v > high) {
    char range[96];
    std::snprintf(range, sizeof range, " must lie between %g and %g, not ", low, high);
    throw py::value_error(std::string(argument) + range + py::repr(value).cast<std::string>());
  }
  return v;
}

py::array StringArray(const std::vector<std::string>& values) {
  // numpy's "U" strings are fixed-width UCS-4: filled here in one pass, not
  // through a Python str each. The strings are the program's ASCII letters.
  std::size_t width = 1;
  for (const std::string& v : values) width = std::max(width, v.size());
  py::array a(py::dtype("<U" + std::to_string(width)),
              std::vector<py::ssize_t>{static_cast<py::ssize_t>(values.size())});
  auto* out = static_cast<char32_t*>(a.mutable_data());
  for (const std::string& v : values) {
    for (std::size_t i = 0; i < width; ++i) *out++ = i < v.size() ? static_cast<unsigned char>(v[i]) : 0;
  }
  return a;
}

}  // namespace kalvex::python
