#pragma once

#include "ConfigHooks.h"
#include "SetupFile.h"

#include <QObject>
#include <QString>

namespace tarvo {

class CheckWeigherParameters;
class DosingParameters;
class Operator;
class ParameterFields;

// "Export" and "Import" of the MXR 41xx page's dosing and check-weigher groups: the group's entries to
// and from a "*.mxr" setup file, through the group's own write.
class SetupTransfer : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kFileFilter = "Setup file for MXR (*.mxr)|*.mxr";
    static constexpr const char* kCannotWrite = " Can not write file!";

    SetupTransfer(CheckWeigherParameters& checkWeigher, DosingParameters& dosing, Operator& op,
                  ConfigHooks hooks, QObject* parent = nullptr);

    // The group's write; a file is asked for and written only when the device stored the values.
    void exportClicked(SetupGroup group);
    // The file asked for, checked, put into the group's entries and written to the device.
    void importClicked(SetupGroup group);

    // The group's entries into a setup file. False, with the operator told why, when an entry holds no
    // whole number or the file cannot be written; an existing file is then left as it was.
    bool writeFile(SetupGroup group, const QString& path);
    // Checks the whole file, puts its values into the group's entries and runs the group's write.
    // False, with nothing sent and the operator told which entry is wrong, for a damaged file; else
    // the group's saved flag after the write.
    bool importFile(SetupGroup group, const QString& path);
    // The file's values in file order, or nothing and why.
    static std::optional<QList<qint32>> readFile(SetupGroup group, const QString& path, QString* error);

    // The group's entries in file order, and its saved flag.
    QStringList entryTexts(SetupGroup group) const;
    bool saved(SetupGroup group) const;
    // Runs the group's read or write as its buttons do.
    void readGroup(SetupGroup group);
    void writeGroup(SetupGroup group);

private:
    ParameterFields& fields(SetupGroup group) const;
    void refuse(const QString& text);

    CheckWeigherParameters& checkWeigher_;
    DosingParameters& dosing_;
    Operator& op_;
    ConfigHooks hooks_;
};

} // namespace tarvo
