#pragma once
// The main window. One class holds every control and all run-time state; it is
// built in uMain.cpp and Layout.cpp, and its operations are defined in the
// file of their concern beside them.

#include "Playback.h"
#include "RobotPicture.h"
#include "VaEventDispatcher.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QStringList>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

class QDateTime;
class QComboBox;
class QFileDialog;
class QGroupBox;
class QLabel;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QTabWidget;
class QTableView;
class QTableWidget;
class QTimer;
class QUndoStack;
class TButton;
class TEditBox;
class TFloatTrackBar;
class TFormSimulator;
class TSplitter;
class TSwitch;

namespace kobito {
class MotionTableModel;
class TScratchClient;
class TScratch3Server;
class TVaComm;
struct TScratch3Event;
struct TScratch3Request;
} // namespace kobito

// Hands the serial component's events to the GUI thread through the event loop.
namespace kobito {
class IniFile;
}

class TCommDispatcher final : public kobito::TVaEventDispatcher {
public:
    explicit TCommDispatcher(QObject* context);
    void Post(std::function<void()> fn) override;
    void ShowException(const std::string& message) override;

private:
    QObject* m_context;
};

enum TRmtIdx : int {
    RMT_01,
    RMT_02,
    RMT_03,
    RMT_04,
    RMT_05,
    RMT_06,
    RMT_07,
    RMT_08,
    RMT_09,
    RMT_10,
    RMT_11,
    RMT_12,
    RMT_13,
    RMT_14,
    RMT_15
};
inline constexpr int RemoteSlotCount = 15;

enum LogSource : int { LogRobot = 0, LogScratch = 1, LogOther = 2 };
enum LogKind : int { LogSend = 0, LogRecv = 1, LogOpen = 2, LogOtherKind = 3 };

class TForm1 : public QWidget {
    Q_OBJECT
    friend struct TForm1Access; // tests reach the private state through this

public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Open's load without its dialog: reads the file into the list and names
    // the window after it; a file that cannot be read is reported.
    void OpenMotionFile(const QString& file);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override; // ui/MotionEdit.cpp

private:
    // ---- layout (ui/Layout.cpp)
    void CreateControls();
    void CreateBottomArea();
    void CreateOperationPanel();
    void CreateTabs();
    void CreateMotionListTab();
    void CreateQuick1Tab();
    void CreateQuick2Tab();
    void CreateControllerTab();
    void CreateLogTab();
    void CreateSetupTab();
    void CreateTopArea();
    QGroupBox* CreateChannelGroup(QWidget* parent, int k, int x, int y, int width, int height,
                                  int sliderWidth, int sliderHeight);
    void ConnectHandlers();

    // ---- start-up, shutdown, dialogs (ui/uMain.cpp)
    void FormCreate();
    bool FormCloseQuery();
    void FormDestroy();
    void InitLogButtons();
    void InitMotorSliders();
    void InitMotionTable();
    void InitRangeGrid();
    void InitChannelRegistries();
    void InitQuick1Combos();
    void InitArcRegistries();
    void InitWalkingTags();
    void InitRemoteSlots();
    void PassSlidersThroughZero();
    void SetEyeAndTimeDefaults();
    void InitAutoIncrSwitch();
    void ListSerialPorts();
    void ListBaudRates();
    void FillCommandList();
    void ShowMotionListTab();
    void EnablePortButtons();
    void TakeDefaultColor();
    void InitControlModeSwitch();
    void InitScratchLabel();
    void SetStartCaption();
    void ReleaseRemoteSlots();
    void ShowError(const QString& text);
    bool ConfirmDiscard();
    void UpdateControls();
    bool PortIsOpen() const;
    void btnFileExitClick();
    void CentreOnScreen();

    // ---- pose editor (ui/PoseEditor.cpp)
    void edtChanged(TEditBox* sender);
    void trackbarChanged(TFloatTrackBar* sender);
    void SyncChannel(TFloatTrackBar* trackBar, TEditBox* edit, TArc* arc);
    static QString ValueToText(float value);
    void UpdateRanges();
    void ApplyServoRange(TFloatTrackBar* trackBar, TArc* rangeArc);
    void grdRangeSelChanged();
    void grdRangeKeyUp(int key);
    void Splitter1DblClick();
    void btnTestClick();

