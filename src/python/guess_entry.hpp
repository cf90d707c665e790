// The machine-learning guess as the Python entry points use it.
#pragma once

#include <string>
#include <vector>

#include "circuit/tree.hpp"
#include "python/measurement_input.hpp"

namespace vorlane::py {

// Starting values for `nodes` in parameter order, from the bundled model
// matching its topology or from the weight file at `weights_path`; false
// with ValueError carrying the guess's message on failure. Called with the
// interpreter lock held; releases it around the computation.
bool guess_values(const SeriesList& nodes, const Spectrum& measured, const std::string* weights_path,
                  std::vector<double>& out);

}  // namespace vorlane::py
