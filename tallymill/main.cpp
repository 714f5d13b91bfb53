#include "tallymill.h"

int main(int argc, char **argv) { return tallymillMain(argc, argv); }
