// Measured spectra and weighting names arriving from Python.
#include "python/measurement_input.hpp"

#include <algorithm>
#include <cmath>

#include "core/polar.hpp"
#include "core/quoting.hpp"
#include "python/convert.hpp"

namespace vorlane::py {
namespace {

// Contiguous complex128 or float64 buffers (numpy arrays) skip the per-item
// protocol.
bool complex_buffer(PyObject* obj, std::vector<Complex>& out) {
    return read_native_buffer(obj, [&](std::string_view format, const void* data, std::size_t n, std::size_t size) {
        const bool is_complex = format == "Zd" && size == 2 * sizeof(double);
        const bool is_real = format == "d" && size == sizeof(double);
        if (!is_complex && !is_real) return false;
        const auto* values = static_cast<const double*>(data);
        out.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            out[i] = is_complex ? Complex{values[2 * i], values[2 * i + 1]} : Complex{values[i], 0.0};
        }
        return true;
    });
}

// Real and imaginary parts of one measured value: a complex instance, an
// object whose type defines __complex__, or anything the complex accessors
// take (plain numbers give an imaginary part of 0).
bool to_complex(PyObject* item, Complex& out) {
    Ref converted;
    PyObject* source = item;
    if (!PyComplex_Check(item)) {
        Ref method(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(item)), "__complex__"));
        if (method) {
            converted = Ref(PyObject_CallOneArg(method.get(), item));
            if (!converted) return false;
            source = converted.get();
        } else if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
            PyErr_Clear();
        } else {
            return false;
        }
    }
    const double re = PyComplex_RealAsDouble(source);
    if (re == -1.0 && PyErr_Occurred()) return false;
    const double im = PyComplex_ImagAsDouble(source);
    // The imaginary accessor cannot fail for what passed the real one, but
    // an exception left pending would surface in unrelated code later.
    if (PyErr_Occurred()) return false;
    out = {re, im};
    return true;
}

bool to_complex_vector(PyObject* obj, std::vector<Complex>& out) {
    return sequence_to_vector(obj, out, complex_buffer, to_complex);
}

// Contiguous float64 buffers are copied in one go; a complex buffer is
// noted, for the caller to refuse.
bool real_buffer(PyObject* obj, std::vector<double>& out, bool& complex_found) {
    return read_native_buffer(obj, [&](std::string_view format, const void* data, std::size_t n, std::size_t size) {
        if (format.starts_with('Z')) {
            complex_found = true;
            return false;
        }
        if (format != "d" || size != sizeof(double)) return false;
        const auto* values = static_cast<const double*>(data);
        out.assign(values, values + n);
        return true;
    });
}

// Whether items are complex numbers: instances of complex (numpy's
// complex128 among them), or of a numbers.Complex type that is not
// numbers.Real (numpy's other complex scalars). The float conversion would
// take their real parts and drop the rest. Plain floats and ints pass at
// once, and the last type found not complex is remembered, so that a
// sequence of numpy scalars asks the number hierarchy once.
class ComplexItems {
public:
    // 1 complex, 0 not, -1 with an exception set.
    int check(PyObject* item) {
        if (PyFloat_CheckExact(item) || PyLong_CheckExact(item)) return 0;
        if (PyComplex_Check(item)) return 1;
        PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(item));
        if (type == not_complex_.get()) return 0;
        if (!complex_abc_ && !load_abcs()) return -1;
        const int complex_kind = PyObject_IsInstance(item, complex_abc_.get());
        const int real_kind = complex_kind == 1 ? PyObject_IsInstance(item, real_abc_.get()) : 0;
        if (complex_kind < 0 || real_kind < 0) return -1;
        if (complex_kind == 1 && real_kind == 0) return 1;
        not_complex_ = Ref::borrow(type);
        return 0;
    }

private:
    bool load_abcs() {
        Ref numbers(PyImport_ImportModule("numbers"));
        if (!numbers) return false;
        complex_abc_ = Ref(PyObject_GetAttrString(numbers.get(), "Complex"));
        real_abc_ = Ref(PyObject_GetAttrString(numbers.get(), "Real"));
        return complex_abc_ && real_abc_;
    }

    Ref complex_abc_;
    Ref real_abc_;
    Ref not_complex_;
};

bool set_value_error(const std::string& message) {
    PyErr_SetString(PyExc_ValueError, message.c_str());
    return false;
}

