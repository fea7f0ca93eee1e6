/* A C host built against an installed morvik through pkg-config. */
#include <stdio.h>

#include "morvik/morvik_c.h"

int main(void) {
  uint16_t major = 0, minor = 0;
  uint32_t build = 0;
  if (GetVersion(&major, &minor, &build) != MV_C_OK) return 1;
  printf("pkg-config consumer: morvik %u.%u, %zu options\n", major, minor, MvOptionCount());
  return major == 3 && minor == 7 && MvOptionCount() == 55 ? 0 : 1;
}
