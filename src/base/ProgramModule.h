#pragma once

#include <QString>

namespace tarvo {

// The program's own modules: parts that bring large libraries with them, loaded when first needed rather
// than at every start. They sit beside the programs, installed or built (see src/CMakeLists.txt).
namespace ProgramModule {

// The module at fromPrograms, a path relative to the programs' folder.
QString path(const char* fromPrograms);

// Loads the module at path, kept for the rest of the run, and calls its entry function. nullptr when it
// cannot be, with "<what> (<path>) cannot be loaded: <why>" in problem.
void* open(const QString& path, const char* entry, const QString& what, QString* problem);

// A module opened once, at its first use, and kept for the run; or why it could not be.
class Once {
public:
    Once(const QString& path, const char* entry, const QString& what)
        : module_(open(path, entry, what, &problem_)) {}
    // The module; nullptr with the reason in problem when there is none.
    void* module(QString* problem) const {
        if (!module_ && problem)
            *problem = problem_;
        return module_;
    }

private:
    QString problem_; // made before module_, whose opening writes it
    void* module_;
};

} // namespace ProgramModule

} // namespace tarvo
