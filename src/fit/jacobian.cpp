// Central-difference Jacobian of the residual vector, block by block of
// frequencies: the tree is evaluated once at the unperturbed point, and each
// column recomputes only the leaves, branches and parallel nodes its step
// reaches.
#include "fit/jacobian.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include "circuit/batch_impedance.hpp"
#include "circuit/impedance.hpp"
#include "core/cancellation.hpp"
#include "core/worker_pool.hpp"

namespace vorlane {

namespace {

// cbrt(2^-52): the step that balances truncation against rounding error of a
// central difference in double precision.
constexpr double EPS_CBRT = 6.0554544523933395e-06;
constexpr double STEP_FLOOR = 1e-8;

// Residual entries (2N per evaluation, 2P evaluations; a few nanoseconds
// each) below which a Jacobian runs on the calling thread. Under about a
// millisecond of work the hand-over to the pool, and above all the wait for
// a worker preempted inside its share on a busy machine, cost more than the
// second processor saves.
constexpr std::size_t INLINE_WORK_LIMIT = 200000;

// Tasks per pool thread, so that a preempted worker delays only a fraction.
constexpr std::size_t TILES_PER_THREAD = 4;

double step(double p) {
    const double magnitude = std::fabs(p);
    return EPS_CBRT * (magnitude > STEP_FLOOR ? magnitude : STEP_FLOOR);
}

struct Problem {
    const SeriesList& nodes;
    std::span<const double> params;
    std::span<const double> omega;
    std::span<const Complex> measured;
    std::span<const double> weights;
    std::size_t points;
};

// Rows of the frequencies [first, first + count), count <= IMPEDANCE_BLOCK,
// of the columns [first_column, end_column). `memo` holds the unperturbed
// point on this block; `trial` equals the parameters on entry and on exit.
void difference_rows(const Problem& pb, std::size_t first, std::size_t count, std::size_t first_column,
                     std::size_t end_column, const BlockMemo& memo, std::vector<double>& trial,
                     std::span<double* const> columns) {
    std::array<Complex, IMPEDANCE_BLOCK> plus;
    std::array<Complex, IMPEDANCE_BLOCK> minus;
    const double* omega = pb.omega.data() + first;
    const Complex* measured = pb.measured.data() + first;
    const double* weights = pb.weights.data() + first;
    for (std::size_t j = first_column; j < end_column; ++j) {
        if (columns[j] == nullptr) continue;
        const double h = step(pb.params[j]);
        trial[j] = pb.params[j] + h;
        memo.evaluate(pb.nodes, trial, omega, count, plus.data());
        trial[j] = pb.params[j] - h;
        memo.evaluate(pb.nodes, trial, omega, count, minus.data());
        trial[j] = pb.params[j];
        // The divisor comes from h itself, not from the perturbed values, so
        // it is the same number whatever rounding the two points suffered.
        const double two_h = h * 2.0;
        double* column = columns[j] + 2 * first;
        for (std::size_t i = 0; i < count; ++i) {
            const Complex r_plus = weighted_residual(plus[i], measured[i], weights[i]);
            const Complex r_minus = weighted_residual(minus[i], measured[i], weights[i]);
            column[2 * i] = (r_plus.re - r_minus.re) / two_h;
            column[2 * i + 1] = (r_plus.im - r_minus.im) / two_h;
        }
    }
}

}  // namespace

std::vector<std::vector<double>> jacobian_columns(const SeriesList& nodes, std::span<const double> params,
                                                  std::span<const double> omega,
                                                  std::span<const Complex> measured,
                                                  std::span<const double> weights, EvalCounter& counter) {
    const std::size_t points = std::min({omega.size(), measured.size(), weights.size()});
    std::vector<std::vector<double>> columns(params.size(), std::vector<double>(2 * points));
    std::vector<double*> targets(params.size());
    for (std::size_t j = 0; j < params.size(); ++j) targets[j] = columns[j].data();
    jacobian_into(nodes, params, omega, measured, weights, counter, targets);
    return columns;
}

void jacobian_into(const SeriesList& nodes, std::span<const double> params, std::span<const double> omega,
                   std::span<const Complex> measured, std::span<const double> weights, EvalCounter& counter,
                   std::span<double* const> columns) {
    const Problem pb{nodes, params, omega, measured, weights,
                     std::min({omega.size(), measured.size(), weights.size()})};
    const std::size_t p_count = params.size();
    // Each column stands for two residual vectors, whatever was reused.
    counter.add(2 * p_count);
    const std::size_t blocks = (pb.points + IMPEDANCE_BLOCK - 1) / IMPEDANCE_BLOCK;
    if (p_count == 0 || blocks == 0) return;

    // A tile is one block of frequencies times a run of columns.
    std::size_t tiles_per_block = 1;
    auto run_tiles = [&](std::size_t begin, std::size_t end) {
        // A thread runs one task of one Jacobian at a time, so one memo and
        // one trial vector per thread serve them all and keep their storage
        // between calls.
        thread_local BlockMemo memo;
        thread_local std::vector<double> trial;
        std::array<Complex, IMPEDANCE_BLOCK> unperturbed;
        for (std::size_t tile = begin; tile < end; ++tile) {
            // The calling thread may run signal handlers here, and they may
            // use this thread's memo and trial vector: every tile records its
            // block and sets its trial vector afresh.
            if (poll_stop()) return;
            trial.assign(params.begin(), params.end());
            const std::size_t block = tile / tiles_per_block;
            const std::size_t part = tile % tiles_per_block;
            const std::size_t first = block * IMPEDANCE_BLOCK;
            const std::size_t count = std::min(IMPEDANCE_BLOCK, pb.points - first);
            memo.record(nodes, params, omega.data() + first, count, unperturbed.data());
            difference_rows(pb, first, count, part * p_count / tiles_per_block,
                            (part + 1) * p_count / tiles_per_block, memo, trial, columns);
        }
    };
    if (pb.points < PARALLEL_SPECTRUM_THRESHOLD && 4 * pb.points * p_count < INLINE_WORK_LIMIT) {
        run_tiles(0, blocks);
        return;
    }
    const std::size_t wanted = TILES_PER_THREAD * pool::concurrency();
    if (blocks < wanted) tiles_per_block = std::min(p_count, (wanted + blocks - 1) / blocks);
    pool::parallel_for(blocks * tiles_per_block, 1, run_tiles);
}

}  // namespace vorlane
