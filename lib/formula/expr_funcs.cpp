#include "symbols.h"

Symbol builtinSymbols[] = {
    {"taxes", SYM_VALUE, 0.0, nullptr, nullptr, nullptr},
    {"one", SYM_VALUE, 1.0, nullptr, nullptr, nullptr},
    {"zero", SYM_VALUE, 0.0, nullptr, nullptr, nullptr},
    {nullptr, SYM_VALUE, 0.0, nullptr, nullptr, nullptr},
};

double *const taxesValue = &builtinSymbols[0].value;
