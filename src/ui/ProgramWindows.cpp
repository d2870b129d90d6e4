#include "ProgramWindows.h"

#include "app/MainController.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QEvent>
#include <QHash>
#include <QIcon>
#include <QIconEngine>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <QStyleOption>
#include <QTimer>
#include <algorithm>
#include <initializer_list>

namespace tarvo::ui {

namespace {
// Plain widgets with a frame of their own are presented by Qt as a "filler", which a screen reader does
// not announce as a window: these are windows.
QAccessibleInterface* windowAccessible(const QString& className, QObject* object) {
    const QByteArray name = className.toLatin1();
    for (const QMetaObject* window : {&CalibrationDialog::staticMetaObject,
                                      &BigDisplayWindow::staticMetaObject, &DataWindow::staticMetaObject})
        if (name == window->className() && object && object->isWidgetType())
            return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    return nullptr;
}

// The installed icon's pictures, built in: a build that is not installed shows it too. They are decoded
// when the window system first asks for them (an offscreen session never does). The two largest only
// serve large task switchers, so they are offered once the main window has been painted.
constexpr std::initializer_list<int> kIconSizesAtStart = {16, 22, 24, 32, 48, 64};
constexpr std::initializer_list<int> kIconSizesLater = {16, 22, 24, 32, 48, 64, 128, 256};

class ProgramIconEngine : public QIconEngine {
public:
    explicit ProgramIconEngine(std::initializer_list<int> sizes) : sizes_(sizes) {}

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        const int side = best(size);
        QPixmap picture = decoded(side);
        if (picture.isNull())
            return picture;
        // Never larger than asked, as for any icon.
        if (side > size.width() || side > size.height())
            picture = picture.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        if (mode != QIcon::Normal && qobject_cast<QApplication*>(QCoreApplication::instance())) {
            const QStyleOption option;
            picture = QApplication::style()->generatedIconPixmap(mode, picture, &option);
        }
        Q_UNUSED(state);
        return picture;
    }
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
        painter->drawPixmap(rect, pixmap(rect.size(), mode, state));
    }
    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        const int side = best(size);
        QSize actual(side, side);
        if (side > size.width() || side > size.height())
            actual.scale(size, Qt::KeepAspectRatio);
        return actual;
    }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        QList<QSize> sizes;
        for (int side : sizes_)
            sizes << QSize(side, side);
        return sizes;
    }
    QIconEngine* clone() const override { return new ProgramIconEngine(*this); }
    QString key() const override { return QStringLiteral("tarvo-program-icon"); }

private:
    // The smallest picture that fills the size asked for (square, it fits the shorter side), or else
    // the largest.
    int best(const QSize& size) const {
        const int wanted = std::min(size.width(), size.height());
        for (int side : sizes_)
            if (side >= wanted)
                return side;
        return sizes_.back();
    }
    static QPixmap decoded(int side) {
        // Shared by every copy of the icon: each picture is decoded once.
        static QHash<int, QPixmap> pictures;
        auto found = pictures.find(side);
        if (found == pictures.end()) {
            // Read as PNG outright: finding out the format would first load every image format plugin.
            QImageReader reader(QStringLiteral(":/icons/%1x%1.png").arg(side), "png");
            reader.setAutoDetectImageFormat(false);
            found = pictures.insert(side, QPixmap::fromImage(reader.read()));
        }
        return *found;
    }
    QList<int> sizes_;
};

// Completes the application's icon after the window's first paint.
class IconCompletion : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, [this] {
                // Only the program's own icon, which the application's naming set.
                if (!QApplication::windowIcon().isNull())
                    QApplication::setWindowIcon(QIcon(new ProgramIconEngine(kIconSizesLater)));
                deleteLater();
            });
        }
        return false;
    }
};
} // namespace

