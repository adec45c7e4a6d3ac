// How the benchmark writes its numbers for people.
#ifndef BENCHTEXT_H
#define BENCHTEXT_H

#include <QString>

namespace BenchText {

// Fixed decimals; "-" for a figure that is not there (NaN).
QString num(double v, int decimals = 1);
// Bytes, KiB or MiB, whichever reads best.
QString bytes(double bytes);

} // namespace BenchText

#endif // BENCHTEXT_H
