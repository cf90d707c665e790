// Circuit.residuals and Circuit.jacobian: the residual vector and its
// Jacobian handed to external optimisers.
#include <string>
#include <vector>

#include "circuit/impedance.hpp"
#include "circuit/layout.hpp"
#include "fit/jacobian.hpp"
#include "fit/residuals.hpp"
#include "python/argument_values.hpp"
#include "python/circuit_object.hpp"
#include "python/convert.hpp"
#include "python/exception_guard.hpp"
#include "python/interruptible.hpp"
#include "python/measurement_input.hpp"

namespace vorlane::py {

const char* const RESIDUALS_DOC =
    "residuals($self, params, frequencies, impedances=None, weight=\"modulus\")\n--\n\n"
    "Weighted residual vector (interleaved `[re0, im0, re1, im1, ...]`) for an\n"
    "arbitrary parameter vector -- the same building block `fit()` uses\n"
    "internally for Levenberg-Marquardt, exposed so an external optimizer (e.g.\n"
    "`scipy.optimize.least_squares`) can drive this circuit's math directly.";

const char* const JACOBIAN_DOC =
    "jacobian($self, params, frequencies, impedances=None, weight=\"modulus\")\n--\n\n"
    "Central-difference Jacobian of `residuals()` at `params`, shape `(2 *\n"
    "len(frequencies), len(params))` -- rows are residuals, columns are\n"
    "parameters, matching what `scipy.optimize.least_squares(jac=...)` expects.";

namespace {

struct ResidualInputs {
    std::vector<double> params;
    std::vector<double> omega;
    std::vector<Complex> measured;
    std::vector<double> weights;
};

bool read_inputs(PyObject* self, PyObject* args, PyObject* kwargs, const char* format, ResidualInputs& out) {
    static const char* keywords[] = {"params", "frequencies", "impedances", "weight", nullptr};
    PyObject *params = nullptr, *frequencies = nullptr, *impedances = nullptr, *weight = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(keywords), &params, &frequencies,
                                     &impedances, &weight)) {
        return false;
    }
    if (!to_float_vector_arg(params, "params", out.params)) return false;
    std::string weight_name = "modulus";
    if (weight != nullptr && !text_arg(weight, "weight", weight_name)) return false;
    Spectrum measured;
    if (!spectrum(frequencies, impedances, measured)) return false;
    bool modulus = true;
    if (!parse_weighting(weight_name, modulus)) return false;
    // Evaluating with fewer values than the circuit consumes would read past
    // the vector; refuse it here, whatever the number of points.
    if (out.params.size() < param_count(nodes_of(self))) {
        PyErr_SetString(PyExc_ValueError, "impedance_from_iter: not enough values supplied");
        return false;
    }
    out.omega.resize(measured.frequencies.size());
    for (std::size_t i = 0; i < out.omega.size(); ++i) out.omega[i] = measured.frequencies[i] * TWO_PI;
    out.weights = compute_weights(measured.impedances, modulus);
    out.measured = std::move(measured.impedances);
    return true;
}

// Python lists of lists, row k holding entry k of every column.
PyObject* transposed_rows(const std::vector<std::vector<double>>& columns) {
    const std::size_t n_rows = columns.empty() ? 0 : columns.front().size();
    Ref rows(PyList_New(static_cast<Py_ssize_t>(n_rows)));
    if (!rows) return nullptr;
    for (std::size_t k = 0; k < n_rows; ++k) {
        Ref row(PyList_New(static_cast<Py_ssize_t>(columns.size())));
        if (!row) return nullptr;
        for (std::size_t j = 0; j < columns.size(); ++j) {
            PyObject* value = PyFloat_FromDouble(columns[j][k]);
            if (value == nullptr) return nullptr;
            PyList_SET_ITEM(row.get(), static_cast<Py_ssize_t>(j), value);
        }
        PyList_SET_ITEM(rows.get(), static_cast<Py_ssize_t>(k), row.release());
    }
    return rows.release();
}

}  // namespace

PyObject* circuit_residuals(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        ResidualInputs in;
        if (!read_inputs(self, args, kwargs, "OO|OO:residuals", in)) return nullptr;
        const auto r = interruptible([&] {
            EvalCounter counter;
            return residuals(nodes_of(self), in.params, in.omega, in.measured, in.weights, counter);
        });
        return r ? float_list(*r) : nullptr;
    });
}

PyObject* circuit_jacobian(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        ResidualInputs in;
        if (!read_inputs(self, args, kwargs, "OO|OO:jacobian", in)) return nullptr;
        const auto columns = interruptible([&] {
            EvalCounter counter;
            return jacobian_columns(nodes_of(self), in.params, in.omega, in.measured, in.weights, counter);
        });
        return columns ? transposed_rows(*columns) : nullptr;
    });
}

}  // namespace vorlane::py
