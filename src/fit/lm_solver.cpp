// MINPACK lmder: the scaled trust-region Levenberg-Marquardt driver, with
// this system's pre-checks, non-finite handling and termination reasons.
//
// Contract: minimises 0.5 * |r(u)|^2 from the problem's current vector with
// the Jacobian supplied by the problem, adaptive scaling (MINPACK mode 1),
// initial step bound factor 100 and maxfev = max(max_iterations, 1) * (P + 1)
// counted residual evaluations (the initial one plus one per trial point).
// The problem is left at the last accepted iterate. Fewer residuals than
// parameters are handled by padding with zero rows, which changes neither
// the cost nor its derivatives.
#include "fit/lm_solver.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <span>
#include <vector>

#include "core/cancellation.hpp"
#include "fit/minpack_routines.hpp"

namespace vorlane {

using minpack::ColumnMajor;
using minpack::enorm;
using minpack::EPSMCH;

namespace {

constexpr double FACTOR = 100.0;
constexpr double P1 = 0.1;
constexpr double P5 = 0.5;
constexpr double P25 = 0.25;
constexpr double P75 = 0.75;
constexpr double P0001 = 1.0e-4;

bool all_finite(std::span<const double> v) {
    return std::all_of(v.begin(), v.end(), [](double x) { return std::isfinite(x); });
}

// One run's state, on work arrays that are sized (and zeroed) once per run.
class Lmder {
public:
    Lmder(LeastSquaresProblem& problem, const LmOptions& options, LmWorkspace& workspace)
        : problem_(problem),
          options_(options),
          m_(problem.num_residuals()),
          n_(problem.num_params()),
          rows_(std::max(m_, n_)),
          maxfev_(static_cast<std::size_t>(std::max<std::uint32_t>(options.max_iterations, 1)) * (n_ + 1)),
          fjac_(sized(workspace.fjac, rows_ * n_)),
          fvec_(sized(workspace.fvec, rows_)),
          wa4_(sized(workspace.wa4, rows_)),
          x_(workspace.x),
          diag_(sized(workspace.diag, n_)),
          qtf_(sized(workspace.qtf, n_)),
          wa1_(sized(workspace.wa1, n_)),
          wa2_(sized(workspace.wa2, n_)),
          wa3_(sized(workspace.wa3, n_)),
          ipvt_(workspace.ipvt) {
        const std::span<const double> start = problem.params();
        x_.assign(start.begin(), start.end());
        ipvt_.assign(n_, 0);
    }

    LmTermination run() {
        const bool loaded = load_residuals(fvec_);
        nfev_ = 1;
        if (n_ == 0) return LmTermination::NoParameters;
        if (m_ == 0) return LmTermination::NoResiduals;
        if (!loaded) return LmTermination::ResidualsUnavailable;
        fnorm_ = enorm(fvec_);
        if (!std::isfinite(fnorm_)) return LmTermination::NonFinite;
        if (!(fnorm_ > minpack::DWARF)) return LmTermination::ZeroResiduals;
        checkpoint_ = fnorm_ * fnorm_;

        for (;;) {
            if (poll_stop()) return LmTermination::Interrupted;
            if (!load_jacobian()) return LmTermination::WrongDimensions;
            minpack::qrfac(rows_, n_, jac(), ipvt_, wa1_, wa2_, wa3_);
            if (first_iteration_) initialise_scaling();
            form_qtf();
            const double gnorm = scaled_gradient_norm();
            if (gnorm <= options_.gtol) return LmTermination::Orthogonal;
            for (std::size_t j = 0; j < n_; ++j) diag_[j] = std::max(diag_[j], wa2_[j]);

            for (;;) {
                if (poll_stop()) return LmTermination::Interrupted;
                const std::optional<LmTermination> end = trial_step(gnorm);
                if (end) return *end;
                if (accepted_) break;
            }
            if (stalled()) return LmTermination::Stalled;
        }
    }

    std::size_t evaluations() const { return nfev_; }
    const std::vector<double>& solution() const { return x_; }

private:
    ColumnMajor jac() { return ColumnMajor{fjac_.data(), rows_}; }

    static std::vector<double>& sized(std::vector<double>& v, std::size_t n) {
        v.assign(n, 0.0);
        return v;
    }

    // The m residuals at the problem's vector into `out`, zero-padded to rows_.
    bool load_residuals(std::vector<double>& out) {
        if (!problem_.residuals(std::span<double>(out.data(), m_))) return false;
        std::fill(out.begin() + static_cast<std::ptrdiff_t>(m_), out.end(), 0.0);
        return true;
    }

