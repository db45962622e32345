#pragma once
// A dialog's controls found and worked by their object names, as the user would work them.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QListWidget>
#include <QStringList>
#include <QWidget>

namespace corvane3::testing {

// The named control; a failure when the dialog has none.
template <typename T = QWidget>
T* Find(QWidget& dialog, const char* name) {
    T* widget = dialog.findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

inline void Click(QWidget& dialog, const char* button) {
    Find<QAbstractButton>(dialog, button)->click();
}

// The item a drop-down list shows, and choosing one by its text.
inline QString Shown(QWidget& dialog, const char* list) {
    return Find<QComboBox>(dialog, list)->currentText();
}
inline void Choose(QWidget& dialog, const char* list, const QString& item) {
    auto* combo = Find<QComboBox>(dialog, list);
    combo->setCurrentIndex(combo->findText(item));
}

// The rows of a list, top to bottom.
inline QStringList Lines(QWidget& dialog, const char* list) {
    QStringList lines;
    const auto* widget = Find<QListWidget>(dialog, list);
    for (int row = 0; row < widget->count(); ++row) {
        lines << widget->item(row)->text();
    }
    return lines;
}

}  // namespace corvane3::testing
