#pragma once

// Small helpers shared by the engine tests.

#include <QString>
#include <QStringList>

namespace tmb::test {

inline QString said(const QString& text) {
    return text;
}
inline QString said(const char* text) {
    return QString::fromUtf8(text);
}
template <class T>
QString said(T value) {
    return QString::number(value);
}
// A failure message from the values that matter: said("model", 3, "took", 0.2).
template <class... T>
QString said(const T&... values) requires(sizeof...(T) > 1) {
    return QStringList{said(values)...}.join(u' ');
}

} // namespace tmb::test

// QVERIFY2 with a message made by said().
#define TMB_VERIFY(condition, ...) QVERIFY2(condition, qPrintable(::tmb::test::said(__VA_ARGS__)))
