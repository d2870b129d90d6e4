#pragma once

#include "ImageCapture.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <memory>

class QBuffer;

namespace tarvo {

class CommandLink;
class Operator;

// "Get Image" and "Put Image": a device's settings image captured into a "*.qmi" file from its ":"
// records, and such a file sent back to one device or to every address of a range.
class SettingsImageTransfer : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kFilter = " Q&M Image file(*.qmi)|*.qmi";
    static constexpr const char* kInUse = "File can be in use by another program";
    static constexpr const char* kCannotWrite = " Can not write file!";
    static constexpr const char* kNotCapturing = "Can not open Hexfile";
    static constexpr const char* kSaved = "Hexfile saved successfully!";
    // A capture that hears no record for this long (device time) ends without writing the file.
    static constexpr int kCaptureLimitMs = 10000;

    SettingsImageTransfer(CommandLink& link, Operator& op, QObject* parent = nullptr);
    ~SettingsImageTransfer() override;

    void getImageClicked();
    // Ends a running capture without writing its file, tells the operator why, and starts the gross
    // stream again (for a device that keeps sending records and never the end record).
    void abandonCapture(const QString& why);
    // The stream decoder hands every ":" line here, without its ":" and "\r".
    void imageLine(QByteArrayView text);
    void putImageClicked();

    // "None" and "00".."63": the address range of "Put Image".
    static const QStringList& addressChoices();
    const QString& fromAddress() const { return from_; }
    const QString& toAddress() const { return to_; }
    void setFromAddress(const QString& choice);
    void setToAddress(const QString& choice);

    bool capturing() const { return capture_.active(); }
    // The last capture ended with its end record and the file written.
    bool lastCaptureSaved() const { return saved_; }
    bool putting() const { return putting_; }
    bool isBusy() const { return capturing() || putting_; }
    // The file of the last Get or Put.
    const QString& path() const { return path_; }
    // One line per address of the last put: "Adr:n Done" or "Adr:n Error".
    const QStringList& log() const { return log_; }
    // The status text of the last put, grown across its addresses.
    const QString& status() const { return status_; }
    int progress() const { return progress_; }
    int progressMaximum() const { return progressMaximum_; }

signals:
    void activityChanged(bool busy);
    void addressesChanged();
    void logChanged(const QStringList& log);
    void progressChanged(int value, int maximum);

private:
    // The capture ended: the file is kept or dropped, and the gross stream runs again.
    void captureEnded(ImageCapture::Outcome outcome);
    void captureExpired();
    void restartGrossStream();
    bool putToAddress(int address, bool select, const QByteArray& text);
    void setProgress(int value, int maximum);
    static int addressNumber(const QString& choice);

    CommandLink& link_;
    Operator& op_;
    ImageCapture capture_;
    std::unique_ptr<QBuffer> captured_;
    QTimer captureTimer_;
    QString path_;
    QString from_ = QStringLiteral("None");
    QString to_ = QStringLiteral("None");
    bool putting_ = false;
    bool saved_ = false;
    QStringList log_;
    QString status_;
    int progress_ = 0;
    int progressMaximum_ = 0;
};

} // namespace tarvo
