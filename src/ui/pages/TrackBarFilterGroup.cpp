#include "TrackBarFilterGroup.h"

#include "app/MainController.h"
#include "ui/widgets/Controls.h"
#include "ui/widgets/ValueLabel.h"

#include <QGridLayout>
#include <QSignalBlocker>
#include <QSlider>

namespace tarvo::ui {

namespace {
// In the order the device numbers them.
constexpr const char* kNames[TrackBarFilter::kCharacteristics] = {"Butterworth", "Bessel", "Gaussian"};
} // namespace

TrackBarFilterGroup::TrackBarFilterGroup(TrackBarFilter::Family family, MainController& controller,
                                         QWidget* parent)
    : QGroupBox("Filter", parent), family_(family), filter_(controller.trackBarFilter()), c_(controller) {
    setAccessibleName("Filter");
    auto* layout = new QGridLayout(this);
    int row = 0;
    for (int i = TrackBarFilter::kCharacteristics - 1; i >= 0; --i) {
        const auto c = static_cast<TrackBarFilter::Characteristic>(i);
        if (!TrackBarFilter::offers(family_, c))
            continue;
        const QString name = QString::fromLatin1(kNames[i]);
        options_[size_t(i)] = captionedOption(name, this);
        onOperatorChoice(options_[size_t(i)], this, [this, c] { filter_.characteristicClicked(family_, c); });
        bars_[size_t(i)] = new QSlider(Qt::Horizontal, this);
        bars_[size_t(i)]->setRange(1, TrackBarFilter::maxPosition(family_));
        bars_[size_t(i)]->setPageStep(1);
        bars_[size_t(i)]->setTickPosition(QSlider::TicksBelow);
        bars_[size_t(i)]->setAccessibleName(name + " cut-off step");
        connect(bars_[size_t(i)], &QSlider::valueChanged, this,
                [this](int position) { filter_.trackBarMoved(family_, position); });
        captions_[size_t(i)] = new ValueLabel(QString(), name + " cut-off", this);
        layout->addWidget(options_[size_t(i)], row, 0);
        layout->addWidget(bars_[size_t(i)], row, 1);
        layout->addWidget(captions_[size_t(i)], row, 2);
        ++row;
    }
    connect(&filter_, &TrackBarFilter::changed, this, &TrackBarFilterGroup::sync);
    connect(&c_, &MainController::pageControlEnabledChanged, this, &TrackBarFilterGroup::sync);
    sync();
}

void TrackBarFilterGroup::sync() {
    const TrackBarFilter::Characteristic selected = filter_.selected(family_);
    for (int i = 0; i < TrackBarFilter::kCharacteristics; ++i) {
        if (!options_[size_t(i)])
            continue;
        const auto c = static_cast<TrackBarFilter::Characteristic>(i);
        const bool on = c == selected;
        showChecked(options_[size_t(i)], on);
        // The selected characteristic reads like a window text, the others like an inactive caption. The
        // colours are taken for an enabled group: read while the page control is locked, they would be the
        // disabled grey, and the selected one would look the faintest once the group is enabled again.
        QPalette palette = options_[size_t(i)]->palette();
        const QPalette& group = this->palette();
        for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive})
            palette.setColor(g, QPalette::WindowText,
                             group.color(g, on ? QPalette::WindowText : QPalette::PlaceholderText));
        options_[size_t(i)]->setPalette(palette);
        {
            const QSignalBlocker quiet(bars_[size_t(i)]);
            bars_[size_t(i)]->setValue(filter_.position(family_, c));
        }
        bars_[size_t(i)]->setEnabled(on);
        captions_[size_t(i)]->setEnabled(on);
        captions_[size_t(i)]->setText(filter_.captionLabel(family_, c));
    }
    setEnabled(c_.pageControlEnabled());
}

} // namespace tarvo::ui
