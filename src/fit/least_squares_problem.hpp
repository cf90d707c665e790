// What the least-squares solver needs from a problem: a current vector it can
// replace, the residuals there and their Jacobian. LmProblem is the one the
// fits use; the interface lets the solver be checked on analytic problems.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace vorlane {

class LeastSquaresProblem {
public:
    virtual ~LeastSquaresProblem() = default;

    virtual std::size_t num_params() const = 0;
    virtual std::size_t num_residuals() const = 0;
    virtual void set_params(std::span<const double> u) = 0;
    virtual std::vector<double> params() const = 0;
    // num_residuals() values at the current vector.
    virtual std::vector<double> residuals() const = 0;
    // Column-major num_residuals() x num_params() matrix at the current vector.
    virtual std::vector<double> jacobian() const = 0;
};

}  // namespace vorlane
