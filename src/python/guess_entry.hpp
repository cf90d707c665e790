// The machine-learning guess as the Python entry points use it.
#pragma once

#include <string>
#include <vector>

#include "circuit/tree.hpp"
#include "python/measurement_input.hpp"

namespace vorlane::py {

// Starting values for `nodes` in parameter order, from the bundled model
// matching its topology or from the weight file at `weights_path`; warns
// (UserWarning) naming the parameters whose network output was not finite
// and so start at their placeholders. False with ValueError carrying the
// guess's message on failure, or with the warning raised as an error.
// Called with the interpreter lock held; releases it around the computation.
bool guess_values(const SeriesList& nodes, const Spectrum& measured, const std::string* weights_path,
                  std::vector<double>& out);

// Warns (UserWarning) with `text` followed by the quoted names of the
// parameters at `indices`; false when the warning was raised as an error.
bool warn_about_params(const SeriesList& nodes, const std::vector<std::size_t>& indices, const char* text);

}  // namespace vorlane::py
