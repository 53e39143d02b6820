// kalvex.reduce: an intensity file to HKLF 4 and CIF through the engine's
// RunReduction, with the options of `kalvex reduce` as keyword arguments.
#include "engine/reduction.h"
#include "reduce/absorption_correction.h"

#include "python/bindings.h"

namespace kalvex::python {

namespace {

struct ReductionResult {
  std::string hkl_file, cif_file;
  std::vector<std::string> summary;
  py::dict reflections;
  double output_scale = 1;
  int rejected = 0;
  std::array<int, 3> out_of_line{};
  bool decay_applied = false;
  std::string decay_refusal;
  std::string laue;
  bool no_symmetry = false;
  std::vector<reduce::MergingStatistics> ranking;
  std::size_t chosen = 0;
  reduce::CellFit cell;
  int cell_reflections = 0;
};

py::dict StatisticsDict(const reduce::MergingStatistics& s) {
  py::dict d;
  d["laue"] = s.label;
  d["order"] = s.order;
  d["observations"] = s.observations;
  d["unique"] = s.unique;
  d["unique_gt_2sigma"] = s.unique_gt;
  d["groups"] = s.groups;
  d["in_groups"] = s.in_groups;
  d["r_int"] = s.r_int;
  d["r_sigma"] = s.r_sigma;
  d["r_meas"] = s.r_meas;
  return d;
}

// The accepted reflections as corrected, standards included.
py::dict ReflectionArrays(const reduce::Reduction& r) {
  const std::size_t n = r.reflections.size();
  std::vector<int> seq(n), standard(n), h(n), k(n), l(n), group(n), out_of_line(n);
  std::vector<double> intensity(n), sigma(n), net(n), net_sigma(n), lp(n), decay(n), two_theta(n);
  std::vector<bool> kept(n);
  for (std::size_t i = 0; i < n; ++i) {
    const reduce::ReducedReflection& x = r.reflections[i];
    const reduce::IntensityRecord& rec = r.Record(x);
    seq[i] = rec.seq_no;
    standard[i] = rec.standard_index;
    h[i] = rec.hkl[0];
    k[i] = rec.hkl[1];
    l[i] = rec.hkl[2];
    two_theta[i] = rec.angles[0];
    intensity[i] = x.intensity * r.output_scale;
    sigma[i] = x.sigma * r.output_scale;
    net[i] = x.net;
    net_sigma[i] = x.net_sigma;
    lp[i] = x.lp;
    decay[i] = x.decay.scale;
    group[i] = x.scale_group;
    out_of_line[i] = static_cast<int>(x.out_of_line);
    kept[i] = r.Kept(x);
  }
  py::dict d;
  d["seq_no"] = ArrayOf(seq);
  d["h"] = ArrayOf(h);
  d["k"] = ArrayOf(k);
  d["l"] = ArrayOf(l);
  d["intensity"] = ArrayOf(intensity);
  d["sigma"] = ArrayOf(sigma);
  d["net"] = ArrayOf(net);
  d["net_sigma"] = ArrayOf(net_sigma);
  d["lp"] = ArrayOf(lp);
  d["decay"] = ArrayOf(decay);
  d["scale_group"] = ArrayOf(group);
  d["two_theta"] = ArrayOf(two_theta);
  d["standard"] = ArrayOf(standard);
  d["out_of_line"] = ArrayOf(out_of_line);
  py::array_t<bool> keep(static_cast<py::ssize_t>(n));
  std::copy(kept.begin(), kept.end(), keep.mutable_data());
  d["kept"] = keep;
  return d;
}

ReductionResult Reduce(const py::object& intensity_file, const py::object& parameters, const py::object& hkl,
                       const py::object& cif, const py::object& laue, bool lp, bool decay, bool decay_anyway,
                       const py::object& cell_threshold, const py::object& temperature, const std::string& device,
                       const std::string& source, bool cosines, bool batch_from_scale_groups,
                       const py::object& system, const std::string& formula, double z, const std::string& space_group,
                       const py::object& ins, int shells, double theta_full, const std::string& absorption, int lmax,
                       const py::object& faces, const py::object& mu, double radius) {
  engine::ReductionRequest request;
  request.intensity_file = PathOf(intensity_file);
  request.parameter_file =
      py::isinstance<Parameters>(parameters) ? parameters.cast<const Parameters&>().path : PathOf(parameters);
  if (!hkl.is_none()) request.hkl_file = PathOf(hkl);
  if (!cif.is_none()) request.cif_file = PathOf(cif);
  if (!laue.is_none()) request.laue = py::str(laue).cast<std::string>();
  request.lp = lp;
  request.decay = decay;
  request.decay_anyway = decay_anyway;
  request.cosines = cosines;
  request.batch_from_scale_groups = batch_from_scale_groups;
  if (!cell_threshold.is_none()) request.cell_threshold = CheckedNumber(cell_threshold, "cell_threshold", 0, 1e30);
  if (!temperature.is_none()) {
    request.temperature = CheckedNumber(temperature, "temperature", 0, 1e30);
    if (!(*request.temperature > 0)) throw py::value_error("temperature: a temperature is above 0 kelvin");
  }
  request.device = device;
  request.source = source;
  if (!system.is_none()) {
    const std::string name = py::str(system).cast<std::string>();
    request.crystal_system = engine::CrystalSystemFromName(name);
    if (request.crystal_system <= 0) {
      throw py::value_error("system: " + name +
                            " is none of monoclinic-b, monoclinic-c, orthorhombic, tetragonal, hexagonal, cubic");
    }
  }

  // Space group, statistics and absorption, as the command's options.
  request.formula = formula;
  if (!(z >= 0 && z < 1e6)) throw py::value_error("z: the formula units in the cell are 0 (unknown) or more");
  request.z = z;
  request.space_group = space_group;
  if (!ins.is_none()) request.ins_file = PathOf(ins);
  if (shells < 1 || shells > 100) throw py::value_error("shells: 1 to 100 shells of resolution");
  request.shells = shells;
  if (!(theta_full >= 0 && theta_full < 90)) throw py::value_error("theta_full: degrees from 0 (automatic) below 90");
  request.theta_full = theta_full;
  const std::optional<reduce::AbsorptionMethod> method = reduce::AbsorptionMethodNamed(absorption);
  if (!method) throw py::value_error("absorption: " + absorption + " is none of none, empirical, faces, sphere");
  request.absorption = *method;
  request.lmax = lmax;
  if (!faces.is_none()) request.faces_file = PathOf(faces);
  if (!mu.is_none()) request.mu = CheckedNumber(mu, "mu", 0, 1e6);
  if (!(radius >= 0 && radius < 1e3)) throw py::value_error("radius: the sphere's radius in mm, 0 or more");
  request.radius = radius;

  engine::ReductionOutcome out;
  {
    py::gil_scoped_release unlocked;
    out = engine::RunReduction(request);
  }
  if (out.status == 2) throw py::value_error(InPythonWords(out.error));
  if (out.status != 0) {
    // The outcome says what failed in its words: a file that cannot be
    // read is named first, a write says "cannot write".
    const std::string& e = out.error;
    if (e.starts_with("cannot write")) throw WriteFailure(e);
    for (const std::string& input : {request.intensity_file, request.parameter_file}) {
      if (e.starts_with("cannot read " + input) || e.starts_with(input + ": ")) {
        throw ReadFailure(e, LineNamedIn(e));
      }
    }
    throw RunFailure(e);
  }
  ReductionResult result;
  const reduce::Reduction& r = out.reduction;
  result.hkl_file = out.hkl_file;
  result.cif_file = out.cif_file;
  result.summary = out.summary;
  result.reflections = ReflectionArrays(r);
  result.output_scale = r.output_scale;
  result.rejected = r.rejected;
  for (int i = 0; i < 3; ++i) result.out_of_line[i] = r.out_of_line[i];
  result.decay_applied = r.decay_applied;
  result.decay_refusal = r.decay_refusal;
  result.laue = r.laue ? r.laue->label : std::string();
  result.no_symmetry = r.no_symmetry;
  result.ranking = r.table;
  result.chosen = r.chosen;
  result.cell = out.cell;
  result.cell_reflections = out.cell_reflections;
  return result;
}

template <std::size_t N>
py::tuple Tuple(const std::array<double, N>& values) {
  py::tuple t(N);
  for (std::size_t i = 0; i < N; ++i) t[i] = values[i];
  return t;
}

}  // namespace

void BindReduction(py::module_& m) {
  py::class_<ReductionResult>(m, "Reduction", "What reduce() corrected, found and wrote. Made by reduce().")
      .def_readonly("hkl_file", &ReductionResult::hkl_file, "the HKLF 4 file written")
      .def_readonly("cif_file", &ReductionResult::cif_file, "the CIF written")
      .def_readonly("summary", &ReductionResult::summary, "the summary kalvex reduce prints, line by line")
      .def_readonly("reflections", &ReductionResult::reflections,
                    "the accepted reflections as corrected, standards included, as numpy arrays: seq_no,\n"
                    "h, k, l, intensity and sigma (as the HKLF 4 file has them: over Lp and the decay, times\n"
                    "output_scale), net and net_sigma (the CIF's: over the decay only), lp, decay (the\n"
                    "scale divided by), scale_group, two_theta, standard, out_of_line (0 no, 1 against its\n"
                    "neighbours in 2theta, 2 against its equivalents) and kept (goes to the HKLF 4 file)")
      .def_readonly("output_scale", &ReductionResult::output_scale,
                    "the one factor on every written intensity and sigma")
      .def_readonly("rejected", &ReductionResult::rejected, "records the integration rejected, left out")
      .def_property_readonly(
          "out_of_line",
          [](const ReductionResult& r) {
            py::dict d;
            d["neighbours"] = r.out_of_line[1];
            d["equivalents"] = r.out_of_line[2];
            return d;
          },
          "{'neighbours': n, 'equivalents': n}: reflections left out as out of line")
      .def_readonly("decay_applied", &ReductionResult::decay_applied)
      .def_readonly("decay_refusal", &ReductionResult::decay_refusal,
                    "why the decay was not corrected when it was asked for; '' otherwise")
      .def_readonly("laue", &ReductionResult::laue, "the Laue class the data merge in")
      .def_readonly("no_symmetry", &ReductionResult::no_symmetry,
                    "True when no class beyond -1 merged well enough and -1 was taken")
      .def_property_readonly(
          "laue_ranking",
          [](const ReductionResult& r) {
            py::list list;
            for (const auto& row : r.ranking) list.append(StatisticsDict(row));
            return list;
          },
          "the merging statistics of each Laue class tried, best first: dicts of laue, order,\n"
          "observations, unique, unique_gt_2sigma, groups, in_groups, r_int, r_sigma, r_meas")
      .def_property_readonly(
          "statistics",
          [](const ReductionResult& r) -> py::object {
            if (r.chosen >= r.ranking.size()) return py::none();
            return StatisticsDict(r.ranking[r.chosen]);
          },
          "the merging statistics in the chosen class (a row of laue_ranking)")
      .def_property_readonly(
          "cell", [](const ReductionResult& r) { return Tuple(r.cell.cell); },
          "(a, b, c, alpha, beta, gamma, V) as refined from the records' angles")
      .def_property_readonly("cell_esd", [](const ReductionResult& r) { return Tuple(r.cell.esd); })
      .def_property_readonly(
          "ub", [](const ReductionResult& r) { return Matrix(r.cell.ub); },
          "the orientation matrix UB (reciprocal Angstrom), 3x3")
      .def_readonly("cell_reflections", &ReductionResult::cell_reflections, "the reflections the cell was refined from")
      .def("__repr__",
           [](const ReductionResult& r) { return "<kalvex.Reduction " + r.hkl_file + ", Laue class " + r.laue + ">"; });

  m.def("reduce", &Reduce, py::arg("intensity_file"), py::arg("parameters"), py::kw_only(), py::arg("hkl") = py::none(),
        py::arg("cif") = py::none(), py::arg("laue") = py::none(), py::arg("lp") = true, py::arg("decay") = true,
        py::arg("decay_anyway") = false, py::arg("cell_threshold") = py::none(), py::arg("temperature") = py::none(),
        py::arg("device") = "", py::arg("source") = "", py::arg("cosines") = false,
        py::arg("batch_from_scale_groups") = false, py::arg("system") = py::none(), py::arg("formula") = "",
        py::arg("z") = 0.0, py::arg("space_group") = "", py::arg("ins") = py::none(), py::arg("shells") = 10,
        py::arg("theta_full") = 0.0, py::arg("absorption") = "none", py::arg("lmax") = 4,
        py::arg("faces") = py::none(), py::arg("mu") = py::none(), py::arg("radius") = 0.0,
        "reduce(intensity_file, parameters, *, hkl=None, cif=None, laue=None, ...) -> Reduction\n\n"
        "Reduces an 'Rfine' or 'Rfine extended' intensity file as `kalvex reduce` does, writing the\n"
        "same HKLF 4 file and CIF (default: the intensity file's name with .hkl and .cif).\n"
        "`parameters` is the parameter file's path or a Parameters. The command's options:\n"
        "  laue=None          Laue class (-1, 2/m, mmm, 4/m, 4/mmm, -3, -3m1, -31m, 6/m, 6/mmm, m-3,\n"
        "                     m-3m) or space-group symbol; None ranks the classes the cell allows\n"
        "  lp=True            the Lorentz-polarisation correction (--no-lp is lp=False)\n"
        "  decay=True         the decay correction from the standards (--no-decay)\n"
        "  decay_anyway=False correct for the decay even when a standard leaves its round\n"
        "  cell_threshold=None  refine the cell from I/sigma of at least this (None: 20)\n"
        "  temperature=None, device='', source=''   for the CIF\n"
        "  formula='', z=0    the cell's contents (Wilson plot, mu, the .ins file's SFAC and UNIT)\n"
        "  space_group=''     a space group to take instead of the one the absences rank first\n"
        "  ins=None           a SHELX instruction file to write beside the HKLF 4 file\n"
        "  shells=10, theta_full=0   the statistics against resolution (0: theta_full found)\n"
        "  absorption='none'  'empirical' (lmax=4), 'faces' (faces=FILE, mu), 'sphere' (radius, mu);\n"
        "                     mu in 1/mm, from formula and z when None\n"
        "  cosines=False      direction cosines after each HKLF 4 record\n"
        "  batch_from_scale_groups=False   batch number = scale group\n"
        "  system=None        constrain the cell: monoclinic-b, monoclinic-c, orthorhombic,\n"
        "                     tetragonal, hexagonal, cubic\n"
        "Raises ValueError for a request that makes no sense, ReadError for a file that cannot be read\n"
        "(the message names the line), WriteError when the outputs cannot be written (the old ones stay),\n"
        "Error for a data set that cannot be reduced (a Laue class the cell contradicts, say).");
}

}  // namespace kalvex::python
