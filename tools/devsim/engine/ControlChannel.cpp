#include "ControlChannel.h"

#include "Device.h"
#include "Line.h"

#include <QRegularExpression>
#include <QStringList>
#include <algorithm>

namespace devsim {

ControlChannel::ControlChannel(QList<Line*> lines, QObject* parent)
    : QObject(parent), lines_(std::move(lines)) {}

QString ControlChannel::help() {
    return QStringLiteral(
        "Control commands (one per line on standard input; each is answered \"ok\" or \"error: ...\"):\n"
        "  fault LINE none          end any fault\n"
        "  fault LINE silent        the devices hear nothing and send nothing\n"
        "  fault LINE late MS       replies come MS milliseconds late\n"
        "  fault LINE err           every command is answered \"ERR\"\n"
        "  fault LINE garbage       every reply is replaced by random bytes without a carriage return\n"
        "  fault LINE overlong      the next reply is a line of 5000 bytes before its carriage return\n"
        "  fault LINE overrange     values read \"ooooooo\", status packets set the over-range bit\n"
        "  fault LINE underrange    values read \"uuuuuuu\", status packets set the under-range bit\n"
        "  fault LINE noisy         the next streamed line loses its carriage return and runs into the\n"
        "                           line after it\n"
        "  weight LINE ADDR VALUE   set the gross weight of the device with address ADDR\n"
        "  identity LINE ADDR N     set the identity number of the device with address ADDR\n"
        "  profile LINE ADDR NAME [KEY=VALUE ...]\n"
        "                           give the device with address ADDR the weight profile NAME, started\n"
        "                           from its beginning; keys not given take their defaults\n"
        "  nomotion LINE ADDR MS|never\n"
        "                           the no-motion bit comes back MS after a weight change, or never\n"
        "  refuse LINE ADDR none|CMD[,CMD...]\n"
        "                           answer these commands \"ERR\" (\"CZ\", \"SA\", ...; \"TE?\" the read\n"
        "                           alone, not \"TE1\"); none ends it\n"
        "  averages LINE ADDR VALUE [VALUE ...]\n"
        "                           the next \"GA\" answers, in order (\"+99999\", \"+012.34\", ...)\n"
        "  boot LINE ADDR on [misses=N] [refuse=K] [erase=fail] [silent]\n"
        "                           fit the programming switch and reset: the boot monitor answers at\n"
        "                           9600 baud; misses=N leaves the first N sync bytes unanswered,\n"
        "                           refuse=K answers a pass's record K (0 = first) with 0x15, erase=fail\n"
        "                           answers the erase with 0x55, silent answers nothing\n"
        "  boot LINE ADDR off       remove the switch and reset: the firmware starts (at 9600 baud once\n"
        "                           it has been programmed)\n"
        "  heard LINE ADDR          the command lines the device heard since the last \"heard\",\n"
        "                           answered on one line: \"ok\", a blank and the lines joined by \"|\"\n"
        "  boot LINE ADDR state     answered \"erases=E passes=P records=R mode=M\" instead of \"ok\": the\n"
        "                           boot monitor's erases so far, passes ended, records of the last pass,\n"
        "                           and its step (sync, wake, kernel, erase, records, ended)\n"
        "  image LINE ADDR endless|normal\n"
        "                           endless: \"GI\" starts records that never reach the end record (until\n"
        "                           another stream command); normal: the whole image and its end record\n"
        "  quit                     end the simulator\n"
        "End of input does not end the simulator; SIGTERM and SIGINT do.\n");
}

Device* ControlChannel::deviceAt(const QString& lineText, const QString& addressText, QString* error) const {
    Line* line = lineAt(lineText, error);
    if (!line)
        return nullptr;
    bool ok = false;
    const int address = addressText.toInt(&ok);
    Device* device = ok ? line->device(address) : nullptr;
    if (!device)
        *error = QStringLiteral("error: no device with address %1 on line %2").arg(addressText, lineText);
    return device;
}

QString ControlChannel::setProfile(const QStringList& words) {
    if (words.size() < 4)
        return QStringLiteral("error: usage: profile LINE ADDR NAME [KEY=VALUE ...]");
    QString error;
    Device* device = deviceAt(words[1], words[2], &error);
    if (!device)
        return error;
    WeightProfile::Settings settings;
    if (!WeightProfile::kindFromName(words[3], &settings.kind))
        return QStringLiteral("error: unknown profile %1").arg(words[3]);
    for (qsizetype i = 4; i < words.size(); ++i) {
        const qsizetype eq = words[i].indexOf(u'=');
        const QString key = words[i].left(std::max<qsizetype>(0, eq)).toLower();
        const QString unknown = QStringLiteral("error: unknown profile key \"%1\"").arg(words[i]);
        if (eq <= 0 || key == u"profile") // the name is the third word
            return unknown;
        bool known = false;
        if (!settings.setKey(key, words[i].mid(eq + 1), &known, &error))
            return known ? QStringLiteral("error: ") + error : unknown;
    }
    if (const QString problem = settings.problem(); !problem.isEmpty())
        return QStringLiteral("error: ") + problem;
    device->setProfile(settings);
    return QStringLiteral("ok");
}

QString ControlChannel::setBehaviour(const QString& verb, const QStringList& words) {
    if (words.size() < 4)
        return QStringLiteral("error: usage: %1 LINE ADDR %2")
            .arg(verb, verb == u"nomotion" ? "MS|never"
                       : verb == u"refuse" ? "none|CMD[,CMD...]"
                                           : "VALUE [VALUE ...]");
    QString error;
    Device* device = deviceAt(words[1], words[2], &error);
    if (!device)
        return error;
    if (verb == u"nomotion") {
        bool ok = words.size() == 4;
        const int ms = words[3] == u"never" ? -1 : words[3].toInt(&ok);
        if (!ok || ms < -1)
            return QStringLiteral("error: usage: nomotion LINE ADDR MS|never");
        device->setSettleMs(ms);
    } else if (verb == u"refuse") {
        QList<QByteArray> mnemonics;
        if (words[3].toLower() != u"none")
            for (const QString& m : words[3].split(u',', Qt::SkipEmptyParts))
                mnemonics << m.toLatin1();
        device->setRefused(mnemonics);
    } else {
        QList<QByteArray> values;
        for (qsizetype i = 3; i < words.size(); ++i) {
            // A value as the device prints it: a sign, digits and at most one decimal point.
            static const QRegularExpression valueText(QStringLiteral("^[+-][0-9.]{1,7}$"));
            if (!valueText.match(words[i]).hasMatch() || words[i].count(u'.') > 1)
                return QStringLiteral("error: not a value: %1").arg(words[i]);
            values << words[i].toLatin1();
        }
        device->queueAverageReplies(values);
    }
    return QStringLiteral("ok");
}

QString ControlChannel::setBoot(const QStringList& words) {
    const QString usage = QStringLiteral("error: usage: boot LINE ADDR on [misses=N] [refuse=K] [erase=fail] "
                                         "[silent] | boot LINE ADDR off | boot LINE ADDR state");
    if (words.size() < 4)
        return usage;
    QString error;
    Device* device = deviceAt(words[1], words[2], &error);
    if (!device)
        return error;
    const QString state = words[3].toLower();
    if (state == u"state" && words.size() == 4)
        return device->bootMonitor().stateText();
    if (state == u"off" && words.size() == 4) {
        device->setBootMode(false);
        return QStringLiteral("ok");
    }
    if (state != u"on")
        return usage;
    BootMonitor::Faults faults;
    if (!BootMonitor::parseFaults(words.mid(4), &faults, &error))
        return QStringLiteral("error: ") + error;
    device->bootMonitor().setFaults(faults);
    device->setBootMode(true);
    return QStringLiteral("ok");
}

Line* ControlChannel::lineAt(const QString& text, QString* error) const {
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < 1 || n > lines_.size()) {
        *error = QStringLiteral("error: no line %1").arg(text);
        return nullptr;
    }
    return lines_[n - 1];
}

