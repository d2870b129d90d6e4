// The one save path of every file the program writes, and the one way it reads its own settings: what
// is there and is no regular file is never replaced, never waited on.
#include "base/ReplacingFile.h"
#include "support/SmallDisk.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace tarvo;

namespace {

mode_t kindOf(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? (info.st_mode & S_IFMT) : 0;
}

bool save(const QString& path, const QByteArray& bytes, QString* error) {
    ReplacingFile file(path);
    if (file.open()) {
        file.write(bytes);
        if (file.commit())
            return true;
    }
    *error = file.errorString();
    return false;
}

} // namespace

TEST(ReplacingFile, ADeviceAPipeASocketOrAFolderIsNeverReplacedAndNothingIsLeftBeside) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Case {
        QString path;
        mode_t kind;
        QString reason;
    };
    std::vector<Case> cases;
    // Nodes of its own where the test may make them (root); never the machine's /dev/null or /dev/full,
    // which a regression would replace for every program.
    const QString node = dir.filePath("null");
    const bool haveNode = ::mknod(QFile::encodeName(node).constData(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    if (haveNode)
        cases.push_back({node, S_IFCHR, "Is a character device, not a regular file"});
    const QString fifo = dir.filePath("fifo.csv");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0666), 0);
    cases.push_back({fifo, S_IFIFO, "Is a pipe, not a regular file"});
    const QString socketPath = dir.filePath("sock");
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray encoded = QFile::encodeName(socketPath);
    ASSERT_LT(encoded.size(), qsizetype(sizeof address.sun_path));
    std::memcpy(address.sun_path, encoded.constData(), std::size_t(encoded.size()));
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    cases.push_back({socketPath, S_IFSOCK, "Is a socket, not a regular file"});
    ASSERT_TRUE(QDir().mkpath(dir.filePath("folder.csv")));
    cases.push_back({dir.filePath("folder.csv"), S_IFDIR, "Is a directory"});
    // A link to a device or a pipe is what it names.
    ASSERT_TRUE(QFile::link(haveNode ? node : fifo, dir.filePath("full.csv")));
    cases.push_back(
        {dir.filePath("full.csv"), S_IFLNK,
         haveNode ? "Is a character device, not a regular file" : "Is a pipe, not a regular file"});

    for (const Case& c : cases) {
        QString error;
        EXPECT_FALSE(save(c.path, "1.5,0\n", &error)) << c.path.toStdString();
        EXPECT_EQ(error, c.reason) << c.path.toStdString();
        EXPECT_EQ(kindOf(c.path), c.kind) << c.path.toStdString();
        // The same answer before any work is done.
        EXPECT_EQ(ReplacingFile::checkTarget(c.path), c.reason) << c.path.toStdString();
    }
    ::close(sock);
    EXPECT_EQ(kindOf(dir.filePath("full.csv")), S_IFLNK);
    QStringList left =
        QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    left.sort();
    QStringList expected{"fifo.csv", "folder.csv", "full.csv", "sock"};
    if (haveNode)
        expected << "null";
    expected.sort();
    EXPECT_EQ(left, expected); // no temporary file beside them

    // A regular file, and a link to one, are replaced as before.
    QString error;
    const QString regular = dir.filePath("data.csv");
    EXPECT_TRUE(save(regular, "old\n", &error)) << error.toStdString();
    EXPECT_TRUE(save(regular, "new\n", &error)) << error.toStdString();
    QFile f(regular);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "new\n");
    f.close();

    // A file of megabytes, handed over in pieces of every size, arrives whole, byte for byte.
    QByteArray large;
    for (int i = 0; large.size() < (5 << 20); ++i)
        large += QByteArray::number(qint64(i) * 7919) + ';';
    {
        ReplacingFile file(regular);
        ASSERT_TRUE(file.open());
        for (qsizetype at = 0, piece = 1; at < large.size(); at += piece, piece = piece * 3 % 700001 + 1)
            file.write(large.constData() + at, std::min(piece, large.size() - at));
        ASSERT_TRUE(file.commit()) << file.errorString().toStdString();
    }
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll() == large);
    EXPECT_EQ(ReplacingFile::checkTarget(dir.filePath("missing/x.csv")), "No such file or directory");
    EXPECT_EQ(ReplacingFile::checkTarget(regular), "");
}

TEST(ReplacingFile, AFullDiskIsAFailureWithItsReasonAndTheOldFileStays) {
    test::SmallDisk disk(16);
    if (!disk.mounted())
        GTEST_SKIP() << disk.whyNot();
    const QString path = disk.path("line7.mxr");
    QString error;
    ASSERT_TRUE(save(path, "[DosingCommand]\nPD1=1\n", &error)) << error.toStdString();
    disk.fill(0);
    EXPECT_FALSE(save(path, QByteArray(100, 'x'), &error));
    EXPECT_EQ(error, "No space left on device");
    // Also when a block too large for the buffer is written straight out.
    EXPECT_FALSE(save(path, QByteArray(1 << 20, 'x'), &error));
    EXPECT_EQ(error, "No space left on device");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "[DosingCommand]\nPD1=1\n");
    EXPECT_EQ(disk.entries(), QStringList{"line7.mxr"});
}

// Settings are read without waiting on a pipe that has no writer, and only from a regular file.
TEST(ReadRegularFile, APipeOrADeviceIsNotReadAndNotWaitedOn) {
    QTemporaryDir dir;
    const QString fifo = dir.filePath("Tarvo.ini");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0666), 0);
    // Should the read block, a writer that comes and goes after a while releases it, so the test fails
    // instead of hanging.
    std::atomic<bool> done{false};
    std::thread release([&] {
        for (int i = 0; i < 300 && !done; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!done) {
            const int fd = ::open(QFile::encodeName(fifo).constData(), O_RDWR | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
        }
    });
    QString reason;
    const std::optional<QByteArray> fromPipe = readRegularFile(fifo, 1000, &reason);
    done = true;
    release.join();
    EXPECT_FALSE(fromPipe.has_value());
    EXPECT_EQ(reason, "Is a pipe, not a regular file");

    EXPECT_FALSE(readRegularFile("/dev/zero", 1000, &reason).has_value());
    EXPECT_EQ(reason, "Is a character device, not a regular file");
    EXPECT_FALSE(readRegularFile(dir.path(), 1000, &reason).has_value());
    EXPECT_EQ(reason, "Is a directory");
    EXPECT_FALSE(readRegularFile(dir.filePath("none.ini"), 1000, &reason).has_value());
    EXPECT_EQ(reason, "No such file or directory");

    const QString regular = dir.filePath("plain.ini");
    {
        QFile f(regular);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Port]\nBaud=9600\n");
    }
    EXPECT_EQ(readRegularFile(regular, 1000, &reason), QByteArray("[Port]\nBaud=9600\n"));
    EXPECT_EQ(readRegularFile(regular, 6, &reason), QByteArray("[Port]")); // no more than asked
}
