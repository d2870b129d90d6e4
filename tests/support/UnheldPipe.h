#pragma once

// A pipe with nobody at its other end, for code that must not wait on one. The code under test runs on
// a thread of its own; if it still waits after a few seconds (an open for reading waits for a writer, one
// for writing for a reader), the other end is opened to release it, and the test fails there instead of
// hanging until the suite's time limit.
#include <QFile>
#include <QString>
#include <chrono>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvo::test {

class UnheldPipe {
public:
    explicit UnheldPipe(const QString& path) : path_(path) {
        made_ = ::mkfifo(QFile::encodeName(path_).constData(), 0666) == 0;
        EXPECT_TRUE(made_) << "mkfifo " << path_.toStdString();
    }
    const QString& path() const { return path_; }

    template <class Run> auto run(Run run) const {
        auto result = std::async(std::launch::async, run);
        if (made_ && result.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
            ADD_FAILURE() << "waited on the pipe " << path_.toStdString();
            const QByteArray name = QFile::encodeName(path_);
            // A waiting reader is released by a writer that comes and goes; a waiting writer needs a
            // reader that stays until it is done, or its first write would meet a closed pipe.
            if (const int writer = ::open(name.constData(), O_WRONLY | O_NONBLOCK); writer >= 0)
                ::close(writer);
            if (result.wait_for(std::chrono::milliseconds(200)) == std::future_status::timeout) {
                const int reader = ::open(name.constData(), O_RDONLY | O_NONBLOCK);
                result.wait();
                if (reader >= 0)
                    ::close(reader);
            }
        }
        return result.get();
    }

private:
    QString path_;
    bool made_ = false;
};

} // namespace tarvo::test
