// The keyword options of Circuit.fit and Circuit.fit_many, and the choice of
// the starting point.
#include "python/fit_option_args.hpp"

#include "circuit/layout.hpp"
#include "fit/data_scaled_start.hpp"
#include "fit/start_point.hpp"
#include "models/registry.hpp"
#include "models/zero_config_start.hpp"
#include "python/argument_values.hpp"
#include "python/circuit_object.hpp"
#include "python/guess_entry.hpp"

namespace vorlane::py {

const char* const FIT_OPTION_NAMES[FIT_OPTION_COUNT] = {
    "guess_init", "weights", "weight", "method", "max_iterations", "ftol", "xtol", "num_particles", "generations",
    "nelder_mead_iterations", "de_evaluations", "sa_iterations", "sa_initial_temperature", "basin_hopping_hops",
    "basin_hopping_step_size", "basin_hopping_temperature", "seed"};

namespace {

constexpr const char* NO_MODEL_WARNING =
    "There is no ML model to guess initial parameters for this circuit. Supply your own with "
    "Circuit.with_named_values({...}) or Circuit.with_values([...]), or pass guess_init=False to silence "
    "this. Models available for ";

}  // namespace

bool convert_fit_options(std::span<PyObject* const, FIT_OPTION_COUNT> given, FitArguments& args,
                         FitOptions& options) {
    // An absent option keeps the default already held by `args` / `options`.
    auto ok = [&](std::size_t i, auto convert) { return given[i] == nullptr || convert(given[i], FIT_OPTION_NAMES[i]); };
    return ok(0, [&](PyObject* o, const char* n) { return optional_bool_arg(o, n, args.guess_init); }) &&
           ok(1, [&](PyObject* o, const char* n) { return optional_text_arg(o, n, args.weights); }) &&
           ok(2, [&](PyObject* o, const char* n) { return text_arg(o, n, args.weight); }) &&
           ok(3, [&](PyObject* o, const char* n) { return text_arg(o, n, options.method); }) &&
           ok(4, [&](PyObject* o, const char* n) { return u32_arg(o, n, options.max_iterations); }) &&
           ok(5, [&](PyObject* o, const char* n) { return double_arg(o, n, options.ftol); }) &&
           ok(6, [&](PyObject* o, const char* n) { return double_arg(o, n, options.xtol); }) &&
           ok(7, [&](PyObject* o, const char* n) { return u64_arg(o, n, options.num_particles); }) &&
           ok(8, [&](PyObject* o, const char* n) { return u64_arg(o, n, options.generations); }) &&
           ok(9, [&](PyObject* o, const char* n) { return u64_arg(o, n, options.nelder_mead_iterations); }) &&
           ok(10, [&](PyObject* o, const char* n) { return u64_arg(o, n, options.de_evaluations); }) &&
           ok(11, [&](PyObject* o, const char* n) { return u64_arg(o, n, options.sa_iterations); }) &&
           ok(12, [&](PyObject* o, const char* n) { return double_arg(o, n, options.sa_initial_temperature); }) &&
           ok(13, [&](PyObject* o, const char* n) { return u32_arg(o, n, options.basin_hopping_hops); }) &&
           ok(14, [&](PyObject* o, const char* n) { return double_arg(o, n, options.basin_hopping_step_size); }) &&
           ok(15, [&](PyObject* o, const char* n) { return double_arg(o, n, options.basin_hopping_temperature); }) &&
           ok(16, [&](PyObject* o, const char* n) { return optional_u64_arg(o, n, options.seed); });
}

bool choose_start(PyObject* circuit, const FitArguments& args, StartKind& out) {
    const SeriesList& nodes = nodes_of(circuit);
    const bool explicit_values = reinterpret_cast<CircuitObject*>(circuit)->explicit_values;
    const bool guess = args.guess_init.value_or(args.weights.has_value() || !explicit_values);
    out = guess ? StartKind::Guess : StartKind::CircuitValues;
    if (guess && !args.weights && !args.guess_init && !network_contributes(nodes)) {
        const std::string message = NO_MODEL_WARNING + quoted_model_names();
        if (PyErr_WarnEx(PyExc_UserWarning, message.c_str(), 1) != 0) return false;
        out = StartKind::DataScaled;
    }
    return true;
}

ArcsPlaced arcs_placed(const SeriesList& circuit, StartKind kind) {
    const bool whole_network = kind == StartKind::Guess && find_for_topology(circuit).has_value();
    return whole_network ? ArcsPlaced::ByNetwork : ArcsPlaced::ByStart;
}

std::expected<Start, std::string> start_tree(const SeriesList& circuit, const Constraints& constraints,
                                             StartKind kind, const std::optional<std::string>& weights,
                                             std::span<const double> frequencies, std::span<const Complex> impedances) {
    if (kind == StartKind::CircuitValues) return Start{circuit, {}};
    if (kind == StartKind::DataScaled) {
        // Fixed values are kept and free ones held inside their own bounds,
        // as for a guess.
        const std::vector<double> scaled = data_scaled_values(circuit, spectrum_scales(frequencies, impedances));
        const SeriesList held = rebuild_with_values(circuit, constrained_guess(circuit, constraints, scaled));
        return Start{move_start_inside(FitModel(held, constraints), StartOrigin::Guess).model.tree(), {}};
    }
    auto guessed = guessed_start(circuit, frequencies, impedances, weights ? &*weights : nullptr);
    if (!guessed) return std::unexpected(std::move(guessed.error()));
    const SeriesList held = rebuild_with_values(
        circuit, constrained_guess(circuit, constraints, param_values(guessed->nodes)));
    return Start{move_start_inside(FitModel(held, constraints), StartOrigin::Guess).model.tree(),
                 std::move(guessed->replaced)};
}

bool user_start_inside_bounds(SeriesList& nodes, const Constraints& constraints) {
    MovedStart start = move_start_inside(FitModel(nodes, constraints), StartOrigin::User);
    if (start.moved.empty()) return true;
    if (!warn_about_params(nodes, start.moved,
                           "starting values that are not finite or not inside their bounds were moved inside "
                           "(to the placeholder value when not finite or at or below an open lower bound, else to "
                           "the nearest end of the range): ")) {
        return false;
    }
    nodes = start.model.tree();
    return true;
}

bool warn_placeholders(const SeriesList& nodes, const std::vector<std::size_t>& placeholders,
                       const std::string& prefix) {
    const std::string text =
        prefix + "the network gave no finite starting value, so these start at their placeholder values: ";
    return warn_about_params(nodes, placeholders, text.c_str());
}

}  // namespace vorlane::py
