#include "gui/common/WindowPrinter.h"

#include <clocale>
#include <ctime>

#include <QApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QPrinter>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <chrono>
#include "gui/common/PrinterChoice.h"

namespace corvane3 {

namespace {

// Platforms that have no screen to grab from.
bool HasScreenToGrab() {
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

// A window whose frame the window manager draws, fully shown: only then does the screen hold
// the picture the user sees, frame and title included.
QImage GrabFromScreen(QWidget* window) {
    if (!HasScreenToGrab() || !window->isVisible() || window->isMinimized()) {
        return {};
    }
    const QRect frame = window->frameGeometry();
    if (frame == window->geometry()) {
        return {};  // no frame drawn: the grab would lose the title
    }
    QScreen* screen = window->screen();
    if (screen == nullptr || !screen->geometry().contains(frame)) {
        return {};
    }
    const QPoint offset = frame.topLeft() - screen->geometry().topLeft();
    const QPixmap grab =
        screen->grabWindow(0, offset.x(), offset.y(), frame.width(), frame.height());
    return grab.toImage();
}

// Height of the drawn title strip: the title font's line plus a margin above and below.
constexpr int kTitleMarginPixels = 4;
constexpr int kFramePixels = 1;

// The window painted into an image below a title strip with its icon and title, inside a
// one-pixel frame: what a window manager would have drawn around it.
QImage RenderWithTitle(QWidget* window) {
    QFont titleFont = window->font();
    titleFont.setBold(true);
    const QFontMetrics metrics(titleFont);
    const int titleHeight = metrics.height() + 2 * kTitleMarginPixels;
    const QSize client = window->size();
    const QSize size(client.width() + 2 * kFramePixels,
                     client.height() + titleHeight + 2 * kFramePixels);

    QImage image(size, QImage::Format_RGB32);
    const QPalette palette = window->palette();
    image.fill(palette.color(QPalette::Window));
    QPainter painter(&image);

    const QRect titleRect(kFramePixels, kFramePixels, client.width(), titleHeight);
    painter.fillRect(titleRect, palette.color(QPalette::Active, QPalette::Highlight));
    int textLeft = titleRect.left() + kTitleMarginPixels;
    const QIcon icon = window->windowIcon();
    if (!icon.isNull()) {
        const int side = metrics.height();
        icon.paint(&painter, QRect(textLeft, titleRect.top() + kTitleMarginPixels, side, side));
        textLeft += side + kTitleMarginPixels;
    }
    painter.setFont(titleFont);
    painter.setPen(palette.color(QPalette::Active, QPalette::HighlightedText));
    const QRect textRect(textLeft, titleRect.top(), titleRect.right() - textLeft, titleHeight);
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     metrics.elidedText(window->windowTitle(), Qt::ElideRight, textRect.width()));

    painter.setPen(palette.color(QPalette::Dark));
    painter.drawRect(image.rect().adjusted(0, 0, -1, -1));
    window->render(&painter, QPoint(kFramePixels, kFramePixels + titleHeight), QRegion(),
                   QWidget::DrawChildren);
    painter.end();
    return image;
}

// How long the window system is given to take the closed print dialog off the screen and the
// window to repaint what it covered: a window manager does it within a frame or two, some
// fade dialogs out over a few hundred milliseconds.
constexpr std::chrono::milliseconds kRedrawPause{400};

// The window paints its new layout and texts, and the screen loses the print dialog, before
// the window is grabbed. User input waits meanwhile.
void LetWindowRedraw(QWidget* window) {
    if (window != nullptr) {
        window->repaint();
    }
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (!HasScreenToGrab()) {
        return;  // the picture is rendered from the window itself: nothing can cover it
    }
    QGuiApplication::sync();
    QEventLoop pause;
    QTimer::singleShot(kRedrawPause, &pause, &QEventLoop::quit);
    pause.exec(QEventLoop::ExcludeUserInputEvents);
    if (window != nullptr) {
        window->repaint();
    }
}

}  // namespace

QImage GrabWindowImage(QWidget* window) {
    if (window == nullptr || window->size().isEmpty()) {
        return {};
    }
    QImage image = GrabFromScreen(window);
    if (image.isNull() || image.size().isEmpty()) {
        image = RenderWithTitle(window);
    }
    return image;
}

QRect PrintRectangle(int pageWidth, int pageHeight) {
    return QRect(pageWidth / 10, pageHeight / 10, pageWidth - pageWidth / 5, pageHeight / 2);
}

void DrawImageOnPage(QPainter& painter, const QImage& image, int pageWidth, int pageHeight) {
    painter.drawImage(PrintRectangle(pageWidth, pageHeight), image);
}

bool PrintImage(const QImage& image, QPrinter& printer, const PrintPage& page) {
    printer.setDocName(page.documentName);
    if (page.orientation) {
        printer.setPageOrientation(*page.orientation);
    }
    QPainter painter;
    if (!painter.begin(&printer)) {
        return false;
    }
    // The painter's device is the page's printable area in device pixels.
    const int width = printer.width();
    const int height = printer.height();
    painter.drawImage(
        page.placement ? page.placement(width, height) : PrintRectangle(width, height), image);
    return painter.end();
}

QString AsctimeText(const QDateTime& time) {
    const QDate date = time.date();
    const QTime clock = time.time();
    std::tm fields{};
    fields.tm_year = date.year() - 1900;
    fields.tm_mon = date.month() - 1;
    fields.tm_mday = date.day();
    fields.tm_wday = date.dayOfWeek() % 7;  // Qt counts Monday as 1 and Sunday as 7
    fields.tm_yday = date.dayOfYear() - 1;
    fields.tm_hour = clock.hour();
    fields.tm_min = clock.minute();
    fields.tm_sec = clock.second();

    // asctime's names are English whatever the user's locale; strftime's follow LC_TIME.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
    char text[64] = {};
    const std::size_t length =
        cLocale != nullptr
            ? strftime_l(text, sizeof text, "%a %b %e %H:%M:%S %Y\n", &fields, cLocale)
            : std::strftime(text, sizeof text, "%a %b %e %H:%M:%S %Y\n", &fields);
    return QString::fromLatin1(text, static_cast<qsizetype>(length));
}

void ShowPrintTimeBeforeTitle(QWidget* window, WindowPrintHooks& hooks) {
    const QString title = window->windowTitle();
    hooks.showPrintTime = [window, title](const QString& time) {
        window->setWindowTitle(QStringLiteral("%1:  %2").arg(time.trimmed(), title));
    };
    hooks.clearPrintTime = [window, title] { window->setWindowTitle(title); };
}

bool PrintWindowImage(QWidget* window, const WindowPrintHooks& hooks) {
    const std::unique_ptr<QPrinter> printer =
        ChoosePrinter(hooks.choosePrinter, window, hooks.windowName);
    if (!printer) {
        return false;
    }

    const bool widened = hooks.isWide && hooks.setWide && !hooks.isWide();
    if (widened) {
        hooks.setWide(true);
    }
    if (hooks.refresh) {
        hooks.refresh();
    }
    if (hooks.showPrintTime) {
        hooks.showPrintTime(AsctimeText(hooks.now ? hooks.now() : QDateTime::currentDateTime()));
    }
    LetWindowRedraw(window);

    const QImage image = hooks.grab ? hooks.grab(window) : GrabWindowImage(window);
    const bool printed = !image.isNull() && PrintImage(image, *printer, hooks.page);

    if (hooks.clearPrintTime) {
        hooks.clearPrintTime();
    }
    if (widened) {
        hooks.setWide(false);
    }
    return printed;
}

}  // namespace corvane3
