// SPDX-License-Identifier: BSD-2-Clause
// One output of a second-order recursive section, for a double or a vector of independent
// filters. No include guard: it is included once into the plain namespace of a file, and once
// into each instruction-set namespace of a Highway kernel file, where it is compiled for that
// instruction set.

// The running values of a section: x[n-1], x[n-2], y[n-1], y[n-2]. T is a double for one
// filter, or a vector of independent filters, one per lane, with Coef the coefficients
// broadcast to every lane. Flush is flush_tiny on T.
// The constructors are written out: an implicit one would not be compiled for the instruction
// set of the namespace it is used in.
template <typename T>
struct SecondOrderMemory {
    SecondOrderMemory() : x1(), x2(), y1(), y2() {}
    SecondOrderMemory(T a, T b, T c, T d) : x1(a), x2(b), y1(c), y2(d) {}
    T x1;
    T x2;
    T y1;
    T y2;
};

// One output of the section; with FlushOutputs it and the kept previous output go through
// flush. Every lane does exactly the operations of the double form.
template <bool FlushOutputs, typename T, typename Coef, typename Flush>
G729_INLINE T second_order_step(const Coef& c, SecondOrderMemory<T>& m, T x, Flush flush) {
    T y = c.a1 * m.y1;
    y += c.a2 * m.y2;
    y += c.b0 * x;
    y += c.b1 * m.x1;
    y += c.b2 * m.x2;

    m.x2 = m.x1;
    m.x1 = x;
    if constexpr (FlushOutputs) {
        m.y2 = flush(m.y1);
        m.y1 = flush(y);
    } else {
        m.y2 = m.y1;
        m.y1 = y;
    }
    return m.y1;
}
