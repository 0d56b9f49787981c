// The window's layout: every panel, group and control at its design place.
#include "uMain.h"

#include "Button.h"
#include "EditBox.h"
#include "FloatTrackBar.h"
#include "GridColumns.h"
#include "Splitter.h"
#include "Switch.h"

#include "Channels.h"

#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>

namespace {

QString Utf8(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

template <class W, class... Args>
W* Make(QWidget* parent, const char* name, int x, int y, int w, int h, Args&&... args) {
    auto* widget = new W(std::forward<Args>(args)..., parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(x, y, w, h);
    return widget;
}

QGroupBox* MakeGroup(QWidget* parent, const QString& name, const QString& caption, int x, int y,
                     int w, int h) {
    auto* box = new QGroupBox(caption, parent);
    box->setObjectName(name);
    box->setGeometry(x, y, w, h);
    return box;
}

TButton* MakeButton(QWidget* parent, const QString& name, const QString& caption, int x, int y,
                    int w, int h) {
    auto* button = new TButton(caption, parent);
    button->setObjectName(name);
    button->setGeometry(x, y, w, h);
    return button;
}

// Operation-panel buttons never take the keyboard focus.
TButton* MakeOperationButton(QWidget* parent, const QString& name, const QString& caption, int x,
                             int y, int w, int h) {
    TButton* button = MakeButton(parent, name, caption, x, y, w, h);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& text, int x, int y, int w,
                  int h, Qt::Alignment align = Qt::AlignCenter) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(x, y, w, h);
    label->setAlignment(align);
    return label;
}

} // namespace

void TForm1::CreateControls() {
    setObjectName(QStringLiteral("Form1"));
    pnlTop = Make<QWidget>(this, "pnlTop", 0, 0, 1000, 482);
    pnlBottom = Make<QWidget>(this, "pnlBottom", 0, 482, 1000, 258);
    CreateBottomArea();
    CreateTopArea();

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(50);
    // The robot is polled at an even pace while it moves.
    Timer1->setTimerType(Qt::PreciseTimer);
    TmrScratch = new QTimer(this);
    TmrScratch->setObjectName(QStringLiteral("TmrScratch"));
    TmrScratch->setInterval(20);
}

void TForm1::CreateBottomArea() {
    CreateOperationPanel();
    CreateTabs();
}

void TForm1::CreateOperationPanel() {
    pnlOperation = Make<QWidget>(pnlBottom, "pnlOperation", 756, 0, 244, 258);

    grpFile = MakeGroup(pnlOperation, "grpFile", "ファイル( File )", 0, 7, 236, 65);
    btnFileNew = MakeOperationButton(grpFile, "btnFileNew", "新規 New", 8, 22, 52, 35);
    btnFileOpen = MakeOperationButton(grpFile, "btnFileOpen", "開く Open", 64, 22, 52, 35);
    btnFileSave = MakeOperationButton(grpFile, "btnFileSave", "保存 Save", 120, 22, 52, 35);
    btnFileExit = MakeOperationButton(grpFile, "btnFileExit", "終了 Exit", 176, 22, 52, 35);

    grpRow = MakeGroup(pnlOperation, "grpRow", "行操作( Row )", 0, 72, 236, 72);
    btnRowClear = MakeOperationButton(grpRow, "btnRowClear", "クリア Clear", 8, 22, 52, 42);
    btnRowEdit = MakeOperationButton(grpRow, "btnRowEdit", "編集 Edit", 64, 22, 52, 42);
    btnRowInsert = MakeOperationButton(grpRow, "btnRowInsert", "挿入 Insert", 120, 22, 52, 42);
    btnRowDelete = MakeOperationButton(grpRow, "btnRowDelete", "削除 Delete", 176, 22, 52, 42);

    GroupBox20 = MakeGroup(pnlOperation, "GroupBox20", "KOBITOと接続( Connect to KOBITO )", 0, 144,
                           236, 114);
    GroupBox19 = MakeGroup(GroupBox20, "GroupBox19", "通信( COM )", 4, 18, 168, 90);
    cbxComPort = Make<QComboBox>(GroupBox19, "cbxComPort", 8, 20, 86, 25);
    cbxComPort->setEditable(true); // a typed device path opens a pseudo-terminal too
    // A typed path is used as typed: no completion from the list, and the list
    // stays the ports found at start-up.
    cbxComPort->setCompleter(nullptr);
    cbxComPort->setInsertPolicy(QComboBox::NoInsert);
    cbxComPort->setFocusPolicy(Qt::ClickFocus);
    cbxCombaud = Make<QComboBox>(GroupBox19, "cbxCombaud", 8, 53, 86, 25);
    cbxCombaud->setFocusPolicy(Qt::NoFocus);
    btnConnect = MakeOperationButton(GroupBox19, "btnConnect", "接続 Open", 102, 19, 58, 60);
    btnRun = MakeOperationButton(GroupBox20, "btnRun", "実行 Run", 176, 22, 52, 84);
}

void TForm1::CreateTabs() {
    TabControl = Make<QTabWidget>(pnlBottom, "TabControl", 8, 8, 740, 242);
    // No pane frame: the pages get the whole 740 x 218 below the tab headers.
    TabControl->setDocumentMode(true);
    auto page = [this](const char* name, const char* caption) {
        auto* w = new QWidget;
        w->setObjectName(QString::fromLatin1(name));
        TabControl->addTab(w, QString::fromUtf8(caption));
        return w;
    };
    tabGrid = page("tabGrid", "リスト( Motion list )");
    TabItem1 = page("TabItem1", "簡単設定1( Quick 1 )");
    TabItem2 = page("TabItem2", "簡単設定2( Quick 2 )");
    TabItem4 = page("TabItem4", "コントローラ( controler )");
    tabLog = page("tabLog", "通信ログ( Serial log )");
    TabItem3 = page("TabItem3", "設定( Setup )");
    CreateMotionListTab();
    CreateQuick1Tab();
    CreateQuick2Tab();
    CreateControllerTab();
    CreateLogTab();
    CreateSetupTab();
}

void TForm1::CreateMotionListTab() {
    Splitter1 = new TSplitter(Qt::Horizontal, tabGrid);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setGeometry(0, 0, 740, 218);
    Splitter1->setHandleWidth(8);
    Splitter1->setChildrenCollapsible(false);

    grdRange = new QTableWidget(12, 3, Splitter1);
    grdRange->setObjectName(QStringLiteral("grdRange"));
    grdRange->setMinimumWidth(20);
    grdRange->verticalHeader()->hide();
    grdRange->verticalHeader()->setDefaultSectionSize(21);
    grdRange->verticalHeader()->setMinimumSectionSize(21);
    grdRange->setHorizontalHeaderLabels({QString(), "最小( Min )", "最大( Max )"});
    grdRange->setColumnWidth(0, 32);
    grdRange->setColumnWidth(1, 65);
    grdRange->setColumnWidth(2, 65);
    grdRange->setItemDelegateForColumn(1, new TStringColumn_Right(grdRange));
    grdRange->setItemDelegateForColumn(2, new TStringColumn_Right(grdRange));
    grdRange->setSelectionMode(QAbstractItemView::SingleSelection);
    grdRange->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                              QAbstractItemView::AnyKeyPressed);

