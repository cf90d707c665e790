// Circuit.fit_many: every spectrum and option converted first with the
// interpreter lock held, then the batch fitted with the lock released while
// the calling thread watches it for signals and shows its progress.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/quoting.hpp"
#include "fit/fit_batch.hpp"
#include "python/argument_values.hpp"
#include "python/circuit_object.hpp"
#include "python/convert.hpp"
#include "python/exception_guard.hpp"
#include "python/exception_state.hpp"
#include "python/fit_option_args.hpp"
#include "python/fit_result.hpp"
#include "python/measurement_input.hpp"

namespace vorlane::py {

const char* const FIT_MANY_DOC =
    "fit_many($self, spectra, *, warm_start=False, progress=False, errors=\"raise\", by=None, "
    "workers=None, **options)\n--\n\n"
    "Fit this circuit to many spectra; the results come back in input order.\n\n"
    "`spectra` is a sequence of spectra in any form `fit()` takes:\n"
    "(frequencies, impedances) pairs, dataframes or dicts. One long pandas or\n"
    "polars dataframe may hold them all when `by` names the column(s) that\n"
    "tell them apart; its spectra come in order of first appearance, as\n"
    "`vorlane.group_keys()` lists them.\n\n"
    "`options` are the keyword options of `fit()`. With `warm_start=False` the\n"
    "fits run side by side on `workers` threads (None: every core) and each\n"
    "result is bit-identical to `fit()` called alone with the same options.\n\n"
    "`warm_start=True` fits in input order, each spectrum starting from the\n"
    "values fitted to the last spectrum before it. That warm fit is compared\n"
    "with a fit from the start `fit()` would use when it did not succeed or\n"
    "its cost per point is more than twice the median of the last five fits';\n"
    "the fresh fit replaces it when it succeeded and the warm one did not, or\n"
    "when the warm fit's cost is more than 1.25 times the fresh one's.\n\n"
    "The circuit's constraints hold for every fit: fixed values, own bounds,\n"
    "and arcs ordered by time constant. With ordered arcs every result comes\n"
    "out ordered, so a warm start begins from the previous spectrum's ordered\n"
    "values and the labels follow the same process along the series.\n\n"
    "`errors=\"raise\"` raises the error of the first spectrum that fails, with\n"
    "its index in the message and the original error as its cause;\n"
    "`errors=\"collect\"` puts the exception in that spectrum's place and\n"
    "carries on. Spectra that cannot be read fail before any fit runs.\n\n"
    "`progress=True` shows a progress bar on stderr (tqdm when installed).\n"
    "Ctrl-C stops the batch, the fits under way included. Spectra with points\n"
    "of a non-finite frequency or impedance get one UserWarning for the call.";

namespace {

// How often the calling thread looks at signals and progress while the
// batch runs, and while it reads the spectra.
constexpr std::chrono::milliseconds WATCH_SLICE{20};
constexpr std::size_t SIGNAL_CHECK_INTERVAL = 1024;

struct BatchArguments {
    PyObject* spectra = nullptr;
    bool warm_start = false;
    bool progress = false;
    bool collect_errors = false;
    PyObject* by = Py_None;
    std::size_t workers = 0;
};

bool required_bool(PyObject* obj, const char* argname, bool& out) {
    std::optional<bool> value;
    if (!optional_bool_arg(obj, argname, value)) return false;
    if (!value) {
        PyErr_Format(PyExc_TypeError, "argument '%s': expected bool, got 'NoneType'", argname);
        return false;
    }
    out = *value;
    return true;
}

bool errors_arg(PyObject* obj, bool& collect) {
    std::string text;
    if (!text_arg(obj, "errors", text)) return false;
    if (text != "raise" && text != "collect") {
        raise_value_error("errors must be \"raise\" or \"collect\", got " + quote(text));
        return false;
    }
    collect = text == "collect";
    return true;
}

bool workers_arg(PyObject* obj, std::size_t& out) {
    if (obj == Py_None) return true;
    std::uint64_t count = 0;
    // More workers than the pool has threads run on all of them.
    if (!bounded_u64_arg(obj, "workers", 1, std::numeric_limits<std::uint64_t>::max(), true, count)) return false;
    out = static_cast<std::size_t>(std::min<std::uint64_t>(count, std::numeric_limits<std::size_t>::max()));
    return true;
}

bool convert_arguments(PyObject* args, PyObject* kwargs, BatchArguments& out, FitArguments& fit_args,
                       FitOptions& options) {
    static const auto keywords = keyword_list({"spectra", "warm_start", "progress", "errors", "by", "workers"});
    PyObject *warm_start = nullptr, *progress = nullptr, *errors = nullptr, *workers = Py_None;
    PyObject* given[FIT_OPTION_COUNT] = {};
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|$OOOOOOOOOOOOOOOOOOOOOO:fit_many",
                                     const_cast<char**>(keywords.data()), &out.spectra, &warm_start, &progress,
                                     &errors, &out.by, &workers, &given[0], &given[1], &given[2], &given[3],
                                     &given[4], &given[5], &given[6], &given[7], &given[8], &given[9], &given[10],
                                     &given[11], &given[12], &given[13], &given[14], &given[15], &given[16])) {
        return false;
    }
    return (warm_start == nullptr || required_bool(warm_start, "warm_start", out.warm_start)) &&
           (progress == nullptr || required_bool(progress, "progress", out.progress)) &&
           (errors == nullptr || errors_arg(errors, out.collect_errors)) && workers_arg(workers, out.workers) &&
           convert_fit_options(given, fit_args, options);
}

