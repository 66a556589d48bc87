#pragma once

// Small helpers shared by the engine tests.

#include <QString>
#include <QStringList>

#include <type_traits>

namespace tmb::test {

// A failure message from the values that matter: said("model", 3, "took", 0.2).
template <class... T>
QString said(const T&... values) {
    const auto text = [](const auto& value) {
        if constexpr (std::is_arithmetic_v<std::decay_t<decltype(value)>>)
            return QString::number(value);
        else
            return QString(value);
    };
    return QStringList{text(values)...}.join(u' ');
}

} // namespace tmb::test

// QVERIFY2 with a message made by said().
#define TMB_VERIFY(condition, ...) QVERIFY2(condition, qPrintable(::tmb::test::said(__VA_ARGS__)))
