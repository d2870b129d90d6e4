#pragma once

#include "PictureOutput.h"

#include <QImage>

class QPrinter;
class QWidget;

namespace tarvo {
class Operator;
}

namespace tarvo::ui {

class ScopeWidget;

// Saving and printing the scope's picture.
namespace GraphPrinting {

inline constexpr const char* kJpegSuffix = "*.jpg";
inline constexpr const char* kJpegFilter =
    "JPEG Image File (*.jpg)|*.jpg|All (*.jpg;*.jpeg;*.bmp;*.ico;*.emf;*.wmf)|"
    "*.jpg;*.jpeg;*.bmp;*.ico;*.emf;*.wmf";

// "Save graph as JPEG": the picture save dialog, then the picture as JPEG at the encoder's default
// quality under the chosen name, whatever its extension. False when cancelled or not written.
bool saveGraphAsJpeg(ScopeWidget& scope, Operator& op);
// "Print graph": the print dialog on the printer "Printer Setup" set up, then one landscape page.
PictureOutput::PrintResult printGraph(ScopeWidget& scope, QPrinter& printer, QWidget* parent,
                                      QString* problem);
// One landscape page with the picture scaled to the page; the document is ended even when drawing
// fails.
bool printPicture(QPrinter& printer, const QImage& picture);

} // namespace GraphPrinting

} // namespace tarvo::ui
