#include "driver/cleanup.h"

int main() { return RunCleanup(); }
