#pragma once

#include <QObject>
#include <QStringList>

namespace tarvo {

// The Commands page's log list, shared by the command panel and the multi-command sender. It keeps at
// least the newest kMaxLines lines (the oldest tenth goes in one step once there are more), so a loop left
// running for days cannot eat the memory; every line is announced as it is added, so a caller that must
// keep them all (tarvo-cli run) sees each one.
class CommandLog : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype kMaxLines = 100000;

    explicit CommandLog(QObject* parent = nullptr) : QObject(parent) {}

    void add(const QString& line);
    void clear();
    const QStringList& lines() const { return lines_; }

signals:
    void lineAdded(const QString& line);
    void cleared();
    // The oldest count lines were dropped.
    void trimmed(qsizetype count);

private:
    QStringList lines_;
};

} // namespace tarvo
