// What the least-squares solver needs from a problem: a current vector it can
// replace, the residuals there and their Jacobian. LmProblem is the one the
// fits use; the interface lets the solver be checked on analytic problems.
#pragma once

#include <cstddef>
#include <span>

namespace vorlane {

class LeastSquaresProblem {
public:
    virtual ~LeastSquaresProblem() = default;

    virtual std::size_t num_params() const = 0;
    virtual std::size_t num_residuals() const = 0;
    virtual void set_params(std::span<const double> u) = 0;
    virtual std::span<const double> params() const = 0;
    // Writes the num_residuals() values at the current vector into `out`
    // (that many entries); false when they cannot be had.
    virtual bool residuals(std::span<double> out) = 0;
    // Writes the Jacobian at the current vector, column j into the
    // num_residuals() entries from out + j * ld; false when it cannot be had.
    virtual bool jacobian(double* out, std::size_t ld) = 0;
};

}  // namespace vorlane