QString ControlChannel::execute(const QString& command) {
    const QStringList words = command.simplified().split(u' ', Qt::SkipEmptyParts);
    if (words.isEmpty())
        return QStringLiteral("error: empty command");
    const QString verb = words[0].toLower();
    QString error;
    if (verb == u"quit") {
        emit quitRequested();
        return QStringLiteral("ok");
    }
    if (verb == u"fault") {
        if (words.size() < 3)
            return QStringLiteral("error: usage: fault LINE none|silent|late "
                                  "MS|err|garbage|overlong|overrange|underrange|noisy");
        Line* line = lineAt(words[1], &error);
        if (!line)
            return error;
        Line::Fault fault{};
        if (!Line::parseFault(words[2].toLower(), &fault))
            return QStringLiteral("error: unknown fault %1").arg(words[2]);
        int lateMs = 0;
        if (fault == Line::Fault::Late) {
            bool ok = false;
            lateMs = words.size() == 4 ? words[3].toInt(&ok) : 0;
            if (!ok || lateMs < 0)
                return QStringLiteral("error: usage: fault LINE late MS");
        } else if (words.size() != 3) {
            return QStringLiteral("error: fault %1 takes no value").arg(words[2]);
        }
        line->setFault(fault, lateMs);
        return QStringLiteral("ok");
    }
    if (verb == u"profile")
        return setProfile(words);
    if (verb == u"nomotion" || verb == u"refuse" || verb == u"averages")
        return setBehaviour(verb, words);
    if (verb == u"boot")
        return setBoot(words);
    if (verb == u"heard") {
        if (words.size() != 3)
            return QStringLiteral("error: usage: heard LINE ADDR");
        Device* device = deviceAt(words[1], words[2], &error);
        if (!device)
            return error;
        QStringList lines;
        for (const QByteArray& line : device->takeHeardLines())
            lines << QString::fromLatin1(line);
        return lines.isEmpty() ? QStringLiteral("ok") : QStringLiteral("ok ") + lines.join(u'|');
    }
    if (verb == u"image") {
        const QString mode = words.size() == 4 ? words[3].toLower() : QString();
        if (mode != u"endless" && mode != u"normal")
            return QStringLiteral("error: usage: image LINE ADDR endless|normal");
        Device* device = deviceAt(words[1], words[2], &error);
        if (!device)
            return error;
        device->setEndlessImage(mode == u"endless");
        return QStringLiteral("ok");
    }
    if (verb == u"weight" || verb == u"identity") {
        if (words.size() != 4)
            return QStringLiteral("error: usage: %1 LINE ADDR %2")
                .arg(verb, verb == u"weight" ? "VALUE" : "N");
        Device* device = deviceAt(words[1], words[2], &error);
        if (!device)
            return error;
        bool ok = false;
        if (verb == u"weight") {
            const double value = words[3].toDouble(&ok);
            if (!ok || !DeviceConfig::isValidWeight(value))
                return QStringLiteral("error: not a number: %1").arg(words[3]);
            device->setWeight(value);
        } else {
            const int identity = words[3].toInt(&ok);
            if (!ok || identity < 0 || identity > 9999)
                return QStringLiteral("error: identity must be 0..9999");
            device->setIdentity(identity);
        }
        return QStringLiteral("ok");
    }
    return QStringLiteral("error: unknown command %1").arg(words[0]);
}

} // namespace devsim
