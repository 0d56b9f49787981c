// Renders the main window, as it stands after start-up, to a PNG file; with
// --simulator, mid-motion on the simulated port with the simulator view
// beside it.
#include "Application.h"
#include "SimulatorView.h"
#include "uMain.h"

#include "Button.h"
#include "FloatTrackBar.h"

#include "SimulatedPort.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QPainter>
#include <QPixmap>
#include <QTabWidget>
#include <QThread>
#include <cstdio>
#include <cstring>

namespace {

template <class T> T* Find(QWidget& form, const char* name) {
    return form.findChild<T*>(QString::fromLatin1(name));
}

// A wave with the right arm and a turn of the head, eyes green, over 2 s; the
// picture is taken halfway.
QPixmap SimulatorShot(TForm1& form) {
    auto* port = Find<QComboBox>(form, "cbxComPort");
    port->setCurrentIndex(port->findText(QString::fromLatin1(kobito::kSimulatorDeviceName)));
    Find<TButton>(form, "btnConnect")->click();
    const std::pair<const char*, float> pose[] = {
        {"trkHDY", 50}, {"trkRSR", 60},  {"trkRSP", 20}, {"trkRHG", 150}, {"trkLSP", 120},
        {"trkRED", 0},  {"trkGRN", 200}, {"trkBLU", 80}, {"trkTIM", 200}};
    for (const auto& [name, value] : pose)
        if (auto* bar = Find<TFloatTrackBar>(form, name))
            bar->SetValue(value);
    Find<TButton>(form, "btnTest")->click();
    auto* view = Find<TFormSimulator>(form, "FormSimulator");
    if (view == nullptr)
        return form.grab();
    QElapsedTimer waited;
    waited.start();
    while (view->Board()->At(kobito::sim::Clock::now()).poses == 0 && waited.elapsed() < 3000) {
        QApplication::processEvents();
        QThread::msleep(5);
    }
    const auto state = view->Board()->At(kobito::sim::Clock::now());
    // Both grabs paint at once, before the view's next frame could run.
    view->ShowAt(state.moveStart + (state.moveEnd - state.moveStart) / 2);
    const QPixmap side = view->grab();
    const QPixmap main = form.grab();
    constexpr int gap = 16;
    QPixmap both(main.width() + gap + side.width(), std::max(main.height(), side.height()));
    both.fill(QColor(0x60, 0x60, 0x60));
    QPainter p(&both);
    p.drawPixmap(0, 0, main);
    p.drawPixmap(main.width() + gap, 0, side);
    return both;
}

} // namespace

int main(int argc, char** argv) {
    const bool simulator = argc > 1 && std::strcmp(argv[1], "--simulator") == 0;
    const int first = simulator ? 2 : 1;
    if (argc - first != 1 && argc - first != 2) {
        std::fprintf(stderr, "usage: kobito-screenshot [--simulator] FILE.png [TAB]\n");
        return 2;
    }
    // Rendering needs no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    TForm1 form;
    form.show();
    if (argc - first == 2) {
        auto* tabs = form.findChild<QTabWidget*>(QStringLiteral("TabControl"));
        if (auto* page = form.findChild<QWidget*>(QString::fromLocal8Bit(argv[first + 1])))
            tabs->setCurrentWidget(page);
    }
    QApplication::processEvents();
    const QPixmap shot = simulator ? SimulatorShot(form) : form.grab();
    if (!shot.save(QString::fromLocal8Bit(argv[first]), "PNG")) {
        std::fprintf(stderr, "kobito-screenshot: cannot write %s\n", argv[first]);
        return 1;
    }
    return 0;
}
