#pragma once
// One row of a QtTest data table in one call: addRow("name", a, b, c) is
// QTest::newRow("name") << a << b << c. Values are taken by value, so string
// literals reach QtTest as const char* and fill QString columns.

#include <QTest>

template <typename... Values> void addRow(const char* name, Values... values) {
    (QTest::newRow(name) << ... << values);
}
