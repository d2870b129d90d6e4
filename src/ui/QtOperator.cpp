#include "QtOperator.h"

#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QMessageBox>

namespace tarvo::ui {

QString qtFilter(const QString& filter) {
    const QStringList parts = filter.split(u'|');
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        out << parts[i];
    return out.isEmpty() ? filter : out.join(";;");
}

void QtOperator::showInfoMessage(const QString& text) {
    for (const auto& label : lines_) {
        if (!label)
            continue;
        label->setText(text);
        label->repaint();
    }
}

void QtOperator::showInfoLine(Page page, const QString& text) {
    if (auto& label = lines_[static_cast<int>(page)]) {
        label->setText(text);
        label->repaint();
    }
}

void QtOperator::showMessage(const QString& text, const QString& caption, MessageIcon icon) {
    const QString title = caption.isEmpty() ? QApplication::applicationName() : caption;
    QMessageBox box(window_);
    box.setWindowTitle(title);
    box.setText(text);
    box.setIcon(icon == MessageIcon::Information ? QMessageBox::Information
                : icon == MessageIcon::Warning   ? QMessageBox::Warning
                : icon == MessageIcon::Error     ? QMessageBox::Critical
                                                 : QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

bool QtOperator::askYesNo(const QString& text, const QString& caption) {
    return QMessageBox::question(window_, caption.isEmpty() ? QApplication::applicationName() : caption, text,
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

bool QtOperator::askOkCancel(const QString& text, const QString& caption) {
    return QMessageBox::question(window_, caption.isEmpty() ? QApplication::applicationName() : caption, text,
                                 QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

QString QtOperator::askOpenFileName(const QString& caption, const QString& filter) {
    return QFileDialog::getOpenFileName(window_, caption, QString(), qtFilter(filter));
}

QString QtOperator::askSaveFileName(const QString& defaultSuffix, const QString& filter) {
    QFileDialog dialog(window_);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(qtFilter(filter));
    QString suffix = defaultSuffix;
    suffix.remove(u'*');
    if (suffix.startsWith(u'.'))
        suffix.remove(0, 1);
    dialog.setDefaultSuffix(suffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

std::optional<Rgb> QtOperator::askColour(Rgb current) {
    const QColor chosen = QColorDialog::getColor(QColor::fromRgb(current), window_);
    if (!chosen.isValid())
        return std::nullopt;
    return chosen.rgb() & 0xFFFFFF;
}

} // namespace tarvo::ui

namespace tarvo::ui {

QString QtOperator::askValue(const QString& caption, const QString& range, const QString& units) {
    if (ChangeValueDialog* shared = changeValue_ ? changeValue_() : nullptr)
        return shared->ask(caption, range, units);
    ChangeValueDialog window(window_);
    return window.ask(caption, range, units);
}

} // namespace tarvo::ui
