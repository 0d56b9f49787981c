// Start-up, close and shutdown of the main window, its dialogs and the
// enabling rule for the buttons that need an open port.
#include "uMain.h"

#include "Button.h"
#include "DialogService.h"
#include "EditBox.h"
#include "FloatTrackBar.h"
#include "Handler.h"
#include "Splitter.h"
#include "Switch.h"

#include "Channels.h"
#include "IniFile.h"
#include "Scratch3Server.h"
#include "ScratchClient.h"
#include "VaComm.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QScreen>
#include <QShortcut>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>

#include <algorithm>

namespace {
const char* const kCaption = "KOBITO Motion Version 1.10";
}

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(1000, 740);
    CreateControls();
    CreateSerialComponent();
    CreateScratchClient();
    ConnectHandlers();
    ConnectHoverSources();
    FormCreate();
}

TForm1::~TForm1() {
    FormDestroy();
}

void TForm1::FormCreate() {
    InitSettingsFile();       // 1
    InitLogButtons();         // 2
    InitMotorSliders();       // 3
    InitMotionTable();        // 4
    InitRangeGrid();          // 5
    InitChannelRegistries();  // 6
    InitQuick1Combos();       // 7
    InitArcRegistries();      // 8
    InitWalkingTags();        // 9
    InitRemoteSlots();        // 10
    PassSlidersThroughZero(); // 11
    btnQuickStop1Click();     // 12
    SetEyeAndTimeDefaults();  // 13
    InitAutoIncrSwitch();     // 14
    LoadSettings();           // 15
    UpdateRanges();           // 16
    ListSerialPorts();        // 17
    ListBaudRates();          // 18
    ApplyPortSettings();      // 19
    FillCommandList();        // 20
    FillQuickCombos();        // 21
    ClearLog();               // 22
    ClearCommand();
    ShowMotionListTab();     // 23
    EnablePortButtons();     // 24
    TakeDefaultColor();      // 25
    InitControlModeSwitch(); // 26
    InitScratchLabel();      // 27
    SetDataChanged(false);   // 28
    SetStartCaption();       // 29
    // The Scratch 3 bridge comes on last, as the settings file asks, once
    // the window is complete.
    if (m_scratch3WantOn)
        swiScratch3->SetIsChecked(true);
}

void TForm1::InitLogButtons() {
    btnClearLog->setText(QStringLiteral("通信ログの消去\r\nClear log"));
    btnClearCommand->setText(QStringLiteral("コマンドの消去\r\nClear command"));
}

void TForm1::InitMotorSliders() {
    trkMotorHeight->SetMin(2);
    trkMotorHeight->SetMax(25);
    trkMotorWidth->SetMin(2);
    trkMotorWidth->SetMax(50);
}

void TForm1::InitRangeGrid() {
    GrdRangeFullW =
        float(grdRange->columnWidth(0) + grdRange->columnWidth(1) + grdRange->columnWidth(2) + 22);
    Splitter1->setSizes({100, Splitter1->width() - 100 - Splitter1->handleWidth()});
    for (int r = 0; r < kobito::ServoCount; ++r) {
        auto* name = new QTableWidgetItem(
            QString::fromLatin1(kobito::ChannelNames[size_t(r)].data(),
                                qsizetype(kobito::ChannelNames[size_t(r)].size())));
        name->setFlags(name->flags() & ~Qt::ItemIsEditable);
        grdRange->setItem(r, 0, name);
        for (int c = 1; c <= 2; ++c)
            if (!grdRange->item(r, c))
                grdRange->setItem(r, c, new QTableWidgetItem);
    }
}

void TForm1::InitChannelRegistries() {
    // The registries were filled in channel order while the groups were laid out.
    for (int k = 0; k < kobito::ChannelCount; ++k) {
        dim_edit[size_t(k)]->SetTag(k);
        dim_track_bar[size_t(k)]->SetTag(k);
        dim_track_bar[size_t(k)]->SetMin(0);
        dim_track_bar[size_t(k)]->SetMax(kobito::IsServo(k) ? 180 : 255);
    }
}

