#include "upsampler/upsample_bins.h"

int main() {
  double x[2] = {4, 8};
  double y[8];
  spike_bins::upsample_bins({2, 1, x}, 4.0, {8, 1, y});
  return y[0] == 3 && y[7] == 4 ? 0 : 1;
}
