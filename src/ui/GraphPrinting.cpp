#include "GraphPrinting.h"

#include "PictureOutput.h"
#include "ScopeWidget.h"
#include "base/Operator.h"
#include "measure/DataFiles.h"

namespace tarvo::ui::GraphPrinting {

bool saveGraphAsJpeg(ScopeWidget& scope, Operator& op) {
    const QString path =
        op.askSaveFileName(QString::fromLatin1(kJpegSuffix), QString::fromLatin1(kJpegFilter));
    if (path.isEmpty())
        return false;
    QString problem;
    PictureOutput* output = PictureOutput::load(&problem);
    if (!output) {
        op.showMessage(problem);
        return false;
    }
    const QImage picture = scope.picture().convertToFormat(QImage::Format_RGB32);
    const QByteArray bytes = output->encodeJpeg(reinterpret_cast<const std::uint32_t*>(picture.constBits()),
                                                picture.width(), picture.height(), picture.bytesPerLine());
    QString reason = QStringLiteral("the picture could not be encoded");
    if (!bytes.isEmpty()) {
        // Whatever the name's extension; an existing file is replaced only once every byte is written.
        ReplacingFile file(path);
        if (file.open()) {
            file.write(bytes);
            if (file.commit())
                return true;
        }
        reason = file.errorString();
    }
    op.showMessage(cannotWriteText(DataFiles::kCannotWrite, path, reason));
    return false;
}

bool printPicture(QPrinter& printer, const QImage& picture) {
    PictureOutput* output = PictureOutput::load(nullptr);
    return output && output->print(printer, picture);
}

PictureOutput::PrintResult printGraph(ScopeWidget& scope, QPrinter& printer, QWidget* parent,
                                      QString* problem) {
    // The printer came from the module, so it is loaded.
    PictureOutput* output = PictureOutput::load(problem);
    return output ? output->printWithDialog(printer, scope.picture(), parent, problem)
                  : PictureOutput::PrintResult::Failed;
}

} // namespace tarvo::ui::GraphPrinting
