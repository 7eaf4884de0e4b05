/* The natural logarithm Zopfli's cost model takes of symbol counts, from
   frexp, +, -, * and / alone: IEEE doubles give every platform the same bits,
   where C libraries' log may differ in the last place and so tip a choice of
   the parse. Arguments are counts (at least 1); accuracy is that of log. */
#include <math.h>

double ZopfliPortableLog(double x) {
    static const double kLn2 = 0.69314718055994530942;
    static const double kSqrtHalf = 0.70710678118654752440;
    int exponent = 0;
    double m, s, s2, term, sum;
    int k;
    if (!(x > 0)) return -HUGE_VAL;
    m = frexp(x, &exponent); /* x = m * 2^exponent, 0.5 <= m < 1 */
    if (m < kSqrtHalf) {
        m *= 2;
        --exponent;
    }
    /* log(m) = 2 atanh(s) = 2 (s + s^3/3 + s^5/5 + ...), |s| < 0.172 */
    s = (m - 1) / (m + 1);
    s2 = s * s;
    term = s;
    sum = 0;
    for (k = 1; k <= 41; k += 2) {
        sum += term / k;
        term *= s2;
    }
    return 2 * sum + exponent * kLn2;
}