    // ---- robot picture (ui/RobotPictureOps.cpp)
    static float ArcAngle(int direction, float value, float base);
    void PlacePositionArc(int k, float value);
    void PlaceRangeArc(int k, float min, float max);
    void UpdateEyeColor();
    void HighlightPart(int part, uint32_t argb);
    void trkMotorHeightChange();
    void trkMotorWidthChange();
    void ConnectHoverSources();
    void HoverEvent(QObject* watched, QEvent::Type type);
    void PartMouseEnter(int part);
    void PartMouseLeave(int part, QObject* sender);
    void HDYMouseEnter(QObject* sender);
    void WTYMouseEnter(QObject* sender);
    void RSRMouseEnter(QObject* sender);
    void RSPMouseEnter(QObject* sender);
    void RHGMouseEnter(QObject* sender);
    void LSRMouseEnter(QObject* sender);
    void LSPMouseEnter(QObject* sender);
    void LHGMouseEnter(QObject* sender);
    void RFYMouseEnter(QObject* sender);
    void RFPMouseEnter(QObject* sender);
    void LFYMouseEnter(QObject* sender);
    void LFPMouseEnter(QObject* sender);
    void HDYMouseLeave(QObject* sender);
    void WTYMouseLeave(QObject* sender);
    void RSRMouseLeave(QObject* sender);
    void RSPMouseLeave(QObject* sender);
    void RHGMouseLeave(QObject* sender);
    void LSRMouseLeave(QObject* sender);
    void LSPMouseLeave(QObject* sender);
    void LHGMouseLeave(QObject* sender);
    void RFYMouseLeave(QObject* sender);
    void RFPMouseLeave(QObject* sender);
    void LFYMouseLeave(QObject* sender);
    void LFPMouseLeave(QObject* sender);

    // ---- motion list (ui/MotionList.cpp)
    void ClearRow(int row);
    void CopyRow(int from, int to);
    void ClearMotionTable();
    void SetDataChanged(bool changed);
    bool IsDataChanged() const;
    int SelectedRow() const;
    void SelectRow(int row);
    void btnFileNewClick();
    void btnRowClearClick();
    void btnRowEditClick();
    void btnRowInsertClick();
    void btnRowDeleteClick();
    void btnApplyClick();
    void SwiAutoIncrSwitch();

    // ---- undo and redo, copy and paste, mirror, the grid's menu (ui/MotionEdit.cpp)
    void ConnectMotionEditing();
    void RecordStep(const QString& name, void (TForm1::*change)());
    void StartNewHistory();
    void UndoStep();
    void RedoStep();
    void CopyRowToClipboard();
    void PasteClipboard();
    void PasteRows();
    void MirrorRow();
    void MirrorEditorPose();
    void MirrorShortcut();
    void grdMotionContextMenu(const QPoint& pos);

    // ---- settings (ui/Settings.cpp)
    void InitSettingsFile();
    void LoadSettings();
    void SaveSettings();

    // ---- robot link (ui/RobotLink.cpp)
    void CreateSerialComponent();
    static QString FormatValue3(int32_t value);
    void SendPose();
    void SendCommand(const QString& text);
    void ApplyPortSettings();
    void cbxComPortChange();
    void cbxCombaudChange();
    void btnConnectClick();
    void VaComm1Open();
    void VaComm1Close();
    void VaComm1RxChar(int count);
    void VaComm1Error(int errors);
    void ClearLog();
    void ClearCommand();
    static QString LogStamp(const QDateTime& now);
    void AddLog(int source, int kind, const QString& text);
    void lbxCommandListClick();
    void btnSendCommandClick();
    void btnClearLogClick();
    void btnClearCommandClick();

    // The simulated robot's window follows the simulated port (ui/SimulatorView.cpp).
    void SimulatorViewFollowPort(bool open);
    TFormSimulator* FormSimulator = nullptr; // made at the first opening, kept for the session

    // ---- Scratch bridge (ui/ScratchBridge.cpp)
    void CreateScratchClient();
    void swiScratchSwitch();
    void IdTCPClientConnected();
    void IdTCPClientDisconnected();
    void TmrScratchTimer();
    void HandleScratchMessage(const std::string& frame);
    void ScratchDisconnectOnError();
    void DisconnectScratch();
    bool ScratchConnected();
    void ScratchListEndNotification();

    // ---- Scratch 3 bridge (ui/Scratch3Bridge.cpp)
    void swiScratch3Switch();
    void StartScratch3();
    void StopScratch3();
    void UpdateScratch3Label();
    void btnScratch3ExtensionClick();
    QFileDialog* Scratch3ExtensionDialog();
    void Scratch3Event(std::uint64_t generation, const kobito::TScratch3Event& event);
    void Scratch3Request(std::uint64_t connection, const kobito::TScratch3Request& request,
                         const std::string& text);
    void Scratch3Play(std::uint64_t connection, const kobito::TScratch3Request& request);
    void Scratch3Stop();
    void Scratch3AskOrigin(const std::string& origin);
    bool Scratch3Busy() const;
    bool Scratch3HasClients() const { return !m_scratch3Clients.empty(); }
    // The list has played through: "done" to every client, the waiting play's result.
    void Scratch3ListEnd();
    // The waiting play ends before its list end (stopped, replaced).
    void Scratch3PlayStopped();
    // Sends "status" / "slots" to every client when they differ from what was sent last.
    void Scratch3UpdateStatus();
    void Scratch3UpdateSlots();
    std::vector<std::string> Scratch3Captions() const;
    bool Scratch3Playing() const;
    void LoadScratch3Settings();
    void SaveScratch3Settings();