void TForm1::InitQuick1Combos() {
    // Laid out with the Quick 1 tab; entries 12..14 are the one eye box.
}

void TForm1::InitArcRegistries() {
    for (int k = 0; k < kobito::ServoCount; ++k) {
        dim_arc[size_t(k)] = m_picture.positionArcs[size_t(k)];
        dim_arc_range[size_t(k)] = m_picture.rangeArcs[size_t(k)];
        dim_arc[size_t(k)]->setTag(kobito::PictureBaseAngles[size_t(k)]);
        dim_arc_range[size_t(k)]->setTag(kobito::PictureBaseAngles[size_t(k)]);
    }
}

void TForm1::InitWalkingTags() {
    for (int g = 0; g < 4; ++g)
        for (int s = 0; s < 6; ++s)
            m_walkingButtons[size_t(g)][size_t(s)]->SetTag((g + 1) * 10 + s + 1);
}

void TForm1::InitRemoteSlots() {
    for (int k = 0; k < RemoteSlotCount; ++k) {
        dim_Remos[size_t(k)]->SetTag(k);
        dim_Remos_del[size_t(k)]->SetTag(k);
        dim_Remos[size_t(k)]->setText(QString());
        dim_Remos_del[size_t(k)]->setText(QStringLiteral("X"));
        dim_Remos_SL[size_t(k)] = std::make_unique<QStringList>();
        dim_Remos_path[size_t(k)].clear();
    }
}

void TForm1::PassSlidersThroughZero() {
    // Every channel passes through a real change, so edit boxes and picture agree.
    for (TFloatTrackBar* slider : dim_track_bar) {
        slider->SetValue(1);
        slider->SetValue(0);
    }
}

void TForm1::SetEyeAndTimeDefaults() {
    dim_track_bar[kobito::RED]->SetValue(0);
    dim_track_bar[kobito::GRN]->SetValue(0);
    dim_track_bar[kobito::BLU]->SetValue(255);
    dim_track_bar[kobito::TIM]->SetValue(10);
}

void TForm1::InitAutoIncrSwitch() {
    SwiAutoIncr->SetIsChecked(true);
    SwiAutoIncr->SetIsChecked(false);
}

void TForm1::ShowMotionListTab() {
    TabControl->setCurrentWidget(tabGrid);
}

void TForm1::EnablePortButtons() {
    const bool open = PortIsOpen();
    btnSendCommand->setEnabled(open);
    btnTest->setEnabled(open);
    btnRun->setEnabled(open);
}

void TForm1::TakeDefaultColor() {
    auto* outline = pnlTop->findChild<TShape*>(QStringLiteral("LinHDY_1"));
    DefaultColor = outline->strokeColor().rgba();
}

void TForm1::InitControlModeSwitch() {
    swiControlMode->SetIsChecked(true);
    swiControlMode->SetIsChecked(false);
}

void TForm1::InitScratchLabel() {
    lblScratch->setText(QStringLiteral("Scratch 未接続"));
    UpdateScratch3Label();
}

void TForm1::SetStartCaption() {
    setWindowTitle(QString::fromLatin1(kCaption));
}

void TForm1::UpdateControls() {
    const bool sendable = PortIsOpen() && !Executing;
    btnSendCommand->setEnabled(sendable);
    btnTest->setEnabled(sendable);
    for (TButton* slot : dim_Remos)
        slot->setEnabled(swiControlMode->IsChecked() || PortIsOpen());
}

bool TForm1::PortIsOpen() const {
    return VaComm1->Active();
}

void TForm1::ShowError(const QString& text) {
    Dialogs().ShowError(this, text);
}

bool TForm1::ConfirmDiscard() {
    return Dialogs().AskYesNo(this, QStringLiteral("変更されたデータを破棄しますか？\r\n"
                                                   "Discard current data ?"));
}

