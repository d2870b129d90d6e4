#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

class QImage;
class QPrinter;
class QWidget;

namespace tarvo::ui {

// Printing and JPEG encoding. They sit in a module of their own, loaded when first used: linked into the
// program, the print support and libjpeg would be loaded at every start, for a picture most sessions
// never save or print.
class PictureOutput {
public:
    virtual ~PictureOutput() = default;

    // JPEG of raw pixels, 32-bit words 0xffRRGGBB in native byte order with rows stride bytes apart, at
    // the library's default quality. Empty on failure (zero size, or the library refused).
    virtual QByteArray encodeJpeg(const std::uint32_t* pixels, int width, int height, qsizetype stride) = 0;

    // A printer at high resolution, given back to destroyPrinter.
    virtual QPrinter* makePrinter() = 0;
    virtual void destroyPrinter(QPrinter* printer) = 0;
    // The print dialog titled "Printer Setup" on printer; its choices stay on the printer.
    virtual void setUpPrinter(QPrinter& printer, QWidget* parent) = 0;
    // The print dialog on printer, then picture on one landscape page; a page that could not be printed
    // after the dialog's OK says why in problem.
    enum class PrintResult { Printed, Cancelled, Failed };
    virtual PrintResult printWithDialog(QPrinter& printer, const QImage& picture, QWidget* parent,
                                        QString* problem) = 0;
    // picture on one landscape page, scaled to the page; the document is ended even when drawing fails.
    virtual bool print(QPrinter& printer, const QImage& picture) = 0;

    // The module, loaded on first use and kept; nullptr when it cannot be, with the reason in plain
    // words in problem.
    static PictureOutput* load(QString* problem);
    // Where load() finds it: beside the programs, as installed or as built.
    static QString path();
    // The module at path, each time anew (load() keeps the first); as load() when it cannot be.
    static PictureOutput* loadFrom(const QString& path, QString* problem);
};

} // namespace tarvo::ui

// The module's one exported function: it returns its PictureOutput as void*.
#define TARVO_PICTURE_OUTPUT_ENTRY "tarvoPictureOutput"
