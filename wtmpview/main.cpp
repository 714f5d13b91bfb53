#include "wtmpview.h"

int main(int argc, char **argv) { return wtmpview::wtmpviewMain(argc, argv); }