bool TForm1::FormCloseQuery() {
    if (IsDataChanged())
        return ConfirmDiscard();
    return true;
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (m_destroyed) {
        event->accept();
        return;
    }
    bool mayClose = false;
    try {
        mayClose = FormCloseQuery();
    } catch (...) {
        ShowCurrentException();
    }
    if (!mayClose) {
        event->ignore();
        return;
    }
    event->accept();
    FormDestroy();
}

void TForm1::btnFileExitClick() {
    close();
}

void TForm1::showEvent(QShowEvent* event) {
    // Placed before the platform window appears, and only the first time: a
    // window the user has moved stays where it was put.
    if (!m_centred) {
        m_centred = true;
        CentreOnScreen();
    }
    QWidget::showEvent(event);
}

void TForm1::CentreOnScreen() {
    // Without a window manager nobody else places the window.
    const QScreen* display = screen();
    if (display == nullptr)
        return;
    const QRect area = display->availableGeometry();
    const QSize frame = frameGeometry().size();
    QPoint corner(area.x() + (area.width() - frame.width()) / 2,
                  area.y() + (area.height() - frame.height()) / 2);
    // On a screen smaller than the window the title bar stays reachable.
    corner.setX(std::max(corner.x(), area.x()));
    corner.setY(std::max(corner.y(), area.y()));
    move(corner);
}

void TForm1::FormDestroy() {
    if (m_destroyed)
        return;
    m_destroyed = true;
    // No tick may send to the robot or find the Scratch connection gone
    // while the window closes them.
    StopPlaybackTicks(); // a tick held back included
    TmrScratch->stop();
    SaveSettings();
    // The port and the Scratch connections close after the settings are written.
    StopScratch3();
    if (VaComm1->Active())
        VaComm1->Close();
    DisconnectScratch();
    ReleaseRemoteSlots();
}