    grdMotion = new QTableView(Splitter1);
    grdMotion->setObjectName(QStringLiteral("grdMotion"));
    grdMotion->verticalHeader()->hide();
    grdMotion->verticalHeader()->setDefaultSectionSize(21);
    grdMotion->verticalHeader()->setMinimumSectionSize(21);
    grdMotion->setSelectionMode(QAbstractItemView::SingleSelection);
    grdMotion->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdMotion->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdMotion->setItemDelegate(new TStringColumn_Right(grdMotion));
    grdMotion->horizontalHeader()->setMinimumSectionSize(20);

    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({100, 740 - 100 - 8});
}

void TForm1::CreateQuick1Tab() {
    struct Box {
        int channel;
        const char* caption;
        int x, y;
    };
    auto combo = [this](QWidget* box, int channel) {
        QString name = QStringLiteral("cbxQuick") + Utf8(kobito::ChannelNames[size_t(channel)]);
        if (channel == kobito::LSR || channel == kobito::LSP || channel == kobito::LFP)
            name = QStringLiteral("cbxQUick") + Utf8(kobito::ChannelNames[size_t(channel)]);
        auto* c = new QComboBox(box);
        c->setObjectName(name);
        c->setGeometry(6, 18, 108, 22);
        return c;
    };
    auto servoBox = [&](QGroupBox* outer, const Box& b) {
        QGroupBox* box = MakeGroup(
            outer, QStringLiteral("grpQuick") + Utf8(kobito::ChannelNames[size_t(b.channel)]),
            QString::fromUtf8(b.caption), b.x, b.y, 120, 46);
        m_quickBoxes[size_t(b.channel)] = box;
        Quick1Combos[size_t(b.channel)] = combo(box, b.channel);
    };

    grpQuickHeadWaist =
        MakeGroup(TabItem1, "grpQuickHeadWaist", "頭・腰( Head, Waist )", 4, 2, 132, 212);
    servoBox(grpQuickHeadWaist, {kobito::HDY, "頭( Head )", 6, 16});
    QGroupBox* eyes = MakeGroup(grpQuickHeadWaist, "grpQuickEye", "目( Eyes )", 6, 64, 120, 46);
    cbxQuickEye = Make<QComboBox>(eyes, "cbxQuickEye", 6, 18, 108, 22);
    servoBox(grpQuickHeadWaist, {kobito::WTY, "腰( Waist )", 6, 112});

    grpQuickRight = MakeGroup(TabItem1, "grpQuickRight", "右側( Right side )", 140, 2, 258, 212);
    servoBox(grpQuickRight, {kobito::RSR, "肩( Shoulder )", 6, 16});
    servoBox(grpQuickRight, {kobito::RSP, "腕( Arm )", 6, 64});
    servoBox(grpQuickRight, {kobito::RHG, "手( Hand )", 6, 112});
    servoBox(grpQuickRight, {kobito::RFY, "脚( Leg )", 132, 16});
    servoBox(grpQuickRight, {kobito::RFP, "足( Foot )", 132, 64});

    btnQuickSet = MakeButton(TabItem1, "btnQuickSet", "設定( Set )", 402, 60, 64, 40);
    btnQuickReset = MakeButton(TabItem1, "btnQuickReset", "リセット( Reset )", 402, 108, 64, 40);

    grpQuickLeft = MakeGroup(TabItem1, "grpQuickLeft", "左側( Left side )", 470, 2, 258, 212);
    servoBox(grpQuickLeft, {kobito::LSR, "肩( Shoulder )", 6, 16});
    servoBox(grpQuickLeft, {kobito::LSP, "腕(Arm )", 6, 64});
    servoBox(grpQuickLeft, {kobito::LHG, "手( Hand )", 6, 112});
    servoBox(grpQuickLeft, {kobito::LFY, "脚( Leg )", 132, 16});
    servoBox(grpQuickLeft, {kobito::LFP, "足( Foot )", 132, 64});
    for (int k = 12; k < 15; ++k)
        Quick1Combos[size_t(k)] = cbxQuickEye;
}

