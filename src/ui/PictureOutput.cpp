#include "PictureOutput.h"

#include "base/ProgramModule.h"

namespace tarvo::ui {

namespace {
const QString kWhat = QStringLiteral("The printing and JPEG support");
} // namespace

QString PictureOutput::path() {
    return ProgramModule::path(TARVO_PICTURE_OUTPUT_FROM_PROGRAMS);
}

PictureOutput* PictureOutput::loadFrom(const QString& path, QString* problem) {
    return static_cast<PictureOutput*>(ProgramModule::open(path, TARVO_PICTURE_OUTPUT_ENTRY, kWhat, problem));
}

PictureOutput* PictureOutput::load(QString* problem) {
    static const ProgramModule::Once once(path(), TARVO_PICTURE_OUTPUT_ENTRY, kWhat);
    return static_cast<PictureOutput*>(once.module(problem));
}

} // namespace tarvo::ui