// A function of one of the package's pure-Python helper modules.
Ref package_function(const char* module_name, const char* name) {
    Ref module(PyImport_ImportModule(module_name));
    return module ? Ref(PyObject_GetAttrString(module.get(), name)) : Ref();
}

// The spectra as a list, with a label per spectrum when they were split out
// of one dataframe (null labels otherwise).
bool spectra_list(const BatchArguments& args, Ref& items, Ref& labels) {
    if (args.by != Py_None) {
        Ref split = package_function("vorlane._frame_groups", "split_for_fit");
        Ref pair(split ? PyObject_CallFunctionObjArgs(split.get(), args.spectra, args.by, nullptr) : nullptr);
        PyObject *frames = nullptr, *names = nullptr;
        if (!pair || !PyArg_ParseTuple(pair.get(), "O!O!", &PyList_Type, &frames, &PyList_Type, &names)) return false;
        if (PyList_GET_SIZE(frames) != PyList_GET_SIZE(names)) {
            PyErr_SetString(PyExc_RuntimeError, "internal error: split_for_fit gave not one label per frame");
            return false;
        }
        items = Ref::borrow(frames);
        labels = Ref::borrow(names);
        return true;
    }
    if (PyDict_Check(args.spectra) || PyObject_HasAttrString(args.spectra, "columns")) {
        PyErr_SetString(PyExc_TypeError,
                        "argument 'spectra': one dataframe holds a single spectrum; pass by= naming the "
                        "column(s) that tell its spectra apart, or a list of spectra");
        return false;
    }
    if (PyUnicode_Check(args.spectra) || PyBytes_Check(args.spectra)) {
        PyErr_Format(PyExc_TypeError, "argument 'spectra': expected a sequence of spectra, got '%s'",
                     Py_TYPE(args.spectra)->tp_name);
        return false;
    }
    items = Ref(PySequence_List(args.spectra));
    return static_cast<bool>(items) || name_argument_error("spectra");
}

// One spectrum: a (frequencies, impedances) pair as a tuple or list of two,
// anything else as a dataframe.
bool item_spectrum(PyObject* item, Spectrum& out) {
    if ((PyTuple_Check(item) || PyList_Check(item)) && PySequence_Fast_GET_SIZE(item) == 2) {
        PyObject** pair = PySequence_Fast_ITEMS(item);
        return spectrum(pair[0], pair[1], out);
    }
    return spectrum(item, nullptr, out);
}

// "spectrum 3" or "spectrum 3 (Cycle Count / 1 = 2)".
std::string spectrum_name(std::size_t index, PyObject* labels) {
    std::string name = "spectrum " + std::to_string(index);
    if (labels == nullptr) return name;
    Py_ssize_t size = 0;
    const char* label = PyUnicode_AsUTF8AndSize(PyList_GET_ITEM(labels, static_cast<Py_ssize_t>(index)), &size);
    if (label == nullptr) {
        PyErr_Clear();
        return name;
    }
    return name + " (" + std::string(label, static_cast<std::size_t>(size)) + ")";
}

// Raises `error` again as an exception of its own type whose message starts
// with the spectrum's name, chained to it; an exception type that cannot be
// built from one message is raised unchanged.
void raise_for_spectrum(Ref error, const std::string& name) {
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(error.get()));
    Ref text(PyObject_Str(error.get()));
    Ref message(text ? PyUnicode_FromFormat("%s: %U", name.c_str(), text.get()) : nullptr);
    Ref renamed(message ? PyObject_CallOneArg(type, message.get()) : nullptr);
    if (!renamed || !PyObject_TypeCheck(renamed.get(), reinterpret_cast<PyTypeObject*>(type))) {
        PyErr_Clear();
        restore_exception(std::move(error));
        return;
    }
    PyException_SetCause(renamed.get(), error.release());
    PyErr_SetObject(type, renamed.get());
}

// Conversion failures a batch may collect; interrupts, exits and exhausted
// memory always end the call.
bool is_collectable() { return !pending_error_must_propagate(); }

