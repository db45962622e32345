#pragma once
// Printing a window's picture: the window as the user sees it (frame and title included),
// stretched onto one printer page. The one print path of the main, plot and spectrum windows;
// it knows nothing of any particular window: the caller supplies what has to change on screen
// around the print through WindowPrintHooks and how the page is set up through PrintPage.
// User-interface thread only.

#include <QDateTime>
#include <QImage>
#include <QPageLayout>
#include <QRect>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QPainter;
class QPrinter;
class QWidget;

namespace corvane3 {

inline constexpr char kWindowPrintDocumentName[] = "Window Contents";

// The window as it looks on screen, frame and title bar included: a screen grab of its frame
// where a window system draws one, otherwise the window rendered below a drawn title strip
// carrying its title (offscreen, no window manager, hidden or minimised window, failed grab).
// A null image only when the window has no area.
QImage GrabWindowImage(QWidget* window);

// Where the picture goes on a page of pageWidth x pageHeight device pixels: a tenth of the
// page in from the left and the top, four fifths of the page wide and half of it high.
QRect PrintRectangle(int pageWidth, int pageHeight);

// Where a window's picture goes on a page of pageWidth x pageHeight device pixels.
using PagePlacement = std::function<QRect(int pageWidth, int pageHeight)>;

// How a window's picture is printed.
struct PrintPage {
    QString documentName = kWindowPrintDocumentName;
    // Empty: the orientation the printer is set to.
    std::optional<QPageLayout::Orientation> orientation;
    // Empty: PrintRectangle.
    PagePlacement placement;
};

// Draws image stretched into PrintRectangle of a page of the given size (aspect not kept).
void DrawImageOnPage(QPainter& painter, const QImage& image, int pageWidth, int pageHeight);

// Prints image on one page as page says. False when the printer cannot be started (nothing
// printed) or reports a failure at the end.
bool PrintImage(const QImage& image, QPrinter& printer, const PrintPage& page = {});

// The C library's asctime layout, "Sun Dec  6 17:05:09 2026\n": English day and month names
// whatever the locale, day of month padded with a blank, and the line end.
QString AsctimeText(const QDateTime& time);

// What printing a window changes around the grab. Every member may be left empty: it is then
// skipped (choosePrinter falls back to the print dialog, now to the current local time).
struct WindowPrintHooks {
    // Asks the user for a printer; null means cancelled. Default: the print dialog on the
    // window (ChoosePrinter), suggesting a file named after windowName and the time.
    std::function<std::unique_ptr<QPrinter>(QWidget* window)> choosePrinter;
    QString windowName = QStringLiteral("Window");
    // The window's wide layout: printing widens a narrow window and narrows it again after.
    std::function<bool()> isWide;
    std::function<void(bool wide)> setWide;
    // Shows the print time (AsctimeText, line end included) while printing, then clears it:
    // in a status pane, or in the title. A QLabel shows that line end as a second, empty line;
    // a one-line pane or a title drops it.
    std::function<void(const QString& text)> showPrintTime;
    std::function<void()> clearPrintTime;
    // Brings the window's contents up to date before the print time is shown and the window
    // grabbed (a refresh after the time would overwrite it).
    std::function<void()> refresh;
    std::function<QDateTime()> now;
    // Takes the window's picture. Default: GrabWindowImage.
    std::function<QImage(QWidget* window)> grab;
    PrintPage page;
};

// The whole print of a window: choose the printer (cancel: nothing changes, no hook runs),
// widen a narrow window, refresh, show the print time, let the window redraw where the print
// dialog covered it, grab, print one page, clear the time and narrow the window again when it
// was widened. The window is put back as it was whether or not the page could be printed.
// True when the page was handed to the printer.
bool PrintWindowImage(QWidget* window, const WindowPrintHooks& hooks);

// Sets hooks to show the print time before window's title ("TIME:  TITLE") while it is printed
// and to put the title back after.
void ShowPrintTimeBeforeTitle(QWidget* window, WindowPrintHooks& hooks);

}  // namespace corvane3
