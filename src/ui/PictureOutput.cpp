#include "PictureOutput.h"

#include "base/ProgramModule.h"

namespace tarvo::ui {

namespace {
struct Loaded {
    PictureOutput* module = nullptr;
    QString problem;
};
} // namespace

QString PictureOutput::path() {
    return ProgramModule::path(TARVO_PICTURE_OUTPUT_FROM_PROGRAMS);
}

PictureOutput* PictureOutput::loadFrom(const QString& path, QString* problem) {
    return static_cast<PictureOutput*>(ProgramModule::open(
        path, TARVO_PICTURE_OUTPUT_ENTRY, QStringLiteral("The printing and JPEG support"), problem));
}

PictureOutput* PictureOutput::load(QString* problem) {
    static const Loaded loaded = [] {
        Loaded first;
        first.module = loadFrom(path(), &first.problem);
        return first;
    }();
    if (!loaded.module && problem)
        *problem = loaded.problem;
    return loaded.module;
}

} // namespace tarvo::ui
