#include "TrackBarFilter.h"

#include "FilterTables.h"
#include "base/NumberText.h"
#include "base/Operator.h"
#include "base/TimeScale.h"
#include "link/CommandLink.h"
#include "link/SerialPort.h"

#include <climits>
#include <span>

namespace tarvo {

namespace {
constexpr int kSetLimitMs = 1000;
constexpr int kPreCommandLimitMs = 200;
constexpr int kQueryLimitMs = 100;

std::span<const std::string_view> table(TrackBarFilter::Family family) {
    switch (family) {
    case TrackBarFilter::Family::Mxr21:
        return filter_tables::kMxr21Captions;
    case TrackBarFilter::Family::Mxr23:
        return filter_tables::kMxr23Captions;
    case TrackBarFilter::Family::Mxr4110:
        break;
    }
    return filter_tables::kMxr4110Captions;
}
} // namespace

TrackBarFilter::TrackBarFilter(CommandLink& link, Operator& op, ConfigHooks hooks, QObject* parent)
    : QObject(parent), link_(link), op_(op), hooks_(std::move(hooks)) {
    const QString initialCaptions[kFamilies] = {QStringLiteral(" 0,02Hz"), QStringLiteral("0,2Hz"),
                                                QStringLiteral("   1Hz")};
    for (int f = 0; f < kFamilies; ++f) {
        FamilyState& state = families_[size_t(f)];
        const auto family = static_cast<Family>(f);
        state.selected = family == Family::Mxr21 ? Characteristic::Bessel : Characteristic::Butterworth;
        for (int c = 0; c < kCharacteristics; ++c) {
            state.captions[size_t(c)] = initialCaptions[f];
            state.positions[size_t(c)].setAction([this, family, c](const int& position) {
                positionChanged(family, static_cast<Characteristic>(c), position);
            });
        }
    }
    changeTimer_.setSingleShot(true);
    connect(&changeTimer_, &QTimer::timeout, this, [this] {
        // A tick never takes over a transaction that is still waiting; it goes out when that one ends.
        link_.runWhenIdle([this] { changeFilterTick(); });
    });
}

bool TrackBarFilter::offers(Family family, Characteristic c) {
    return family != Family::Mxr21 || c == Characteristic::Bessel;
}

int TrackBarFilter::maxPosition(Family family) {
    return family == Family::Mxr23 ? 6 : 8;
}

int TrackBarFilter::indexFor(Family family, Characteristic c, int position) {
    if (family == Family::Mxr21)
        return 8 - position;
    return 3 * (maxPosition(family) - position) + static_cast<int>(c);
}

QString TrackBarFilter::caption(Family family, int index) {
    const auto entries = table(family);
    if (index < 0 || size_t(index) >= entries.size())
        return {};
    return QString::fromLatin1(entries[size_t(index)].data(), qsizetype(entries[size_t(index)].size()));
}

int TrackBarFilter::position(Family family, Characteristic c) const {
    return families_[size_t(family)].positions[size_t(c)].value();
}

QString TrackBarFilter::captionLabel(Family family, Characteristic c) const {
    return families_[size_t(family)].captions[size_t(c)];
}

void TrackBarFilter::characteristicClicked(Family family, Characteristic c) {
    if (offers(family, c))
        selectCharacteristic(family, c);
}

void TrackBarFilter::trackBarMoved(Family family, int position) {
    if (position < 1 || position > maxPosition(family))
        return;
    // Only the selected characteristic's track bar can be moved.
    families_[size_t(family)].positions[size_t(selected(family))].choose(position);
}

void TrackBarFilter::selectCharacteristic(Family family, Characteristic c) {
    changeTimer_.stop();
    families_[size_t(family)].selected = c;
    positionChanged(family, c, position(family, c));
}

void TrackBarFilter::positionChanged(Family family, Characteristic c, int position) {
    changeTimer_.stop();
    filterIndex_ = indexFor(family, c, position);
    families_[size_t(family)].captions[size_t(c)] = caption(family, filterIndex_);
    changeTimer_.start(TimeScale::ms(kChangeDelayMs));
    emit changed();
}

QString TrackBarFilter::changeFilter() {
    const int port = link_.port().portNumber();
    if (link_.sendAndReceiveLive(port, "FL 0", kPreCommandLimitMs) != "OK" ||
        link_.sendAndReceiveLive(port, "FL 0", kPreCommandLimitMs) != "OK")
        return QString::fromLatin1(kPreCommandFailed);
    switch (hooks_.identity()) {
    case 2110:
        return caption(Family::Mxr21, filterIndex_);
    case 2310:
        return caption(Family::Mxr23, filterIndex_);
    case 4110:
    case 4113:
        return caption(Family::Mxr4110, filterIndex_);
    default:
        return {};
    }
}

void TrackBarFilter::changeFilterTick() {
    changeTimer_.stop();
    op_.showInfoMessage(changeFilter());
    hooks_.pageControl(false);
    const int port = link_.port().portNumber();
    const Framing ok = Framing::startingWith("O");
    if (link_.sendAndReceive(port, "FL" + QByteArray::number(filterIndex_) + '\r', kSetLimitMs, ok) != "K") {
        op_.showInfoMessage(QString::fromLatin1(kNotChanged));
        hooks_.pageControl(true);
        return;
    }
    const int identity = hooks_.identity();
    if (identity == 2110 || identity == 2310)
        op_.showInfoMessage(caption(identity == 2110 ? Family::Mxr21 : Family::Mxr23, filterIndex_) +
                            " selected");
    if (link_.sendAndReceive(port, "WP\r", kSetLimitMs, ok) != "K") {
        op_.showInfoMessage(QString::fromLatin1(kNotChanged));
        op_.showMessage(QString::fromLatin1(kNotChanged));
    }
    hooks_.pageControl(true);
}

void TrackBarFilter::pageShown(Family family) {
    const QByteArray reply =
        link_.sendAndReceive(link_.port().portNumber(), "FL\r", kQueryLimitMs, Framing::startingWith("F"));
    const std::optional<long long> value = reply == kTimeOutErr ? std::nullopt : parseInteger(reply);
    if (!value || *value < INT_MIN || *value > INT_MAX) {
        op_.showInfoMessage(QString::fromLatin1(kNotFound));
        return;
    }
    filterIndex_ = int(*value);
    if (family == Family::Mxr21) {
        if (filterIndex_ < 0 || filterIndex_ > 7)
            return;
        const int index = filterIndex_;
        families_[size_t(family)].positions[size_t(Characteristic::Bessel)].setByProgram(8 - index);
        op_.showInfoMessage(caption(Family::Mxr21, index));
        return;
    }
    if (family == Family::Mxr23 && filterIndex_ >= 0 && filterIndex_ <= 17) {
        const int index = filterIndex_;
        const auto c = static_cast<Characteristic>(index % 3);
        selectCharacteristic(family, c);
        families_[size_t(family)].positions[size_t(c)].setByProgram(6 - index / 3);
    }
}

} // namespace tarvo
