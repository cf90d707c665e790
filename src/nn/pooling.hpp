// Global pooling of the trunk's activations into the head's input.
#pragma once

#include <cstddef>
#include <vector>

namespace vorlane {

// For a rows x length matrix: the mean of each row, then the maximum of each
// row (from -infinity; NaN never wins), then two zeros for the meta values.
std::vector<double> mean_max_pool(const std::vector<double>& x, std::size_t rows, std::size_t length);

}  // namespace vorlane
