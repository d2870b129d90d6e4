#pragma once

#include <QList>
#include <QObject>
#include <QString>

namespace devsim {

class Line;

// The simulator's run-time control: one command per text line, answered with "ok" or "error: ...".
//   fault LINE none|silent|late MS|err|garbage|overlong|overrange|underrange
//   weight LINE ADDR VALUE
//   identity LINE ADDR N
//   quit
class ControlChannel : public QObject {
    Q_OBJECT
public:
    explicit ControlChannel(QList<Line*> lines, QObject* parent = nullptr);

    QString execute(const QString& command);
    static QString help();

signals:
    void quitRequested();

private:
    Line* lineAt(const QString& text, QString* error) const;

    QList<Line*> lines_;
};

} // namespace devsim
