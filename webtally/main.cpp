#include "webtally.h"

int main() { return webtallyMain(); }
