// SPDX-License-Identifier: BSD-2-Clause
// The operations the routines written once for a double and for a vector of channels (the
// -inl.h templates) take, for one channel: a "vector" of one double, a mask of one bool. The
// lane files pass the same operations on Highway vectors (codec/batch/lane_common-inl.h).
#pragma once

#include <cmath>

namespace g729 {

struct ScalarOps {
    using Mask = bool;
    static double set(double v) { return v; }
    // Element n of an array (the lane form reads element n of its lane).
    static double load(const double* a, int n) { return a[n]; }
    static void store(double v, double* a, int n) { a[n] = v; }
    static double sqrt(double v) { return std::sqrt(v); }
    static double neg(double v) { return -v; }
    // v times two signs (each +1.0 or -1.0): exact, so the lane form may flip sign bits.
    static double signed_by(double v, double s1, double s2) { return (v * s1) * s2; }
    // a - b (the lane form takes it on the multipliers; the value is the same).
    static double minus_fused(double a, double b) { return a - b; }
    static bool lt(double a, double b) { return a < b; }
    static bool gt(double a, double b) { return a > b; }
    static bool ge(double a, double b) { return a >= b; }
    static bool le(double a, double b) { return a <= b; }
    static bool ne(double a, double b) { return a != b; }
    static bool eq(double a, double b) { return a == b; }
    static bool both(bool a, bool b) { return a && b; }
    static bool either(bool a, bool b) { return a || b; }
    // Not a, and b.
    static bool and_not(bool a, bool b) { return !a && b; }
    static double select(bool m, double yes, double no) { return m ? yes : no; }
    // Whether any lane of the mask is set: the one.
    static bool any(bool m) { return m; }
    // Whole numbers that count or index (the lane form holds them in doubles).
    using Count = int;
    static int whole(int v) { return v; }
    static bool lt(int a, int b) { return a < b; }
    static int select(bool m, int yes, int no) { return m ? yes : no; }
    // A row ready to address arrays, and element offset + stride * row.
    using Rows = int;
    static int rows(double r) { return static_cast<int>(r); }
    static double at(const double* a, int offset, int row, int stride) {
        return a[offset + stride * row];
    }
    // Entry (row, column) of a two-column table stored row by row; the row is a small whole
    // number.
    static double entry(const double* table, double row, int column) {
        return table[2 * static_cast<int>(row) + column];
    }
};

}  // namespace g729