    // ---- playback (ui/Playback.cpp)
    class PlaybackAdapter;
    void SetExecuting(bool running);
    void RunMotion(bool start);
    void btnRunClick();
    void Timer1Timer();
    void PlaybackTick();
    // Hands one playback command to the serial component; false when the
    // line can't take it, and playback has then stopped.
    bool PlaybackSend(const QString& text);
    void StopPlaybackTicks();
    void PlaybackRxChar(int count);

    // ---- motion files (ui/MotionFiles.cpp)
    QFileDialog* MotionFileDialog(bool save);
    void LoadTextFile(const QString& path, QStringList& lines);
    void LoadMotionList(const QStringList& lines);
    void SaveMotionFile(const QString& path);
    void btnFileOpenClick();
    void btnFileSaveClick();

    // ---- quick tabs (ui/QuickTabs.cpp)
    void FillQuickCombos();
    void FillQuickCombo(int list, QComboBox* box);
    static float QuickValue(int channel, QComboBox* box);
    void btnQuickSetClick();
    void btnQuickResetClick();
    void btnQuickStop1Click();
    void btnQuickWalkingClick(TButton* sender);
    void ApplyWalkingPose(int direction, int step);

    // ---- controller tab (ui/ControllerTab.cpp)
    void LoadRemoteSlot(int k);
    // True when the slot's list was loaded (the discard question, if asked, answered Yes).
    bool RunRemoteSlot(int k);
    void ClearRemoteSlot(int k);
    void btnRemoteClick(TButton* sender);
    void btnRemote_delClick(TButton* sender);
    void btnReloadClick();
    void swiControlModeSwitch();

    // ---- fields
    QString IniFilename;
    std::unique_ptr<kobito::IniFile> IniFile;
    bool DataChanged = false;
    bool Executing = false;
    // MotionDone, NextMotion and ListEndNotified of the running list.
    kobito::TPlaybackSequencer Playback;
    // When playback last handed a command to the serial component (steady
    // clock, ns; -1 before the first); the single-shot that holds back a tick
    // coming too soon after it; a tick is running.
    qint64 m_lastHandOffNs = -1;
    QTimer* m_tickHoldBack = nullptr;
    bool m_inTick = false;
    // Tests stamp each command playback hands over (text, steady-clock ns).
    std::function<void(const QString&, qint64)> m_handOffHook;
    float GrdRangeFullW = 0;
    uint32_t DefaultColor = 0xFF800080;
    std::array<int32_t, 16> out_val{};
    bool m_destroyed = false;
    bool m_centred = false;

    // ---- registries (they own nothing)
    std::array<TEditBox*, 16> dim_edit{};
    std::array<TFloatTrackBar*, 16> dim_track_bar{};
    std::array<TArc*, 16> dim_arc{};
    std::array<TArc*, 16> dim_arc_range{};
    std::array<QComboBox*, 15> Quick1Combos{};
    std::array<TButton*, RemoteSlotCount> dim_Remos{};
    std::array<TButton*, RemoteSlotCount> dim_Remos_del{};
    std::array<std::unique_ptr<QStringList>, RemoteSlotCount> dim_Remos_SL;
    std::array<QString, RemoteSlotCount> dim_Remos_path;

    // ---- controls, named as on the form
    QWidget* pnlBottom = nullptr;
    QWidget* pnlOperation = nullptr;
    QGroupBox* grpFile = nullptr;
    TButton* btnFileNew = nullptr;
    TButton* btnFileOpen = nullptr;
    TButton* btnFileSave = nullptr;
    TButton* btnFileExit = nullptr;
    QGroupBox* grpRow = nullptr;
    TButton* btnRowClear = nullptr;
    TButton* btnRowEdit = nullptr;
    TButton* btnRowInsert = nullptr;
    TButton* btnRowDelete = nullptr;
    QGroupBox* GroupBox20 = nullptr;
    QGroupBox* GroupBox19 = nullptr;
    QComboBox* cbxComPort = nullptr;
    QComboBox* cbxCombaud = nullptr;
    TButton* btnConnect = nullptr;
    TButton* btnRun = nullptr;

    QTabWidget* TabControl = nullptr;
    QWidget* tabGrid = nullptr;
    QWidget* TabItem1 = nullptr;
    QWidget* TabItem2 = nullptr;
    QWidget* TabItem4 = nullptr;
    QWidget* tabLog = nullptr;
    QWidget* TabItem3 = nullptr;