    // The factorisation overwrote the padding rows of the last Jacobian.
    bool load_jacobian() {
        problem_.set_params(x_);
        if (!problem_.jacobian(fjac_.data(), rows_)) return false;
        if (rows_ > m_) {
            for (std::size_t c = 0; c < n_; ++c) std::fill_n(fjac_.data() + c * rows_ + m_, rows_ - m_, 0.0);
        }
        return true;
    }

    // Mode 1 scaling from the column norms (a zero norm counts as 1) and the
    // first step bound.
    void initialise_scaling() {
        for (std::size_t j = 0; j < n_; ++j) diag_[j] = wa2_[j] == 0.0 ? 1.0 : wa2_[j];
        for (std::size_t j = 0; j < n_; ++j) wa3_[j] = diag_[j] * x_[j];
        xnorm_ = enorm(wa3_);
        delta_ = FACTOR * xnorm_;
        if (delta_ == 0.0) delta_ = FACTOR;
    }

    // qtf = the first n entries of Q^T fvec; the diagonal of R goes back
    // into fjac, which then holds R in its upper triangle.
    void form_qtf() {
        const ColumnMajor a = jac();
        std::copy(fvec_.begin(), fvec_.end(), wa4_.begin());
        for (std::size_t j = 0; j < n_; ++j) {
            if (a(j, j) != 0.0) {
                double sum = 0.0;
                for (std::size_t i = j; i < rows_; ++i) sum += a(i, j) * wa4_[i];
                const double temp = -sum / a(j, j);
                for (std::size_t i = j; i < rows_; ++i) wa4_[i] += a(i, j) * temp;
            }
            a(j, j) = wa1_[j];
            qtf_[j] = wa4_[j];
        }
    }

    // Largest cosine between the residual vector and a Jacobian column; 0
    // once an accepted step has reached zero residuals. A NaN sticks, so a
    // broken Jacobian never passes for convergence.
    double scaled_gradient_norm() {
        const ColumnMajor a = jac();
        double gnorm = 0.0;
        if (fnorm_ == 0.0) return gnorm;
        for (std::size_t j = 0; j < n_; ++j) {
            const double norm = wa2_[ipvt_[j]];
            if (norm == 0.0) continue;
            double sum = 0.0;
            for (std::size_t i = 0; i <= j; ++i) sum += a(i, j) * (qtf_[i] / fnorm_);
            const double g = std::fabs(sum / norm);
            if (std::isnan(g) || g > gnorm) gnorm = g;
        }
        return gnorm;
    }

    bool stalled() {
        if (options_.stall_iterations == 0 || ++accepted_steps_ % options_.stall_iterations != 0) return false;
        const double cost = fnorm_ * fnorm_;
        const bool slow = checkpoint_ - cost < options_.stall_tolerance * cost;
        checkpoint_ = cost;
        return slow;
    }

