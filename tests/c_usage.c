/* The public headers used from C (built as C99 with -pedantic): the README's
 * examples, run for real. Exits 0 when every step did what it says. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "nrutil/nrutil.h"
#include "picture/core/picture.h"

static int progressCalls;
static int countProgress(const char* fileName, int percent, int writing) {
  (void)fileName;
  (void)percent;
  (void)writing;
  ++progressCalls;
  return 0;
}

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : "c_usage.zot";
  double** m = G_NEW_ARRAY(sizeof(double), MATRIX, 3, 4, 0, 0);
  float* v;
  uint8_t indices[6] = {0, 1, 1, 0, 1, 0};
  int32_t map[2];
  uint8_t red[6], green[6], blue[6];
  int width = 0, height = 0, mode = -1, colours = 0;

  m[2][3] = 5;
  m = g_realloc(m, MATRIX, 0u, 4u, 0u, 3u);
  if (m[2][3] != 5 || m[4][3] != 0) return 1;
  G_FREE_ARRAY(m, MATRIX);
  v = g_alloc(sizeof(float), VECTOR, 1u, 10u);
  v[10] = 1;
  G_FREE_ARRAY(&v[1], VECTOR);

  map[0] = picEncodeColour(255, 0, 0);
  map[1] = picEncodeColour(0, 0, 255);
  picSetProgressCallback(countProgress);
  if (picSaveMap(3, 2, PIC_DRIVER_ZOT, indices, 2, map, path) != PIC_OK) return 2;
  if (picImageInfo(path, &width, &height, &mode, &colours) != PIC_OK) return 3;
  if (width != 3 || height != 2 || mode != PIC_MAP || colours != 256) return 4; /* byte indices: all 256, past the two listed black */
  if (picLoadRGBSized(path, 3, 2, red, green, blue) != PIC_OK) return 5;
  if (red[0] != 255 || blue[1] != 255 || green[2] != 0) return 6;
  if (progressCalls == 0) return 7;
  picSetProgressCallback(NULL);
  printf("C usage: %s\n", picVersion());
  return 0;
}
