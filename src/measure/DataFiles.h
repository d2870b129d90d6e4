#pragma once

#include "base/Operator.h"
#include "base/ReplacingFile.h"

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QString>
#include <memory>

namespace tarvo {

class RecordingMemory;

// Every data file, log and record ends its lines as the platform does.
#ifdef Q_OS_WIN
inline constexpr char kFileLineEnd[] = "\r\n";
#else
inline constexpr char kFileLineEnd[] = "\n";
#endif

// The data files of the recordings and the logs a TRIGGER start opens: the file-separator option, the
// graph data file, the dosing data file, the GetDosed and average logs, and their number texts.
class DataFiles : public QObject {
    Q_OBJECT
public:
    enum class Separator { Comma, Semicolon, Other };

    static constexpr const char* kCannotWrite = " Can not write file!";
    static constexpr const char* kNotRecorded = "Can't save a graph that is not recorded!";
    static constexpr const char* kNeverDrawn = "Can't save a graph that has never been drawed!";
    static constexpr const char* kFileInUse = "File can be in use by another program";
    static constexpr const char* kCsvSuffix = ".csv";
    static constexpr const char* kCsvFilter = "CSV file for Excel (*.csv)|*.csv";
    static constexpr const char* kSaveCsvHint = "Save graph as *.csv file";

    DataFiles(Operator& op, RecordingMemory& memory, QObject* parent = nullptr);
    ~DataFiles() override;

    // "File Separator" group: Comma and Semicolon put their text into the edit and lock it; Other
    // unlocks it.
    void setSeparatorChoice(Separator choice);
    Separator separatorChoice() const { return choice_; }
    bool separatorLocked() const { return choice_ != Separator::Other; }
    // The edit typed into (only while unlocked).
    void separatorEdited(const QString& text);
    // Loading the settings: "," selects Comma, ";" Semicolon, anything else Other with that text.
    void restoreSeparator(const QString& text);
    const QString& separator() const { return separator_; }

    // The graph name written as the first line of every data file.
    void setGraphName(const QString& name) { graphName_ = name; }
    const QString& graphName() const { return graphName_; }

    // "Log Dosing Data" and "Log Dosing Graph Data": one option shown twice.
    bool logDosingData() const { return logDosingData_; }
    void setLogDosingData(bool on);
    bool logGetDosed() const { return logGetDosed_; }
    // Clearing the option closes the GetDosed log.
    void setLogGetDosed(bool on);
    // The two "Log Average Data" boxes.
    bool logAverageData(int box) const { return logAverage_[box & 1]; }
    void setLogAverageData(int box, bool on);

    // "Save graph as *.csv file": the dosing data file while "Log Dosing Data" is set, else the graph
    // data file. gross: the autotransmit selection is "SG".
    void saveCsvClicked(int slot, bool gross);
    // Both return whether a file was put in place.
    bool saveGraphData(int slot, bool gross);
    bool saveDosingData(int slot);
    // Writing without the dialog (the command-line tool and tests): the same file at `path`.
    bool writeGraphData(const QString& path, int slot, bool gross);
    bool writeDosingData(const QString& path, int slot);

    // At a TRIGGER start that is not an automatic re-arm.
    void openTriggerLogs();
    bool getDosedLogOpen() const { return getDosed_ != nullptr; }
    bool averageLogOpen() const { return average_ != nullptr; }
    QString averageLogPath() const;
    void closeAverageLog();
    // The averaging's own log: created (an existing file truncated) with its header line, in place of
    // any open one. False, with no log open and the reason, when the file cannot be created or written
    // (never into a device, a pipe or a folder).
    bool openAverageLogAt(const QString& path, const QString& header, QString* reason);
    void closeGetDosedLog();
    // One average-log line: value text + separator + time of day in the locale's long time format,
    // flushed at once so that a program that dies loses no line. A line that cannot be written closes
    // the log and says so.
    void appendAverageLine(const QString& valueText);

    // Number texts: the general format with up to 15 significant digits, exponent only when needed,
    // with the given decimal separator. Writes at `out` (at least 32 bytes) and returns the end.
    static char* formatValue(char* out, double value, char decimalPoint);
    static QString valueText(double value);
    // The user's locale decimal separator (the program does not change it).
    static char localeDecimalPoint();

signals:
    void changed();

private:
    bool writeSampleFile(const QString& path, int slot, bool gross, bool dosing, bool requireRecorded);
    // The separator of a sample file: the chosen one, unless it is the locale's decimal separator.
    QByteArray sampleFileSeparator();
    std::unique_ptr<QFile> openLog(bool& option1, bool* option2, const char* header);
    // False (the reason shown, the options that asked for the log cleared) when the line could not be
    // written.
    bool logLineWritten(QFile& file, const QByteArray& line, bool& option1, bool* option2);

    Operator& op_;
    RecordingMemory& memory_;
    Separator choice_ = Separator::Comma;
    QString separator_ = QStringLiteral(",");
    QString graphName_ = QStringLiteral(">Change this text in Graph Options<");
    bool logDosingData_ = false;
    bool logGetDosed_ = false;
    bool logAverage_[2] = {false, false};
    bool separatorNoticeGiven_ = false;
    std::unique_ptr<QFile> getDosed_;
    std::unique_ptr<QFile> average_;
};

} // namespace tarvo
