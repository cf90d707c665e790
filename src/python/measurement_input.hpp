// Measured spectra and weighting names arriving from Python: two sequences
// or one dataframe with the Battery Data Format column names.
// Every function returns false with a Python exception set on failure.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "core/complex.hpp"
#include "python/py_ref.hpp"

namespace vorlane::py {

struct Spectrum {
    std::vector<double> frequencies;  // hertz
    std::vector<Complex> impedances;  // ohms, index-aligned with frequencies
    // Read from a dataframe, and then, when rows at zero, negative or NaN
    // frequencies were left out, the row position of each point (empty
    // otherwise: point i is item or row i).
    bool from_frame = false;
    std::vector<std::size_t> rows;
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
// two-sequence form. Frequencies are real: complex ones (most often the
// impedances passed first) raise TypeError.
bool spectrum(PyObject* frequencies, PyObject* impedances, Spectrum& out);

// A sequence of real numbers as to_float_vector reads it, except that a
// complex array, or a sequence with a complex item, raises TypeError with
// `complex_message` (and sets `*found_complex` when given) instead of
// losing the imaginary parts.
bool to_real_vector(PyObject* obj, const std::string& complex_message, std::vector<double>& out,
                    bool* found_complex = nullptr);

// The TypeError message for complex frequencies given as a sequence.
inline constexpr const char* COMPLEX_FREQUENCIES =
    "frequencies must be real numbers (hertz), not complex: the frequencies come first and the impedances second";

// The points with a non-finite frequency or impedance: their count and the
// first few positions as the caller numbers them (item or row).
struct NonFinitePoints {
    static constexpr std::size_t SHOWN = 5;
    std::size_t count = 0;
    std::size_t total = 0;
    bool rows = false;  // positions are dataframe rows
    std::vector<std::size_t> first;
};
NonFinitePoints non_finite_points(const Spectrum& measured);

// "3 of 64 points", and "indices 0, 5, 17" or "row 9" ("..." ends a list
// of fewer positions than points).
std::string count_text(const NonFinitePoints& points);
std::string positions_text(const NonFinitePoints& points);

// Warns (UserWarning) "<count text> have a non-finite frequency or
// impedance; <consequence>" when there are such points; false when the
// warning was raised as an error.
bool warn_non_finite(const Spectrum& measured, const char* consequence);

// What a fit does with such points, for the warning of fit.
inline constexpr const char* FIT_KEEPS_NON_FINITE =
    "they get the floor weight and NaN residuals, which make the fit's cost NaN: leave them out to fit the "
    "other points";

// "modulus" -> true, "unit" -> false; anything else is a ValueError.
bool parse_weighting(const std::string& text, bool& modulus);

}  // namespace vorlane::py
