#pragma once

#include "ValueLabel.h"

namespace tarvo::ui {

// A page's information line: where progress and most errors are reported.
class InformationLine : public ValueLabel {
    Q_OBJECT
public:
    // pageTitle: the page's tab text; the line is described as "<title> information".
    explicit InformationLine(const QString& pageTitle, QWidget* parent = nullptr);
};

} // namespace tarvo::ui
