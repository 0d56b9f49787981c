// The program's window, offscreen, for the Scratch 3 tests in node and
// Chromium: it reads the settings file beside itself (the tests copy it into a
// temporary folder with its own settings), opens the given port, turns the
// "Scratch 3" switch on and runs as the program does. Standard output gets one
// line per event the tests wait for:
//   READY <label text>     port open, switch on
//   DIALOG <kind> <text>   a dialog the window showed (questions answered
//                          as --answer says, Yes by default)
//   LABEL <text>           the Scratch 3 state label changed
//   LOG <line>             each new line of the window's log
// Standard input takes commands, one a line: "switch on", "switch off",
// "port close", "port open", "tab NAME" (brings a tab to the front),
// "shot FILE" (the window as a PNG, for the user guide), "quit". The end of
// standard input ends it too, so that it never outlives its test.
#include "Application.h"
#include "DialogService.h"
#include "uMain.h"

#include "Button.h"
#include "Switch.h"

#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSocketNotifier>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

void Say(const char* kind, const QString& text) {
    QString line = text;
    line.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    std::printf("%s %s\n", kind, line.toUtf8().constData());
    std::fflush(stdout);
}

class PrintingDialogs final : public DialogService {
public:
    explicit PrintingDialogs(bool yes) : yes_(yes) { SetDialogService(this); }
    ~PrintingDialogs() override { SetDialogService(nullptr); }
    PrintingDialogs(const PrintingDialogs&) = delete;
    PrintingDialogs& operator=(const PrintingDialogs&) = delete;

    void ShowError(QWidget*, const QString& text) override { Say("DIALOG error", text); }
    bool AskYesNo(QWidget*, const QString& text) override {
        Say(yes_ ? "DIALOG yes" : "DIALOG no", text);
        return yes_;
    }
    void ShowException(QWidget*, const QString& text) override { Say("DIALOG exception", text); }
    std::optional<QString> RunFileDialog(QFileDialog*) override {
        Say("DIALOG file", QStringLiteral("cancelled"));
        return std::nullopt;
    }

private:
    bool yes_;
};

int Usage() {
    std::fputs("usage: kobito_scratch3_host --port DEVICE [--answer yes|no]\n"
               "  DEVICE: a pseudo-terminal's path (kobito-sim) or \"KOBITO Simulator\"\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QString device;
    bool yes = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc)
            device = QString::fromLocal8Bit(argv[++i]);
        else if (std::strcmp(argv[i], "--answer") == 0 && i + 1 < argc)
            yes = std::strcmp(argv[++i], "no") != 0;
        else
            return Usage();
    }
    if (device.isEmpty())
        return Usage();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    TApplication app(argc, argv);
    PrintingDialogs dialogs(yes);
    TForm1 form;
    form.show();

    auto* port = form.findChild<QComboBox*>(QStringLiteral("cbxComPort"));
    auto* connect = form.findChild<TButton*>(QStringLiteral("btnConnect"));
    auto* bridge = form.findChild<TSwitch*>(QStringLiteral("swiScratch3"));
    auto* label = form.findChild<QLabel*>(QStringLiteral("lblScratch3"));
    auto* log = form.findChild<QPlainTextEdit*>(QStringLiteral("memLog"));
    if (!port || !connect || !bridge || !label || !log) {
        std::fputs("kobito_scratch3_host: the window lacks a control it needs\n", stderr);
        return 1;
    }

    int logLines = 0;
    QObject::connect(log->document(), &QTextDocument::contentsChanged, &form, [&] {
        const QStringList lines = log->toPlainText().split(QLatin1Char('\n'));
        if (lines.size() < logLines)
            logLines = 0; // cleared
        for (int i = logLines; i < lines.size(); ++i)
            if (!lines[i].isEmpty())
                Say("LOG", lines[i]);
        logLines = int(lines.size());
    });
    QString lastLabel = label->text();
    auto labelTimer = new QTimer(&form);
    QObject::connect(labelTimer, &QTimer::timeout, &form, [&] {
        if (label->text() != lastLabel) {
            lastLabel = label->text();
            Say("LABEL", lastLabel);
        }
    });
    labelTimer->start(20);

    const bool portIsOpen = [&] {
        port->setEditText(device);
        QTest::mouseClick(connect, Qt::LeftButton);
        return connect->text() == QStringLiteral("切断 Close");
    }();
    if (!portIsOpen) {
        std::fputs("kobito_scratch3_host: the port did not open\n", stderr);
        return 1;
    }
    bridge->SetIsChecked(true);
    lastLabel = label->text();
    Say("READY", lastLabel);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    std::string pending;
    QObject::connect(&input, &QSocketNotifier::activated, &form, [&] {
        char buffer[256];
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            input.setEnabled(false);
            form.close();
            return;
        }
        pending.append(buffer, size_t(n));
        for (auto end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
            const std::string command = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (command == "switch on" || command == "switch off") {
                bridge->SetIsChecked(command == "switch on");
            } else if (command == "port close" || command == "port open") {
                const bool open = connect->text() == QStringLiteral("切断 Close");
                if (open != (command == "port open"))
                    QTest::mouseClick(connect, Qt::LeftButton);
            } else if (command.rfind("tab ", 0) == 0) {
                auto* tabs = form.findChild<QTabWidget*>(QStringLiteral("TabControl"));
                auto* page = form.findChild<QWidget*>(QString::fromStdString(command.substr(4)));
                if (tabs && page)
                    tabs->setCurrentWidget(page);
            } else if (command.rfind("shot ", 0) == 0) {
                form.grab().save(QString::fromStdString(command.substr(5)));
            } else if (command == "quit") {
                form.close();
                return;
            } else {
                std::fprintf(stderr, "kobito_scratch3_host: unknown command \"%s\"\n",
                             command.c_str());
            }
            Say("DONE", QString::fromStdString(command));
        }
    });
    const int status = app.exec();
    Say("EXIT", QString::number(status));
    return status;
}
