#include "SetupTransfer.h"

#include "CheckWeigherParameters.h"
#include "DosingParameters.h"
#include "base/Operator.h"

#include "base/ReplacingFile.h"

#include <QFile>

namespace tarvo {

SetupTransfer::SetupTransfer(CheckWeigherParameters& checkWeigher, DosingParameters& dosing, Operator& op,
                             ConfigHooks hooks, QObject* parent)
    : QObject(parent), checkWeigher_(checkWeigher), dosing_(dosing), op_(op), hooks_(std::move(hooks)) {}

ParameterFields& SetupTransfer::fields(SetupGroup group) const {
    return group == SetupGroup::Dosing ? dosing_.dosing() : checkWeigher_.mxr41();
}

QStringList SetupTransfer::entryTexts(SetupGroup group) const {
    const ParameterFields& f = fields(group);
    QStringList texts;
    for (const SetupEntry& e : SetupFile::entries(group))
        texts << f.text(f.indexOf(QString::fromLatin1(e.parameter)));
    return texts;
}

bool SetupTransfer::saved(SetupGroup group) const {
    return group == SetupGroup::Dosing ? dosing_.saved() : checkWeigher_.saved();
}

void SetupTransfer::readGroup(SetupGroup group) {
    if (group == SetupGroup::Dosing)
        dosing_.readClicked(DosingParameters::Group::Dosing);
    else
        checkWeigher_.readMxr41Clicked();
}

void SetupTransfer::writeGroup(SetupGroup group) {
    if (group == SetupGroup::Dosing)
        dosing_.writeClicked(DosingParameters::Group::Dosing);
    else
        checkWeigher_.writeMxr41Clicked();
}

void SetupTransfer::refuse(const QString& text) {
    op_.showInfoLine(Page::Mxr41, text);
    op_.showMessage(text);
}

void SetupTransfer::exportClicked(SetupGroup group) {
    writeGroup(group);
    if (!saved(group))
        return;
    const QString path = op_.askSaveFileName(QStringLiteral(".mxr"), QString::fromLatin1(kFileFilter));
    if (path.isEmpty())
        return;
    writeFile(group, path);
}

bool SetupTransfer::writeFile(SetupGroup group, const QString& path) {
    SetupHeader header;
    header.identity = hooks_.identity();
    header.firmware = hooks_.firmwareVersion ? hooks_.firmwareVersion() : QString();
    header.baud = hooks_.portBaud ? hooks_.portBaud() : 0;
    header.comNumber = hooks_.comNumber ? hooks_.comNumber() : 0;
    QString error;
    // Every entry is checked before the file is touched: a half-written file would import as zeros.
    const std::optional<QByteArray> text = SetupFile::compose(group, header, entryTexts(group), &error);
    if (!text) {
        refuse("Setup file " + path + ": " + error + "; nothing was written");
        return false;
    }
    // Every byte checked and on the disk before it replaces the old file; never over a device or a pipe.
    ReplacingFile file(path);
    if (file.open()) {
        file.write(*text);
        if (file.commit())
            return true;
    }
    op_.showMessage(cannotWriteText(kCannotWrite, path, file.errorString()), QString(),
                    MessageIcon::Information);
    return false;
}

std::optional<QList<qint32>> SetupTransfer::readFile(SetupGroup group, const QString& path, QString* error) {
    // Without waiting on a pipe, and only from a regular file.
    QString reason;
    const std::optional<QByteArray> bytes = readRegularFile(path, SetupFile::kMaxSize + 1, &reason);
    if (!bytes) {
        if (error)
            *error = "cannot be read: " + reason;
        return std::nullopt;
    }
    return SetupFile::parse(*bytes, group, error);
}

void SetupTransfer::importClicked(SetupGroup group) {
    const QString path = op_.askOpenFileName(QStringLiteral("Import"), QString::fromLatin1(kFileFilter));
    if (path.isEmpty())
        return;
    importFile(group, path);
}

bool SetupTransfer::importFile(SetupGroup group, const QString& path) {
    QString error;
    const std::optional<QList<qint32>> values = readFile(group, path, &error);
    if (!values) {
        refuse("Setup file " + path + ": " + error + "; nothing was written");
        return false;
    }
    ParameterFields& f = fields(group);
    const auto list = SetupFile::entries(group);
    for (size_t i = 0; i < list.size(); ++i)
        f.setText(f.indexOf(QString::fromLatin1(list[i].parameter)),
                  QString::number(values->at(qsizetype(i))));
    writeGroup(group);
    return saved(group);
}

} // namespace tarvo
