// Process entry of dictacore.
#include "engine/cli/run.h"

int main(int argc, char** argv) { return dictacore::Main(argc, argv); }
