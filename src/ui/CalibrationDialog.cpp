#include "CalibrationDialog.h"

#include "app/MainController.h"
#include "widgets/Controls.h"
#include "widgets/ValueLabel.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QVBoxLayout>

namespace tarvo::ui {

CalibrationDialog::CalibrationDialog(MainController& controller, QWidget* parent)
    : QWidget(parent, Qt::Window), c_(controller), wizard_(controller.calibrationWizard()) {
    setWindowTitle(QString::fromLatin1(CalibrationWizard::kCaption));
    setAccessibleName(windowTitle());
    auto* layout = new QVBoxLayout(this);
    instruction_ = new ValueLabel(wizard_.instruction(), "Instruction", this);
    QFont bold = instruction_->font();
    bold.setBold(true);
    instruction_->setFont(bold);
    instruction_->setWordWrap(true);
    layout->addWidget(instruction_);

    auto* loadRow = new QHBoxLayout;
    auto* loadLabel = new QLabel("Load", this);
    load_ = new QLineEdit(wizard_.loadText(), this);
    load_->setAccessibleName("Load");
    loadLabel->setBuddy(load_);
    units_ = new ValueLabel(wizard_.unitsText(), "Units", this);
    loadRow->addWidget(loadLabel);
    loadRow->addWidget(load_);
    loadRow->addWidget(units_);
    loadRow->addStretch();
    layout->addLayout(loadRow);

    auto* points = new QGroupBox("Decimal point", this);
    decimalPointBox_ = points;
    points->setAccessibleName(points->title());
    auto* grid = new QGridLayout(points);
    for (std::size_t i = 0; i < decimalPoints_.size(); ++i) {
        QRadioButton* option = captionedOption(CalibrationWizard::kDecimalPoints[i].caption, points);
        grid->addWidget(option, int(i / 3), int(i % 3));
        onOperatorChoice(option, this, [this, i] { wizard_.setDecimalPoint(int(i)); });
        decimalPoints_[i] = option;
    }
    layout->addWidget(points);

    auto* buttons = new QHBoxLayout;
    continue_ = captionedButton("CONTINUE", this);
    exit_ = captionedButton("EXIT", this);
    buttons->addWidget(continue_);
    buttons->addStretch();
    buttons->addWidget(exit_);
    layout->addLayout(buttons);

    onOperatorEdit(load_, this, [this](const QString& text) { wizard_.setLoadText(text); });
    connect(continue_, &QPushButton::clicked, this,
            [this] { whenLinkIdle(c_, [this] { wizard_.continueClicked(); }); });
    connect(exit_, &QPushButton::clicked, this,
            [this] { whenLinkIdle(c_, [this] { wizard_.exitClicked(); }); });
    connect(&wizard_, &CalibrationWizard::changed, this, &CalibrationDialog::sync);
    sync();
}

void CalibrationDialog::sync() {
    instruction_->setText(wizard_.instruction());
    units_->setText(wizard_.unitsText());
    showText(load_, wizard_.loadText());
    QList<QAbstractButton*> options;
    for (QRadioButton* option : decimalPoints_)
        options << option;
    showSelection(options, wizard_.decimalPoint());
    // While the calibration runs the window takes no input, but the instruction stays readable: it is
    // what the operator must do next.
    const bool input = wizard_.windowEnabled();
    for (QWidget* w : std::initializer_list<QWidget*>{load_, decimalPointBox_, continue_, exit_})
        w->setEnabled(input);
    if (wizard_.windowVisible() != isVisible()) {
        setVisible(wizard_.windowVisible());
        if (isVisible()) {
            raise();
            activateWindow();
            load_->setFocus();
        }
    }
}

void CalibrationDialog::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (wizard_.state() == CalibrationWizard::State::Open)
        QTimer::singleShot(0, this, [this] { whenLinkIdle(c_, [this] { wizard_.exitClicked(); }); });
}

void CalibrationDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        if (!wizard_.windowEnabled())
            return;
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace tarvo::ui
