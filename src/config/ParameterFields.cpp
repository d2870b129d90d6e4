#include "ParameterFields.h"

namespace tarvo {

ParameterFields::ParameterFields(std::vector<ParameterField> fields, QObject* parent)
    : QObject(parent), fields_(std::move(fields)), texts_(fields_.size()) {}

int ParameterFields::indexOf(const QString& name) const {
    for (size_t i = 0; i < fields_.size(); ++i)
        if (fields_[i].name == name)
            return int(i);
    return -1;
}

void ParameterFields::setText(int index, const QString& text) {
    if (index < 0 || index >= count() || texts_[size_t(index)] == text)
        return;
    texts_[size_t(index)] = text;
    emit changed();
}

QStringList ParameterFields::texts() const {
    return QStringList(texts_.begin(), texts_.end());
}

void ParameterFields::clear() {
    bool any = false;
    for (QString& t : texts_) {
        any = any || !t.isEmpty();
        t.clear();
    }
    if (any)
        emit changed();
}

void ParameterFields::setEnabled(bool enabled) {
    if (enabled_ == enabled)
        return;
    enabled_ = enabled;
    emit changed();
}

void ParameterFields::setProgress(int done, int total) {
    if (progressDone_ == done && progressTotal_ == total)
        return;
    progressDone_ = done;
    progressTotal_ = total;
    emit changed();
}

} // namespace tarvo
