#include "PrintScaling.h"

namespace tarvo {

PrintSize printScaling(double w, double h, double W, double H) {
    if (w <= 0 || h <= 0)
        return {};
    const double r = w / h;
    if (W > w && H > h) {
        if (h <= w) {
            w = W;
            h = w / r;
        } else {
            h = H;
            w = h * r;
        }
    }
    if (W < w) {
        w = W;
        h = w / r;
    }
    if (H < h) {
        h = H;
        w = h * r;
    }
    return {static_cast<int>(w), static_cast<int>(h)};
}

} // namespace tarvo
