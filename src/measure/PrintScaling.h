#pragma once

namespace tarvo {

struct PrintSize {
    int width = 0;
    int height = 0;
};

// The size a w × h picture is stretched to on a page with W × H printable pixels: a picture smaller
// than the page is enlarged to fill it, a larger one shrunk to fit, keeping its proportions. The
// picture goes from (0, 0) to the returned size.
PrintSize printScaling(double w, double h, double pageWidth, double pageHeight);

} // namespace tarvo
