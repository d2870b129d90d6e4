#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

namespace tarvo {

// The autotransmit selection ("SG" gross or "SN" net) and the readout text it governs.
class LiveReadout : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    const QString& autotransmit() const { return autotransmit_; }
    // Sets the selection without any device traffic (restoring settings at start).
    void restoreAutotransmit(const QString& selection);
    bool grossSelected() const { return autotransmit_ == QLatin1String("SG"); }
    // The stream matcher's start string for the selection: "G" or "N".
    QByteArray streamStart() const { return grossSelected() ? "G" : "N"; }
    // The command that starts the selected stream: "SG\r" or "SN\r".
    QByteArray streamCommand() const { return autotransmit_.toLatin1() + '\r'; }
    QString buttonCaption() const { return QStringLiteral("Start autotransmit (%1)").arg(autotransmit_); }

    const QString& text() const { return text_; }
    void setText(const QString& text);

signals:
    void autotransmitChanged(const QString& selection);
    void textChanged(const QString& text);

private:
    QString autotransmit_ = QStringLiteral("SN");
    QString text_;
};

} // namespace tarvo
