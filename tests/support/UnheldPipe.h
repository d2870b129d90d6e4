#pragma once

// A pipe with no writer, for readers that must not wait on one. The read runs on a thread of its own; a
// read still waiting after a few seconds is released by opening the pipe's other end, and the test fails
// there instead of hanging until the suite's time limit.
#include <QFile>
#include <QString>
#include <QTemporaryDir>
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

    template <class Read> auto read(Read read) const {
        auto result = std::async(std::launch::async, read);
        if (made_ && result.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
            ADD_FAILURE() << "the read waited on the pipe " << path_.toStdString();
            for (int tries = 0;
                 tries < 100 && result.wait_for(std::chrono::milliseconds(50)) == std::future_status::timeout;
                 ++tries) {
                const int writer = ::open(QFile::encodeName(path_).constData(), O_WRONLY | O_NONBLOCK);
                if (writer >= 0)
                    ::close(writer);
            }
        }
        return result.get();
    }

private:
    QString path_;
    bool made_ = false;
};

} // namespace tarvo::test
