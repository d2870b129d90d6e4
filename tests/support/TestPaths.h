#pragma once

#include <QString>

namespace tarvo::test {

inline QString binaryDir() {
    return QStringLiteral(TARVO_BINARY_DIR);
}
inline QString sourceDir() {
    return QStringLiteral(TARVO_SOURCE_DIR);
}
inline QString programPath(const QString& name) {
    if (name == QLatin1String("tarvo-devsim"))
        return binaryDir() + "/tools/devsim/tarvo-devsim";
    return binaryDir() + "/src/" + name;
}

} // namespace tarvo::test
