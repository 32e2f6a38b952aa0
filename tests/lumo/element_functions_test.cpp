#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <lumo/details/array/element_functions>

namespace {

template <typename T>
lumo::array_2d<T> make(size_t w, size_t h, std::initializer_list<T> v) {
    lumo::array_2d<T> a(w, h);
    size_t i = 0;
    for (T x : v) a[i++] = x;
    return a;
}

lumo::array<double> darr(std::initializer_list<double> v) {
    lumo::array<double> a(v.size());
    size_t i = 0;
    for (double x : v) a[i++] = x;
    return a;
}

}  // namespace

TEST(ElementReductions, FirstExtremeIsKeptAndNaNNeverReplaces) {
    const auto b = make<unsigned char>(4, 1, {3, 1, 1, 2});
    EXPECT_EQ(lumo::min(b), 1);
    const auto m = darr({5, 9, 9});
    EXPECT_EQ(lumo::max(m), 9);
    EXPECT_TRUE(std::isnan(lumo::min(darr({std::nan(""), 1.0}))));
    EXPECT_EQ(lumo::min(darr({1.0, std::nan(""), 0.5})), 0.5);
    // Signed zeros compare equal: the first one found stays.
    EXPECT_TRUE(std::signbit(lumo::min(darr({-0.0, 0.0}))));
    EXPECT_FALSE(std::signbit(lumo::max(darr({0.0, -0.0}))));
    const auto f = make<float>(2, 2, {1, 2, 3, 4});
    EXPECT_EQ(lumo::mean(f), 2.5f);
    EXPECT_EQ(lumo::min(f), 1.0f);
}

TEST(ElementReductionsDeath, EmptyArrayFailsElementAccess) {
    lumo::array<double> empty;
    EXPECT_DEATH(lumo::min(empty), "details/array/array.*offset >= 0 && offset < length\\(\\)");
    lumo::array_2d<float> none;
    EXPECT_DEATH(lumo::mean(none), "offset >= 0 && offset < length\\(\\)");
}

TEST(ElementExpressions, ProductSqrtAndScalarDifference) {
    const auto a = make<float>(2, 2, {1, 2, 3, 4});
    lumo::array_2d<float> out;
    lumo::assign_expression(out, lumo::times(a, a));
    ASSERT_EQ(out.size(), a.size());
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[1], 4);
    EXPECT_EQ(out[2], 9);
    EXPECT_EQ(out[3], 16);

    const auto b = make<double>(2, 1, {4, 16});
    lumo::array_2d<double> r;
    lumo::assign_expression(r, lumo::sqrt_div(b, 4.0));
    EXPECT_EQ(r[0], 1);
    EXPECT_EQ(r[1], 2);
    lumo::assign_expression(r, lumo::minus_scalar(make<double>(2, 1, {1, 2}), 1.5));
    EXPECT_EQ(r[0], -0.5);
    EXPECT_EQ(r[1], 0.5);

    auto c = make<double>(2, 1, {1, 2});
    c -= 1.5;
    EXPECT_EQ(c.size(), lumo::make_size_array(2, 1));
    EXPECT_EQ(c[0], -0.5);
    EXPECT_EQ(c[1], 0.5);

    // Expressions hold references: the operands must outlive them.
    const auto x = darr({1, 2}), y = darr({10, 20});
    lumo::array<double> sum;
    lumo::assign_expression(sum, lumo::plus(x, y));
    ASSERT_EQ(sum.length(), 2u);
    EXPECT_EQ(sum[1], 22);
}

TEST(ElementExpressions, EqualSizesReuseTheDestinationBlock) {
    const auto a = make<double>(3, 2, {1, 2, 3, 4, 5, 6});
    lumo::array_2d<double> out(3, 2);
    const double* block = out.raw();
    lumo::assign_expression(out, lumo::times(a, a));
    EXPECT_EQ(out.raw(), block);
    EXPECT_EQ(out[5], 36);
    // A 2 x 3 destination has the same count but other sizes: reshaped.
    lumo::array_2d<double> other(2, 3);
    lumo::assign_expression(other, lumo::times(a, a));
    EXPECT_EQ(other.size(), a.size());
}

TEST(ElementExpressionsDeath, DifferentLengthsAbortInTheHeader) {
    const auto a = make<float>(4, 1, {1, 2, 3, 4});
    const auto b = make<float>(6, 1, {1, 2, 3, 4, 5, 6});
    lumo::array_2d<float> out;
    EXPECT_DEATH(lumo::assign_expression(out, lumo::times(a, b)),
                 "details/array/element_functions.*in1\\.derived\\(\\)\\.length\\(\\) == "
                 "in2\\.derived\\(\\)\\.length\\(\\)");
}

TEST(ElementFunctions, ClipConvertAndScale) {
    auto a = make<double>(3, 1, {0.5, 1.0, 2.0});
    lumo::min_with_scalar(a, 1);
    EXPECT_EQ(a[0], 0.5);
    EXPECT_EQ(a[1], 1.0);
    EXPECT_EQ(a[2], 1.0);

    lumo::array_2d<double> unit;
    lumo::bytes_to_unit(make<unsigned char>(3, 1, {0, 255, 51}), unit);
    EXPECT_EQ(unit[0], 0.0);
    EXPECT_EQ(unit[1], 1.0);
    EXPECT_EQ(unit[2], 51 / 255.0);
    lumo::array_2d<float> unit_f;
    lumo::bytes_to_unit(make<unsigned char>(1, 1, {51}), unit_f);
    EXPECT_EQ(unit_f[0], 51 / 255.0f);

    const auto in = make<unsigned char>(2, 1, {10, 200});
    lumo::array_2d<unsigned char> out;
    lumo::scale(in, out, 0.5);
    EXPECT_EQ(out[0], 5);
    EXPECT_EQ(out[1], 100);
    lumo::scale(in, out, 1.5);  // 300 wraps to its low byte
    EXPECT_EQ(out[0], 15);
    EXPECT_EQ(out[1], 44);
    lumo::scale(in, out, 0.999f);  // truncated, never rounded
    EXPECT_EQ(out[0], 9);
    EXPECT_EQ(out[1], 199);
    // Beyond 32 bits or NaN: the low byte of the indefinite integer, 0.
    lumo::scale(in, out, std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(out[1], 0);
    lumo::scale(in, out, 1e300);
    EXPECT_EQ(out[1], 0);
}