    // One lmpar step with its evaluation, the radius update and the
    // termination tests; sets accepted_ when the step is taken.
    std::optional<LmTermination> trial_step(double gnorm) {
        accepted_ = false;
        const ColumnMajor a = jac();
        minpack::lmpar(n_, a, ipvt_, diag_, qtf_, delta_, par_, wa1_, wa2_, wa3_, wa4_);
        if (!all_finite(wa1_)) return LmTermination::NonFinite;

        for (std::size_t j = 0; j < n_; ++j) {
            wa1_[j] = -wa1_[j];
            wa2_[j] = x_[j] + wa1_[j];
            wa3_[j] = diag_[j] * wa1_[j];
        }
        const double pnorm = enorm(wa3_);
        if (!std::isfinite(pnorm)) return LmTermination::NonFinite;
        if (first_iteration_) delta_ = std::min(delta_, pnorm);
        if (!all_finite(wa2_)) return LmTermination::NonFinite;

        problem_.set_params(wa2_);
        const bool loaded = load_residuals(wa4_);
        ++nfev_;
        if (!loaded) return LmTermination::ResidualsUnavailable;
        const double fnorm1 = enorm(wa4_);

        // A trial norm that is not below ten times the current one, NaN and
        // infinity included, counts as a large increase.
        const bool large_increase = !(P1 * fnorm1 < fnorm_);
        double actred = -1.0;
        if (!large_increase) {
            const double q = fnorm1 / fnorm_;
            actred = 1.0 - q * q;
        }

        for (std::size_t j = 0; j < n_; ++j) {
            wa3_[j] = 0.0;
            const double temp = wa1_[ipvt_[j]];
            for (std::size_t i = 0; i <= j; ++i) wa3_[i] += a(i, j) * temp;
        }
        const double temp1 = enorm(wa3_) / fnorm_;
        const double temp2 = (std::sqrt(par_) * pnorm) / fnorm_;
        const double prered = temp1 * temp1 + temp2 * temp2 / P5;
        const double dirder = -(temp1 * temp1 + temp2 * temp2);
        if (!std::isfinite(prered)) return LmTermination::NonFinite;
        const double ratio = prered != 0.0 ? actred / prered : 0.0;

        update_radius(ratio, actred, dirder, pnorm, large_increase);

        if (ratio >= P0001) {
            for (std::size_t j = 0; j < n_; ++j) {
                x_[j] = wa2_[j];
                wa2_[j] = diag_[j] * x_[j];
            }
            fvec_.swap(wa4_);
            xnorm_ = enorm(wa2_);
            fnorm_ = fnorm1;
            first_iteration_ = false;
            accepted_ = true;
        }

        const bool ftol_met = std::fabs(actred) <= options_.ftol && prered <= options_.ftol && P5 * ratio <= 1.0;
        if (ftol_met || delta_ <= options_.xtol * xnorm_) return LmTermination::Converged;
        // MINPACK lets the stringent-tolerance verdicts overwrite an exhausted budget.
        const bool ftol_stuck = std::fabs(actred) <= EPSMCH && prered <= EPSMCH && P5 * ratio <= 1.0;
        if (ftol_stuck || delta_ <= EPSMCH * xnorm_ || gnorm <= EPSMCH) return LmTermination::ToleranceTooSmall;
        if (nfev_ >= maxfev_) return LmTermination::BudgetExhausted;
        return std::nullopt;
    }

    void update_radius(double ratio, double actred, double dirder, double pnorm, bool large_increase) {
        if (ratio <= P25) {
            double temp = actred >= 0.0 ? P5 : P5 * dirder / (dirder + P5 * actred);
            if (large_increase || temp < P1) temp = P1;
            delta_ = temp * std::min(delta_, pnorm / P1);
            par_ /= temp;
        } else if (par_ == 0.0 || ratio >= P75) {
            delta_ = pnorm / P5;
            par_ = P5 * par_;
        }
    }

    LeastSquaresProblem& problem_;
    const LmOptions& options_;
    const std::size_t m_;
    const std::size_t n_;
    const std::size_t rows_;
    const std::size_t maxfev_;
    std::vector<double>& fjac_;
    std::vector<double>& fvec_;
    std::vector<double>& wa4_;
    std::vector<double>& x_;
    std::vector<double>& diag_;
    std::vector<double>& qtf_;
    std::vector<double>& wa1_;
    std::vector<double>& wa2_;
    std::vector<double>& wa3_;
    std::vector<std::size_t>& ipvt_;
    std::size_t nfev_ = 0;
    double fnorm_ = 0.0, xnorm_ = 0.0, delta_ = 0.0, par_ = 0.0;
    bool first_iteration_ = true;
    bool accepted_ = false;
    std::uint32_t accepted_steps_ = 0;
    double checkpoint_ = std::numeric_limits<double>::infinity();  // squared norm at the last stall check
};

}  // namespace

bool is_success(LmTermination reason) {
    return reason == LmTermination::ZeroResiduals || reason == LmTermination::Converged ||
           reason == LmTermination::Orthogonal;
}

std::expected<LmReport, std::string> lm_minimize(LeastSquaresProblem& problem, const LmOptions& options) {
    LmWorkspace workspace;
    return lm_minimize(problem, options, workspace);
}

std::expected<LmReport, std::string> lm_minimize(LeastSquaresProblem& problem, const LmOptions& options,
                                                 LmWorkspace& workspace) {
    if (std::signbit(options.ftol)) return std::unexpected(std::string("ftol must be >= 0"));
    if (std::signbit(options.xtol)) return std::unexpected(std::string("xtol must be >= 0"));
    if (std::signbit(options.gtol)) return std::unexpected(std::string("gtol must be >= 0"));
    Lmder run(problem, options, workspace);
    const LmTermination reason = run.run();
    problem.set_params(run.solution());
    return LmReport{reason, run.evaluations()};
}

}  // namespace vorlane
