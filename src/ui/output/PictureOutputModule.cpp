#include "JpegEncoder.h"
#include "base/ReplacingFile.h"
#include "measure/PrintScaling.h"
#include "ui/PictureOutput.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QTemporaryDir>

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
        QString why;
        if (printed(printer, picture, &why))
            return PrintResult::Printed;
        // Accepted, and still no page: a file that cannot be written, a printer that refused the job.
        const QString file = printer.outputFileName();
        *problem = file.isEmpty()
                       ? QStringLiteral("the printer %1 did not take the page").arg(printer.printerName())
                       : QStringLiteral("%1 could not be written").arg(file) +
                             (why.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(why));
        return PrintResult::Failed;
    }

    bool print(QPrinter& printer, const QImage& picture) override {
        return printed(printer, picture, nullptr);
    }

private:
    // To a printer: the page. To a file: the document is made beside it and takes its place only when
    // whole, so a full disk never leaves a cut document in place of a good one, and a pipe or a device
    // (which would hold the window until something reads it) is refused.
    bool printed(QPrinter& printer, const QImage& picture, QString* why) {
        const QString file = printer.outputFileName();
        if (file.isEmpty())
            return drawPage(printer, picture);
        ReplacingFile target(file);
        if (!target.open()) {
            if (why)
                *why = target.errorString();
            return false;
        }
        QTemporaryDir scratch;
        if (!scratch.isValid()) {
            if (why)
                *why = scratch.errorString();
            return false;
        }
        const QString draft = scratch.filePath(QStringLiteral("page.pdf"));
        printer.setOutputFileName(draft);
        const bool drawn = drawPage(printer, picture);
        printer.setOutputFileName(file);
        QFile made(draft);
        const QByteArray document = drawn && made.open(QIODevice::ReadOnly) ? made.readAll() : QByteArray();
        // The PDF writer does not report a failed write: a whole document ends with its end mark.
        if (!document.trimmed().endsWith("%%EOF")) {
            if (why)
                *why = QStringLiteral("the document could not be made");
            return false;
        }
        target.write(document);
        if (!target.commit()) {
            if (why)
                *why = target.errorString();
            return false;
        }
        return true;
    }

    static bool drawPage(QPrinter& printer, const QImage& picture) {
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