void TForm1::CreateQuick2Tab() {
    QGroupBox* basic = MakeGroup(TabItem2, "grpQuickBasic", "基本( Basic )", 4, 2, 100, 212);
    QGroupBox* stop = MakeGroup(basic, "grpQuickStop", "停止( Stop )", 6, 16, 88, 60);
    btnQuickStop1 = MakeButton(stop, "btnQuickStop1", "1", 8, 20, 72, 30);

    QGroupBox* walking =
        MakeGroup(TabItem2, "grpQuickWalking", "歩行( Walking )", 108, 2, 628, 212);
    struct Gait {
        const char* box;
        const char* caption;
        const char* prefix;
    };
    const Gait gaits[4] = {{"grpQuickForward", "前進( Forward )", "btnQuickForward"},
                           {"grpQuickBackward", "後退( Backward )", "btnQuickBackward"},
                           {"grpQuickTurnRight", "右旋回( Turn right )", "btnQuickTurnRight"},
                           {"grpQuickTurnLeft", "左旋回( Turn left )", "btnQuickTurnLeft"}};
    for (int g = 0; g < 4; ++g) {
        QGroupBox* box = MakeGroup(walking, gaits[g].box, QString::fromUtf8(gaits[g].caption),
                                   6 + g * 155, 16, 149, 190);
        for (int s = 0; s < 6; ++s) {
            m_walkingButtons[size_t(g)][size_t(s)] =
                MakeButton(box, QString::fromLatin1(gaits[g].prefix) + QString::number(s + 1),
                           QString::number(s + 1), 10, 18 + s * 28, 129, 25);
        }
    }
}

