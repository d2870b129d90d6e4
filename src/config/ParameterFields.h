#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <vector>

namespace tarvo {

// One parameter of a device group as its page shows it: a text field that the operator edits and a
// read fills, sent to the device unchanged.
struct ParameterField {
    // The name the messages use ("StartDelay", "PD7").
    QString name;
    // The label beside the field.
    QString label;
    // The command that reads it ("SD") and writes it ("SD " + text).
    QByteArray command;
    // The start string of the read's reply.
    QByteArray replyStart;
    int readLimitMs = 200;
    // The permitted range, shown as the field's tool tip; the device decides.
    QString hint;
};

// The text fields of one parameter group and whether they can be edited.
class ParameterFields : public QObject {
    Q_OBJECT
public:
    explicit ParameterFields(std::vector<ParameterField> fields, QObject* parent = nullptr);

    int count() const { return int(fields_.size()); }
    const ParameterField& field(int index) const { return fields_.at(size_t(index)); }
    // The index of a name, or -1.
    int indexOf(const QString& name) const;
    const QString& text(int index) const { return texts_.at(size_t(index)); }
    void setText(int index, const QString& text);
    QStringList texts() const;
    void clear();
    bool enabled() const { return enabled_; }
    void setEnabled(bool enabled);

    // A read or write of the group runs: how many of its commands went out so far. total 0 = idle.
    bool busy() const { return progressTotal_ > 0; }
    int progressDone() const { return progressDone_; }
    int progressTotal() const { return progressTotal_; }
    void setProgress(int done, int total);

signals:
    void changed();

private:
    std::vector<ParameterField> fields_;
    std::vector<QString> texts_;
    bool enabled_ = true;
    int progressDone_ = 0;
    int progressTotal_ = 0;
};

} // namespace tarvo
