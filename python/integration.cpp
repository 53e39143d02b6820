// kalvex.integrate: a whole data file through the engine's Integrate, with
// the options of `kalvex integrate` as keyword arguments. The interpreter
// is let go while it runs, so that files integrate on several threads.
#include <algorithm>
#include <chrono>
#include <iterator>
#include <optional>

#include "engine/integrate.h"
#include "engine/reduction.h"
#include "fit/intensity_file.h"
#include "python/bindings.h"

namespace kalvex::python {

namespace {

// The records of the run, as the intensity file has them.
struct Records {
  std::vector<int> seq_no, standard, h, k, l;
  std::vector<float> intensity, sigma, two_theta, omega, chi, phi;
  std::vector<std::string> letters;

  void Add(const IntegratedReflection& r) {
    seq_no.push_back(r.seq_no);
    standard.push_back(r.standard_index);
    h.push_back(r.hkl[0]);
    k.push_back(r.hkl[1]);
    l.push_back(r.hkl[2]);
    intensity.push_back(r.intensity);
    sigma.push_back(r.sigma);
    // The parities taken, chi and phi brought within a turn, as written.
    std::array<float, 4> a{};
    for (int i = 0; i < 4; ++i) a[i] = static_cast<float>(r.parity[i]) * r.angles[i];
    two_theta.push_back(a[0]);
    omega.push_back(a[1]);
    chi.push_back(WrapAngle(a[2]));
    phi.push_back(WrapAngle(a[3]));
    letters.emplace_back(r.class_code.begin(), r.class_code.begin() + 4);
  }

