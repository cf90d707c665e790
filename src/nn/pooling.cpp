// Mean and maximum pooling over the grid positions.
#include "nn/pooling.hpp"

#include <limits>

namespace vorlane {

std::vector<double> mean_max_pool(const std::vector<double>& x, std::size_t rows, std::size_t length) {
    std::vector<double> pooled(2 * rows + 2);
    for (std::size_t c = 0; c < rows; ++c) {
        const double* row = x.data() + c * length;
        double sum = 0.0;
        double max = -std::numeric_limits<double>::infinity();
        for (std::size_t l = 0; l < length; ++l) {
            sum += row[l];
            if (row[l] > max) max = row[l];
        }
        pooled[c] = sum / static_cast<double>(length);
        pooled[rows + c] = max;
    }
    return pooled;
}

}  // namespace vorlane
