// The module `kalvex`: the program's core for Python.
#include "python/bindings.h"

PYBIND11_MODULE(kalvex, m) {
  namespace python = kalvex::python;
  // Each call's docstring begins with its signature as a user writes it.
  pybind11::options options;
  options.disable_function_signatures();
  m.doc() =
      "Win-Kalvex's core for scripts and notebooks: four-circle diffractometer step scans read,\n"
      "fitted, integrated and reduced by the same code as the kalvex command and the window.\n\n"
      "  read_parameters(path)                 the instrument parameter file\n"
      "  read_data(path, parameters)           the reflections of a data file, counts as numpy arrays\n"
      "  fit(reflection, parameters)           one reflection's profile fit\n"
      "  integrate(data, parameters, out)      a whole data file, as `kalvex integrate`\n"
      "  reduce(intensity_file, parameters)    to HKLF 4 and CIF, as `kalvex reduce`\n\n"
      "Errors are raised as ReadError (with .line), WriteError, Error (their base) and ValueError;\n"
      "nothing ends the interpreter.";
  m.attr("__version__") = KALVEX_VERSION;
  python::BindErrors(m);
  python::BindReading(m);
  python::BindFitting(m);
  python::BindIntegration(m);
  python::BindReduction(m);
}
