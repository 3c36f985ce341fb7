// Runs until it is ended from outside.
#include <windows.h>

int main() {
  for (;;) Sleep(1000);
}
