#pragma once
// The window with its port open on kobito-sim (1 ms time unit, recording
// every command), for the playback tests.
#include "DialogDouble.h"
#include "FormAccess.h"
#include "SimProcess.h"
#include "uMain.h"

#include "Button.h"

#include <QComboBox>
#include <QFile>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

class Playback : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    void Start(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--record", dir.filePath("rec").toStdString(),
                                         "--time-unit-ms", "1"};
        args.insert(args.end(), extra.begin(), extra.end());
        sim = std::make_unique<kobito::test::SimProcess>(KOBITO_SIM_PATH, args);
        ASSERT_FALSE(sim->DevicePath().empty());
        form.show();
        form.findChild<QComboBox*>("cbxComPort")
            ->setEditText(QString::fromStdString(sim->DevicePath()));
        Click("btnConnect");
        ASSERT_EQ(Button("btnConnect")->text(), "切断 Close");
    }

    TButton* Button(const char* name) { return form.findChild<TButton*>(name); }
    void Click(const char* name) { QTest::mouseClick(Button(name), Qt::LeftButton); }

    // Row r gets HDY = 10 + r and the move time given.
    void SetRow(int r, int time) {
        for (int c = 1; c <= 16; ++c)
            access.SetCell(r, c, "0");
        access.SetCell(r, 1, QString::number(10 + r));
        access.SetCell(r, 16, QString::number(time));
    }

    // The commands the robot received: poses as "P<HDY>", polls as "Q".
    QStringList Received() const {
        QFile f(dir.filePath("rec"));
        QStringList out;
        if (!f.open(QIODevice::ReadOnly))
            return out;
        for (const QByteArray& line : f.readAll().split('\n')) {
            const int rx = line.indexOf(" RX ");
            if (rx < 0)
                continue;
            const QByteArray cmd = line.mid(rx + 4);
            out << (cmd.startsWith("#PS00A")
                        ? "P" + QString::number(cmd.mid(6, 3).toInt())
                        : QString::fromLatin1(cmd.left(2) == "#Q" ? "Q" : cmd));
        }
        return out;
    }
    QStringList Poses() const { return Received().filter(QRegularExpression("^P")); }
    QString Log() { return form.findChild<QPlainTextEdit*>("memLog")->toPlainText(); }

    QTemporaryDir dir;
    std::unique_ptr<kobito::test::SimProcess> sim;
    FreshSettings fresh;
    DialogDouble dialogs;
    TForm1 form;
    TForm1Access access{form};
};
