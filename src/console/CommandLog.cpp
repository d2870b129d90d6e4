#include "CommandLog.h"

namespace tarvo {

void CommandLog::add(const QString& line) {
    lines_.append(line);
    emit lineAdded(line);
    if (lines_.size() > kMaxLines + kMaxLines / 10) {
        const qsizetype drop = lines_.size() - kMaxLines;
        lines_.remove(0, drop);
        emit trimmed(drop);
    }
}

void CommandLog::clear() {
    lines_.clear();
    emit cleared();
}

} // namespace tarvo
