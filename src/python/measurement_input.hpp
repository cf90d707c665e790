// Measured spectra and weighting names arriving from Python: two sequences
// or one dataframe with the Battery Data Format column names.
// Every function returns false with a Python exception set on failure.
#pragma once

#include <string>
#include <vector>

#include "core/complex.hpp"
#include "python/py_ref.hpp"

namespace vorlane::py {

struct Spectrum {
    std::vector<double> frequencies;  // hertz
    std::vector<Complex> impedances;  // ohms, index-aligned with frequencies
};

// The two alternative names of one dataframe column, tried in this order.
struct ColumnPair {
    const char* first;
    const char* second;
};

inline constexpr ColumnPair FREQUENCY_COLUMN{"Frequency / Hz", "frequency_hertz"};
inline constexpr ColumnPair REAL_COLUMN{"Real Impedance / ohm", "real_impedance_ohm"};
inline constexpr ColumnPair IMAGINARY_COLUMN{"Imaginary Impedance / ohm", "imaginary_impedance_ohm"};
inline constexpr ColumnPair MODULUS_COLUMN{"Absolute Impedance / ohm", "absolute_impedance_ohm"};
inline constexpr ColumnPair PHASE_COLUMN{"Phase / deg", "phase_degree"};

// "Frequency / Hz" or "frequency_hertz", the quote marks included.
std::string pair_text(const ColumnPair& pair);

enum class ColumnLookup { Found, Missing, Failed };

// The column under the first or the second name as floats. Missing leaves
// no exception set (item access failed under both names); Failed raises
// ValueError "column \"...\" is not numeric".
ColumnLookup column(PyObject* frame, const ColumnPair& pair, std::vector<double>& out);

// `impedances` null or None selects the dataframe form, anything else the
// two-sequence form.
bool spectrum(PyObject* frequencies, PyObject* impedances, Spectrum& out);

// "modulus" -> true, "unit" -> false; anything else is a ValueError.
bool parse_weighting(const std::string& text, bool& modulus);

}  // namespace vorlane::py
