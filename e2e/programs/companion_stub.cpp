// Stand-in for the 64-bit companion: notes how it was started, then ends
// with the exit code it was built with.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  FILE* f = fopen("C:\\ztx\\companion-ran.txt", "w");
  if (f) {
    for (int i = 1; i < argc; ++i) fprintf(f, "%s\n", argv[i]);
    fclose(f);
  }
  return STUB_EXIT_CODE;
}
