#include "gui/serial/CommandSelectDlg.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "core/link/Notification.h"
#include "core/link/TolvexLink.h"
#include "core/link/UnitState.h"
#include "core/poll/CommandCatalogue.h"
#include "core/poll/PollingShared.h"
#include "gui/common/WholeTitle.h"
#include "gui/security/AuthorizedCommand.h"

namespace corvane3 {

namespace {

// The dialog's starting size in character cells: wide enough for the list and the longest
// descriptions side by side, tall enough for a reply list of a dozen lines below them.
constexpr int kWidthCharacters = 79;
constexpr int kHeightLines = 22;
// Lines of the reply list kept in view after a reply: the last five.
constexpr int kVisibleReplyLines = 5;

// The instrument talks in single bytes; Latin-1 maps them one to one.
QString FromDevice(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

CCommandSelectDlg::CCommandSelectDlg(CPollingShared& polling, const CUnitState& unit,
                                     QWidget* parent)
    : QDialog(parent), polling_(polling), unit_(unit) {
    setWindowTitle(QStringLiteral("Vela X Commands"));
    setObjectName(QStringLiteral("commandSelectDialog"));

    auto* commandsLabel = new QLabel(QStringLiteral("VelaX Commands"), this);
    commandList_ = new QComboBox(this);
    commandList_->setObjectName(QStringLiteral("commandList"));
    commandList_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    commandsLabel->setBuddy(commandList_);

    auto* parametersLabel = new QLabel(QStringLiteral("Command Parameters"), this);
    input_ = new QLineEdit(this);
    input_->setObjectName(QStringLiteral("commandInput"));
    input_->setMaxLength(static_cast<int>(kCatalogueInputLimit));
    // The box comes and goes with the selected row; the layout keeps its place.
    QSizePolicy inputPolicy = input_->sizePolicy();
    inputPolicy.setRetainSizeWhenHidden(true);
    input_->setSizePolicy(inputPolicy);
    parametersLabel->setBuddy(input_);

    auto* descriptionLabel = new QLabel(QStringLiteral("Description"), this);
    description_ = new QLabel(this);
    description_->setObjectName(QStringLiteral("description"));
    description_->setTextFormat(Qt::PlainText);
    description_->setWordWrap(true);
    description_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    description_->setFrameShape(QFrame::StyledPanel);

    replies_ = new QListWidget(this);
    replies_->setObjectName(QStringLiteral("replyList"));
    replies_->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);

    send_ = new QPushButton(QStringLiteral("Send Command"), this);
    send_->setObjectName(QStringLiteral("sendCommand"));
    send_->setAutoDefault(false);
    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setObjectName(QStringLiteral("ok"));
    ok_->setDefault(true);

    auto* top = new QGridLayout;
    top->addWidget(commandsLabel, 0, 0);
    top->addWidget(commandList_, 1, 0);
    top->addWidget(parametersLabel, 2, 0);
    top->addWidget(input_, 3, 0);
    top->addWidget(descriptionLabel, 0, 1);
    top->addWidget(description_, 1, 1, 3, 1);
    top->setColumnStretch(1, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(send_);
    buttons->addStretch(1);
    buttons->addWidget(ok_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(replies_, 1);
    layout->addLayout(buttons);

    const QFontMetrics metrics = fontMetrics();
    resize(metrics.averageCharWidth() * kWidthCharacters, metrics.lineSpacing() * kHeightLines);

    connect(commandList_, &QComboBox::currentIndexChanged, this,
            &CCommandSelectDlg::OnSelectionChanged);
    connect(send_, &QPushButton::clicked, this, &CCommandSelectDlg::SendCommand);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);

    Load();
    KeepTitleWhole(*this);
}

void CCommandSelectDlg::showEvent(QShowEvent* event) {
    // Every opening starts afresh; a restore from minimised does not.
    if (!event->spontaneous()) {
        Load();
    }
    QDialog::showEvent(event);
}

void CCommandSelectDlg::Load() {
    {
        const QSignalBlocker blocker(commandList_);
        commandList_->clear();
        for (const CatalogueRow& row : CommandCatalogue()) {
            commandList_->addItem(FromDevice(row.name));
        }
        commandList_->setCurrentIndex(0);
    }
    replies_->clear();
    OnSelectionChanged(commandList_->currentIndex());
}

void CCommandSelectDlg::OnSelectionChanged(int row) {
    const auto catalogue = CommandCatalogue();
    if (row < 0 || static_cast<std::size_t>(row) >= catalogue.size()) {
        return;
    }
    const CatalogueRow& selected = catalogue[static_cast<std::size_t>(row)];
    description_->setText(FromDevice(selected.description));
    if (selected.TakesInput()) {
        input_->setText(FromDevice(selected.defaultInput));
        input_->show();
    } else {
        input_->hide();
    }
}

void CCommandSelectDlg::SendCommand() {
    const int index = commandList_->currentIndex();
    const auto catalogue = CommandCatalogue();
    if (index < 0 || static_cast<std::size_t>(index) >= catalogue.size()) {
        return;
    }
    const CatalogueRow& row = catalogue[static_cast<std::size_t>(index)];
    // Characters Latin-1 cannot carry go out as '?'; the unit understands single bytes only.
    const QByteArray bytes = input_->text().left(static_cast<int>(kCatalogueInputLimit)).toLatin1();
    const std::string input(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    // A busy mailbox drops the command; the echo line is shown all the same.
    if (SendCatalogueCommand(polling_.mailbox, row, input, unit_.InstrumentModel.load())) {
        NoteCommandSender(this);
    }
    AddReplyLine(CatalogueEchoLine(row, input));
}

void CCommandSelectDlg::ShowReply() {
    const std::string response = polling_.CommandReply.Get();
    if (response.empty()) {
        return;
    }
    for (const std::string& line : ReplyLines(response, kCatalogueReplyLimit)) {
        AddReplyLine(line);
    }
    const int top =
        replies_->count() > kVisibleReplyLines ? replies_->count() - kVisibleReplyLines : 0;
    if (QListWidgetItem* item = replies_->item(top)) {
        replies_->scrollToItem(item, QAbstractItemView::PositionAtTop);
    }
}

void CCommandSelectDlg::AddReplyLine(const std::string& line) {
    replies_->addItem(FromDevice(line));
}

}  // namespace corvane3
