#pragma once
// Small pieces the instrument settings dialogs share.

#include <QString>
#include <string>

class QWidget;

namespace corvane3 {

// The title of a box whose title bar shows nothing: one blank, since the window system shows
// the application's name in place of an empty title.
inline const QString kBlankTitle = QStringLiteral(" ");

// A range error: text in a message box with a blank title bar, owned by parent.
void ShowRangeError(const QString& text, QWidget* parent);

// The unit's bytes as text: Latin-1 maps them one to one.
QString FromUnitText(const std::string& text);

}  // namespace corvane3