void ProgramWindows::nameApplication() {
    // No display name: Qt would append it to every window title, and the main window's caption must
    // reach the window system exactly as it stands.
    QApplication::setApplicationName(QString::fromLatin1(MainController::kApplicationTitle));
    // Ties the windows to the menu entry (Wayland's app id; the entry's StartupWMClass names the X11
    // window class, which is the application's name).
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopFileName));
    QApplication::setWindowIcon(QIcon(new ProgramIconEngine(kIconSizesAtStart)));
    QAccessible::installFactory(windowAccessible);
}

ProgramWindows::ProgramWindows(MainController& controller, QtOperator& op, QObject* parent)
    : QObject(parent), c_(controller), op_(op), mainWindow_(controller, op) {
    op.setChangeValueWindow([this] { return &changeValueWindow(); });
    // The ports follow once the main window is on screen.
    controller.startWithoutPorts();
    LiveReadout& readout = controller.readout();
    connect(&readout, &LiveReadout::textChanged, this, [this](const QString& text) {
        if (!bigDisplay_)
            bigDisplayText_ = text;
    });
    connect(&readout, &LiveReadout::bigDisplayVisibilityRequested, this, [this, &readout](bool visible) {
        // Once made, the window follows the readout itself.
        if (visible && !bigDisplay_) {
            BigDisplayWindow& big = bigDisplay();
            big.setText(readout.text());
            big.show();
        }
    });
    // The last average or dosed value also goes to the big display.
    auto bigText = [this](const QString& text) {
        if (bigDisplay_)
            bigDisplay_->setText(text);
        else
            bigDisplayText_ = text;
    };
    connect(&controller.dosingMonitor(), &DosingMonitor::bigDisplayText, this, bigText);
    connect(&controller.averaging(), &AverageAcquisition::bigDisplayText, this, bigText);
    connect(&controller.dosingMonitor(), &DosingMonitor::showLastAverageChanged, this, [this](bool on) {
        if (on && !data_)
            dataWindow().show();
    });
    connect(&controller.calibrationWizard(), &CalibrationWizard::changed, &mainWindow_, [this, &controller] {
        // The calibration window shows itself as the wizard says, from the moment it is made.
        if (controller.calibrationWizard().windowVisible())
            calibrationWindow();
        // It behaves as a modal one: the main window waits until the wizard has ended.
        mainWindow_.setEnabled(controller.calibrationWizard().mainWindowEnabled());
    });
    connect(&mainWindow_, &MainWindow::closed, this, &ProgramWindows::mainWindowClosed);
    mainWindow_.installEventFilter(new IconCompletion(this));
}

ProgramWindows::~ProgramWindows() {
    // The operator may outlive the windows: its questions then get windows of their own.
    op_.setChangeValueWindow({});
}

CalibrationDialog& ProgramWindows::calibrationWindow() {
    if (!calibration_)
        calibration_ = std::make_unique<CalibrationDialog>(c_);
    return *calibration_;
}

BigDisplayWindow& ProgramWindows::bigDisplay() {
    if (!bigDisplay_) {
        bigDisplay_ = std::make_unique<BigDisplayWindow>();
        bigDisplay_->setText(bigDisplayText_);
        bigDisplay_->follow(c_.readout());
    }
    return *bigDisplay_;
}

DataWindow& ProgramWindows::dataWindow() {
    if (!data_)
        data_ = std::make_unique<DataWindow>(c_.dosingMonitor());
    return *data_;
}

ChangeValueDialog& ProgramWindows::changeValueWindow() {
    if (!changeValue_)
        changeValue_ = std::make_unique<ChangeValueDialog>();
    return *changeValue_;
}

void ProgramWindows::mainWindowClosed() {
    // The big display and the "Data" window are windows of their own; left open they would keep the
    // program alive after its main window has gone.
    for (QWidget* w : std::initializer_list<QWidget*>{calibration_.get(), bigDisplay_.get(), data_.get(),
                                                      changeValue_.get()})
        if (w)
            w->hide();
    emit finished();
    QCoreApplication::quit();
}

} // namespace tarvo::ui
