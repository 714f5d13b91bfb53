#include <cmath>

#include "memory.h"

bool nearlyEqual(double a, double b) { return std::fabs(a - b) < 1e-6; }
