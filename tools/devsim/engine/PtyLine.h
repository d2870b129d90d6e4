#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QString>
#include <memory>

namespace devsim {

class Line;

// A pseudo-terminal whose far end is a simulated line: the program opens the slave path as its serial
// port. The slave stays open here too, so the line never hangs up when the program closes and
// reopens it; the host's rate is read from the slave's terminal settings whenever it matters.
class PtyLine : public QObject {
    Q_OBJECT
public:
    explicit PtyLine(Line* line, QObject* parent = nullptr);
    ~PtyLine() override;

    bool open(QString* error = nullptr);
    bool isOpen() const { return master_ >= 0; }
    QString slavePath() const { return slavePath_; }
    // A symbolic link to the slave path (an existing link there is replaced); removed again on destruction.
    bool makeLink(const QString& path, QString* error = nullptr);
    // The host's rate as its terminal settings say, 0 when unknown.
    int hostBaud() const;

private:
    void readMaster();
    void writeMaster();
    void fromLine(const QByteArray& bytes);

    QPointer<Line> line_;
    int master_ = -1;
    int slave_ = -1;
    QString slavePath_;
    QStringList links_;
    std::unique_ptr<QSocketNotifier> readNotifier_;
    std::unique_ptr<QSocketNotifier> writeNotifier_;
    QByteArray outgoing_;
};

} // namespace devsim