void TForm1::CreateControllerTab() {
    GridLayout1 = Make<QWidget>(TabItem4, "GridLayout1", 0, 0, 740, 186);
    for (int k = 0; k < RemoteSlotCount; ++k) {
        const int row = k / 5;
        const int col = k % 5;
        const QString number = QStringLiteral("%1").arg(k + 1, 2, 10, QLatin1Char('0'));
        TButton* slot = MakeButton(GridLayout1, QStringLiteral("btnRemote") + number, QString(),
                                   col * 146 + 10, row * 52 + 10, 136, 42);
        TButton* del = MakeButton(slot, QStringLiteral("btnRemote") + number + "_del", QString(),
                                  136 - 32, 0, 32, 42);
        dim_Remos[size_t(k)] = slot;
        dim_Remos_del[size_t(k)] = del;
    }
    btnReload = MakeButton(TabItem4, "btnReload", "再読込( Reload )", 4, 188, 120, 28);
    swiControlMode = Make<TSwitch>(TabItem4, "swiControlMode", (740 - 210) / 2, 190, 210, 25);
    lblControlMode = MakeLabel(swiControlMode, "lblControlMode", QString(), 0, 0, 210, 25);
    lblControlMode->setAttribute(Qt::WA_TransparentForMouseEvents);
    swiScratch = Make<TSwitch>(TabItem4, "swiScratch", 740 - 150 - 4, 186, 150, 32);
    lblScratch = MakeLabel(swiScratch, "lblScratch", QString(), 0, 0, 150, 32);
    lblScratch->setAttribute(Qt::WA_TransparentForMouseEvents);
    // Scratch 3 in the free row under the slots, right above the 1.4 switch.
    swiScratch3 = Make<TSwitch>(TabItem4, "swiScratch3", 740 - 150 - 4, 159, 150, 26);
    lblScratch3 = MakeLabel(swiScratch3, "lblScratch3", QString(), 0, 0, 150, 26);
    lblScratch3->setAttribute(Qt::WA_TransparentForMouseEvents);
    btnScratch3Extension = MakeButton(TabItem4, "btnScratch3Extension", "拡張を保存…",
                                      740 - 150 - 4 - 8 - 130, 159, 130, 26);
    btnScratch3Extension->setToolTip(
        QStringLiteral("Scratch 3 の拡張 kobito-motion.js を保存\nSave the Scratch 3 extension "
                       "kobito-motion.js"));
}