Ref exception_of(const BatchError& error) {
    switch (error.kind) {
        case BatchError::Kind::OutOfMemory:
            return Ref(PyObject_CallNoArgs(PyExc_MemoryError));
        case BatchError::Kind::Internal:
            return Ref(PyObject_CallFunction(PyExc_RuntimeError, "s#", error.message.data(),
                                             static_cast<Py_ssize_t>(error.message.size())));
        case BatchError::Kind::Fit:
            break;
    }
    return Ref(PyObject_CallFunction(PyExc_ValueError, "s#", error.message.data(),
                                     static_cast<Py_ssize_t>(error.message.size())));
}

// The progress bar of vorlane._progress, closed when the call ends.
class Progress {
public:
    bool open(std::size_t total) {
        Ref make = package_function("vorlane._progress", "progress_bar");
        bar_ = Ref(make ? PyObject_CallFunction(make.get(), "n", static_cast<Py_ssize_t>(total)) : nullptr);
        return static_cast<bool>(bar_);
    }

    bool advance(std::size_t finished) {
        if (!bar_ || finished == shown_) return true;
        Ref done(PyObject_CallMethod(bar_.get(), "update", "n", static_cast<Py_ssize_t>(finished - shown_)));
        shown_ = finished;
        return static_cast<bool>(done);
    }

    // Closing keeps an exception already pending.
    ~Progress() {
        if (!bar_) return;
        Ref pending = PyErr_Occurred() ? take_exception() : Ref();
        Ref closed(PyObject_CallMethod(bar_.get(), "close", nullptr));
        if (!closed) PyErr_WriteUnraisable(bar_.get());
        if (pending) restore_exception(std::move(pending));
    }

private:
    Ref bar_;
    std::size_t shown_ = 0;
};

// Waits for the batch in short slices with the lock released, taking it
// back between slices for signal handlers and the progress bar. On an
// exception the batch is cancelled; either way it has ended on return.
bool watch(FitBatch& batch, Progress& progress) {
    bool ok = true;
    for (bool done = false; !done;) {
        done = without_gil([&] { return batch.wait_for(WATCH_SLICE); });
        if (!progress.advance(batch.finished()) || (!done && PyErr_CheckSignals() != 0)) {
            ok = false;
            break;
        }
    }
    if (!ok) {
        batch.interrupt();
        without_gil([&] { batch.wait(); });
    }
    return ok;
}

// Everything a batch needs, read from Python with the lock held.
struct PreparedBatch {
    std::vector<FitOptions> items;
    std::vector<std::size_t> spectrum_of_item;
    std::vector<Ref> input_errors;  // per spectrum; null when it was read
    Constraints constraints;        // the circuit's: every result's circuit keeps them
    // The spectra read with points of a non-finite frequency or impedance.
    std::vector<std::pair<std::size_t, NonFinitePoints>> non_finite;
};

bool prepare(PyObject* items, PyObject* labels, bool collect, const FitOptions& options, PreparedBatch& out) {
    const std::size_t n = static_cast<std::size_t>(PyList_GET_SIZE(items));
    out.input_errors.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (i % SIGNAL_CHECK_INTERVAL == SIGNAL_CHECK_INTERVAL - 1 && PyErr_CheckSignals() != 0) return false;
        Spectrum measured;
        if (!item_spectrum(PyList_GET_ITEM(items, static_cast<Py_ssize_t>(i)), measured)) {
            if (!is_collectable()) return false;
            if (!collect) {
                raise_for_spectrum(take_exception(), spectrum_name(i, labels));
                return false;
            }
            out.input_errors[i] = take_exception();
            continue;
        }
        if (NonFinitePoints points = non_finite_points(measured); points.count > 0) {
            out.non_finite.emplace_back(i, std::move(points));
        }
        FitOptions& item = out.items.emplace_back(options);
        item.frequencies = std::move(measured.frequencies);
        item.impedances = std::move(measured.impedances);
        out.spectrum_of_item.push_back(i);
    }
    return true;
}

// Spectra named one by one in the warning about non-finite points; the
// rest are counted.
constexpr std::size_t SPECTRA_SHOWN = 3;

// One warning for the whole batch, naming the first spectra with points
// that have a non-finite frequency or impedance, and how many there are.
bool warn_non_finite_spectra(const PreparedBatch& prepared, PyObject* labels) {
    const auto& found = prepared.non_finite;
    if (found.empty()) return true;
    std::string message = std::to_string(found.size()) + " of " + std::to_string(prepared.input_errors.size()) +
                          (prepared.input_errors.size() == 1 ? " spectrum" : " spectra") +
                          (found.size() == 1 ? " has" : " have") +
                          " points with a non-finite frequency or impedance (";
    for (std::size_t k = 0; k < found.size() && k < SPECTRA_SHOWN; ++k) {
        const auto& [index, points] = found[k];
        message += (k ? "; " : "") + spectrum_name(index, labels) + ": " + count_text(points) + ", " +
                   positions_text(points);
    }
    if (found.size() > SPECTRA_SHOWN) message += "; and " + std::to_string(found.size() - SPECTRA_SHOWN) + " more";
    message +=
        "); they get the floor weight and NaN residuals, which make those fits' costs NaN: leave them out to fit "
        "the other points";
    return PyErr_WarnEx(PyExc_UserWarning, message.c_str(), 1) == 0;
}

