#include "gui/serial/LineSettingsWidget.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QSignalBlocker>

namespace corvane3 {

namespace {
// Data bits are listed from 7; the list index is data bits - 7.
constexpr int kFirstDataBits = 7;
// The stop-bit list holds "1" then "2".
constexpr int kTwoStopBitsIndex = 1;
// 1200 comes first: a Tq9000 is offered the rest.
const QStringList kBaudRates{"1200", "2400", "4800", "9600", "19200"};

void SelectIndex(QComboBox* list, long long index) {
    if (index >= 0 && index < list->count()) {
        list->setCurrentIndex(static_cast<int>(index));
    }
}
}  // namespace

CLineSettingsWidget::CLineSettingsWidget(QWidget* parent, QComboBox* portList) : QWidget(parent) {
    grid_ = new QGridLayout(this);
    grid_->setContentsMargins(0, 0, 0, 0);
    grid_->setColumnStretch(1, 1);
    if (portList != nullptr) {
        AddRow("Com Port", portList);
    }
    baud_ = AddList("Baud Rate", "baudRate", kBaudRates);
    dataBits_ = AddList("Data Bits", "dataBits", {"7", "8"});
    parity_ = AddList("Parity", "parity", {"None", "Odd", "Even"});
    stopBits_ = AddList("Stop Bits", "stopBits", {"1", "2"});
}

QComboBox* CLineSettingsWidget::AddList(const char* label, const char* objectName,
                                        const QStringList& entries) {
    auto* list = new QComboBox(this);
    list->setObjectName(QString::fromLatin1(objectName));
    list->addItems(entries);
    AddRow(label, list);
    connect(list, &QComboBox::currentIndexChanged, this, &CLineSettingsWidget::Changed);
    return list;
}

void CLineSettingsWidget::AddRow(const char* label, QComboBox* list) {
    const int row = grid_->rowCount();
    list->setParent(this);
    auto* caption = new QLabel(QString::fromLatin1(label), this);
    caption->setBuddy(list);
    grid_->addWidget(caption, row, 0);
    grid_->addWidget(list, row, 1);
}

void CLineSettingsWidget::Load(const SerialLineSettings& line) {
    const QSignalBlocker blockBaud(baud_), blockData(dataBits_), blockParity(parity_),
        blockStop(stopBits_);
    SelectIndex(baud_, baud_->findText(QString::number(line.baudRate)));
    SelectIndex(parity_, line.parity);
    SelectIndex(dataBits_, static_cast<long long>(line.dataBits) - kFirstDataBits);
    stopBits_->setCurrentIndex(line.stopBits != kStopBitsOne ? kTwoStopBitsIndex : 0);
}

void CLineSettingsWidget::Store(SerialLineSettings& line) const {
    line.baudRate = baud_->currentText().toUInt();
    line.parity = static_cast<std::uint32_t>(parity_->currentIndex());
    line.dataBits = static_cast<std::uint32_t>(dataBits_->currentIndex() + kFirstDataBits);
    line.stopBits = stopBits_->currentIndex() == kTwoStopBitsIndex ? kStopBitsTwo : kStopBitsOne;
}

void CLineSettingsWidget::SetBaudRates(bool with1200) {
    const QSignalBlocker block(baud_);
    const QString selected = baud_->currentText();
    baud_->clear();
    baud_->addItems(with1200 ? kBaudRates : kBaudRates.mid(1));
    SelectIndex(baud_, baud_->findText(selected));
}

}  // namespace corvane3
