#pragma once
// The player control's template entry, built value by value as the dialog
// template carries it: a 4-byte prefix length (0), version 1, the extent
// 1349 x 635, then 61 typed values.

#include <QByteArray>

namespace didira::test {

QByteArray PlayerInitData();

} // namespace didira::test