void TForm1::CreateLogTab() {
    QGroupBox* logBox = MakeGroup(tabLog, "grpSerialLog", "通信ログ( Serial log )", 2, 0, 628, 166);
    memLog = Make<QPlainTextEdit>(logBox, "memLog", 6, 16, 616, 144);
    memLog->setReadOnly(true);
    memLog->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    QFont logFont(QStringLiteral("ＭＳ ゴシック"));
    logFont.setStyleHint(QFont::Monospace);
    logFont.setPixelSize(12);
    memLog->setFont(logFont);
    memLog->setStyleSheet(QStringLiteral("QPlainTextEdit { color: white; }"));

    QGroupBox* commands = MakeGroup(tabLog, "grpCommands", "Commands", 632, 0, 108, 166);
    lbxCommandList = Make<QListWidget>(commands, "lbxCommandList", 6, 16, 96, 144);

    btnClearLog = MakeButton(tabLog, "btnClearLog", QString(), 2, 170, 95, 46);
    btnClearCommand = MakeButton(tabLog, "btnClearCommand", QString(), 99, 170, 95, 46);
    QGroupBox* command = MakeGroup(tabLog, "grpCommand", "コマンド( Command )", 198, 166, 436, 50);
    edtCommand = Make<TEditBox>(command, "edtCommand", 6, 18, 424, 24);
    btnSendCommand = MakeButton(tabLog, "btnSendCommand", "送信( Send )", 636, 170, 102, 46);
}

void TForm1::CreateSetupTab() {
    QGroupBox* motor = MakeGroup(TabItem3, "grpMotor", "モータ( Motor )", 4, 2, 142, 112);
    QGroupBox* height = MakeGroup(motor, "grpMotorHeight", "高さ( Height )", 6, 16, 130, 44);
    trkMotorHeight = Make<TFloatTrackBar>(height, "trkMotorHeight", 6, 20, 118, 18);
    QGroupBox* width = MakeGroup(motor, "grpMotorWidth", "幅( width )", 6, 62, 130, 44);
    trkMotorWidth = Make<TFloatTrackBar>(width, "trkMotorWidth", 6, 20, 118, 18);

    QGroupBox* apply = MakeGroup(TabItem3, "grpApply", "更新( Apply )", 4, 118, 142, 96);
    QGroupBox* autoIncr = MakeGroup(apply, "grpAutoIncr", "自動インクリメント", 6, 16, 130, 72);
    SwiAutoIncr = Make<TSwitch>(autoIncr, "SwiAutoIncr", 15, 26, 100, 32);
    lblAutoIncr = MakeLabel(SwiAutoIncr, "lblAutoIncr", QString(), 0, 0, 100, 32);
    lblAutoIncr->setAttribute(Qt::WA_TransparentForMouseEvents);
}

QGroupBox* TForm1::CreateChannelGroup(QWidget* parent, int k, int x, int y, int width, int height,
                                      int sliderWidth, int sliderHeight) {
    const QString name = Utf8(kobito::ChannelNames[size_t(k)]);
    QGroupBox* group = MakeGroup(parent, QStringLiteral("grp") + name,
                                 Utf8(kobito::ChannelCaptions[size_t(k)]), x, y, width, height);
    const bool rotated = kobito::IsRotated(k);

    // Value row: min label, edit box, max label; swapped for a rotated slider.
    const int rowWidth = 28 + 50 + 28;
    QWidget* row = Make<QWidget>(group, "", (width - rowWidth) / 2, 15, rowWidth, 20);
    row->setObjectName(QStringLiteral("pnl") + name);
    const QString minName = (k == kobito::TIM ? QStringLiteral("Lbl") : QStringLiteral("lbl")) +
                            name + QStringLiteral("_MIN");
    QLabel* minLabel = MakeLabel(row, minName, QString(), rotated ? 78 : 0, 0, 28, 20);
    QLabel* maxLabel = MakeLabel(row, QStringLiteral("lbl") + name + QStringLiteral("_MAX"),
                                 QString(), rotated ? 0 : 78, 0, 28, 20);
    auto* edit = Make<TEditBox>(row, "", 28, 0, 50, 20);
    edit->setObjectName(QStringLiteral("edt") + name);
    edit->setAlignment(Qt::AlignCenter);
    edit->setStyleSheet(QStringLiteral("TEditBox { color: white; padding: 0px; }"));

    auto* slider = Make<TFloatTrackBar>(group, "", (width - sliderWidth) / 2,
                                        height - sliderHeight - 3, sliderWidth, sliderHeight);
    slider->setObjectName(QStringLiteral("trk") + name);
    slider->SetRotated(rotated);

    m_channelGroups[size_t(k)] = group;
    m_valueRows[size_t(k)] = row;
    m_minLabels[size_t(k)] = minLabel;
    m_maxLabels[size_t(k)] = maxLabel;
    dim_edit[size_t(k)] = edit;
    dim_track_bar[size_t(k)] = slider;
    return group;
}

