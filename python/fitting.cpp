// kalvex.fit: one reflection fitted as a run fits it, from the start values
// the fitting controls' rules give.
#include <optional>

#include "fit/background.h"
#include "fit/fit_reflection.h"
#include "python/bindings.h"

namespace kalvex::python {

namespace {

struct FitResult {
  std::shared_ptr<const ScanReflection> scan;  // as the fit left it: the calculated profile, the letters
  FitOutcome outcome;
  ProfileValues start{};
};

py::dict ByName(const ProfileValues& values) {
  py::dict d;
  for (int k = 1; k <= kProfileParameters; ++k) d[py::str(kProfileNames[k])] = Decimal(values[k]);
  return d;
}

FitResult Fit(const Reflection& reflection, const Parameters& parameters, const py::object& start,
              const py::object& defaults, const py::object& refine, const py::object& hold_position) {
  if (!reflection.complete) {
    throw py::value_error("reflection " + std::to_string(reflection.scan->seq_no) +
                          " was not read in full: the data file ends inside it");
  }
  const RunParameters& par = parameters.run;
  auto scan = std::make_shared<ScanReflection>(*reflection.scan);
  FitControls controls;
  controls.refine = par.refine_flag;
  if (!refine.is_none()) {
    for (const auto& [name, value] : refine.cast<py::dict>())
      controls.refine[ProfileIndex(py::str(name).cast<std::string>(), "refine")] = value.cast<bool>() ? 1 : 0;
  }
  for (const std::string& name : NameList(defaults)) controls.use_default[ProfileIndex(name, "defaults")] = 1;
  // A run's first fit: the controls start from every parameter's default
  // rule ("Reset to Defaults"); what the caller gives stands in the
  // "Input" column over them.
  const float fixed_background = FixedBackground(*scan, par, BackgroundTable{}, scan->two_theta);
  controls.start = DefaultStartValues(*scan, par, controls, fixed_background, std::nullopt, ProfileValues{});
  if (!start.is_none()) {
    for (const auto& [name, value] : start.cast<py::dict>()) {
      const std::string key = py::str(name).cast<std::string>();
      controls.start[ProfileIndex(key, "start")] =
          static_cast<float>(CheckedNumber(value, ("start[" + key + "]").c_str(), -1e30, 1e30));
    }
  }
  std::optional<float> held;
  if (!hold_position.is_none()) held = static_cast<float>(CheckedNumber(hold_position, "hold_position", -360, 360));
  controls.start = SeedStartValues(*scan, par, controls, fixed_background, std::nullopt);
  if (held) {
    // As the retry of an automatic run holds it where the orientation
    // predicts the peak.
    controls.refine[kPosition] = 0;
    controls.hold_position = true;
    controls.start[kPosition] = *held;
  }
  FitResult result;
  result.start = controls.start;
  {
    py::gil_scoped_release unlocked;
    result.outcome = FitReflection(*scan, par, controls);
  }
  // The attempt, as a run's record has it: the second is the held retry.
  scan->class_code[3] = held ? '2' : '1';
  result.scan = std::move(scan);
  return result;
}

}  // namespace

void BindFitting(py::module_& m) {
  py::class_<FitResult>(m, "FitResult",
                        "The outcome of one reflection's profile fit: what the intensity file's record and the\n"
                        "fitting dialog show. Intensities are on the data set's common scale.")
      .def_property_readonly(
          "intensity", [](const FitResult& f) { return Decimal(f.outcome.i_fit); },
          "the integrated intensity, as the intensity file has it")
      .def_property_readonly(
          "sigma", [](const FitResult& f) { return Decimal(f.outcome.sigma_fit); },
          "its sigma from the fit, as the intensity file has it")
      .def_property_readonly(
          "sigma_sum", [](const FitResult& f) { return Decimal(f.outcome.sigma_sum); },
          "the background-peak-background sigma of the raw counts")
      .def_property_readonly(
          "letters",
          [](const FitResult& f) { return std::string(f.scan->class_code.begin(), f.scan->class_code.begin() + 4); },
          "the record's four letters: input class, status (F fitted, R rejected), reason, attempt\n"
          "(1; 2 with hold_position, as a run's retry)")
      .def_property_readonly("accepted", [](const FitResult& f) { return f.scan->class_code[1] != 'R'; })
      .def_property_readonly(
          "reason", [](const FitResult& f) { return std::string(1, f.scan->class_code[2]); },
          "why a fit was rejected (E C D B I P W R F S), blank when accepted")
      .def_property_readonly(
          "position", [](const FitResult& f) { return Decimal(f.outcome.peak.value[kPosition]); },
          "the fitted alpha1 peak position, omega from the scan's origin")
      .def_property_readonly(
          "omega", [](const FitResult& f) { return Decimal(f.scan->omega_centre); },
          "omega as the record has it: the fitted position when the fit integrated the\n"
          "reflection, else the scan's origin")
      .def_property_readonly("fwhm", [](const FitResult& f) { return Decimal(f.outcome.peak.value[kFwhm]); })
      .def_property_readonly("eta", [](const FitResult& f) { return Decimal(f.outcome.peak.value[kEta]); })
      .def_property_readonly("rwp", [](const FitResult& f) { return Decimal(f.outcome.rwp); })
      .def_property_readonly("chi2", [](const FitResult& f) { return Decimal(f.outcome.chi2); })
      .def_property_readonly(
          "fit_status", [](const FitResult& f) { return f.outcome.fit_status; },
          "how the last least-squares fit ended (0 converged)")
      .def_property_readonly(
          "values", [](const FitResult& f) { return ByName(f.outcome.peak.value); },
          "{parameter: fitted value} of the six profile parameters")
      .def_property_readonly(
          "esds", [](const FitResult& f) { return ByName(f.outcome.peak.esd); },
          "{parameter: esd}, 0 for a parameter not refined")
      .def_property_readonly(
          "start", [](const FitResult& f) { return ByName(f.start); }, "{parameter: start value} the fit started from")
      .def_property_readonly(
          "background_range",
          [](const FitResult& f) {
            const auto& r = f.outcome.bg_range;
            return py::make_tuple(r[1], r[2], r[3], r[4]);
          },
          "the steps (1-based) of the two background ranges: first..second and third..fourth")
      .def_property_readonly(
          "calculated",
          [](const py::object& self) {
            const FitResult& f = self.cast<const FitResult&>();
            py::array_t<float> a(f.scan->step_count, f.scan->calculated.data(), self);
            a.attr("setflags")(py::arg("write") = false);
            return a;
          },
          "the calculated profile at each step, in the units of the counts (numpy float32)")
      .def("__repr__", [](const FitResult& f) {
        return "<kalvex.FitResult " + std::string(f.scan->class_code.begin(), f.scan->class_code.begin() + 4) +
               " I=" + std::to_string(f.outcome.i_fit) + " sigma=" + std::to_string(f.outcome.sigma_fit) + ">";
      });

  m.def(
      "fit",
      [](const Reflection& reflection, const py::object& parameters, const py::object& start,
         const py::object& defaults, const py::object& refine, const py::object& hold_position) {
        return Fit(reflection, ParametersOf(parameters), start, defaults, refine, hold_position);
      },
      py::arg("reflection"), py::arg("parameters"), py::kw_only(), py::arg("start") = py::none(),
      py::arg("defaults") = py::none(), py::arg("refine") = py::none(), py::arg("hold_position") = py::none(),
      "fit(reflection, parameters, *, start=None, defaults=None, refine=None, hold_position=None) -> FitResult\n\n"
      "Fits the reflection's scan with the pseudo-Voigt doublet plus background and tests it against\n"
      "the parameter file's limits, as the first reflection of a run is fitted. The start values follow\n"
      "the program's rules: a refined background, intensity and position are seeded from the scan,\n"
      "the rest come from the controls' inputs, which start at every parameter's default rule.\n"
      "  start: {parameter: value} inputs over the defaults (parameters: background, fwhm,\n"
      "         intensity, position, eta, iratio)\n"
      "  defaults: the parameters whose start value follows its default rule (the dialog's 'D'\n"
      "         column; 'fwhm,eta' or a list), as kalvex integrate --defaults\n"
      "  refine: {parameter: bool} over the parameter file's RFLAGS\n"
      "  hold_position: hold the position at this omega and leave its window untested, as the retry\n"
      "         of a run holds it where the refined orientation predicts the peak\n"
      "The reflection itself is not changed.");
}

}  // namespace kalvex::python
