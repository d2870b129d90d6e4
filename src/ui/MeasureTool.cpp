#include "MeasureTool.h"

#include "ScopeWidget.h"
#include "measure/SpanMeasure.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <algorithm>
#include <cmath>

namespace tarvo::ui {

namespace {

// Drawn over the scope, never in its picture: the saved and printed graph stay as the data are.
class Overlay : public QWidget {
public:
    Overlay(ScopeWidget& scope, SpanMeasure& measure) : QWidget(&scope), scope_(scope), measure_(measure) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        const GraphModel& g = scope_.model();
        const double width = g.right() - g.left();
        if (g.mouseMode() != GraphModel::MouseMode::Measure || !(width > 0) || !std::isfinite(width))
            return;
        const QRect plot = scope_.plotRect(scope_.size());
        auto x = [&](double t) {
            return std::clamp(plot.left() + (t - g.left()) / width * (plot.width() - 1), -1.0,
                              double(plot.right() + 1));
        };
        QPainter p(this);
        p.setClipRect(plot);
        if (const auto& span = measure_.span()) {
            const double a = x(span->startMs), b = x(span->endMs);
            p.fillRect(QRectF(a, plot.top(), std::max(1.0, b - a), plot.height()), QColor(0, 160, 255, 70));
            p.setPen(QColor(0, 160, 255));
            p.drawLine(QPointF(a, plot.top()), QPointF(a, plot.bottom()));
            p.drawLine(QPointF(b, plot.top()), QPointF(b, plot.bottom()));
        }
        if (const auto& d = measure_.difference()) {
            p.setPen(QPen(QColor(255, 140, 0), 1, Qt::DashLine));
            for (double t : {d->t1, d->t2})
                p.drawLine(QPointF(x(t), plot.top()), QPointF(x(t), plot.bottom()));
        }
    }

private:
    ScopeWidget& scope_;
    SpanMeasure& measure_;
};

} // namespace

MeasureTool::MeasureTool(ScopeWidget& scope, SpanMeasure& measure, QObject* parent)
    : QObject(parent), scope_(scope), measure_(measure) {
    overlay_ = new Overlay(scope, measure);
    overlay_->setGeometry(scope.rect());
    panel_ = new QLabel(&scope);
    panel_->setObjectName("Measure figures");
    panel_->setAccessibleName("Measure figures");
    panel_->setAttribute(Qt::WA_TransparentForMouseEvents);
    panel_->setTextInteractionFlags(Qt::NoTextInteraction);
    // Black on nearly opaque white, readable over any trace. A palette rather than a style sheet: the
    // first style sheet brings a style of its own and its polish into the start.
    QPalette figures = panel_->palette();
    figures.setColor(QPalette::Window, QColor(255, 255, 255, 220));
    figures.setColor(QPalette::WindowText, Qt::black);
    panel_->setPalette(figures);
    panel_->setAutoFillBackground(true);
    panel_->setMargin(3);
    panel_->hide();
    // Clicking the scope gives it the keys.
    scope.setFocusPolicy(Qt::StrongFocus);
    scope.installEventFilter(this);
    connect(&measure, &SpanMeasure::changed, this, &MeasureTool::sync);
    connect(&scope.model(), &GraphModel::repaintRequested, overlay_, qOverload<>(&QWidget::update));
}

bool MeasureTool::active() const {
    return scope_.model().mouseMode() == GraphModel::MouseMode::Measure && !scope_.model().locked();
}

void MeasureTool::sync() {
    const QString text = measure_.text();
    const bool shown = scope_.model().mouseMode() == GraphModel::MouseMode::Measure && !text.isEmpty();
    panel_->setText(text.trimmed());
    panel_->adjustSize();
    panel_->move(std::max(0, scope_.width() - panel_->width() - 4), 4);
    panel_->setVisible(shown);
    overlay_->raise();
    panel_->raise();
    overlay_->update();
}

double MeasureTool::timeAt(double x) const {
    const GraphModel& g = scope_.model();
    const QRect plot = scope_.plotRect(scope_.size());
    return g.left() + (x - plot.left()) / std::max(1, plot.width() - 1) * (g.right() - g.left());
}

void MeasureTool::copy() const {
    const QString text = measure_.text();
    if (!text.isEmpty())
        QApplication::clipboard()->setText(text);
}

bool MeasureTool::eventFilter(QObject* watched, QEvent* event) {
    // A scope being destroyed is a plain widget by now: nothing of it is measured any more.
    if (watched != &scope_ || !qobject_cast<ScopeWidget*>(watched))
        return QObject::eventFilter(watched, event);
    if (event->type() == QEvent::Resize) {
        overlay_->setGeometry(scope_.rect());
        sync();
        return false;
    }
    if (!active())
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (e->button() != Qt::LeftButton)
            return false;
        scope_.setFocus(Qt::MouseFocusReason);
        measure_.press(timeAt(e->position().x()), e->modifiers().testFlag(Qt::ShiftModifier));
        return true;
    }
    case QEvent::MouseMove: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (e->buttons() & Qt::LeftButton)
            measure_.drag(timeAt(e->position().x()));
        return true;
    }
    case QEvent::MouseButtonRelease: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (e->button() == Qt::LeftButton)
            measure_.release(timeAt(e->position().x()));
        return true;
    }
    case QEvent::KeyPress: {
        auto* e = static_cast<QKeyEvent*>(event);
        if (e->matches(QKeySequence::Copy)) {
            copy();
            return true;
        }
        const bool shift = e->modifiers().testFlag(Qt::ShiftModifier);
        const int by = e->key() == Qt::Key_Left ? -1 : e->key() == Qt::Key_Right ? 1 : 0;
        if (by != 0) {
            if (shift)
                measure_.widen(by);
            else
                measure_.move(by);
            return true;
        }
        if (e->key() == Qt::Key_Escape) {
            measure_.clear();
            return true;
        }
        return false;
    }
    default:
        return false;
    }
}

} // namespace tarvo::ui
