// The window's side of the robot link: command texts, port selection and
// connection, the communication log and the command console.
#include "uMain.h"

#include "Button.h"
#include "DialogService.h"
#include "EditBox.h"

#include "PoseCommand.h"
#include "SerialPortList.h"
#include "SimulatedPort.h"
#include "TextRules.h"
#include "VaComm.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDateTime>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStringConverter>
#include <algorithm>

namespace {

QByteArray ToAnsi(const QString& text) {
    QStringEncoder encoder(QStringEncoder::System);
    return encoder.encode(text);
}

QString FromAnsi(const std::string& bytes) {
    QStringDecoder decoder(QStringDecoder::System);
    return decoder.decode(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
}

// The locale's long time format without a time zone, as the log has always shown.
QString LongTimeFormat(const QLocale& locale) {
    return kobito::WithoutTimeZone(locale.timeFormat(QLocale::LongFormat)).trimmed();
}

} // namespace

// ---- command texts

QString TForm1::FormatValue3(int32_t value) {
    return QString::fromStdString(kobito::FormatValue3(value));
}

void TForm1::SendPose() {
    SendCommand(QString::fromStdString(kobito::BuildPoseCommand(out_val)));
}

void TForm1::SendCommand(const QString& text) {
    const QByteArray bytes = ToAnsi(text);
    VaComm1->WriteText(std::string(bytes.constData(), size_t(bytes.size())));
    AddLog(LogRobot, LogSend, text);
}

// ---- port selection and connection

void TForm1::ListSerialPorts() {
    cbxComPort->clear();
    for (const std::string& name : kobito::SerialPortNames())
        cbxComPort->addItem(QString::fromStdString(name));
    const bool ports = cbxComPort->count() > 0;
    // The simulator comes last, and is never chosen for the user: without
    // ports the box stays empty until it is picked.
    cbxComPort->addItem(QString::fromLatin1(kobito::kSimulatorDeviceName));
    cbxComPort->setCurrentIndex(ports ? 0 : -1);
    cbxComPort->lineEdit()->setCursorPosition(0);
    // The box is narrow; its list is as wide as the longest name.
    QAbstractItemView* list = cbxComPort->view();
    list->setMinimumWidth(
        std::max(cbxComPort->width(), list->sizeHintForColumn(0) + 2 * list->frameWidth() + 4));
}

void TForm1::ListBaudRates() {
    cbxCombaud->clear();
    cbxCombaud->addItems({QStringLiteral("  9600"), QStringLiteral(" 19200"),
                          QStringLiteral(" 38400"), QStringLiteral(" 57600"),
                          QStringLiteral("115200")});
    cbxCombaud->setCurrentIndex(3);
}

void TForm1::ApplyPortSettings() {
    const QString port = cbxComPort->currentText().trimmed();
    if (!port.isEmpty())
        VaComm1->SetDeviceName(port.toStdString());
    static constexpr kobito::TVaBaudrate rates[] = {
        kobito::br9600, kobito::br19200, kobito::br38400, kobito::br57600, kobito::br115200};
    const int index = cbxCombaud->currentIndex();
    if (index >= 0 && index < 5)
        VaComm1->SetBaudrate(rates[index]);
}

void TForm1::cbxComPortChange() {
    // The box is narrow: the whole name is in its tip.
    cbxComPort->setToolTip(cbxComPort->currentText());
    ApplyPortSettings();
}

void TForm1::cbxCombaudChange() {
    ApplyPortSettings();
}

void TForm1::btnConnectClick() {
    if (cbxComPort->currentText().trimmed().isEmpty()) {
        ShowError(QStringLiteral("有効な通信ポートがありません\r\nNo Com port available"));
        return;
    }
    if (VaComm1->Active()) {
        SetExecuting(false);
        VaComm1->Close();
        btnConnect->setText(QStringLiteral("接続 Open"));
    } else {
        ApplyPortSettings();
        VaComm1->Open();
        btnConnect->setText(QStringLiteral("切断 Close"));
    }
    // The selectors are locked while the port is open, so a change never
    // fails half-way.
    const bool open = VaComm1->Active();
    cbxComPort->setEnabled(!open);
    cbxCombaud->setEnabled(!open);
    btnRun->setEnabled(open);
    UpdateControls();
    Scratch3UpdateStatus();
}

void TForm1::VaComm1Open() {
    AddLog(LogRobot, LogOpen, QStringLiteral("接続完了"));
    SimulatorViewFollowPort(true);
    Scratch3UpdateStatus();
}

void TForm1::VaComm1Close() {
    AddLog(LogRobot, LogOtherKind, QStringLiteral("切断"));
    SimulatorViewFollowPort(false);
    Scratch3UpdateStatus();
}

void TForm1::VaComm1RxChar(int count) {
    if (Executing) {
        PlaybackRxChar(count);
        return;
    }
    AddLog(LogRobot, LogRecv, FromAnsi(VaComm1->ReadText()));
}

void TForm1::VaComm1Error(int errors) {
    (void)errors;
    // A controller that has gone stops playback before the message, so no
    // tick queues polls under it; a plain line error leaves playback going.
    if (Executing && VaComm1->DeviceGone())
        SetExecuting(false);
    ShowError(QStringLiteral("通信エラー\r\nComm error occured"));
}

// ---- log and console

void TForm1::ClearLog() {
    memLog->clear();
}

void TForm1::ClearCommand() {
    edtCommand->SetText(QString());
}

QString TForm1::LogStamp(const QDateTime& now) {
    const QLocale locale = QLocale::system();
    const QString date = locale.toString(now.date(), QLocale::ShortFormat);
    if (now.time().msecsSinceStartOfDay() == 0)
        return date;
    return date + QLatin1Char(' ') + locale.toString(now.time(), LongTimeFormat(locale));
}

void TForm1::AddLog(int source, int kind, const QString& text) {
    static const QString sources[] = {QStringLiteral("KOBITO/"), QStringLiteral("SCRTCH/"),
                                      QStringLiteral("******/")};
    static const QString kinds[] = {QStringLiteral("Send"), QStringLiteral("Recv"),
                                    QStringLiteral("Open"), QStringLiteral("****")};
    const QString& src = sources[source >= 0 && source < 2 ? source : 2];
    const QString& knd = kinds[kind >= 0 && kind < 3 ? kind : 3];
    QString line = LogStamp(QDateTime::currentDateTime()) + QStringLiteral(" [") + src + knd +
                   QStringLiteral("] ") + text;
    // A reply with line breaks shows as several lines under one stamp.
    line.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    line.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    // Appending a block costs the same however long the log is.
    memLog->appendPlainText(line);
    QScrollBar* bar = memLog->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void TForm1::FillCommandList() {
    QStringList words;
    for (int i = 0; i <= 9; ++i)
        words << QStringLiteral("#M%1").arg(i);
    words << QStringLiteral("#Q") << QStringLiteral("#C") << QStringLiteral("#P")
          << QStringLiteral("S") << QStringLiteral("A") << QStringLiteral("T")
          << QStringLiteral("R") << QStringLiteral("G") << QStringLiteral("B")
          << QStringLiteral("T");
    for (int i = 0; i <= 11; ++i)
        words << QStringLiteral("%1").arg(i, 2, 10, QLatin1Char('0'));
    words << QStringLiteral("255") << QStringLiteral("001");
    for (int v = 10; v <= 180; v += 10)
        words << QStringLiteral("%1").arg(v, 3, 10, QLatin1Char('0'));
    lbxCommandList->clear();
    lbxCommandList->addItems(words);
}

void TForm1::lbxCommandListClick() {
    const QListWidgetItem* item = lbxCommandList->currentItem();
    if (!item || !item->isSelected())
        return;
    edtCommand->setText(edtCommand->text() + item->text());
    edtCommand->setFocus();
    edtCommand->deselect();
    edtCommand->end(false);
}

void TForm1::btnSendCommandClick() {
    SendCommand(edtCommand->Text());
    ClearCommand();
}

void TForm1::btnClearLogClick() {
    ClearLog();
}

void TForm1::btnClearCommandClick() {
    ClearCommand();
}

// ---- serial events reach the GUI thread through the event loop

TCommDispatcher::TCommDispatcher(QObject* context) : m_context(context) {}

void TCommDispatcher::Post(std::function<void()> fn) {
    QMetaObject::invokeMethod(m_context, std::move(fn), Qt::QueuedConnection);
}

void TCommDispatcher::ShowException(const std::string& message) {
    Dialogs().ShowException(nullptr, QString::fromStdString(message));
}

void TForm1::CreateSerialComponent() {
    m_commDispatcher = std::make_unique<TCommDispatcher>(this);
    VaComm1 = std::make_unique<kobito::TVaComm>(m_commDispatcher.get());
    VaComm1->SetName("VaComm1");
    VaComm1->SetDeviceName("COM%d");
    VaComm1->SetPortNum(0);
    VaComm1->SetBaudrate(kobito::br57600);
    VaComm1->OnOpen = [this](kobito::TVaComponent*) { VaComm1Open(); };
    VaComm1->OnClose = [this](kobito::TVaComponent*) { VaComm1Close(); };
    VaComm1->OnRxChar = [this](kobito::TVaComponent*, int count) { VaComm1RxChar(count); };
    VaComm1->OnError = [this](kobito::TVaComponent*, int errors) { VaComm1Error(errors); };
}
