#include "GraphPrinting.h"

#include "ScopeWidget.h"
#include "base/Operator.h"
#include "measure/DataFiles.h"
#include "measure/JpegEncoder.h"
#include "measure/PrintScaling.h"

#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>

namespace tarvo::ui::GraphPrinting {

bool saveGraphAsJpeg(ScopeWidget& scope, Operator& op) {
    const QString path =
        op.askSaveFileName(QString::fromLatin1(kJpegSuffix), QString::fromLatin1(kJpegFilter));
    if (path.isEmpty())
        return false;
    QImage picture = scope.picture().convertToFormat(QImage::Format_RGB32);
    QString reason;
    if (!JpegEncoder::save(path, reinterpret_cast<const std::uint32_t*>(picture.constBits()), picture.width(),
                           picture.height(), picture.bytesPerLine(), &reason)) {
        op.showMessage(cannotWriteText(DataFiles::kCannotWrite, path, reason));
        return false;
    }
    return true;
}

bool printPicture(QPrinter& printer, const QImage& picture) {
    printer.setPageOrientation(QPageLayout::Landscape);
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    const QRect page = printer.pageLayout().paintRectPixels(printer.resolution());
    const PrintSize size = printScaling(picture.width(), picture.height(), page.width(), page.height());
    bool drawn = size.width > 0 && size.height > 0;
    if (drawn)
        painter.drawImage(QRect(0, 0, size.width, size.height), picture);
    // Ends the document whatever happened above.
    drawn = painter.end() && drawn;
    return drawn;
}

bool printGraph(ScopeWidget& scope, QPrinter& printer, QWidget* parent) {
    printer.setPageOrientation(QPageLayout::Landscape);
    QPrintDialog dialog(&printer, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    return printPicture(printer, scope.picture());
}

} // namespace tarvo::ui::GraphPrinting
