#pragma once

#include "ConfigHooks.h"
#include "ParameterFields.h"

#include <QObject>
#include <QString>

namespace tarvo {

class CommandLink;
class Operator;

// The "Dosing Commands" (PD1..PD16) and "Loss Weigher" (PL1..PL5) groups of the MXR 41xx page: read
// every parameter into its field, write them back one command each (stopping at the first refusal),
// then store them with "SD" or "SL".
class DosingParameters : public QObject {
    Q_OBJECT
public:
    enum class Group { Dosing, LossWeigher };
    static constexpr const char* kUploading = "Uploading dosing commands...";
    static constexpr const char* kSaving = "Saving dosing commands...";
    static constexpr const char* kNotFound = "Device not found... Reset device and press \"Find device\"";
    static constexpr const char* kInitialUpdateTime = "PD updatetime";

    DosingParameters(CommandLink& link, Operator& op, ConfigHooks hooks, QObject* parent = nullptr);

    ParameterFields& fields(Group group) { return group == Group::Dosing ? dosing_ : loss_; }
    ParameterFields& dosing() { return dosing_; }
    ParameterFields& lossWeigher() { return loss_; }
    // One flag for both groups: true once the device acknowledged the store of the last write.
    bool saved() const { return saved_; }
    // "PD updatetime", then "Updatatime = " and the last read's duration in ms.
    const QString& updateTimeText() const { return updateTime_; }

    // "Read Dosing Cmd.", "Write Dosing Cmd.", "Read Loss Cmd." and the loss weigher's write.
    void readClicked(Group group);
    void writeClicked(Group group);

signals:
    void changed();

private:
    CommandLink& link_;
    Operator& op_;
    ConfigHooks hooks_;
    ParameterFields dosing_;
    ParameterFields loss_;
    bool saved_ = false;
    QString updateTime_ = QString::fromLatin1(kInitialUpdateTime);
};

} // namespace tarvo
