// The value of a std::expected inside a test helper that returns it.
//
// ASSERT_* only works in functions returning void, and EXPECT_* followed by
// a dereference crashes the whole suite when the value is missing. unwrap
// throws instead: gtest reports the exception as a failure of the running
// test, with the error text, and goes on with the next test.
#pragma once

#include <expected>
#include <stdexcept>
#include <string>
#include <utility>

namespace vorlane::test {

template <class T, class E>
T unwrap(std::expected<T, E>&& result) {
    if (result) return std::move(*result);
    if constexpr (requires { result.error().message(); }) {
        throw std::runtime_error("no value: " + result.error().message());
    } else {
        throw std::runtime_error("no value");
    }
}

}  // namespace vorlane::test
