// The range-safe solver run: the usual least-squares problem seen through a
// sine map on its finite-range coordinates.
#include "fit/range_safe_run.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/math.hpp"
#include "fit/lm_problem.hpp"
#include "fit/lm_solver.hpp"

namespace vorlane {

namespace {

constexpr double END_MARGIN = 0.999;

bool has_range(const std::pair<double, double>& b) { return !unbounded_above(b); }

// Wraps the problem whose finite-range coordinates are physical values; its
// own coordinates v map onto them by the sine, the others pass unchanged.
class RangeSafeProblem final : public LeastSquaresProblem {
public:
    RangeSafeProblem(LmProblem& inner, std::vector<double> v)
        : inner_(inner), v_(std::move(v)), u_(v_.size()) {
        move_inner();
    }

    std::size_t num_params() const override { return inner_.num_params(); }
    std::size_t num_residuals() const override { return inner_.num_residuals(); }
    void set_params(std::span<const double> v) override {
        v_.assign(v.begin(), v.end());
        move_inner();
    }
    std::span<const double> params() const override { return v_; }
    bool residuals(std::span<double> out) override { return inner_.residuals(out); }
    bool jacobian(double* out, std::size_t ld) override {
        if (!inner_.jacobian(out, ld)) return false;
        const std::size_t rows = num_residuals();
        const Bounds& bounds = inner_.bounds();
        for (std::size_t c = 0; c < v_.size(); ++c) {
            if (!has_range(bounds[c])) continue;
            const double factor = 0.5 * (bounds[c].second - bounds[c].first) * math::cos(v_[c]);
            for (std::size_t k = 0; k < rows; ++k) out[c * ld + k] *= factor;
        }
        return true;
    }

    // The inner problem's coordinates at v.
    std::span<const double> inner_coordinates() const { return u_; }

private:
    void move_inner() {
        const Bounds& bounds = inner_.bounds();
        for (std::size_t i = 0; i < u_.size(); ++i) {
            u_[i] = has_range(bounds[i])
                        ? bounds[i].first + (bounds[i].second - bounds[i].first) * 0.5 * (1.0 + math::sin(v_[i]))
                        : v_[i];
        }
        inner_.set_params(u_);
    }

    LmProblem& inner_;
    std::vector<double> v_;
    std::vector<double> u_;
};

}  // namespace

std::expected<SingleStartResult, std::string> range_safe_single_start(LmProblem& problem,
                                                                      std::span<const double> start,
                                                                      const LmOptions& options,
                                                                      LmWorkspace& workspace) {
    const Bounds& bounds = problem.bounds();
    std::vector<double> u = to_solver_space(start, bounds);
    std::vector<double> v = u;
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (!has_range(bounds[i])) continue;
        const double span = bounds[i].second - bounds[i].first;
        // Just inside the ends, where the sine's slope is not yet zero.
        const double t = std::clamp(2.0 * (start[i] - bounds[i].first) / span - 1.0, -END_MARGIN, END_MARGIN);
        v[i] = math::asin(t);
    }
    problem.restart(u, std::vector<bool>(start.size(), false));
    RangeSafeProblem safe(problem, std::move(v));
    const std::expected<LmReport, std::string> report = lm_minimize(safe, options, workspace);
    if (!report) return std::unexpected(report.error());
    return SingleStartResult{physical(safe.inner_coordinates(), bounds), is_success(report->reason),
                             report->evaluations};
}

}  // namespace vorlane