bool two_sequences(PyObject* frequencies, PyObject* impedances, Spectrum& out) {
    out.from_frame = false;
    out.rows.clear();
    if (!to_real_vector(frequencies, COMPLEX_FREQUENCIES, out.frequencies)) return false;
    if (!to_complex_vector(impedances, out.impedances)) return false;
    if (out.frequencies.size() != out.impedances.size()) {
        return set_value_error("frequencies and impedances must have the same length");
    }
    return true;
}

// The five quantities of a dataframe, each present or missing.
struct FrameColumns {
    enum { FREQUENCY, REAL, IMAGINARY, MODULUS, PHASE, COUNT };
    std::vector<double> values[COUNT];
    bool present[COUNT] = {};
};

// Every column is looked up before any decision, so a non-numeric column
// fails even where it would not be used.
bool read_columns(PyObject* frame, FrameColumns& out) {
    const ColumnPair* pairs[FrameColumns::COUNT] = {&FREQUENCY_COLUMN, &REAL_COLUMN, &IMAGINARY_COLUMN,
                                                    &MODULUS_COLUMN, &PHASE_COLUMN};
    for (int i = 0; i < FrameColumns::COUNT; ++i) {
        const ColumnLookup found = column(frame, *pairs[i], out.values[i]);
        if (found == ColumnLookup::Failed) return false;
        out.present[i] = found == ColumnLookup::Found;
    }
    return true;
}

// Impedances from real/imaginary columns, else from modulus/phase columns;
// `used` names the pairs they came from.
bool frame_impedances(const FrameColumns& c, std::vector<Complex>& z, const ColumnPair* (&used)[2]) {
    const auto& real = c.values[FrameColumns::REAL];
    const auto& imag = c.values[FrameColumns::IMAGINARY];
    const auto& modulus = c.values[FrameColumns::MODULUS];
    const auto& phase = c.values[FrameColumns::PHASE];
    if (c.present[FrameColumns::REAL] && c.present[FrameColumns::IMAGINARY]) {
        if (real.size() != imag.size()) {
            return set_value_error("real and imaginary impedance columns must have the same length");
        }
        z.resize(real.size());
        for (std::size_t i = 0; i < z.size(); ++i) z[i] = {real[i], imag[i]};
        used[0] = &REAL_COLUMN;
        used[1] = &IMAGINARY_COLUMN;
        return true;
    }
    if (c.present[FrameColumns::MODULUS] && c.present[FrameColumns::PHASE]) {
        if (modulus.size() != phase.size()) {
            return set_value_error("absolute impedance and phase columns must have the same length");
        }
        z.resize(modulus.size());
        for (std::size_t i = 0; i < z.size(); ++i) z[i] = from_modulus_and_phase(modulus[i], phase[i]);
        used[0] = &MODULUS_COLUMN;
        used[1] = &PHASE_COLUMN;
        return true;
    }
    return set_value_error("no impedance columns: expected " + pair_text(REAL_COLUMN) + " together with " +
                           pair_text(IMAGINARY_COLUMN) + ", or " + pair_text(MODULUS_COLUMN) + " together with " +
                           pair_text(PHASE_COLUMN));
}

bool dataframe(PyObject* frame, Spectrum& out) {
    FrameColumns columns;
    if (!read_columns(frame, columns)) return false;
    if (!columns.present[FrameColumns::FREQUENCY]) {
        return set_value_error("expected a dataframe with a " + pair_text(FREQUENCY_COLUMN) +
                               " column, or frequencies and impedances as two arguments");
    }
    std::vector<Complex> z;
    const ColumnPair* used[2];
    if (!frame_impedances(columns, z, used)) return false;
    const auto& freq = columns.values[FrameColumns::FREQUENCY];
    if (freq.size() != z.size()) {
        return set_value_error("frequency column has " + std::to_string(freq.size()) + " rows but " +
                               pair_text(*used[0]) + " and " + pair_text(*used[1]) + " have " +
                               std::to_string(z.size()));
    }
    // Rows at zero, negative or NaN frequencies are not measurements.
    out.frequencies.clear();
    out.impedances.clear();
    out.from_frame = true;
    out.rows.clear();
    for (std::size_t i = 0; i < freq.size(); ++i) {
        if (freq[i] > 0.0) {
            out.frequencies.push_back(freq[i]);
            out.impedances.push_back(z[i]);
        }
    }
    if (out.frequencies.size() < freq.size()) {
        for (std::size_t i = 0; i < freq.size(); ++i) {
            if (freq[i] > 0.0) out.rows.push_back(i);
        }
    }
    if (out.frequencies.empty()) {
        return set_value_error("no measured points: every row of the " + pair_text(FREQUENCY_COLUMN) +
                               " column is zero or negative");
    }
    return true;
}

}  // namespace

