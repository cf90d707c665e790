// The least-squares problem one solver run drives: residuals and the
// chain-rule Jacobian in solver space, with fixed columns.
#pragma once

#include <span>
#include <vector>

#include "fit/least_squares_problem.hpp"
#include "fit/fit_model.hpp"
#include "fit/residuals.hpp"

namespace vorlane {

// Its work vectors are sized once, so that neither an evaluation nor a new
// start (restart) allocates: one problem serves every run of a fit.
class LmProblem final : public LeastSquaresProblem {
public:
    // One entry of `bounds`, `start` and `fixed` per free parameter of
    // `model`. The spectrum is referenced, not copied.
    LmProblem(FitModel model, std::span<const double> omega, std::span<const Complex> measured,
              std::span<const double> weights, Bounds bounds, std::span<const double> start,
              const std::vector<bool>& fixed, EvalCounter& counter);

    // The same problem from another start with other fixed parameters.
    void restart(std::span<const double> start, const std::vector<bool>& fixed);

    void set_params(std::span<const double> u) override;
    std::span<const double> params() const override { return u_; }
    std::size_t num_params() const override { return u_.size(); }
    std::size_t num_residuals() const override { return 2 * points_; }

    // Residuals at physical(u); one counted evaluation.
    bool residuals(std::span<double> out) override;
    // The finite-difference columns times d p / d u, zero for fixed
    // parameters.
    bool jacobian(double* out, std::size_t ld) override;

    const Bounds& bounds() const { return bounds_; }

private:
    // The tree's parameters at the current vector.
    std::span<const double> tree_params();

    FitModel model_;
    std::span<const double> omega_;
    std::span<const Complex> measured_;
    std::span<const double> weights_;
    std::size_t points_;
    Bounds bounds_;
    std::vector<double> u_;
    std::vector<bool> fixed_;
    EvalCounter& counter_;
    std::vector<double> physical_;      // physical(u_)
    std::vector<double> tree_;          // every parameter of the tree
    std::vector<double*> columns_;      // per tree parameter: where its column goes
};

}  // namespace vorlane
