#pragma once

#include <QList>
#include <QObject>
#include <QString>

namespace devsim {

class Device;
class Line;

// The simulator's run-time control: one command per text line, answered with "ok" or "error: ...".
//   fault LINE none|silent|late MS|err|garbage|overlong|overrange|underrange|noisy
//   weight LINE ADDR VALUE
//   identity LINE ADDR N
//   profile LINE ADDR NAME [KEY=VALUE ...]
//   nomotion LINE ADDR MS|never
//   refuse LINE ADDR none|CMD[,CMD...]
//   averages LINE ADDR VALUE [VALUE ...]
//   boot LINE ADDR on [FAULT ...] | off
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
    Device* deviceAt(const QString& lineText, const QString& addressText, QString* error) const;
    QString setProfile(const QStringList& words);
    // nomotion, refuse and averages: how one device behaves from now on.
    QString setBehaviour(const QString& verb, const QStringList& words);
    QString setBoot(const QStringList& words);

    QList<Line*> lines_;
};

} // namespace devsim
