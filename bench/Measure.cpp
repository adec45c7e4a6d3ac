#include "bench/Measure.h"

namespace Measure {
std::atomic<bool> interrupted{false};
}
