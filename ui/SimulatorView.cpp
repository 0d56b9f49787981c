#include "SimulatorView.h"

#include "SimulatedPort.h"
#include "VaComm.h"
#include "uMain.h"

#include <QFontMetrics>
#include <QLabel>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {

// About 60 frames a second while something moves; nothing otherwise.
constexpr int FrameInterval = 16;
constexpr int PictureWidth = 636;
constexpr int PictureHeight = 482;
constexpr int StatusMargin = 8;

QColor EyeColor(const std::array<int32_t, 3>& rgb) {
    // The low 8 bits of each value, as the main window's eyes take them.
    return QColor::fromRgb(rgb[0] & 0xFF, rgb[1] & 0xFF, rgb[2] & 0xFF);
}

// The last command the board refused and why: the user's only hint why the
// robot did not move. One line as wide as the picture at most, so the
// window keeps its width.
QString RefusedLine(const kobito::sim::SimBoard::State& state, const QFontMetrics& metrics) {
    constexpr int CommandChars = 20;
    QString command = QString::fromStdString(state.refused);
    if (command.size() > CommandChars)
        command = command.left(CommandChars - 1) + QChar(0x2026);
    const QString line = QStringLiteral("受け付けない命令 Refused command: %1  (%2)")
                             .arg(command, QString::fromStdString(state.refusedReason));
    return metrics.elidedText(line, Qt::ElideRight, PictureWidth - 2 * StatusMargin);
}

} // namespace

TFormSimulator::TFormSimulator(QWidget* owner) : QWidget(owner, Qt::Window) {
    setObjectName(QStringLiteral("FormSimulator"));
    setWindowTitle(QStringLiteral("KOBITO Simulator"));

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 4);
    column->setSpacing(4);
    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("pnlSimPicture"));
    panel->setFixedSize(PictureWidth, PictureHeight);
    auto* layout = new TScaledLayout(panel);
    layout->setObjectName(QStringLiteral("SimScaledLayout"));
    layout->setGeometry(0, 0, PictureWidth, PictureHeight);
    m_picture = BuildRobotPicture(layout, panel, PicturePointer::None);
    // The leader lines lead to the main window's servo groups, which are not
    // here: the view shows the robot, its markers and its arcs.
    for (TShape* shape : std::as_const(m_picture.overlay))
        shape->hide();
    for (const auto& lines : m_picture.lines)
        for (TLine* line : lines)
            line->hide();
    // Nothing here takes the pointer, so the shapes keep no pointer masks,
    // which each move of an arc would otherwise rebuild.
    panel->setAttribute(Qt::WA_TransparentForMouseEvents);
    column->addWidget(panel);

    lblSimState = new QLabel(this);
    lblSimState->setObjectName(QStringLiteral("lblSimState"));
    lblSimState->setContentsMargins(StatusMargin, 0, StatusMargin, 0);
    column->addWidget(lblSimState);
    column->setSizeConstraint(QLayout::SetFixedSize);

    m_frames = new QTimer(this);
    m_frames->setInterval(FrameInterval);
    connect(m_frames, &QTimer::timeout, this, &TFormSimulator::FrameTick);
    ShowAt(kobito::sim::Clock::now());
}

TFormSimulator::~TFormSimulator() {
    if (m_board)
        m_board->SetListener(nullptr);
}

void TFormSimulator::SetBoard(std::shared_ptr<kobito::sim::SimBoard> board) {
    if (m_board == board)
        return;
    if (m_board)
        m_board->SetListener(nullptr);
    m_board = std::move(board);
    if (m_board) {
        // The board calls from the port's threads: come back on ours. The
        // destructor clears the listener before this window goes, and Qt
        // drops a call still queued for it.
        m_board->SetListener([this] {
            QMetaObject::invokeMethod(
                this, [this] { BoardChanged(); }, Qt::QueuedConnection);
        });
    }
    BoardChanged();
}

bool TFormSimulator::Animating() const {
    return m_frames->isActive();
}

bool TFormSimulator::ShowAt(kobito::sim::Clock::time_point t) {
    kobito::sim::SimBoard::State state;
    if (m_board)
        state = m_board->At(t);
    else
        state.angles.fill(90);

    for (int k = 0; k < PictureServoCount; ++k) {
        TArc* arc = m_picture.positionArcs[size_t(k)];
        // Centred on base + d * angle, keeping its width, as in the main window.
        const float d = arc->sweep() >= 0 ? 1.0f : -1.0f;
        const float w = d * arc->sweep();
        const float angle = float(state.angles[size_t(k)]);
        arc->setStartAngle(float(arc->tag()) + d * (angle - w / 2));
    }
    const QColor eyes = EyeColor(state.eyes);
    m_picture.CirRightEye->setFillColor(eyes);
    m_picture.CirLeftEye->setFillColor(eyes);

    const QString motion =
        state.moving ? QStringLiteral("動作中( Moving ) %1%")
                           .arg(int(std::floor(state.progress * 100)), 2, 10, QLatin1Char('0'))
                     : QStringLiteral("停止中( Idle )");
    QString text = motion + QStringLiteral("    受信ポーズ( Poses ): %1").arg(state.poses);
    if (!state.refused.empty())
        text += QLatin1Char('\n') + RefusedLine(state, lblSimState->fontMetrics());
    lblSimState->setText(text);
    return state.moving;
}

void TFormSimulator::BoardChanged() {
    if (!isVisible())
        return; // shown again: showEvent catches up
    FrameTick();
}

void TFormSimulator::FrameTick() {
    if (ShowAt(kobito::sim::Clock::now())) {
        if (!m_frames->isActive())
            m_frames->start();
    } else {
        m_frames->stop();
    }
}

void TFormSimulator::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    FrameTick();
}

void TFormSimulator::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    m_frames->stop();
}

// ---- the window's side

void TForm1::SimulatorViewFollowPort(bool open) {
    if (!open) {
        if (FormSimulator)
            FormSimulator->hide();
        return;
    }
    if (VaComm1->DeviceName() != kobito::kSimulatorDeviceName)
        return;
    if (!FormSimulator) {
        FormSimulator = new TFormSimulator(this);
        FormSimulator->adjustSize();
        // Beside the main window where the screen has room, else over its
        // right edge; later the user's place is kept for the session.
        const QRect main = frameGeometry();
        const QScreen* screen = this->screen();
        const QRect avail =
            screen ? screen->availableGeometry() : QRect(main.topLeft(), main.size());
        QPoint at(main.right() + 1, main.top());
        if (at.x() + FormSimulator->width() > avail.right() + 1)
            at.setX(std::max(avail.left(), avail.right() + 1 - FormSimulator->width()));
        FormSimulator->move(at);
    }
    FormSimulator->SetBoard(VaComm1->Simulator());
    FormSimulator->show();
}
