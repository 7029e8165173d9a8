#include "frontend/run.h"

int main(int argc, char** argv) { return runPlayRecord(argc, argv); }