// The warnings a lone fit of each spectrum would have given about guesses
// left at placeholder values, in input order once the batch has ended.
bool warn_placeholders_of(const FitBatch& batch, const PreparedBatch& prepared, PyObject* labels) {
    for (std::size_t k = 0; k < batch.placeholders().size(); ++k) {
        const auto& placeholders = batch.placeholders()[k];
        if (placeholders.empty()) continue;
        const std::string prefix = spectrum_name(prepared.spectrum_of_item[k], labels) + ": ";
        if (!warn_placeholders(batch.circuit(), placeholders, prefix)) return false;
    }
    return true;
}

PyObject* results_list(PreparedBatch& prepared, FitBatch& batch, PyObject* labels, bool collect) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(prepared.input_errors.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < prepared.input_errors.size(); ++i) {
        if (prepared.input_errors[i]) PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), prepared.input_errors[i].release());
    }
    auto& outcomes = batch.outcomes();
    for (std::size_t k = 0; k < outcomes.size(); ++k) {
        const std::size_t i = prepared.spectrum_of_item[k];
        if (!outcomes[k]) {
            PyErr_Format(PyExc_RuntimeError, "internal error: %s was not fitted", spectrum_name(i, labels).c_str());
            return nullptr;
        }
        PyObject* result = nullptr;
        if (*outcomes[k]) {
            result = make_fit_result(std::move(**outcomes[k]), prepared.constraints);
        } else {
            Ref error = exception_of(outcomes[k]->error());
            if (error && !collect) {
                raise_for_spectrum(std::move(error), spectrum_name(i, labels));
                return nullptr;
            }
            result = error.release();
        }
        if (result == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), result);
    }
    return list.release();
}

}  // namespace

PyObject* circuit_fit_many(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        BatchArguments arguments;
        FitArguments fit_args;
        FitOptions options;
        if (!convert_arguments(args, kwargs, arguments, fit_args, options)) return nullptr;
        // Settings that hold for every spectrum are checked before any is read.
        if (!parse_weighting(fit_args.weight, options.modulus)) return nullptr;
        if (!is_known_method(options.method)) {
            return raise_value_error(FitError{FitError::Kind::UnknownMethod, options.method}.message());
        }
        // Every fit holds the circuit's fixed values and own bounds, and
        // orders its arcs when the circuit asks for that.
        options.constraints = constraints_of(self);
        Ref items, labels;
        if (!spectra_list(arguments, items, labels)) return nullptr;
        PreparedBatch prepared;
        prepared.constraints = options.constraints;
        if (!prepare(items.get(), labels.get(), arguments.collect_errors, options, prepared)) return nullptr;
        if (!warn_non_finite_spectra(prepared, labels.get())) return nullptr;
        StartKind kind = StartKind::CircuitValues;
        if (!choose_start(self, fit_args, kind)) return nullptr;
        const ArcsPlaced placed = arcs_placed(nodes_of(self), kind);
        for (FitOptions& item : prepared.items) {
            item.zero_configuration = zero_configuration(kind, fit_args);
            item.arcs_placed = placed;
        }
        // The circuit's own values are the same start for every spectrum:
        // moved inside their bounds, with the warning, once.
        SeriesList circuit = nodes_of(self);
        if (kind == StartKind::CircuitValues && !user_start_inside_bounds(circuit, options.constraints)) {
            return nullptr;
        }

        BatchPlan plan{std::move(circuit),
                       [kind, weights = fit_args.weights, constraints = options.constraints](
                           const SeriesList& nodes, std::span<const double> f, std::span<const Complex> z) {
                           return start_tree(nodes, constraints, kind, weights, f, z);
                       },
                       arguments.warm_start, !arguments.collect_errors, arguments.workers};
        const std::size_t count = prepared.items.size();
        FitBatch batch(std::move(plan), std::move(prepared.items));
        Progress progress;
        if (arguments.progress && !progress.open(count)) return nullptr;
        batch.start();
        if (!watch(batch, progress)) return nullptr;
        if (!warn_placeholders_of(batch, prepared, labels.get())) return nullptr;
        return results_list(prepared, batch, labels.get(), arguments.collect_errors);
    });
}

}  // namespace vorlane::py