std::string pair_text(const ColumnPair& pair) {
    return quote(pair.first) + " or " + quote(pair.second);
}

ColumnLookup column(PyObject* frame, const ColumnPair& pair, std::vector<double>& out) {
    for (const char* name : {pair.first, pair.second}) {
        Ref key(PyUnicode_FromString(name));
        if (!key) return ColumnLookup::Failed;
        Ref values(PyObject_GetItem(frame, key.get()));
        if (!values) {
            if (pending_error_must_propagate()) return ColumnLookup::Failed;
            PyErr_Clear();
            continue;
        }
        // Every column holds real numbers; complex ones are refused rather
        // than cut to their real parts.
        const std::string complex_message =
            &pair == &FREQUENCY_COLUMN
                ? "frequencies must be real numbers (hertz), not complex: the column " + quote(name) +
                      " holds complex values"
                : "column " + quote(name) + " holds complex values; it takes real numbers";
        bool found_complex = false;
        if (!to_real_vector(values.get(), complex_message, out, &found_complex)) {
            if (found_complex || pending_error_must_propagate()) return ColumnLookup::Failed;
            PyErr_Clear();
            set_value_error("column " + quote(name) + " is not numeric");
            return ColumnLookup::Failed;
        }
        return ColumnLookup::Found;
    }
    return ColumnLookup::Missing;
}

bool to_real_vector(PyObject* obj, const std::string& complex_message, std::vector<double>& out,
                    bool* found_complex) {
    bool complex_array = false;
    ComplexItems items;
    auto refuse = [&] {
        if (found_complex) *found_complex = true;
        PyErr_SetString(PyExc_TypeError, complex_message.c_str());
        return false;
    };
    const bool read = sequence_to_vector(
        obj, out, [&](PyObject* whole, std::vector<double>& values) { return real_buffer(whole, values, complex_array); },
        [&](PyObject* item, double& value) {
            const int kind = complex_array ? 1 : items.check(item);
            if (kind != 0) return kind > 0 ? refuse() : false;
            return to_double(item, value);
        });
    // An empty complex array has no item to refuse.
    if (read && complex_array) return refuse();
    return read;
}

NonFinitePoints non_finite_points(const Spectrum& measured) {
    NonFinitePoints points;
    points.total = std::min(measured.frequencies.size(), measured.impedances.size());
    points.rows = measured.from_frame;
    for (std::size_t i = 0; i < points.total; ++i) {
        const Complex z = measured.impedances[i];
        if (std::isfinite(measured.frequencies[i]) && std::isfinite(z.re) && std::isfinite(z.im)) continue;
        if (points.first.size() < NonFinitePoints::SHOWN) {
            points.first.push_back(i < measured.rows.size() ? measured.rows[i] : i);
        }
        ++points.count;
    }
    return points;
}

std::string count_text(const NonFinitePoints& points) {
    return std::to_string(points.count) + " of " + std::to_string(points.total) + " points";
}

std::string positions_text(const NonFinitePoints& points) {
    const bool one = points.first.size() == 1;
    std::string text = points.rows ? (one ? "row " : "rows ") : (one ? "index " : "indices ");
    for (std::size_t k = 0; k < points.first.size(); ++k) text += (k ? ", " : "") + std::to_string(points.first[k]);
    return text + (points.count > points.first.size() ? ", ..." : "");
}

bool warn_non_finite(const Spectrum& measured, const char* consequence) {
    const NonFinitePoints points = non_finite_points(measured);
    if (points.count == 0) return true;
    const std::string message = count_text(points) + " (" + positions_text(points) + ")" +
                                (points.count == 1 ? " has" : " have") + " a non-finite frequency or impedance; " +
                                consequence;
    return PyErr_WarnEx(PyExc_UserWarning, message.c_str(), 1) == 0;
}

bool spectrum(PyObject* frequencies, PyObject* impedances, Spectrum& out) {
    if (impedances == nullptr || impedances == Py_None) return dataframe(frequencies, out);
    return two_sequences(frequencies, impedances, out);
}

bool parse_weighting(const std::string& text, bool& modulus) {
    if (text == "modulus" || text == "unit") {
        modulus = text == "modulus";
        return true;
    }
    return set_value_error("unknown weight scheme " + quote(text) + ", expected \"modulus\" or \"unit\"");
}

}  // namespace vorlane::py