    QTableWidget* grdRange = nullptr;
    TSplitter* Splitter1 = nullptr;
    QTableView* grdMotion = nullptr;
    kobito::MotionTableModel* m_motionModel = nullptr;
    QUndoStack* m_history = nullptr; // the motion table's changes
    QMenu* mnuMotion = nullptr;      // the grid's context menu

    // Quick 1 and Quick 2
    QGroupBox* grpQuickHeadWaist = nullptr;
    QGroupBox* grpQuickRight = nullptr;
    QGroupBox* grpQuickLeft = nullptr;
    std::array<QGroupBox*, 12> m_quickBoxes{};
    QComboBox* cbxQuickEye = nullptr;
    TButton* btnQuickSet = nullptr;
    TButton* btnQuickReset = nullptr;
    TButton* btnQuickStop1 = nullptr;
    std::array<std::array<TButton*, 6>, 4> m_walkingButtons{};

    // controller tab
    QWidget* GridLayout1 = nullptr;
    TButton* btnReload = nullptr;
    TSwitch* swiControlMode = nullptr;
    QLabel* lblControlMode = nullptr;
    TSwitch* swiScratch = nullptr;
    QLabel* lblScratch = nullptr;
    TSwitch* swiScratch3 = nullptr;
    QLabel* lblScratch3 = nullptr;
    TButton* btnScratch3Extension = nullptr;

    // log tab
    QPlainTextEdit* memLog = nullptr;
    QListWidget* lbxCommandList = nullptr;
    TEditBox* edtCommand = nullptr;
    TButton* btnClearLog = nullptr;
    TButton* btnClearCommand = nullptr;
    TButton* btnSendCommand = nullptr;

    // setup tab
    TFloatTrackBar* trkMotorHeight = nullptr;
    TFloatTrackBar* trkMotorWidth = nullptr;
    TSwitch* SwiAutoIncr = nullptr;
    QLabel* lblAutoIncr = nullptr;

    // top area
    QWidget* pnlTop = nullptr;
    QWidget* pnlTopTop = nullptr;
    QWidget* pnlTopTopLeft = nullptr;
    QWidget* pnlTopTopRight = nullptr;
    QWidget* pnlTopTopCenter = nullptr;
    TScaledLayout* ScaledLayout1 = nullptr;
    RobotPicture m_picture;
    // Controls and shapes whose pointer enter and leave highlight a body part.
    std::array<QList<QWidget*>, 12> m_hoverSources;
    QGroupBox* grpTIM = nullptr;
    QGroupBox* grpRight = nullptr;
    QGroupBox* GroupBox7 = nullptr;
    QWidget* Panel14 = nullptr;
    QWidget* Panel11 = nullptr;
    QGroupBox* grpEyes = nullptr;
    TButton* btnApply = nullptr;
    TButton* btnTest = nullptr;
    std::array<QGroupBox*, 16> m_channelGroups{};
    std::array<QWidget*, 16> m_valueRows{};
    std::array<QLabel*, 16> m_minLabels{};
    std::array<QLabel*, 16> m_maxLabels{};

    // components without a place on screen
    std::unique_ptr<TCommDispatcher> m_commDispatcher;
    std::unique_ptr<kobito::TVaComm> VaComm1;
    std::unique_ptr<kobito::TScratchClient> IdTCPClient;
    bool m_inScratchTick = false;
    // The Scratch 3 bridge: its server while switched on, its settings, and
    // what the window knows of its clients. Events of an earlier server
    // (another generation) are dropped.
    std::unique_ptr<kobito::TScratch3Server> m_scratch3;
    std::uint64_t m_scratch3Generation = 0;
    int Scratch3Port = 42002;
    bool m_scratch3WantOn = false; // from the settings file, applied at the end of start-up
    std::map<std::string, bool> m_scratch3Origins; // the user's answers, by origin
    std::set<std::uint64_t> m_scratch3Clients;
    struct Scratch3PendingPlay {
        std::uint64_t connection;
        std::int64_t id;
    };
    std::optional<Scratch3PendingPlay> m_scratch3Play; // waits for its list end
    int m_scratch3Busy = 0; // a Scratch 3 request or question is being handled
    std::optional<std::pair<bool, bool>> m_scratch3Status; // playing, port open: as last sent
    std::vector<std::string> m_scratch3Slots;              // as last sent
    // The caption of the remote slot whose list plays; empty for a list started by Run.
    QString m_playingSlot;
    QFileDialog* Scratch3SaveDialog = nullptr;
    QFileDialog* OpenDialog = nullptr;
    QFileDialog* SaveDialog = nullptr;
    QTimer* Timer1 = nullptr;
    QTimer* TmrScratch = nullptr;
};
