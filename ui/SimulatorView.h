#pragma once
// The window that shows the simulated robot while the simulated port is
// open: the robot picture with each servo's arc where the simulated servo
// stands, the eyes in the commanded colour, and a status line.

#include "RobotPicture.h"
#include "SimRobot.h"

#include <QWidget>
#include <array>
#include <memory>

class QLabel;
class QTimer;

namespace kobito::sim {
class SimBoard;
}

class TFormSimulator : public QWidget {
    Q_OBJECT

public:
    // A window of its own that the owner's destruction takes along.
    explicit TFormSimulator(QWidget* owner);
    ~TFormSimulator() override;

    // The board to show; null shows nothing new.
    void SetBoard(std::shared_ptr<kobito::sim::SimBoard> board);

    // Shows the board as it is at time t; true while something moves then.
    bool ShowAt(kobito::sim::Clock::time_point t);

    const std::shared_ptr<kobito::sim::SimBoard>& Board() const { return m_board; }
    const RobotPicture& Picture() const { return m_picture; }
    bool Animating() const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void BoardChanged();
    void FrameTick();

    std::shared_ptr<kobito::sim::SimBoard> m_board;
    RobotPicture m_picture;
    QLabel* lblSimState = nullptr;
    QTimer* m_frames = nullptr;
};