void TForm1::CreateTopArea() {
    pnlTopTop = Make<QWidget>(pnlTop, "pnlTopTop", 0, 0, 1000, 482);
    pnlTopTopLeft = Make<QWidget>(pnlTopTop, "pnlTopTopLeft", 0, 0, 182, 482);
    pnlTopTopCenter = Make<QWidget>(pnlTopTop, "pnlTopTopCenter", 182, 0, 636, 482);
    pnlTopTopRight = Make<QWidget>(pnlTopTop, "pnlTopTopRight", 818, 0, 182, 482);
    ScaledLayout1 = Make<TScaledLayout>(pnlTopTopCenter, "ScaledLayout1", 0, 0, 636, 482);
    m_picture = BuildRobotPicture(ScaledLayout1, pnlTop);

    // Time group: value row, slider, Apply and Test.
    grpTIM = CreateChannelGroup(pnlTopTopLeft, kobito::TIM, 8, 8, 174, 92, 166, 18);
    dim_track_bar[kobito::TIM]->move(4, 40);
    btnApply = MakeButton(grpTIM, "btnApply", "更新( Apply )", 4, 62, 80, 26);
    btnTest = MakeButton(grpTIM, "btnTest", "試験( Test )", 88, 62, 82, 26);

    grpRight = MakeGroup(pnlTopTopLeft, "grpRight", "右側( Right side )", 8, 100, 174, 382);
    GroupBox7 = MakeGroup(pnlTopTopRight, "GroupBox7", "左側( Left side )", 0, 100, 174, 382);
    const int rows[5] = {20, 88, 156, 240, 308};
    const int right[5] = {kobito::RSR, kobito::RSP, kobito::RHG, kobito::RFY, kobito::RFP};
    const int left[5] = {kobito::LSR, kobito::LSP, kobito::LHG, kobito::LFY, kobito::LFP};
    for (int i = 0; i < 5; ++i) {
        CreateChannelGroup(grpRight, right[i], 12, rows[i], 150, 60, 142, 18);
        CreateChannelGroup(GroupBox7, left[i], 12, rows[i], 150, 60, 142, 18);
    }

    // Head/waist and eyes panels stand free over the top area, above the picture.
    Panel14 = Make<QWidget>(pnlTop, "Panel14", 180, 0, 170, 180);
    CreateChannelGroup(Panel14, kobito::HDY, 8, 8, 150, 60, 142, 18);
    CreateChannelGroup(Panel14, kobito::WTY, 8, 80, 150, 60, 142, 18);

    Panel11 = Make<QWidget>(pnlTop, "Panel11", 600, 0, 400, 105);
    grpEyes = MakeGroup(Panel11, "grpEyes", "目( Eyes )", 8, 4, 384, 96);
    CreateChannelGroup(grpEyes, kobito::RED, 6, 18, 120, 70, 112, 14);
    CreateChannelGroup(grpEyes, kobito::GRN, 132, 18, 120, 70, 112, 14);
    CreateChannelGroup(grpEyes, kobito::BLU, 258, 18, 120, 70, 112, 14);

    // The overlay shapes in window coordinates stay above the panels.
    RaiseOverlay(m_picture);
}
