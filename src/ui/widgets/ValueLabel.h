#pragma once

#include <QLabel>

namespace tarvo::ui {

// A label that shows a value (a device answer, a reading, a state). Screen readers announce the value
// itself; the fixed words only describe what it is. The words are also the object name, so tests and
// tools find the label whatever it shows.
class ValueLabel : public QLabel {
    Q_OBJECT
public:
    ValueLabel(const QString& text, const QString& what, QWidget* parent = nullptr);
};

} // namespace tarvo::ui
