#include "JpegEncoder.h"
#include "measure/PrintScaling.h"
#include "ui/PictureOutput.h"

#include <QImage>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>

namespace tarvo::ui {

namespace {
class QtPictureOutput : public PictureOutput {
public:
    QByteArray encodeJpeg(const std::uint32_t* pixels, int width, int height, qsizetype stride) override {
        return JpegEncoder::encode(pixels, width, height, stride);
    }

    QPrinter* makePrinter() override { return new QPrinter(QPrinter::HighResolution); }
    void destroyPrinter(QPrinter* printer) override { delete printer; }

    void setUpPrinter(QPrinter& printer, QWidget* parent) override {
        QPrintDialog dialog(&printer, parent);
        dialog.setWindowTitle("Printer Setup");
        dialog.exec();
    }

    PrintResult printWithDialog(QPrinter& printer, const QImage& picture, QWidget* parent,
                                QString* problem) override {
        printer.setPageOrientation(QPageLayout::Landscape);
        QPrintDialog dialog(&printer, parent);
        if (dialog.exec() != QDialog::Accepted)
            return PrintResult::Cancelled;
        if (print(printer, picture))
            return PrintResult::Printed;
        // Accepted, and still no page: a file that cannot be written, a printer that refused the job.
        const QString file = printer.outputFileName();
        *problem = file.isEmpty()
                       ? QStringLiteral("the printer %1 did not take the page").arg(printer.printerName())
                       : QStringLiteral("%1 could not be written").arg(file);
        return PrintResult::Failed;
    }

    bool print(QPrinter& printer, const QImage& picture) override {
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
};
} // namespace

} // namespace tarvo::ui

extern "C" __attribute__((visibility("default"))) void* tarvoPictureOutput() {
    static tarvo::ui::QtPictureOutput module;
    return static_cast<tarvo::ui::PictureOutput*>(&module);
}
