#pragma once
// Small pieces the instrument settings dialogs share.

#include <QString>
#include <string>

class QWidget;

namespace corvane3 {

// A range error: text in a message box with an empty title, owned by parent.
void ShowRangeError(const QString& text, QWidget* parent);

// The unit's bytes as text: Latin-1 maps them one to one.
QString FromUnitText(const std::string& text);

}  // namespace corvane3
