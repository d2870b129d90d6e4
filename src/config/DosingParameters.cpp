#include "DosingParameters.h"

#include "base/Operator.h"
#include "base/TimeScale.h"
#include "link/CommandLink.h"
#include "link/SerialPort.h"

namespace tarvo {

namespace {
constexpr int kFirstReadLimitMs = 2000;
constexpr int kLimitMs = 500;

constexpr const char* kHints[16] = {
    "Pre-Fill mode:  0=No Pre-fill  1=With coarse valve  2=With fine valve  3=both valves",
    "Correction factor for in-flight value. 0...50 percent",
    "Time zero check average. 0...65535ms",
    "Tare delay from trigger pulse IN. 0...65535ms",
    "Time tare average. 0...65535ms",
    "Delay after pre-fill . 0...65535ms",
    "Blanking time after coarse valve shut off. 0...65535ms",
    "In-flight delay time after fine valve shut off. 0...65535ms",
    "Time filling weight average. 0...65535ms",
    "Zero tolerance from calibration zero. 0...99999 increments",
    "Tare reference, nominal bottle weight. 0...99999 increments",
    "Tare tolerance, deviation from nom. bottle weight. 0...99999 increments",
    "Pre-fill level, set-point for end of pre-filling. 0...99999 increments",
    "Fine-fill weight, part of fine filling valve. 0...99999 increments",
    "Filling weight. 0...99999 increments",
    "In-flight value. 0...99999 increments",
};

// The loss weigher's fields are labelled "PD1".."PD5" like the dosing ones; its commands are "PL".
std::vector<ParameterField> fieldsOf(const QByteArray& command, int count) {
    std::vector<ParameterField> fields;
    for (int n = 1; n <= count; ++n) {
        const QByteArray i = QByteArray::number(n);
        fields.push_back({QString::fromLatin1(command + i), QString::fromLatin1("PD" + i), command + i,
                          "P" + i + ":", n == 1 ? kFirstReadLimitMs : kLimitMs,
                          QString::fromLatin1(kHints[n - 1])});
    }
    return fields;
}

struct GroupTexts {
    const char* uploaded;
    const char* store;
    const char* notStored;
    const char* stored;
};
constexpr GroupTexts kDosingTexts{"Dosing set-up parameters uploaded successfully!", "SD\r",
                                  "Communication error... Dosing set-up parameters NOT saved!",
                                  "Dosing set-up parameters saved successfully!"};
constexpr GroupTexts kLossTexts{"LossWeigher set-up parameters uploaded successfully!", "SL\r",
                                "Communication error... LossWeigher set-up parameters NOT saved!",
                                "LossWeigher set-up parameters saved successfully!"};
} // namespace

DosingParameters::DosingParameters(CommandLink& link, Operator& op, ConfigHooks hooks, QObject* parent)
    : QObject(parent), link_(link), op_(op), hooks_(std::move(hooks)), dosing_(fieldsOf("PD", 16)),
      loss_(fieldsOf("PL", 5)) {}

void DosingParameters::readClicked(Group group) {
    ParameterFields& fields = this->fields(group);
    if (fields.busy())
        return;
    const GroupTexts& texts = group == Group::Dosing ? kDosingTexts : kLossTexts;
    // A monotonic clock: the duration stays right across the hour and a clock change.
    const qint64 started = monotonicMs();
    fields.setProgress(0, fields.count());
    hooks_.pageControl(false);
    op_.showInfoLine(Page::Mxr41, QString::fromLatin1(kUploading));
    fields.clear();
    const int port = link_.port().portNumber();
    for (int i = 0; i < fields.count(); ++i) {
        const ParameterField& f = fields.field(i);
        const QByteArray reply =
            link_.sendAndReceive(port, f.command + '\r', f.readLimitMs, Framing::startingWith(f.replyStart));
        if (i == 0 && reply == kTimeOutErr) {
            op_.showInfoLine(Page::Mxr41, QString::fromLatin1(kNotFound));
            fields.setText(0, QString());
            hooks_.pageControl(true);
            fields.setProgress(0, 0);
            return;
        }
        fields.setText(i, QString::fromLatin1(reply));
        fields.setProgress(i + 1, fields.count());
    }
    hooks_.pageControl(true);
    op_.showInfoLine(Page::Mxr41, QString::fromLatin1(texts.uploaded));
    updateTime_ = "Updatatime = " + QString::number(monotonicMs() - started);
    fields.setProgress(0, 0);
    emit changed();
}

void DosingParameters::writeClicked(Group group) {
    ParameterFields& fields = this->fields(group);
    if (fields.busy())
        return;
    const GroupTexts& texts = group == Group::Dosing ? kDosingTexts : kLossTexts;
    const int total = fields.count() + 1;
    fields.setProgress(0, total);
    hooks_.pageControl(false);
    op_.showInfoLine(Page::Mxr41, QString::fromLatin1(kSaving));
    saved_ = false;
    emit changed();
    const int port = link_.port().portNumber();
    const Framing ok = Framing::startingWith("O");
    for (int i = 0; i < fields.count(); ++i) {
        const ParameterField& f = fields.field(i);
        if (link_.sendAndReceive(port, f.command + ' ' + fields.text(i).toLatin1() + '\r', kLimitMs, ok) !=
            "K") {
            const QString refused = "Invalid value for " + f.name + "... values not saved!";
            op_.showMessage(refused);
            op_.showInfoLine(Page::Mxr41, refused);
            hooks_.pageControl(true);
            fields.setProgress(0, 0);
            return;
        }
        fields.setProgress(i + 1, total);
    }
    if (link_.sendAndReceive(port, texts.store, kLimitMs, ok) != "K") {
        op_.showMessage(QString::fromLatin1(texts.notStored));
        op_.showInfoLine(Page::Mxr41, QString::fromLatin1(texts.notStored));
        hooks_.pageControl(true);
        fields.setProgress(0, 0);
        return;
    }
    op_.showInfoLine(Page::Mxr41, QString::fromLatin1(texts.stored));
    hooks_.pageControl(true);
    saved_ = true;
    fields.setProgress(0, 0);
    emit changed();
}

} // namespace tarvo