  py::dict Arrays() const {
    py::dict d;
    d["seq_no"] = ArrayOf(seq_no);
    d["h"] = ArrayOf(h);
    d["k"] = ArrayOf(k);
    d["l"] = ArrayOf(l);
    d["intensity"] = ArrayOf(intensity);
    d["sigma"] = ArrayOf(sigma);
    d["two_theta"] = ArrayOf(two_theta);
    d["omega"] = ArrayOf(omega);
    d["chi"] = ArrayOf(chi);
    d["phi"] = ArrayOf(phi);
    d["standard"] = ArrayOf(standard);
    d["letters"] = StringArray(letters);
    return d;
  }
};

struct IntegrationResult {
  std::string output_path, log_path;
  std::vector<std::string> summary, notes, cut_short, messages;
  std::vector<int> unwritten;
  int preprocessed = 0;
  std::optional<engine::FwhmLine> fwhm;
  std::optional<OrientationState> orientation;
  std::array<int, kInputClasses> input_class{};
  std::array<int, kOutcomeCounters + 1> outcome{};
  int refitted = 0, recovered = 0;
  py::dict records;
};

constexpr std::array<const char*, kInputClasses> kClassKeys = {"lt",     "weak",     "normal",
                                                               "strong", "standard", "filtered"};
// The integration's outcome counters [1..11]: accepted, then the first
// attempt's reason letters.
constexpr std::array<const char*, kOutcomeCounters + 1> kOutcomeKeys = {"",  "OK", "E", "C", "D", "B",
                                                                        "I", "P",  "W", "R", "F", "S"};

bool Flag(const py::object& value) { return py::bool_(value).cast<bool>(); }

std::string Choice(const py::object& value, const char* argument, std::initializer_list<const char*> names) {
  const std::string text = py::str(value).cast<std::string>();
  std::string all;
  for (const char* name : names) {
    if (text == name) return text;
    all += (all.empty() ? "" : ", ") + std::string(name);
  }
  throw py::value_error(std::string(argument) + ": " + text + " is none of " + all);
}

// The request the command line's options would make, checked as it checks
// them.
engine::IntegrateRequest RequestOf(const py::dict& options, const std::string& data) {
  engine::IntegrateRequest r;
  const auto given = [&](const char* name) { return options.contains(name) && !options[name].is_none(); };
  const auto flag = [&](const char* name) { return given(name) && Flag(options[name]); };
  if (flag("append") && flag("replace")) throw py::value_error("append and replace exclude each other");
  r.existing = flag("append")    ? engine::ExistingOutput::kAppend
               : flag("replace") ? engine::ExistingOutput::kReplace
                                 : engine::ExistingOutput::kRefuse;
  const py::object format = given("input_format") ? py::object(options["input_format"]) : py::object(py::none());
  r.input_format = FormatCode(format, data, "input_format");
  if (given("output_format")) {
    const std::string f = Choice(options["output_format"], "output_format", {"rfine", "rfine-extended", "shelx"});
    r.output_format = f == "rfine-extended" ? kOutputRfineExtended : f == "shelx" ? kOutputShelx : kOutputRfine;
  }
  if (given("omega_step")) r.omega_step = OmegaStep(options["omega_step"]);
  r.skip_weak = flag("skip_weak");
  if (given("defaults")) {
    for (const std::string& name : NameList(options["defaults"])) {
      const int k = ProfileIndex(name, "defaults");
      if (k == kIntensity) throw py::value_error("defaults: the intensity has no default rule");
      r.defaults[k] = 1;
    }
  }
  if (given("background")) {
    const std::string b = Choice(options["background"], "background", {"none", "spline", "exp", "from-scan"});
    r.background = b == "none" ? kBgNone : b == "spline" ? kBgSpline : b == "exp" ? kBgExp : kBgFromScan;
  }
  if (given("nstep_bg")) r.nstep_bg = static_cast<int>(CheckedNumber(options["nstep_bg"], "nstep_bg", 1, 99));
  r.calc_background = flag("calc_background");
  r.preprocess = flag("preprocess");
  const auto needs = [&](const char* name, bool condition, const char* what) {
    if (given(name) && !condition) throw py::value_error(std::string(name) + " needs " + what);
  };
  needs("threshold", r.preprocess, "preprocess=True");
  needs("calc_fwhm", r.preprocess || !flag("calc_fwhm"), "preprocess=True");
  needs("calc_ub", r.preprocess || !flag("calc_ub"), "preprocess=True");
  if (given("threshold")) r.threshold = static_cast<float>(CheckedNumber(options["threshold"], "threshold", 3, 1e6));
  r.calc_fwhm = flag("calc_fwhm");
  r.calc_ub = flag("calc_ub");
  needs("system", r.calc_ub, "calc_ub=True");
  needs("offsets", r.calc_ub || !flag("offsets"), "calc_ub=True");
  needs("omega_zero", r.calc_ub || !flag("omega_zero"), "calc_ub=True");
  if (given("system")) {
    const std::string s = Choice(options["system"], "system",
                                 {"monoclinic-b", "monoclinic-c", "orthorhombic", "tetragonal", "hexagonal", "cubic"});
    r.refinement.crystal_system = engine::CrystalSystemFromName(s);
  }
  r.refinement.offsets = flag("offsets");
  r.refinement.omega_zero = flag("omega_zero");
  return r;
}

IntegrationResult Integrate(const py::object& data, const py::object& parameters, const py::object& out,
                            const py::object& progress, const py::dict& options) {
  engine::IntegrateRequest request = RequestOf(options, PathOf(data));
  request.data = PathOf(data);
  request.parameters =
      py::isinstance<Parameters>(parameters) ? parameters.cast<const Parameters&>().path : PathOf(parameters);
  if (!out.is_none()) request.output = PathOf(out);
  if (!progress.is_none() && !PyCallable_Check(progress.ptr())) throw py::type_error("progress must be callable");

  IntegrationResult result;
  Records records;
  // What the callbacks raised, or an interrupt: the run stops at the next
  // reflection and this is raised again.
  std::optional<py::error_already_set> raised;
  auto checked_at = std::chrono::steady_clock::now();

  engine::Events events;
  // Boxes as the batch command prints them: "End of input data file" alone
  // says nothing the end of a run does not.
  const auto box = [&](std::string_view, std::string_view text) {
    constexpr std::string_view kEnd = engine::kEndOfDataText;
    if (text == kEnd) return;
    if (text.starts_with(kEnd) && text.size() > kEnd.size() && text[kEnd.size()] == '\n')
      text.remove_prefix(kEnd.size() + 1);
    result.messages.emplace_back(text);
  };
  events.error = box;
  events.message = box;
  events.written = [&](ProgramState& state) { records.Add(CurrentIntegrated(state)); };
  if (!progress.is_none()) {
    events.progress = [&](int passed, int total, double rate) {
      if (raised) return;
      py::gil_scoped_acquire locked;
      try {
        progress(passed, total >= 0 ? py::object(py::int_(total)) : py::object(py::none()), rate);
      } catch (py::error_already_set& e) {
        raised = std::move(e);
      }
    };
  }
  events.stop = [&] {
    if (raised) return true;
    // Ctrl+C is looked for a few times a second, not at every reflection.
    const auto now = std::chrono::steady_clock::now();
    if (now - checked_at < std::chrono::milliseconds(100)) return false;
    checked_at = now;
    py::gil_scoped_acquire locked;
    if (PyErr_CheckSignals() != 0) raised.emplace();
    return raised.has_value();
  };

  engine::IntegrateOutcome outcome;
  {
    py::gil_scoped_release unlocked;
    outcome = engine::Integrate(request, events);
  }
  if (raised) throw std::move(*raised);
  const ProgramState* state = outcome.state.get();
  switch (outcome.failure) {
    case engine::Failure::kNone:
      break;
    case engine::Failure::kUsage:
      throw py::value_error(InPythonWords(outcome.message));
    case engine::Failure::kReadError:
      if (outcome.read_error) throw ReadFailure(*outcome.read_error);
      throw ReadFailure(outcome.message, LineNamedIn(outcome.message));
    case engine::Failure::kFatal: {
      const std::string& m = outcome.message;
      // A write that failed mid-run has told the file and the reason in
      // its box; the outcome holds the program's one line.
      if (state && state->end_requested) {
        throw WriteFailure(result.messages.empty() ? m : result.messages.back());
      }
      if (m.starts_with("cannot write") || m.starts_with("no log could be written")) throw WriteFailure(m);
      if (m.starts_with("cannot open")) throw ReadFailure(m, 0);
      throw RunFailure(m);
    }
  }
  result.output_path = outcome.output_path;
  result.log_path = outcome.log_path;
  result.summary = outcome.summary;
  result.notes = outcome.notes;
  result.cut_short = outcome.cut_short;
  result.unwritten = outcome.unwritten;
  result.preprocessed = outcome.preprocessed;
  result.fwhm = outcome.fwhm;
  if (outcome.orientation_refined) result.orientation = state->orientation;
  result.input_class = state->data_set.input_class;
  result.outcome = state->fit.outcome;
  result.refitted = state->fit.refitted_count;
  result.recovered = state->fit.recovered_count;
  result.records = records.Arrays();
  return result;
}

template <std::size_t N>
py::tuple Tuple(const std::array<float, N>& values) {
  py::tuple t(N);
  for (std::size_t i = 0; i < N; ++i) t[i] = Decimal(values[i]);
  return t;
}

}  // namespace

void BindIntegration(py::module_& m) {
  py::class_<IntegrationResult>(m, "Integration", "What a run of integrate() found and wrote. Made by integrate().")
      .def_readonly("output_path", &IntegrationResult::output_path, "the intensity file, as an absolute path")
      .def_readonly("log_path", &IntegrationResult::log_path, "the log, as an absolute path")
      .def_readonly("summary", &IntegrationResult::summary, "the classification summary as the log has it")
      .def_readonly("notes", &IntegrationResult::notes, "what the End of Run dialog says")
      .def_readonly("messages", &IntegrationResult::messages,
                    "the boxes the window would have shown, in order (what kalvex integrate prints on stderr)")
      .def_readonly("unwritten", &IntegrationResult::unwritten,
                    "sequence numbers of the data file the intensity file lacks")
      .def_readonly("cut_short", &IntegrationResult::cut_short,
                    "the reflections the data file ends inside, named with the line where it ends")
      .def_readonly("preprocessed", &IntegrationResult::preprocessed, "reflections kept by preprocessing")
      .def_property_readonly(
          "fwhm",
          [](const IntegrationResult& r) -> py::object {
            if (!r.fwhm) return py::none();
            return py::make_tuple(Decimal(r.fwhm->a), Decimal(r.fwhm->b), Decimal(r.fwhm->esd_a),
                                  Decimal(r.fwhm->esd_b));
          },
          "with calc_fwhm: (a, b, esd_a, esd_b) of FWHM = a + b tan(theta); else None")
      .def_property_readonly(
          "orientation",
          [](const IntegrationResult& r) -> py::object {
            if (!r.orientation) return py::none();
            const OrientationState& o = *r.orientation;
            py::dict d;
            d["ub"] = Matrix(o.ub);
            d["cell"] = Tuple(o.cell);
            d["cell_esd"] = Tuple(o.cell_esd);
            d["offsets"] = Tuple(o.offsets);
            d["omega_zero"] = Decimal(o.omega_zero);
            return d;
          },
          "with calc_ub: {'ub': 3x3 array, 'cell': (a, b, c, alpha, beta, gamma, V), 'cell_esd',\n"
          "'offsets', 'omega_zero'} as refined; else None")
      .def_property_readonly(
          "input_classes",
          [](const IntegrationResult& r) {
            py::dict d;
            for (int c = 0; c < kInputClasses; ++c) d[kClassKeys[static_cast<std::size_t>(c)]] = r.input_class[c];
            return d;
          },
          "{class: count} of the reflections as the data file classes them")
      .def_property_readonly(
          "outcomes",
          [](const IntegrationResult& r) {
            py::dict d;
            for (int k = 1; k <= kOutcomeCounters; ++k) d[kOutcomeKeys[static_cast<std::size_t>(k)]] = r.outcome[k];
            d["refitted"] = r.refitted;
            d["recovered"] = r.recovered;
            return d;
          },
          "{'OK': accepted at once, reason letter: rejected by the first fit for it, 'refitted',\n"
          "'recovered'}: the integration's counts")
      .def_readonly("records", &IntegrationResult::records,
                    "the records this run wrote, as numpy arrays: seq_no, h, k, l, intensity, sigma,\n"
                    "two_theta, omega, chi, phi (as written: parities taken, chi and phi within a turn),\n"
                    "standard (0 or the standard's number) and letters (input class, status, reason, attempt)")
      .def("__repr__", [](const IntegrationResult& r) {
        return "<kalvex.Integration " + r.output_path + ", " + std::to_string(py::len(r.records["seq_no"])) +
               " records>";
      });

  // The command's options by their names, as keywords.
  static const char* const kOptions[] = {"append",     "replace",   "input_format", "output_format", "omega_step",
                                         "skip_weak",  "defaults",  "background",   "nstep_bg",      "calc_background",
                                         "preprocess", "threshold", "calc_fwhm",    "calc_ub",       "system",
                                         "offsets",    "omega_zero"};
  m.def(
      "integrate",
      [](const py::object& data, const py::object& parameters, const py::object& out, const py::object& progress,
         const py::object& append, const py::object& replace, const py::object& input_format,
         const py::object& output_format, const py::object& omega_step, const py::object& skip_weak,
         const py::object& defaults, const py::object& background, const py::object& nstep_bg,
         const py::object& calc_background, const py::object& preprocess, const py::object& threshold,
         const py::object& calc_fwhm, const py::object& calc_ub, const py::object& system, const py::object& offsets,
         const py::object& omega_zero) {
        const py::object values[] = {append,    replace,    input_format, output_format,   omega_step, skip_weak,
                                     defaults,  background, nstep_bg,     calc_background, preprocess, threshold,
                                     calc_fwhm, calc_ub,    system,       offsets,         omega_zero};
        py::dict options;
        for (std::size_t i = 0; i < std::size(kOptions); ++i) options[kOptions[i]] = values[i];
        return Integrate(data, parameters, out, progress, options);
      },
      py::arg("data"), py::arg("parameters"), py::arg("out") = py::none(), py::kw_only(),
      py::arg("progress") = py::none(), py::arg("append") = false, py::arg("replace") = false,
      py::arg("input_format") = py::none(), py::arg("output_format") = "rfine", py::arg("omega_step") = py::none(),
      py::arg("skip_weak") = false, py::arg("defaults") = py::none(), py::arg("background") = py::none(),
      py::arg("nstep_bg") = py::none(), py::arg("calc_background") = false, py::arg("preprocess") = false,
      py::arg("threshold") = py::none(), py::arg("calc_fwhm") = false, py::arg("calc_ub") = false,
      py::arg("system") = py::none(), py::arg("offsets") = false, py::arg("omega_zero") = false,
      "integrate(data, parameters, out=None, *, progress=None, append=False, ...) -> Integration\n\n"
      "Integrates a data file as `kalvex integrate` does, writing the same intensity file and log\n"
      "(the log beside the data file), byte for byte. `parameters` is the parameter file's path or a\n"
      "Parameters; `out` the intensity file (None: the data file's name with .int).\n"
      "The command's options, as keywords:\n"
      "  append=False, replace=False     what to do with an existing intensity file (else ValueError)\n"
      "  input_format=None               xcalibur, single, cad4, xscans (None: from the extension)\n"
      "  output_format='rfine'           rfine, rfine-extended, shelx\n"
      "  omega_step=None                 a Single file's omega step (0.001 to 10)\n"
      "  skip_weak=False                 pass over reflections the file marks weak\n"
      "  defaults=None                   start values from their default rules: 'position,eta' or a list\n"
      "                                  of background, fwhm, position, eta, iratio\n"
      "  background=None                 fixed background: none, spline, exp, from-scan\n"
      "  nstep_bg=None                   steps at each scan end for from-scan (1 to 99)\n"
      "  calc_background=False           the background pass of Calc Background first\n"
      "  preprocess=False                a preprocessing pass first, keeping strong reflections\n"
      "  threshold=None                  its I/sigma (3 to 1e6; None: 30)\n"
      "  calc_fwhm=False                 the FWHM line of the kept reflections as the default\n"
      "  calc_ub=False                   refine UB and the cell from them; peaks are then predicted\n"
      "  system=None                     monoclinic-b, monoclinic-c, orthorhombic, tetragonal,\n"
      "                                  hexagonal, cubic\n"
      "  offsets=False, omega_zero=False refine crystal offsets and omega zero with UB\n"
      "progress(passed, total, rate) is called a few times a second during each pass (total is None\n"
      "when not known). The interpreter is free while the run goes on: other threads run, and\n"
      "two files integrate on two threads at once. An exception from progress, or Ctrl+C, stops\n"
      "the run between two reflections and is raised; the intensity file keeps what was written.\n"
      "Raises ValueError for options that make no sense, ReadError (the program's message, .line)\n"
      "for a file that cannot be read, WriteError for one that cannot be written, Error when a\n"
      "refinement cannot be made.");
}

}  // namespace kalvex::python
