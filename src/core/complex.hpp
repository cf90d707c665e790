// Plain complex arithmetic on two doubles.
//
// The textbook formulas are used on purpose: std::complex multiplication and
// division treat infinities and NaN by their own recovery rules, which would
// change the IEEE results that circuit evaluation promises.
#pragma once

namespace vorlane {

struct Complex {
    double re = 0.0;
    double im = 0.0;
};

inline Complex operator+(Complex a, Complex b) { return {a.re + b.re, a.im + b.im}; }
inline Complex operator-(Complex a, Complex b) { return {a.re - b.re, a.im - b.im}; }
inline Complex operator*(Complex a, Complex b) {
    return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}
// No scaling and no guard against a zero divisor: 1/0 gives NaN parts.
inline Complex operator/(Complex a, Complex b) {
    const double d = b.re * b.re + b.im * b.im;
    return {(a.re * b.re + a.im * b.im) / d, (a.im * b.re - a.re * b.im) / d};
}

}  // namespace vorlane
