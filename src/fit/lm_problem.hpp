// The least-squares problem one solver run drives: residuals and the
// chain-rule Jacobian in solver space, with fixed columns.
#pragma once

#include <span>
#include <vector>

#include "fit/least_squares_problem.hpp"
#include "fit/fit_model.hpp"
#include "fit/residuals.hpp"

namespace vorlane {

class LmProblem final : public LeastSquaresProblem {
public:
    // One entry of `bounds`, `start` and `fixed` per free parameter of `model`.
    LmProblem(FitModel model, std::vector<double> omega, std::span<const Complex> measured,
              std::vector<double> weights, Bounds bounds, std::vector<double> start,
              std::vector<bool> fixed, EvalCounter& counter);

    void set_params(std::span<const double> u) override;
    std::vector<double> params() const override { return u_; }
    std::size_t num_params() const override { return u_.size(); }
    std::size_t num_residuals() const override { return 2 * omega_.size(); }

    // Residuals at physical(u); one counted evaluation.
    std::vector<double> residuals() const override;
    // Column-major 2N x P matrix (column j at [j * 2N, (j + 1) * 2N)): the
    // finite-difference columns times d p / d u, zero for fixed parameters.
    std::vector<double> jacobian() const override;

    const Bounds& bounds() const { return bounds_; }

private:
    FitModel model_;
    std::vector<double> omega_;
    std::span<const Complex> measured_;
    std::vector<double> weights_;
    Bounds bounds_;
    std::vector<double> u_;
    std::vector<bool> fixed_;
    EvalCounter& counter_;
};

}  // namespace vorlane