void TForm1::ReleaseRemoteSlots() {
    for (auto& list : dim_Remos_SL)
        list.reset();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    try {
        if (watched == grdRange && event->type() == QEvent::KeyRelease) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter)
                grdRangeKeyUp(13);
        } else if (event->type() == QEvent::Enter || event->type() == QEvent::Leave) {
            HoverEvent(watched, event->type());
        }
    } catch (...) {
        ShowCurrentException();
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::ConnectHandlers() {
    OnEvent(btnFileExit, &QPushButton::clicked, this, [this] { btnFileExitClick(); });
    // The usual editor keys run exactly the buttons' handlers.
    auto shortcut = [this](QKeySequence::StandardKey key, void (TForm1::*handler)()) {
        auto* s = new QShortcut(QKeySequence(key), this);
        s->setContext(Qt::WindowShortcut);
        OnEvent(s, &QShortcut::activated, this, [this, handler] { (this->*handler)(); });
    };
    shortcut(QKeySequence::New, &TForm1::btnFileNewClick);
    shortcut(QKeySequence::Open, &TForm1::btnFileOpenClick);
    shortcut(QKeySequence::Save, &TForm1::btnFileSaveClick);
    OnEvent(btnFileNew, &QPushButton::clicked, this, [this] { btnFileNewClick(); });
    // Each change of the table is one step of its history, named after its button.
    auto step = [this](TButton* button, void (TForm1::*handler)()) {
        OnEvent(button, &QPushButton::clicked, this,
                [this, button, handler] { RecordStep(button->Caption(), handler); });
    };
    step(btnRowClear, &TForm1::btnRowClearClick);
    OnEvent(btnRowEdit, &QPushButton::clicked, this, [this] { btnRowEditClick(); });
    step(btnRowInsert, &TForm1::btnRowInsertClick);
    step(btnRowDelete, &TForm1::btnRowDeleteClick);
    step(btnApply, &TForm1::btnApplyClick);
    OnEvent(btnTest, &QPushButton::clicked, this, [this] { btnTestClick(); });
    OnEvent(SwiAutoIncr, &TSwitch::Switch, this, [this] { SwiAutoIncrSwitch(); });
    OnEvent(swiControlMode, &TSwitch::Switch, this, [this] { swiControlModeSwitch(); });
    OnEvent(Splitter1, &TSplitter::DblClick, this, [this] { Splitter1DblClick(); });
    OnEvent(grdRange, &QTableWidget::currentCellChanged, this, [this] { grdRangeSelChanged(); });
    grdRange->installEventFilter(this);
    OnEvent(trkMotorHeight, &TFloatTrackBar::Change, this, [this] { trkMotorHeightChange(); });
    OnEvent(trkMotorWidth, &TFloatTrackBar::Change, this, [this] { trkMotorWidthChange(); });
    OnEvent(btnQuickStop1, &QPushButton::clicked, this, [this] { btnQuickStop1Click(); });
    OnEvent(btnQuickSet, &QPushButton::clicked, this, [this] { btnQuickSetClick(); });
    OnEvent(btnQuickReset, &QPushButton::clicked, this, [this] { btnQuickResetClick(); });
    for (const auto& gait : m_walkingButtons)
        for (TButton* button : gait)
            OnEvent(button, &QPushButton::clicked, this,
                    [this, button] { btnQuickWalkingClick(button); });
    for (int k = 0; k < RemoteSlotCount; ++k) {
        TButton* slot = dim_Remos[size_t(k)];
        TButton* del = dim_Remos_del[size_t(k)];
        OnEvent(slot, &QPushButton::clicked, this, [this, slot] { btnRemoteClick(slot); });
        OnEvent(del, &QPushButton::clicked, this, [this, del] { btnRemote_delClick(del); });
    }
    OnEvent(swiScratch, &TSwitch::Switch, this, [this] { swiScratchSwitch(); });
    OnEvent(swiScratch3, &TSwitch::Switch, this, [this] { swiScratch3Switch(); });
    OnEvent(btnScratch3Extension, &QPushButton::clicked, this,
            [this] { btnScratch3ExtensionClick(); });
    OnEvent(TmrScratch, &QTimer::timeout, this, [this] { TmrScratchTimer(); });
    OnEvent(btnReload, &QPushButton::clicked, this, [this] { btnReloadClick(); });
    OnEvent(btnRun, &QPushButton::clicked, this, [this] { btnRunClick(); });
    OnEvent(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    OnEvent(btnFileOpen, &QPushButton::clicked, this, [this] { btnFileOpenClick(); });
    OnEvent(btnFileSave, &QPushButton::clicked, this, [this] { btnFileSaveClick(); });
    OnEvent(btnConnect, &QPushButton::clicked, this, [this] { btnConnectClick(); });
    OnEvent(cbxComPort, &QComboBox::currentTextChanged, this, [this] { cbxComPortChange(); });
    // A name chosen from the list shows its beginning even where it is longer
    // than the box; a typed one keeps the cursor where the typing is.
    OnEvent(cbxComPort, &QComboBox::currentIndexChanged, this,
            [this] { cbxComPort->lineEdit()->setCursorPosition(0); });
    OnEvent(cbxCombaud, &QComboBox::currentIndexChanged, this, [this] { cbxCombaudChange(); });
    OnEvent(btnSendCommand, &QPushButton::clicked, this, [this] { btnSendCommandClick(); });
    OnEvent(btnClearLog, &QPushButton::clicked, this, [this] { btnClearLogClick(); });
    OnEvent(btnClearCommand, &QPushButton::clicked, this, [this] { btnClearCommandClick(); });
    OnEvent(lbxCommandList, &QListWidget::itemClicked, this, [this] { lbxCommandListClick(); });
    for (int k = 0; k < kobito::ChannelCount; ++k) {
        TEditBox* edit = dim_edit[size_t(k)];
        TFloatTrackBar* slider = dim_track_bar[size_t(k)];
        OnEvent(edit, &TEditBox::Change, this, [this, edit] { edtChanged(edit); });
        OnEvent(slider, &TFloatTrackBar::Change, this, [this, slider] { trackbarChanged(slider); });
    }
    ConnectMotionEditing();
}
